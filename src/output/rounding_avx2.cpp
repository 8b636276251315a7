// The rounding pass with a whole 4 x 4 block in one vector of sixteen 16-bit lanes
// per component (rows 0 and 1 in the low half, 2 and 3 in the high one). Every step
// is the SSE2 pass's, lane for lane, so the frames are the same; the layout moves
// (split and join) are the SSE2 ones on both halves at once, since each of them
// works within a 128-bit half. Chosen at load only on processors and systems that
// run AVX2 (cpuHasAvx2). Intrinsics only, none limited to 64-bit code, and nothing
// shared with other files but the two kernels: the 32-bit module builds this file
// too, and code the linker may merge must not carry AVX.
#include <immintrin.h>

#include <cstdint>

#include "output/rounding.h"
#include "output/rounding_internal.h"
#include "output/rounding_lanes.h"

namespace {

using rounding::kBusyLimit;
using rounding::kGridMask;
using rounding::kLowMask;
using rounding::kMaxStart;
using rounding::kMinStart;

__m256i halves(__m128i low, __m128i high) noexcept {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
}

// splitComponents on both halves: rows 0, 1 | rows 2, 3 of a block.
void splitComponents4(__m256i &a, __m256i &b, __m256i &c) noexcept {
    for (int round = 0; round < 3; ++round) {
        const __m256i t0 = _mm256_unpacklo_epi16(a, _mm256_unpackhi_epi64(b, b));
        const __m256i t1 = _mm256_unpacklo_epi16(_mm256_unpackhi_epi64(a, a), c);
        const __m256i t2 = _mm256_unpacklo_epi16(b, _mm256_unpackhi_epi64(c, c));
        a = t0;
        b = t1;
        c = t2;
    }
}

template <int imm>
__m256i pick32x2(__m256i a, __m256i b) noexcept {
    return _mm256_castps_si256(_mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), imm));
}

// joinComponents on both halves.
void joinComponents4(__m256i y, __m256i cb, __m256i cr, __m256i &a, __m256i &b, __m256i &c) noexcept {
    const __m256i ycLo = _mm256_unpacklo_epi16(y, cb);
    const __m256i ycHi = _mm256_unpackhi_epi16(y, cb);
    const __m256i yNext = _mm256_srli_si256(y, 2);
    const __m256i ryLo = _mm256_unpacklo_epi16(cr, yNext);
    const __m256i ryHi = _mm256_unpackhi_epi16(cr, yNext);
    const __m256i crLo = _mm256_unpacklo_epi16(cb, cr);
    const __m256i crHi = _mm256_unpackhi_epi16(cb, cr);
    a = pick32x2<_MM_SHUFFLE(2, 0, 1, 0)>(_mm256_unpacklo_epi32(ycLo, ryLo),
                                          pick32x2<_MM_SHUFFLE(2, 2, 1, 1)>(crLo, ycLo));
    b = pick32x2<_MM_SHUFFLE(1, 0, 2, 0)>(pick32x2<_MM_SHUFFLE(3, 3, 2, 2)>(ryLo, crLo),
                                          _mm256_unpacklo_epi32(ycHi, ryHi));
    c = pick32x2<_MM_SHUFFLE(2, 0, 2, 0)>(pick32x2<_MM_SHUFFLE(2, 2, 1, 1)>(crHi, ycHi),
                                          pick32x2<_MM_SHUFFLE(3, 3, 2, 2)>(ryHi, crHi));
}

// Block b of four image rows into value[c] (pixel order j = 4k + p).
void loadBlock(PIXEL_YC *const row[4], int b, __m256i value[3]) noexcept {
    __m256i part[3];
    for (int h = 0; h < 2; ++h) {
        const auto *p0 = reinterpret_cast<const char *>(row[2 * h] + 4 * b);
        const auto *p1 = reinterpret_cast<const char *>(row[2 * h + 1] + 4 * b);
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p0));
        const __m128i m = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p0 + 16)),
                                             _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p1)));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p1 + 8));
        if (h == 0) {
            part[0] = _mm256_castsi128_si256(a);
            part[1] = _mm256_castsi128_si256(m);
            part[2] = _mm256_castsi128_si256(c);
        } else {
            part[0] = _mm256_inserti128_si256(part[0], a, 1);
            part[1] = _mm256_inserti128_si256(part[1], m, 1);
            part[2] = _mm256_inserti128_si256(part[2], c, 1);
        }
    }
    splitComponents4(part[0], part[1], part[2]);
    for (int c = 0; c < 3; ++c) value[c] = part[c];
}

