// Block noise reduction, AVX2, a row at a time over the pixels as stored: sixteen
// 16-bit values a vector, every value a target of its own component (the odd
// pixels' cb and cr are worked out too and not used), a column step three values.
//
// The unit kernels limit and add the same differences again for every target. Here
// each limited difference is formed once: for the four offsets o of (0, 1), (1, -1),
// (1, 0), (1, 1) (rows in field steps), D_o(p) = g(|s(p) - s(p + o)|) for every
// sample p of a row, and its sum B_o(p) over the eight samples around p (3 x 3 less
// the centre). Candidate o of a target x has the distance B_o(x), candidate -o the
// distance B_o(x - o). Thresholds up to 3000 keep every such sum of nine far from
// the 16-bit limit, so the unit kernels' saturating additions are plain ones here,
// in any order, and the results are theirs; larger ones (beyond the sliders) take
// the SSE2 unit kernel. When anime mode is off, the luma of a skin-coloured even pixel
// and of the pixel after it is filtered with quartered thresholds: the same is done
// once more for the luma alone, in rows of luma values, and taken where needed.
//
// The rows live in the thread's scratch (the driver hands over its octet scratch:
// the pass runs before the analysis that uses it); in field mode each field's rows go as a chain of their own, so
// that three rows of differences and two of sums suffice.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "prefilter/prefilter_common.h"
#include "prefilter/prefilter.h"

namespace {

using namespace prefilter;

inline __m256i loadAt(const std::int16_t *p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)); }
inline void storeAt(std::int16_t *p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), v); }

// vpblendvb itself: the compiler's form of the intrinsic first tests the sign of
// every byte of the mask again.
inline __m256i blendBytes(__m256i ifClear, __m256i ifSet, __m256i mask) noexcept {
    __m256i r;
    __asm__("vpblendvb %3, %2, %1, %0" : "=x"(r) : "x"(ifClear), "x"(ifSet), "x"(mask));
    return r;
}

// The four offsets (rows in field steps, columns in pixels).
constexpr int kOffsets = 4;
constexpr int kOffsetRow[kOffsets] = {0, 1, 1, 1};
constexpr int kOffsetColumn[kOffsets] = {1, -1, 0, 1};

// The largest threshold magnitude the plain sums allow: nine terms of at most this.
constexpr int kLargestThreshold = 3000;

// Values of a row a vector covers repeat their component every three; vectors go
// in threes (48 values, sixteen pixels), each with its own constants.
struct Phased {
    __m256i v[3];
};
// lanes[e % 48] for value e.
template <class Lane>
Phased phased(Lane lane) noexcept {
    Phased p;
    for (int k = 0; k < 3; ++k) {
        alignas(32) std::int16_t values[16];
        for (int i = 0; i < 16; ++i) values[i] = lane(16 * k + i);
        p.v[k] = _mm256_load_si256(reinterpret_cast<const __m256i *>(values));
    }
    return p;
}

// The rows of one chain's step in the scratch, each a padded row of `stride`
// values whose value e (e = 3 x pixel + component) is at index kMargin + e.
constexpr int kMargin = 16;
struct Rows {
    int stride;
    std::int16_t *source[4];               // rows r - f .. r + 2f, by (row / f) % 4
    std::int16_t *diff[kOffsets][3];       // D rows, by (row / f) % 3
    std::int16_t *sumAcross;               // B of offset (0, 1) for row r
    std::int16_t *sumDown[kOffsets - 1][2];  // B of the other offsets, by (row / f) % 2
    std::int16_t *column;                  // column sums (scratch), then the skin test
    std::int16_t *correction;
    static constexpr int kCount = 4 + 3 * kOffsets + 1 + 2 * (kOffsets - 1) + 2;
};

// Values a padded row of `values` holds: a margin before and at least as much after.
inline int rowStride(int values) noexcept { return (values + 2 * kMargin + 15) / 16 * 16; }

