// What the scalar, SSE2 and AVX2 pre-pass kernels share: pixel addressing, the
// copied borders, the skin-colour test, the unit's targets and the mosquito pass's
// candidate pairs.
//
// Everything here has internal linkage: each kernel file is built for its own
// instruction set, and a helper shared by name could be emitted from the AVX2
// file and then picked by the linker for a processor without AVX2.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "abi/host_api.h"

namespace prefilter {
namespace {

inline const PIXEL_YC *rowOf(const PIXEL_YC *image, int row, int pitch) noexcept {
    return image + static_cast<std::ptrdiff_t>(row) * pitch;
}
inline PIXEL_YC *rowOf(PIXEL_YC *image, int row, int pitch) noexcept {
    return image + static_cast<std::ptrdiff_t>(row) * pitch;
}

/// Strengths arrive as ints; both kernels narrow them to the 16-bit lanes the same way.
inline std::int16_t saturate16(int v) noexcept {
    return static_cast<std::int16_t>(v < -32768 ? -32768 : v > 32767 ? 32767 : v);
}

inline void copyPixels(PIXEL_YC *to, const PIXEL_YC *from, int count) noexcept {
    std::memcpy(to, from, static_cast<std::size_t>(count) * sizeof(PIXEL_YC));
}

/// Runs both passes' row loop over rows [rowBegin, rowEnd) of source into out: rows
/// within rowsKept of the top or the bottom, and the two columns at either side,
/// are copied as they are (their neighbourhoods would reach outside the picture);
/// filterRow(r, in, out) does the rest of row r.
template <class FilterRow>
void forEachRow(const PIXEL_YC *source, PIXEL_YC *out, int pitch, int w, int h, int rowsKept, int rowBegin,
                int rowEnd, FilterRow filterRow) noexcept {
    for (int r = rowBegin; r < rowEnd; ++r) {
        const PIXEL_YC *in = rowOf(source, r, pitch);
        PIXEL_YC *o = rowOf(out, r, pitch);
        if (r < rowsKept || r >= h - rowsKept) {
            copyPixels(o, in, w);
            continue;
        }
        copyPixels(o, in, 2);
        filterRow(r, in, o);
        copyPixels(o + w - 2, in + w - 2, 2);
    }
}

// ---- Saturating 16-bit arithmetic, one value at a time (the scalar twins) -------

inline std::int16_t adds(int a, int b) noexcept { return saturate16(a + b); }
inline std::int16_t subs(int a, int b) noexcept { return saturate16(a - b); }
/// Formed as the larger of x and 0 - x, so -32768 gives 32767 rather than itself.
inline std::int16_t absSat(std::int16_t x) noexcept {
    const std::int16_t n = subs(0, x);
    return x > n ? x : n;
}

/// The eight target values of a unit: the pixel (relative to X) and the component.
constexpr int kTargetPixel[8] = {0, 0, 0, 1, 2, 2, 2, 3};
constexpr int kTargetComponent[8] = {0, 1, 2, 0, 0, 1, 2, 0};

/// Skin tones get gentler luma filtering when anime mode is off: faces show
/// smoothing long before anything else does.
inline bool isSkinColoured(const PIXEL_YC &p) noexcept {
    return p.y > 1400 && p.y < 3000 && p.cb > -680 && p.cb < 280 && p.cr > -50 && p.cr < 600;
}

/// Units of four pixels start at column 2 and stop short of the two copied
/// right-hand columns; w is a multiple of 16, so they tile columns 2 .. w - 3.
constexpr int kFirstUnit = 2;
inline int unitCount(int w) noexcept { return (w - 4) / 4; }

// ---- Mosquito pass candidate pairs -------------------------------------------

enum Image : unsigned char { Prev, Next, Cur };

/// One member of a pair: image, row offset as fieldRows x F + frameRows x 1, column offset.
struct Member {
    Image image;
    signed char fieldRows;
    signed char frameRows;
    signed char column;
};

struct Pair {
    Member a, b;
    bool lumaOnly;
};

/// The pairs in the order they are tried; groups end after kGroupEnd[g] pairs.
/// Temporal pairs come first: in still areas they settle every value at once.
constexpr Pair kPairs[19] = {
    {{Prev, 0, 0, 0}, {Next, 0, 0, 0}, false},     // group 1
    {{Prev, 0, 0, -1}, {Next, 0, 0, 1}, false},    // group 2
    {{Prev, 0, 0, 1}, {Next, 0, 0, -1}, false},
    {{Prev, 0, 0, -2}, {Next, 0, 0, 2}, false},
    {{Prev, 0, 0, 2}, {Next, 0, 0, -2}, false},
    {{Prev, -1, 0, 0}, {Next, 1, 0, 0}, false},    // group 3
    {{Prev, 1, 0, 0}, {Next, -1, 0, 0}, false},
    {{Prev, 0, -1, 0}, {Next, 0, 1, 0}, false},
    {{Prev, 0, 1, 0}, {Next, 0, -1, 0}, false},
    {{Cur, -1, 0, 0}, {Cur, 1, 0, 0}, false},      // group 4
    {{Cur, 0, 0, -1}, {Cur, 0, 0, 1}, true},
    {{Cur, 0, 0, -2}, {Cur, 0, 0, 2}, true},
    {{Cur, -1, 0, -2}, {Cur, 1, 0, 2}, false},     // group 5
    {{Cur, -1, 0, 2}, {Cur, 1, 0, -2}, false},
    {{Cur, -1, 0, -1}, {Cur, 1, 0, 1}, false},
    {{Cur, -1, 0, 1}, {Cur, 1, 0, -1}, false},
    {{Cur, 0, -1, 0}, {Cur, 0, 1, 0}, false},      // group 6
    {{Cur, 0, -1, -1}, {Cur, 0, 1, 1}, false},
    {{Cur, 0, -1, 1}, {Cur, 0, 1, -1}, false},
};
constexpr int kGroupEnd[6] = {1, 5, 9, 12, 16, 19};
/// After groups 1 to 5 a unit whose values all have a cost at most this stops searching.
constexpr int kSettledCost = 15;

/// True after the last pair of groups 1 to 5, where a unit may stop searching.
constexpr bool endsEarlyGroup(int pair) noexcept {
    for (int g = 0; g < 5; ++g)
        if (pair == kGroupEnd[g] - 1) return true;
    return false;
}

inline int memberRowOffset(const Member &m, int fieldCount) noexcept {
    return m.fieldRows * fieldCount + m.frameRows;
}

}  // namespace
}  // namespace prefilter
