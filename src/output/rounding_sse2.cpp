// The rounding pass on 16-bit SSE2 lanes, one 4 x 4 block per step: the block's
// pixels are split into Y, Cb and Cr vectors in pixel order (two vectors of eight
// each), the remainder entries the block touches ride along in registers, and
// the sixteen register steps of the block are computed eight at a time.
// Matches roundingRowsScalar exactly.
#include <emmintrin.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>

#include "output/rounding.h"
#include "output/rounding_internal.h"

using namespace rounding;

namespace {

// ---- Dither registers, eight steps at once ----------------------------------
//
// For a Galois register the bits shifted out by the first eleven steps are just
// the state's own bits 0..10 (the feedback's lowest bit is bit 10), so the state
// after k <= 8 steps is (x >> k) xor a term that depends on x's low byte only.

struct alignas(16) JumpRow {
    std::uint16_t v[8];
};

constexpr std::array<JumpRow, 256> makeJumpTable() {
    std::array<JumpRow, 256> table{};
    for (int x = 0; x < 256; ++x)
        for (int k = 1; k <= 8; ++k) {
            std::uint16_t term = 0;
            for (int i = 1; i <= k; ++i)
                if ((x >> (i - 1)) & 1) term ^= static_cast<std::uint16_t>(kFeedback >> (k - i));
            table[x].v[k - 1] = term;
        }
    return table;
}

alignas(16) constexpr std::array<JumpRow, 256> kJump = makeJumpTable();

// States after steps 1..8 of one register, lane k - 1 holding step k.
inline __m128i eightSteps(std::uint16_t x) noexcept {
    // x >> k in lane k - 1, as the high half of x * 2^(16 - k).
    const __m128i shifts = _mm_setr_epi16(static_cast<short>(0x8000), 0x4000, 0x2000, 0x1000,
                                          0x0800, 0x0400, 0x0200, 0x0100);
    const __m128i shifted = _mm_mulhi_epu16(_mm_set1_epi16(static_cast<short>(x)), shifts);
    return _mm_xor_si128(shifted,
                         _mm_load_si128(reinterpret_cast<const __m128i *>(kJump[x & 0xFF].v)));
}

inline std::uint16_t lastLane(__m128i v) noexcept {
    return static_cast<std::uint16_t>(_mm_extract_epi16(v, 7));
}

// ---- Pixel layout ------------------------------------------------------------

// Two rows of a block are 24 interleaved values y c r y c r ...; this turns them
// into Y, Cb and Cr vectors in pixel order. One round sends the value at
// position x of the 24 to position 2x mod 23; three rounds multiply by 8, which
// takes 3i + ch to 8ch + i.
inline void splitComponents(__m128i &a, __m128i &b, __m128i &c) noexcept {
    for (int round = 0; round < 3; ++round) {
        const __m128i t0 = _mm_unpacklo_epi16(a, _mm_unpackhi_epi64(b, b));
        const __m128i t1 = _mm_unpacklo_epi16(_mm_unpackhi_epi64(a, a), c);
        const __m128i t2 = _mm_unpacklo_epi16(b, _mm_unpackhi_epi64(c, c));
        a = t0;
        b = t1;
        c = t2;
    }
}

// Two 32-bit lanes from a, then two from b (the float shuffle only moves bits).
template <int imm>
inline __m128i pick32(__m128i a, __m128i b) noexcept {
    return _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), imm));
}

// The reverse: Y, Cb, Cr vectors back to 24 interleaved values, assembled from
// 32-bit pairs (y c), (r y') and (c r).
inline void joinComponents(__m128i y, __m128i cb, __m128i cr, __m128i &a, __m128i &b,
                           __m128i &c) noexcept {
    const __m128i ycLo = _mm_unpacklo_epi16(y, cb);  // y0c0 y1c1 y2c2 y3c3
    const __m128i ycHi = _mm_unpackhi_epi16(y, cb);  // y4c4 .. y7c7
    const __m128i yNext = _mm_srli_si128(y, 2);
    const __m128i ryLo = _mm_unpacklo_epi16(cr, yNext);  // r0y1 r1y2 r2y3 r3y4
    const __m128i ryHi = _mm_unpackhi_epi16(cr, yNext);  // r4y5 r5y6 r6y7 r7--
    const __m128i crLo = _mm_unpacklo_epi16(cb, cr);     // c0r0 .. c3r3
    const __m128i crHi = _mm_unpackhi_epi16(cb, cr);     // c4r4 .. c7r7

    // a = y0c0 r0y1 c1r1 y2c2
    a = pick32<_MM_SHUFFLE(2, 0, 1, 0)>(_mm_unpacklo_epi32(ycLo, ryLo),
                                        pick32<_MM_SHUFFLE(2, 2, 1, 1)>(crLo, ycLo));
    // b = r2y3 c3r3 y4c4 r4y5
    b = pick32<_MM_SHUFFLE(1, 0, 2, 0)>(pick32<_MM_SHUFFLE(3, 3, 2, 2)>(ryLo, crLo),
                                        _mm_unpacklo_epi32(ycHi, ryHi));
    // c = c5r5 y6c6 r6y7 c7r7
    c = pick32<_MM_SHUFFLE(2, 0, 2, 0)>(pick32<_MM_SHUFFLE(2, 2, 1, 1)>(crHi, ycHi),
                                        pick32<_MM_SHUFFLE(3, 3, 2, 2)>(ryHi, crHi));
}