// Rows of `values` values from scratch on; scratch moves past them.
Rows carve(std::int16_t *&scratch, int values) noexcept {
    Rows r{};
    r.stride = rowStride(values);
    std::int16_t *next = scratch + kMargin;
    auto take = [&]() {
        std::int16_t *row = next;
        next += r.stride;
        return row;
    };
    for (auto &row : r.source) row = take();
    for (auto &o : r.diff)
        for (auto &row : o) row = take();
    r.sumAcross = take();
    for (auto &o : r.sumDown)
        for (auto &row : o) row = take();
    r.column = take();
    r.correction = take();
    // Margins are read beside the first and last values and never written: zero.
    std::memset(scratch, 0, sizeof(std::int16_t) * static_cast<std::size_t>(r.stride) * Rows::kCount);
    scratch += static_cast<std::size_t>(r.stride) * Rows::kCount;
    return r;
}

struct Constants {
    Phased t1, t2;       // thresholds: luma lanes strengthA, B; chroma halved
    Phased centre;       // 1 where the centre candidate is accepted
    Phased oddChroma;    // all ones on the cb and cr of odd pixels
    Phased skinLow, skinHigh, evenLuma;
    __m256i largest;
};

Constants constants(int strengthA, int strengthB) noexcept {
    const std::int16_t a = saturate16(strengthA), b = saturate16(strengthB);
    const std::int16_t ah = saturate16(strengthA / 2), bh = saturate16(strengthB / 2);
    Constants k;
    k.t1 = phased([&](int e) { return e % 3 == 0 ? a : ah; });
    k.t2 = phased([&](int e) { return e % 3 == 0 ? b : bh; });
    // The centre compares each sample with itself: eight terms of g(0).
    k.centre = phased([&](int e) {
        const int t1 = e % 3 == 0 ? a : ah, t2 = e % 3 == 0 ? b : bh;
        const int distance = 8 * (0 < t1 ? 0 : t2);
        return static_cast<std::int16_t>(distance < t2 ? 1 : 0);
    });
    k.oddChroma = phased([](int e) { return static_cast<std::int16_t>((e / 3) % 2 == 1 && e % 3 != 0 ? -1 : 0); });
    // Skin: each component strictly between its bounds.
    k.skinLow = phased([](int e) { return static_cast<std::int16_t>(e % 3 == 0 ? 1400 : e % 3 == 1 ? -680 : -50); });
    k.skinHigh = phased([](int e) { return static_cast<std::int16_t>(e % 3 == 0 ? 3000 : e % 3 == 1 ? 280 : 600); });
    k.evenLuma = phased([](int e) { return static_cast<std::int16_t>(e % 6 == 0 ? -1 : 0); });
    k.largest = _mm256_set1_epi16(32767);
    return k;
}

// The luma of skin-coloured pixels alone: quartered thresholds in every lane.
Constants skinConstants(int strengthA, int strengthB) noexcept {
    const std::int16_t a = saturate16(strengthA / 4), b = saturate16(strengthB / 4);
    Constants k{};
    k.t1 = phased([&](int) { return a; });
    k.t2 = phased([&](int) { return b; });
    k.centre = phased([&](int) { return static_cast<std::int16_t>(8 * (0 < a ? 0 : b) < b ? 1 : 0); });
    k.largest = _mm256_set1_epi16(32767);
    return k;
}

// g(|x - y|): the difference saturated, its magnitude limited to 32767 (the
// unsigned magnitude of -32768 is 32768), then itself below t1 and t2 otherwise.
inline __m256i limited(__m256i x, __m256i y, __m256i t1, __m256i t2, __m256i largest) noexcept {
    const __m256i d = _mm256_min_epu16(_mm256_abs_epi16(_mm256_subs_epi16(x, y)), largest);
    return blendBytes(t2, d, _mm256_cmpgt_epi16(t1, d));
}

// Each vector of a row, with the index of its constants: rows as stored (step 3)
// in runs of three vectors, 48 values, each with its own; luma alone (step 1) all
// with the first.
template <int step, class Body>
inline void eachVector(int values, Body body) noexcept {
    if constexpr (step == 3) {
        for (int at = 0; at < values; at += 48) {
            body(at, 0);
            body(at + 16, 1);
            body(at + 32, 2);
        }
    } else {
        for (int at = 0; at < values; at += 16) body(at, 0);
    }
}

