// Size classes. Frames up to 1920 x 1088 keep the three fixed classes, each sized
// for the largest frame it takes: 832 x 512 up to 720 x 480, 1536 x 1280 up to
// 1440 wide, 2048 x 1280 up to 1920 x 1088. Those three follow one rule: the
// stride is the smallest multiple of 64 that leaves at least 96 margin columns
// (48 a side), and the plane the smallest multiple of 256 rows that leaves at least
// 32 margin rows (16 above, 16 below):
//
//   720 + 96 =  816 -> 832     480 + 32 =  512 ->  512
//  1440 + 96 = 1536 -> 1536   1088 + 32 = 1120 -> 1280
//  1920 + 96 = 2016 -> 2048   1088 + 32 = 1120 -> 1280
//
// A multiple of 64 keeps the coarsest of the four horizontal levels (stride / 16
// positions) in whole groups of four, and a multiple of 256 keeps the coarsest of
// chroma's five vertical levels (rows / 32 positions) in whole octets. Larger frames
// get the same rule applied to their own size, so each takes only what it needs:
// 3840 x 2160 gets 3968 x 2304, 4096 x 2304 gets 4224 x 2560.
#include "core/size_class.h"

namespace {

constexpr int kMarginColumns = 96;
constexpr int kStrideAlignment = 64;
constexpr int kMarginRows = 32;
constexpr int kRowAlignment = 256;

int roundUp(int value, int multiple) noexcept { return (value + multiple - 1) / multiple * multiple; }

}  // namespace

SizeClass sizeClassFor(int w16, int h16) noexcept {
    if (w16 <= 720 && h16 <= 480) return {832, 512};
    if (w16 <= 1920 && h16 <= 1088) return w16 <= 1440 ? SizeClass{1536, 1280} : SizeClass{2048, 1280};
    return {roundUp(w16 + kMarginColumns, kStrideAlignment), roundUp(h16 + kMarginRows, kRowAlignment)};
}

int mosquitoStepFactor(SizeClass sc) noexcept {
    // Only the small class has both a stride under 1400 and 512 rows: a larger
    // frame that is narrow (a portrait one) is taller than 1088, so it has more rows.
    return sc.stride >= 1400 || sc.rows > 512 ? 90 : 8;
}