// Pixels 4b .. 4b + 3 of two rows: exactly the block's 24 bytes of each row.
inline void loadRowPair(const PIXEL_YC *top, const PIXEL_YC *bottom, __m128i out[3]) noexcept {
    const auto *p0 = reinterpret_cast<const char *>(top);
    const auto *p1 = reinterpret_cast<const char *>(bottom);
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p0));
    __m128i b = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p0 + 16)),
                                   _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p1)));
    __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p1 + 8));
    splitComponents(a, b, c);
    out[0] = a;
    out[1] = b;
    out[2] = c;
}

inline void storeRowPair(PIXEL_YC *top, PIXEL_YC *bottom, __m128i y, __m128i cb,
                         __m128i cr) noexcept {
    __m128i a, b, c;
    joinComponents(y, cb, cr, a, b, c);
    auto *p0 = reinterpret_cast<char *>(top);
    auto *p1 = reinterpret_cast<char *>(bottom);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p0), a);
    _mm_storel_epi64(reinterpret_cast<__m128i *>(p0 + 16), b);
    _mm_storel_epi64(reinterpret_cast<__m128i *>(p1), _mm_unpackhi_epi64(b, b));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p1 + 8), c);
}

inline int horizontalMin(__m128i v) noexcept {
    v = _mm_min_epi16(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = _mm_min_epi16(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
    v = _mm_min_epi16(v, _mm_shufflelo_epi16(v, _MM_SHUFFLE(2, 3, 0, 1)));
    return static_cast<std::int16_t>(_mm_cvtsi128_si32(v));
}

inline int horizontalMax(__m128i v) noexcept {
    v = _mm_max_epi16(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = _mm_max_epi16(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
    v = _mm_max_epi16(v, _mm_shufflelo_epi16(v, _MM_SHUFFLE(2, 3, 0, 1)));
    return static_cast<std::int16_t>(_mm_cvtsi128_si32(v));
}

// floor(x / span) for 0 <= x <= 8 * 16352 and 1 <= span <= 16352, by multiplying
// with ceil(2^32 / span): the error stays below 2^-15, under the 1 / span gap
// between a non-integer quotient and the next integer.
struct Divider {
    std::uint64_t magic;
    explicit Divider(int span) noexcept
        : magic((std::uint64_t{1} << 32) / static_cast<std::uint64_t>(span) + 1) {}
    int operator()(int x) const noexcept {
        return static_cast<int>((static_cast<std::uint64_t>(x) * magic) >> 32);
    }
};

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
    const int w = fpip->w;
    std::int16_t *const *rem = pass.rem;
    const Levels levels = passLevels(pass);
    const Divider divideBySpan(levels.high - levels.low);
    const __m128i parityMask = _mm_set1_epi16(pass.oddFrame ? -1 : 0);
    const int fieldStep = pass.fieldStep;
    const int blocks = w / 4;

    const __m128i lowMask = _mm_set1_epi16(kLowMask);
    const __m128i gridMask = _mm_set1_epi16(static_cast<short>(kGridMask));
    const __m128i eight = _mm_set1_epi16(8);
    const __m128i four = _mm_set1_epi16(4);

    std::uint16_t *lane = pass.lane;

    for (int y = yBegin; y < yEnd; y += 4 * fieldStep) {
        PIXEL_YC *row[4];
        groupRows(fpip, pass, y, f, row);

        // Entries b .. b + 15 of each array, for the block at hand. Each block
        // shifts the window by one: entry b is final and goes back to memory.
        __m128i window[3][2];
        for (int c = 0; c < 3; ++c) {
            window[c][0] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rem[c]));
            window[c][1] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rem[c] + 8));
        }

        for (int b = 0; b < blocks; ++b) {
            // value[h][c]: component c of pixels j = 8h .. 8h + 7.
            __m128i value[2][3];
            loadRowPair(row[0] + 4 * b, row[1] + 4 * b, value[0]);
            loadRowPair(row[2] + 4 * b, row[3] + 4 * b, value[1]);

            __m128i carry[2][3];
            int blockMin[3], blockMax[3];
            for (int c = 0; c < 3; ++c) {
                for (int h = 0; h < 2; ++h) {
                    const __m128i low = _mm_and_si128(value[h][c], lowMask);
                    const __m128i s = _mm_adds_epi16(window[c][h], low);
                    window[c][h] = _mm_and_si128(s, lowMask);
                    carry[h][c] = _mm_and_si128(s, gridMask);
                }
                blockMin[c] =
                    std::min(kMinStart, horizontalMin(_mm_min_epi16(value[0][c], value[1][c])));
                blockMax[c] =
                    std::max(kMaxStart, horizontalMax(_mm_max_epi16(value[0][c], value[1][c])));
            }

            // The sixteen register steps of the block, needed busy or not.
            __m128i states[3][2];
            for (int i = 0; i < 3; ++i) {
                states[i][0] = eightSteps(lane[i]);
                states[i][1] = eightSteps(lastLane(states[i][0]));
                lane[i] = lastLane(states[i][1]);
            }

            const bool busy = blockMax[0] - blockMin[0] > kBusyLimit ||
                              blockMax[1] - blockMin[1] > kBusyLimit ||
                              blockMax[2] - blockMin[2] > kBusyLimit;
            if (busy) {
                for (int h = 0; h < 2; ++h)
                    for (int c = 0; c < 3; ++c)
                        value[h][c] =
                            _mm_and_si128(_mm_add_epi16(value[h][c], eight), gridMask);
            } else {
                int level[3];
                blockLevels(blockMin, levels, level);
                for (int c = 0; c < 3; ++c) {
                    const __m128i noiseGain = _mm_set1_epi16(
                        static_cast<short>(divideBySpan((levels.high - level[c]) * 8)));
                    const __m128i carryGain = _mm_set1_epi16(
                        static_cast<short>(divideBySpan((level[c] - levels.low) * 8)));
                    for (int h = 0; h < 2; ++h) {
                        const __m128i v = value[h][c];
                        const __m128i n =
                            _mm_srai_epi16(_mm_xor_si128(states[c][h], parityMask), 11);
                        const __m128i diff =
                            _mm_sub_epi16(carry[h][c], _mm_and_si128(v, lowMask));
                        __m128i t = _mm_add_epi16(_mm_mullo_epi16(carryGain, diff),
                                                  _mm_mullo_epi16(noiseGain, n));
                        t = _mm_srai_epi16(_mm_add_epi16(t, four), 3);
                        value[h][c] =
                            _mm_and_si128(_mm_add_epi16(_mm_add_epi16(v, t), eight), gridMask);
                    }
                }
            }

            storeRowPair(row[0] + 4 * b, row[1] + 4 * b, value[0][0], value[0][1], value[0][2]);
            storeRowPair(row[2] + 4 * b, row[3] + 4 * b, value[1][0], value[1][1], value[1][2]);

            for (int c = 0; c < 3; ++c) {
                if (b + 1 < blocks) {
                    rem[c][b] = static_cast<std::int16_t>(_mm_cvtsi128_si32(window[c][0]));
                    const __m128i incoming = _mm_slli_si128(
                        _mm_cvtsi32_si128(static_cast<std::uint16_t>(rem[c][b + 16])), 14);
                    window[c][0] = _mm_or_si128(_mm_srli_si128(window[c][0], 2),
                                                _mm_slli_si128(window[c][1], 14));
                    window[c][1] = _mm_or_si128(_mm_srli_si128(window[c][1], 2), incoming);
                } else {
                    _mm_storeu_si128(reinterpret_cast<__m128i *>(rem[c] + b), window[c][0]);
                    _mm_storeu_si128(reinterpret_cast<__m128i *>(rem[c] + b + 8), window[c][1]);
                }
            }
        }
    }
}