// D rows of sample row `row` (its rows f below at `below`) for every offset; a
// column is `step` values.
template <int step>
void differences(const Rows &rows, int slot, const std::int16_t *row, const std::int16_t *below, int values,
                 const Constants &k) noexcept {
    for (int o = 0; o < kOffsets; ++o) {
        const std::int16_t *other = (kOffsetRow[o] ? below : row) + step * kOffsetColumn[o];
        std::int16_t *d = rows.diff[o][slot];
        eachVector<step>(values, [&](int at, int ph) {
            storeAt(d + at, limited(loadAt(row + at), loadAt(other + at), k.t1.v[ph], k.t2.v[ph], k.largest));
        });
    }
}

// B row of one offset: the 3 x 3 sums of the D rows above, at and below, less the centre.
template <int step>
void sums(const std::int16_t *above, const std::int16_t *at, const std::int16_t *below, std::int16_t *column,
          std::int16_t *out, int values) noexcept {
    for (int e = 0; e < values; e += 16)
        storeAt(column + e, _mm256_add_epi16(_mm256_add_epi16(loadAt(above + e), loadAt(at + e)), loadAt(below + e)));
    for (int e = 0; e < values; e += 16) {
        const __m256i across = _mm256_add_epi16(_mm256_add_epi16(loadAt(column + e - step), loadAt(column + e)),
                                                loadAt(column + e + step));
        storeAt(out + e, _mm256_sub_epi16(across, loadAt(at + e)));
    }
}

// Sum x reciprocal estimate of Count + 0.5, truncated and saturated; 0 where Count is 0.
inline __m256i mean(__m256i sum, __m256i count) noexcept {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i divisor = _mm256_max_epi16(count, _mm256_set1_epi16(1));
    const __m256 half = _mm256_set1_ps(0.5f);
    const __m256i sumLo = _mm256_srai_epi32(_mm256_unpacklo_epi16(sum, sum), 16);
    const __m256i sumHi = _mm256_srai_epi32(_mm256_unpackhi_epi16(sum, sum), 16);
    const __m256 rcpLo = _mm256_rcp_ps(_mm256_cvtepi32_ps(_mm256_unpacklo_epi16(divisor, zero)));
    const __m256 rcpHi = _mm256_rcp_ps(_mm256_cvtepi32_ps(_mm256_unpackhi_epi16(divisor, zero)));
    const __m256i lo = _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(sumLo), rcpLo), half));
    const __m256i hi = _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(sumHi), rcpHi), half));
    return _mm256_andnot_si256(_mm256_cmpeq_epi16(count, zero), _mm256_packs_epi32(lo, hi));
}

// The corrections of row r: the candidates in the unit kernels' order, their
// offsets accumulated with saturation.
template <int step>
void corrections(const std::int16_t *up, const std::int16_t *row, const std::int16_t *down,
                 const std::int16_t *const sumsUp[3], const std::int16_t *sumAcross,
                 const std::int16_t *const sumsHere[3], std::int16_t *out, int values, const Constants &k,
                 const char *nextIn, char *nextOut) noexcept {
    // sumsUp / sumsHere: offsets (1, -1), (1, 0), (1, 1) of rows r - f and r.
    eachVector<step>(values, [&](int at, int ph) {
            // The image rows the next steps read and write, fetched while this one
            // computes: a line beside every other vector.
            if (nextIn && (at & 16)) {
                _mm_prefetch(nextIn + 2 * at, _MM_HINT_T0);
                __builtin_prefetch(nextOut + 2 * at, 1);
            }
            const __m256i t2 = k.t2.v[ph];
            const __m256i c = loadAt(row + at);
            __m256i sum = _mm256_setzero_si256(), count = k.centre.v[ph];
            auto candidate = [&](__m256i distance, const std::int16_t *sample) {
                const __m256i accepted = _mm256_cmpgt_epi16(t2, distance);
                sum = _mm256_adds_epi16(sum, _mm256_and_si256(accepted, _mm256_subs_epi16(loadAt(sample), c)));
                count = _mm256_sub_epi16(count, accepted);
            };
            candidate(loadAt(sumsUp[2] + at - step), up + at - step);   // (-1, -1): -(1, 1)
            candidate(loadAt(sumsUp[1] + at), up + at);                 // (-1, 0)
            candidate(loadAt(sumsUp[0] + at + step), up + at + step);   // (-1, 1): -(1, -1)
            candidate(loadAt(sumAcross + at - step), row + at - step);  // (0, -1): -(0, 1)
            // The centre adds nothing to the sum; its count is in k.centre.
            candidate(loadAt(sumAcross + at), row + at + step);         // (0, 1)
            candidate(loadAt(sumsHere[0] + at), down + at - step);      // (1, -1)
            candidate(loadAt(sumsHere[1] + at), down + at);             // (1, 0)
            candidate(loadAt(sumsHere[2] + at), down + at + step);      // (1, 1)
            storeAt(out + at, mean(sum, count));
    });
}