// The rounded block back into four image rows: 24 bytes of each.
void storeBlock(PIXEL_YC *const row[4], int b, const __m256i value[3]) noexcept {
    __m256i a, m, c;
    joinComponents4(value[0], value[1], value[2], a, m, c);
    const __m128i part[2][3] = {{_mm256_castsi256_si128(a), _mm256_castsi256_si128(m), _mm256_castsi256_si128(c)},
                                {_mm256_extracti128_si256(a, 1), _mm256_extracti128_si256(m, 1),
                                 _mm256_extracti128_si256(c, 1)}};
    for (int h = 0; h < 2; ++h) {
        auto *p0 = reinterpret_cast<char *>(row[2 * h] + 4 * b);
        auto *p1 = reinterpret_cast<char *>(row[2 * h + 1] + 4 * b);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p0), part[h][0]);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(p0 + 16), part[h][1]);
        _mm_storeh_pd(reinterpret_cast<double *>(p1), _mm_castsi128_pd(part[h][1]));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p1 + 8), part[h][2]);
    }
}

// Block b from the group's samples.
void loadSamples(const RoundingGroupSamples &g, int b, __m256i value[3]) noexcept {
    __m128i low[3], high[3];
    loadSamplePair(g, 0, b, low);
    loadSamplePair(g, 1, b, high);
    for (int c = 0; c < 3; ++c) value[c] = halves(low[c], high[c]);
}

// The signed minimum and maximum of sixteen lanes, through the unsigned minimum of
// eight: x ^ 0x8000 orders as x does, x ^ 0x7FFF the other way round.
int lanesMin(__m256i v) noexcept {
    const __m128i m = _mm_min_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    const __m128i flip = _mm_set1_epi16(static_cast<short>(0x8000));
    return static_cast<std::int16_t>(_mm_cvtsi128_si32(_mm_xor_si128(_mm_minpos_epu16(_mm_xor_si128(m, flip)), flip)));
}

int lanesMax(__m256i v) noexcept {
    const __m128i m = _mm_max_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    const __m128i flip = _mm_set1_epi16(0x7FFF);
    return static_cast<std::int16_t>(_mm_cvtsi128_si32(_mm_xor_si128(_mm_minpos_epu16(_mm_xor_si128(m, flip)), flip)));
}

int clampLevel(int v, int low, int high) noexcept { return v < low ? low : v > high ? high : v; }
int magnitude(int v) noexcept { return v < 0 ? -v : v; }

