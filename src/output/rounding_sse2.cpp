// The rounding pass on 16-bit SSE2 lanes, one 4 x 4 block per step: the block's
// pixels are split into Y, Cb and Cr vectors in pixel order (two vectors of eight
// each), the remainder entries the block touches ride along in registers, and
// the sixteen register states of the block are read from the registers' sequence.
// Matches roundingRowsScalar exactly.
#include <emmintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "output/rounding.h"
#include "output/rounding_internal.h"
#include "output/rounding_lanes.h"

using namespace rounding;

namespace {

// The pass's next group: load(b, value) gives block b's components (value[h][c]:
// component c of pixels j = 8h .. 8h + 7), store(b, value) takes them rounded.
template <class Load, class Store>
void roundGroup(RoundingPass &pass, int w, Load load, Store store) noexcept {
    std::int16_t *const *rem = pass.rem;
    const Levels levels = passLevels(pass);
    const Divider divideBySpan(levels.high - levels.low);
    const __m128i parityMask = _mm_set1_epi16(pass.oddFrame ? -1 : 0);
    const int blocks = w / 4;

    const __m128i lowMask = _mm_set1_epi16(kLowMask);
    const __m128i gridMask = _mm_set1_epi16(static_cast<short>(kGridMask));
    const __m128i eight = _mm_set1_epi16(8);
    const __m128i four = _mm_set1_epi16(4);

    RegisterCursor lane[3];
    for (int i = 0; i < 3; ++i) lane[i] = registerCursor(pass.lane[i]);

    // Entries b .. b + 15 of each array, for the block at hand. Each block
    // shifts the window by one: entry b is final and goes back to memory.
    __m128i window[3][2];
    for (int c = 0; c < 3; ++c) {
        window[c][0] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rem[c]));
        window[c][1] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rem[c] + 8));
    }

    for (int b = 0; b < blocks; ++b) {
        __m128i value[2][3];
        load(b, value);

        __m128i carry[2][3];
        int blockMin[3], blockMax[3];
        for (int c = 0; c < 3; ++c) {
            for (int h = 0; h < 2; ++h) {
                const __m128i low = _mm_and_si128(value[h][c], lowMask);
                const __m128i s = _mm_adds_epi16(window[c][h], low);
                window[c][h] = _mm_and_si128(s, lowMask);
                carry[h][c] = _mm_and_si128(s, gridMask);
            }
            blockMin[c] = std::min(kMinStart, horizontalMin(_mm_min_epi16(value[0][c], value[1][c])));
            blockMax[c] = std::max(kMaxStart, horizontalMax(_mm_max_epi16(value[0][c], value[1][c])));
        }

        // The sixteen register states of the block, needed busy or not.
        __m128i states[3][2];
        for (int i = 0; i < 3; ++i) {
            states[i][0] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(lane[i].states + 1));
            states[i][1] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(lane[i].states + 9));
            advance(lane[i], 16);
        }

        const bool busy = blockMax[0] - blockMin[0] > kBusyLimit || blockMax[1] - blockMin[1] > kBusyLimit ||
                          blockMax[2] - blockMin[2] > kBusyLimit;
        if (busy) {
            for (int h = 0; h < 2; ++h)
                for (int c = 0; c < 3; ++c) value[h][c] = _mm_and_si128(_mm_add_epi16(value[h][c], eight), gridMask);
        } else {
            int level[3];
            blockLevels(blockMin, levels, level);
            for (int c = 0; c < 3; ++c) {
                const __m128i noiseGain =
                    _mm_set1_epi16(static_cast<short>(divideBySpan((levels.high - level[c]) * 8)));
                const __m128i carryGain =
                    _mm_set1_epi16(static_cast<short>(divideBySpan((level[c] - levels.low) * 8)));
                for (int h = 0; h < 2; ++h) {
                    const __m128i v = value[h][c];
                    const __m128i n = _mm_srai_epi16(_mm_xor_si128(states[c][h], parityMask), 11);
                    const __m128i diff = _mm_sub_epi16(carry[h][c], _mm_and_si128(v, lowMask));
                    __m128i t = _mm_add_epi16(_mm_mullo_epi16(carryGain, diff), _mm_mullo_epi16(noiseGain, n));
                    t = _mm_srai_epi16(_mm_add_epi16(t, four), 3);
                    value[h][c] = _mm_and_si128(_mm_add_epi16(_mm_add_epi16(v, t), eight), gridMask);
                }
            }
        }

        store(b, value);

        for (int c = 0; c < 3; ++c) {
            if (b + 1 < blocks) {
                rem[c][b] = static_cast<std::int16_t>(_mm_cvtsi128_si32(window[c][0]));
                const __m128i incoming =
                    _mm_slli_si128(_mm_cvtsi32_si128(static_cast<std::uint16_t>(rem[c][b + 16])), 14);
                window[c][0] = _mm_or_si128(_mm_srli_si128(window[c][0], 2), _mm_slli_si128(window[c][1], 14));
                window[c][1] = _mm_or_si128(_mm_srli_si128(window[c][1], 2), incoming);
            } else {
                _mm_storeu_si128(reinterpret_cast<__m128i *>(rem[c] + b), window[c][0]);
                _mm_storeu_si128(reinterpret_cast<__m128i *>(rem[c] + b + 8), window[c][1]);
            }
        }
    }
    for (int i = 0; i < 3; ++i) pass.lane[i] = lane[i].states[0];
}

}  // namespace

void roundingRowsSse2(const FILTER_PROC_INFO *fpip, const RoundingParams *params, int firstRow, int rowLimit,
                      std::int16_t *remainders, int remainderCount) noexcept {
    Pass pass;
    if (!startPass(fpip, params, firstRow, rowLimit, remainders, remainderCount, pass)) return;
    for (int f = 0; f < pass.fieldStep; ++f) {
        seedRemainders(pass, fpip->w);
        roundingGroupsSse2(fpip, pass, f, firstRow, rowLimit);
    }
}

void roundingGroupsSse2(const FILTER_PROC_INFO *fpip, RoundingPass &pass, int f, int yBegin, int yEnd) noexcept {
    for (int y = yBegin; y < yEnd; y += 4 * pass.fieldStep) {
        PIXEL_YC *row[4];
        groupRows(fpip, pass, y, f, row);
        roundGroup(
            pass, fpip->w,
            [&](int b, __m128i value[2][3]) noexcept {
                loadRowPair(row[0] + 4 * b, row[1] + 4 * b, value[0]);
                loadRowPair(row[2] + 4 * b, row[3] + 4 * b, value[1]);
            },
            [&](int b, __m128i value[2][3]) noexcept {
                storeRowPair(row[0] + 4 * b, row[1] + 4 * b, value[0][0], value[0][1], value[0][2]);
                storeRowPair(row[2] + 4 * b, row[3] + 4 * b, value[1][0], value[1][1], value[1][2]);
            });
    }
}

void roundingGroupSamplesSse2(RoundingPass &pass, int w, const RoundingGroupSamples &group) noexcept {
    roundGroup(
        pass, w,
        [&](int b, __m128i value[2][3]) noexcept {
            loadSamplePair(group, 0, b, value[0]);
            loadSamplePair(group, 1, b, value[1]);
        },
        [&](int b, __m128i value[2][3]) noexcept {
            storeRowPair(group.out[0] + 4 * b, group.out[1] + 4 * b, value[0][0], value[0][1], value[0][2]);
            storeRowPair(group.out[2] + 4 * b, group.out[3] + 4 * b, value[1][0], value[1][1], value[1][2]);
        });
}