// Adds the corrections to row r into out (the odd pixels' cb and cr take the even
// pixel's), pixels 0, 1, w - 2 and w - 1 unchanged.
void applyCorrections(const std::int16_t *row, std::int16_t *correction, std::int16_t *out, int values,
                      const Constants &k) noexcept {
    for (int e = 0; e < 6; ++e) correction[e] = correction[values - 1 - e] = 0;
    for (int e = 0; e < values; e += 48)
        for (int ph = 0; ph < 3; ++ph) {
            const int at = e + 16 * ph;
            const __m256i own = loadAt(correction + at);
            const __m256i left = loadAt(correction + at - 3);
            storeAt(out + at, _mm256_adds_epi16(loadAt(row + at), blendBytes(own, left, k.oddChroma.v[ph])));
        }
}

// Marks in skin (a row of values) the luma value of every skin-coloured even pixel
// E from 2 to w - 4 (all ones there, zero elsewhere); true if there is one.
bool findSkin(const std::int16_t *row, std::int16_t *skin, int values, const Constants &k, int w) noexcept {
    eachVector<3>(values, [&](int at, int ph) {
        const __m256i v = loadAt(row + at);
        storeAt(skin + at,
                _mm256_and_si256(_mm256_cmpgt_epi16(v, k.skinLow.v[ph]), _mm256_cmpgt_epi16(k.skinHigh.v[ph], v)));
    });
    // In place: each vector reads only values at and after its own.
    __m256i any = _mm256_setzero_si256();
    eachVector<3>(values, [&](int at, int ph) {
        const __m256i all = _mm256_and_si256(_mm256_and_si256(loadAt(skin + at), loadAt(skin + at + 1)),
                                             _mm256_and_si256(loadAt(skin + at + 2), k.evenLuma.v[ph]));
        storeAt(skin + at, all);
        any = _mm256_or_si256(any, all);
    });
    // Pixels 0 and w - 2 are outside every unit.
    skin[0] = skin[3 * (w - 2)] = 0;
    return !_mm256_testz_si256(any, any);
}

// Three byte shuffles that move 16-bit values within each 128-bit half: value i of
// part p takes value from(p, i), or zero where that is negative.
struct WordMoves {
    alignas(16) std::int8_t part[3][16];
};
template <class From>
constexpr WordMoves wordMoves(From from) {
    WordMoves g{};
    for (int p = 0; p < 3; ++p)
        for (int i = 0; i < 8; ++i) {
            const int f = from(p, i);
            g.part[p][2 * i] = static_cast<std::int8_t>(f < 0 ? -128 : 2 * f);
            g.part[p][2 * i + 1] = static_cast<std::int8_t>(f < 0 ? -128 : 2 * f + 1);
        }
    return g;
}
inline void loadMoves(const WordMoves &moves, __m256i mask[3]) noexcept {
    for (int p = 0; p < 3; ++p)
        mask[p] = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(moves.part[p])));
}

// Luma lane q of sixteen pixels to value 3q of their 48 (three 8-value parts of
// each half; the other values zero).
constexpr WordMoves kLumaScatter = wordMoves([](int p, int i) {
    const int e = 8 * p + i;
    return e % 3 == 0 ? e / 3 : -1;
});