// The pass's next group: load(b, value) gives block b's components, store(b, value)
// takes them rounded.
template <class Load, class Store>
void roundGroup(RoundingPass &pass, int w, Load load, Store store) noexcept {
    std::int16_t *const *rem = pass.rem;
    const int levelLow = pass.levelLow, levelHigh = pass.levelHigh;
    const Divider divideBySpan(levelHigh - levelLow);
    const __m256i parityMask = _mm256_set1_epi16(pass.oddFrame ? -1 : 0);
    const int blocks = w / 4;

    const __m256i lowMask = _mm256_set1_epi16(kLowMask);
    const __m256i gridMask = _mm256_set1_epi16(static_cast<short>(kGridMask));
    const __m256i eight = _mm256_set1_epi16(8);
    const __m256i four = _mm256_set1_epi16(4);

    rounding::RegisterCursor lane[3];
    for (int i = 0; i < 3; ++i) lane[i] = rounding::registerCursor(pass.lane[i]);

    // Entries b .. b + 15 of each array, for the block at hand; each block shifts
    // the window by one, entry b final and back to memory.
    __m256i window[3];
    for (int c = 0; c < 3; ++c) window[c] = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(rem[c]));

    for (int b = 0; b < blocks; ++b) {
        __m256i value[3];
        load(b, value);

        __m256i carry[3];
        int blockMin[3], blockMax[3];
        for (int c = 0; c < 3; ++c) {
            const __m256i s = _mm256_adds_epi16(window[c], _mm256_and_si256(value[c], lowMask));
            window[c] = _mm256_and_si256(s, lowMask);
            carry[c] = _mm256_and_si256(s, gridMask);
            const int mn = lanesMin(value[c]), mx = lanesMax(value[c]);
            blockMin[c] = mn < kMinStart ? mn : kMinStart;
            blockMax[c] = mx > kMaxStart ? mx : kMaxStart;
        }

        // Gains, as blockLevels gives them; all 0 in a busy block, which makes the
        // update below the plain rounding.
        const bool busy = blockMax[0] - blockMin[0] > kBusyLimit || blockMax[1] - blockMin[1] > kBusyLimit ||
                          blockMax[2] - blockMin[2] > kBusyLimit;
        int level[3];
        const int m = (blockMin[0] + magnitude(blockMin[1]) + magnitude(blockMin[2])) / 4;
        level[0] = clampLevel(m, levelLow, levelHigh);
        if (m >= levelLow) {
            level[1] = level[2] = level[0];
        } else {
            level[0] = levelLow;
            level[1] = clampLevel(blockMin[1], levelLow, levelHigh);
            level[2] = clampLevel(blockMin[2], levelLow, levelHigh);
        }
        const int keep = busy ? 0 : -1;

        for (int c = 0; c < 3; ++c) {
            const __m256i states = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(lane[c].states + 1));
            advance(lane[c], 16);
            const __m256i noiseGain =
                _mm256_set1_epi16(static_cast<short>(divideBySpan((levelHigh - level[c]) * 8) & keep));
            const __m256i carryGain =
                _mm256_set1_epi16(static_cast<short>(divideBySpan((level[c] - levelLow) * 8) & keep));
            const __m256i v = value[c];
            const __m256i n = _mm256_srai_epi16(_mm256_xor_si256(states, parityMask), 11);
            const __m256i diff = _mm256_sub_epi16(carry[c], _mm256_and_si256(v, lowMask));
            __m256i t = _mm256_add_epi16(_mm256_mullo_epi16(carryGain, diff), _mm256_mullo_epi16(noiseGain, n));
            t = _mm256_srai_epi16(_mm256_add_epi16(t, four), 3);
            value[c] = _mm256_and_si256(_mm256_add_epi16(_mm256_add_epi16(v, t), eight), gridMask);
        }

        store(b, value);

        for (int c = 0; c < 3; ++c) {
            if (b + 1 < blocks) {
                rem[c][b] = static_cast<std::int16_t>(_mm_cvtsi128_si32(_mm256_castsi256_si128(window[c])));
                const __m256i incoming =
                    _mm256_castsi128_si256(_mm_cvtsi32_si128(static_cast<std::uint16_t>(rem[c][b + 16])));
                const __m256i above = _mm256_permute2x128_si256(window[c], incoming, 0x21);
                window[c] = _mm256_alignr_epi8(above, window[c], 2);
            } else {
                _mm256_storeu_si256(reinterpret_cast<__m256i *>(rem[c] + b), window[c]);
            }
        }
    }
    for (int i = 0; i < 3; ++i) pass.lane[i] = lane[i].states[0];
}

}  // namespace

void roundingGroupsAvx2(const FILTER_PROC_INFO *fpip, RoundingPass &pass, int f, int yBegin, int yEnd) noexcept {
    for (int y = yBegin; y < yEnd; y += 4 * pass.fieldStep) {
        PIXEL_YC *row[4];
        for (int k = 0; k < 4; ++k) row[k] = fpip->ycp_edit + static_cast<long>(y + f + k * pass.fieldStep) * fpip->max_w;
        roundGroup(
            pass, fpip->w, [&](int b, __m256i value[3]) noexcept { loadBlock(row, b, value); },
            [&](int b, const __m256i value[3]) noexcept { storeBlock(row, b, value); });
    }
}

void roundingGroupSamplesAvx2(RoundingPass &pass, int w, const RoundingGroupSamples &group) noexcept {
    roundGroup(
        pass, w, [&](int b, __m256i value[3]) noexcept { loadSamples(group, b, value); },
        [&](int b, const __m256i value[3]) noexcept { storeBlock(group.out, b, value); });
}