// The corrections of the luma of skin-coloured even pixels E and of E + 1 (marked
// at E's luma in skin) from the luma-alone corrections lumaCorrection.
void takeSkinLuma(std::int16_t *correction, const std::int16_t *lumaCorrection, const std::int16_t *skin,
                  int w) noexcept {
    __m256i mask[3];
    loadMoves(kLumaScatter, mask);
    for (int x = 0; x < w; x += 16) {
        const __m256i luma = loadAt(lumaCorrection + x);  // pixels x .. x + 7, then x + 8 .. x + 15
        const __m256i p0 = _mm256_shuffle_epi8(luma, mask[0]), p1 = _mm256_shuffle_epi8(luma, mask[1]),
                      p2 = _mm256_shuffle_epi8(luma, mask[2]);
        const __m256i spread[3] = {_mm256_permute2x128_si256(p0, p1, 0x20), _mm256_permute2x128_si256(p2, p0, 0x30),
                                   _mm256_permute2x128_si256(p1, p2, 0x31)};
        for (int v = 0; v < 3; ++v) {
            const int at = 3 * x + 16 * v;
            // E's own luma and E + 1's, three values on.
            const __m256i take = _mm256_or_si256(loadAt(skin + at), loadAt(skin + at - 3));
            storeAt(correction + at, blendBytes(loadAt(correction + at), spread[v], take));
        }
    }
}

// The luma of eight pixels from their 24 values: value 3q of the three vectors.
constexpr WordMoves kLumaGather = wordMoves([](int p, int q) {
    const int e = 3 * q;
    return e / 8 == p ? e % 8 : -1;
});

void lumaOf(const std::int16_t *values, std::int16_t *luma, int w) noexcept {
    __m256i mask[3];
    loadMoves(kLumaGather, mask);
    for (int x = 0; x < w; x += 16) {
        const auto *at = reinterpret_cast<const __m128i *>(values + 3 * x);
        __m256i v = _mm256_setzero_si256();
        for (int p = 0; p < 3; ++p) {
            const __m256i part = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(at + p)),
                                                         _mm_loadu_si128(at + 3 + p), 1);
            v = _mm256_or_si256(v, _mm256_shuffle_epi8(part, mask[p]));
        }
        storeAt(luma + x, v);
    }
}

// One kind of row chain: the rows as stored (step 3) or their luma alone (step 1).
template <int step>
struct Chain {
    Rows rows;
    const Constants *k;
    int values, f;

    std::int16_t *sourceRow(int row) const noexcept { return rows.source[(row / f) % 4]; }
    void differencesOf(int row) const noexcept {
        differences<step>(rows, (row / f) % 3, sourceRow(row), sourceRow(row + f), values, *k);
    }
    // B of row r for the offsets that reach down (and, with across, of (0, 1)).
    void sumsOf(int r, bool across) const noexcept {
        const int above = ((r - f) / f) % 3, at = (r / f) % 3, below = ((r + f) / f) % 3;
        if (across)
            sums<step>(rows.diff[0][above], rows.diff[0][at], rows.diff[0][below], rows.column, rows.sumAcross,
                       values);
        for (int o = 1; o < kOffsets; ++o)
            sums<step>(rows.diff[o][above], rows.diff[o][at], rows.diff[o][below], rows.column,
                       rows.sumDown[o - 1][(r / f) % 2], values);
    }
    // The rows up to r0 + f loaded: the differences and sums row r0 needs from above.
    void start(int r0) const noexcept {
        for (int row = r0 - 2 * f; row <= r0; row += f) differencesOf(row);
        sumsOf(r0 - f, false);
    }
    // Row r + 2f loaded: the differences and sums of row r.
    void advance(int r) const noexcept {
        differencesOf(r + f);
        sumsOf(r, true);
    }
    void correctionsOf(int r, const char *nextIn = nullptr, char *nextOut = nullptr) const noexcept {
        const std::int16_t *sumsUp[3], *sumsHere[3];
        for (int o = 1; o < kOffsets; ++o) {
            sumsUp[o - 1] = rows.sumDown[o - 1][((r - f) / f) % 2];
            sumsHere[o - 1] = rows.sumDown[o - 1][(r / f) % 2];
        }
        corrections<step>(sourceRow(r - f), sourceRow(r), sourceRow(r + f), sumsUp, rows.sumAcross, sumsHere,
                          rows.correction, values, *k, nextIn, nextOut);
    }
};

}  // namespace

void blockNrRowsAvx2(int rowBegin, int rowEnd, int fieldCount, const FILTER_PROC_INFO *fpip,
                     const PIXEL_YC *source, int strengthA, int strengthB, bool animeMode,
                     PrepassScratch scratchRows) noexcept {
    const int w = fpip->w, h = fpip->h, f = fieldCount;
    const std::ptrdiff_t pitch = fpip->max_w;
    auto byUnits = [&] {
        blockNrRowsSse2(rowBegin, rowEnd, fieldCount, fpip, source, strengthA, strengthB, animeMode, scratchRows);
    };
    // What the rows do not cover: frames not a whole number of 16 pixels wide (which
    // the host never sends), thresholds beyond the plain sums, threads without scratch
    // or with too little.
    const int a = saturate16(strengthA), b = saturate16(strengthB);
    const bool plainSums = a <= kLargestThreshold && b <= kLargestThreshold && b >= -kLargestThreshold;
    if (w % 16 != 0 || w < 32 || (f != 1 && f != 2) || !plainSums || !scratchRows.rows) {
        byUnits();
        return;
    }
    const int values = 3 * w;
    const std::size_t needed =
        sizeof(std::int16_t) * (static_cast<std::size_t>(rowStride(values)) * Rows::kCount +
                                (animeMode ? 0 : static_cast<std::size_t>(rowStride(w)) * Rows::kCount));
    if (scratchRows.bytes < needed) {
        byUnits();
        return;
    }
    std::int16_t *scratch = static_cast<std::int16_t *>(scratchRows.rows);
    const Constants k = constants(strengthA, strengthB);
    const Constants kSkin = skinConstants(strengthA, strengthB);
    const Chain<3> all{carve(scratch, values), &k, values, f};
    Chain<1> luma{};
    if (!animeMode) luma = {carve(scratch, w), &kSkin, w, f};
    PIXEL_YC *edit = fpip->ycp_edit;

    forEachRow(source, edit, static_cast<int>(pitch), w, h, 2 * f, rowBegin, rowEnd,
               [](int, const PIXEL_YC *, PIXEL_YC *) {});
    const int first = rowBegin > 2 * f ? rowBegin : 2 * f, last = rowEnd < h - 2 * f ? rowEnd : h - 2 * f;

    auto load = [&](int row) {
        std::memcpy(all.sourceRow(row), rowOf(source, row, static_cast<int>(pitch)), sizeof(PIXEL_YC) * w);
        if (!animeMode) lumaOf(all.sourceRow(row), luma.sourceRow(row), w);
    };
    // Each field (or the frame) is a chain of rows f apart.
    for (int r0 = first; r0 < last && r0 < first + f; ++r0) {
        for (int row = r0 - 2 * f; row <= r0 + f; row += f) load(row);
        all.start(r0);
        if (!animeMode) luma.start(r0);
        for (int r = r0; r < last; r += f) {
            load(r + 2 * f);
            all.advance(r);
            // Row r + 3f is loaded next, row r + f written next (beyond the band
            // the fetches only warm the cache).
            const bool ahead = r + 3 * f < h && r + f < last;
            all.correctionsOf(r, ahead ? reinterpret_cast<const char *>(rowOf(source, r + 3 * f, static_cast<int>(pitch))) : nullptr,
                              ahead ? reinterpret_cast<char *>(rowOf(edit, r + f, static_cast<int>(pitch))) : nullptr);
            if (!animeMode) {
                luma.advance(r);
                // Skin-coloured even pixels: their luma and the next pixel's from the
                // quartered thresholds.
                if (findSkin(all.sourceRow(r), all.rows.column, values, k, w)) {
                    luma.correctionsOf(r);
                    takeSkinLuma(all.rows.correction, luma.rows.correction, all.rows.column, w);
                }
            }
            applyCorrections(all.sourceRow(r), all.rows.correction,
                             reinterpret_cast<std::int16_t *>(rowOf(edit, r, static_cast<int>(pitch))), values, k);
        }
    }
}
