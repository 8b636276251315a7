// Block noise reduction over whole rows, written once over a lane type L
// (lanes_sse2.h, lanes_avx2.h) so that the SSE2 and AVX2 kernels run the same
// steps in the same order; blockNrRowsScalar states the pass one target at a time.
//
// The rows are taken as stored, L::kLanes 16-bit values a vector, every value a
// target of its own component (the odd pixels' cb and cr are worked out too and
// not used), a column step three values. Each limited difference is formed once:
// for the four offsets o of (0, 1), (1, -1), (1, 0), (1, 1) (rows in field steps),
// D_o(p) = g(|s(p) - s(p + o)|) for every sample p of a row, and its sum B_o(p)
// over the eight samples around p (3 x 3 less the centre). Candidate o of a target
// x has the distance B_o(x), candidate -o the distance B_o(x - o).
//
// A distance is a saturating sum of eight terms; with T2 >= 0 every term lies in
// 0 .. 32767, so the sum saturates only upwards, whatever the order, and the
// comparison with T2 needs it only up to 32767: the sums here are unsigned
// saturating ones, limited to 32767, and equal the pass's for any such T2. A
// negative T2 (no slider gives one) makes the order matter: that frame goes to
// the scalar statement. When anime mode is off, the luma of a skin-coloured even
// pixel and of the pixel after it is filtered with quartered thresholds: the same
// is done once more for the luma alone, in rows of luma values, and taken where
// needed.
//
// The rows live in the thread's scratch (the driver hands over its octet scratch:
// the pass runs before the analysis that uses it); in field mode each field's
// rows go as a chain of their own, so that three rows of differences and two of
// sums suffice. A thread without scratch, or with too little, hands its band to
// the scalar statement as well: only threads the host runs beyond those the
// buffers were made for, until the driver has given them scratch.
#pragma once

#include <xmmintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "prefilter/prefilter.h"
#include "prefilter/prefilter_common.h"

namespace prefilter {
namespace {
namespace block {

// The four offsets (rows in field steps, columns in pixels).
constexpr int kOffsets = 4;
constexpr int kOffsetRow[kOffsets] = {0, 1, 1, 1};
constexpr int kOffsetColumn[kOffsets] = {1, -1, 0, 1};

// Values of a row repeat their component every three and their pixel's parity every
// six; vectors go in threes (L::kLanes pixels), each with its own constants.
template <class L>
struct Phased {
    typename L::V v[3];
};
// lane(e) for value e of a run.
template <class L, class Lane>
Phased<L> phased(Lane lane) noexcept {
    Phased<L> p;
    for (int k = 0; k < 3; ++k) {
        std::int16_t values[L::kLanes];
        for (int i = 0; i < L::kLanes; ++i) values[i] = lane(L::kLanes * k + i);
        p.v[k] = L::load(values);
    }
    return p;
}

// The rows of one chain's step in the scratch, each a padded row of `stride`
// values whose value e (e = 3 x pixel + component) is at index kMargin + e.
constexpr int kMargin = 16;
struct Rows {
    int stride;
    std::int16_t *source[4];                 // rows r - f .. r + 2f, by (row / f) % 4
    std::int16_t *diff[kOffsets][3];         // D rows, by (row / f) % 3
    std::int16_t *sumAcross;                 // B of offset (0, 1) for row r
    std::int16_t *sumDown[kOffsets - 1][2];  // B of the other offsets, by (row / f) % 2
    std::int16_t *column;                    // column sums (scratch), then the skin test
    std::int16_t *correction;
    static constexpr int kCount = 4 + 3 * kOffsets + 1 + 2 * (kOffsets - 1) + 2;
};

// Values a padded row of `values` holds: a margin before and at least as much after.
inline int rowStride(int values) noexcept { return (values + 2 * kMargin + 15) / 16 * 16; }

// Rows of `values` values from scratch on; scratch moves past them.
inline Rows carve(std::int16_t *&scratch, int values) noexcept {
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

inline std::size_t scratchBytes(int w, bool animeMode) noexcept {
    const std::size_t all = static_cast<std::size_t>(rowStride(3 * w)) * Rows::kCount;
    const std::size_t luma = animeMode ? 0 : static_cast<std::size_t>(rowStride(w)) * Rows::kCount;
    return sizeof(std::int16_t) * (all + luma);
}

template <class L>
struct Constants {
    Phased<L> t1, t2;     // thresholds: luma lanes strengthA, B; chroma halved
    Phased<L> centre;     // 1 where the centre candidate is accepted
    Phased<L> oddChroma;  // all ones on the cb and cr of odd pixels
    Phased<L> skinLow, skinHigh, evenLuma;
};

// The centre compares each sample with itself: eight terms of g(0).
inline std::int16_t centreAccepted(int t1, int t2) noexcept {
    return static_cast<std::int16_t>(8 * (0 < t1 ? 0 : t2) < t2 ? 1 : 0);
}

template <class L>
Constants<L> constants(int strengthA, int strengthB) noexcept {
    const std::int16_t a = saturate16(strengthA), b = saturate16(strengthB);
    const std::int16_t ah = saturate16(strengthA / 2), bh = saturate16(strengthB / 2);
    Constants<L> k;
    k.t1 = phased<L>([&](int e) { return e % 3 == 0 ? a : ah; });
    k.t2 = phased<L>([&](int e) { return e % 3 == 0 ? b : bh; });
    k.centre = phased<L>([&](int e) { return e % 3 == 0 ? centreAccepted(a, b) : centreAccepted(ah, bh); });
    k.oddChroma = phased<L>([](int e) { return static_cast<std::int16_t>((e / 3) % 2 == 1 && e % 3 != 0 ? -1 : 0); });
    // Skin: each component strictly between its bounds.
    k.skinLow = phased<L>([](int e) { return static_cast<std::int16_t>(e % 3 == 0 ? 1400 : e % 3 == 1 ? -680 : -50); });
    k.skinHigh = phased<L>([](int e) { return static_cast<std::int16_t>(e % 3 == 0 ? 3000 : e % 3 == 1 ? 280 : 600); });
    k.evenLuma = phased<L>([](int e) { return static_cast<std::int16_t>(e % 6 == 0 ? -1 : 0); });
    return k;
}

// The luma of skin-coloured pixels alone: quartered thresholds in every lane.
template <class L>
Constants<L> skinConstants(int strengthA, int strengthB) noexcept {
    const std::int16_t a = saturate16(strengthA / 4), b = saturate16(strengthB / 4);
    Constants<L> k{};
    k.t1 = phased<L>([&](int) { return a; });
    k.t2 = phased<L>([&](int) { return b; });
    k.centre = phased<L>([&](int) { return centreAccepted(a, b); });
    return k;
}

// g(|x - y|): the difference saturated and its magnitude limited to 32767, then
// itself below t1 and t2 otherwise.
template <class L>
inline typename L::V limited(typename L::V x, typename L::V y, typename L::V t1, typename L::V t2) noexcept {
    const typename L::V d = L::magnitude(L::subs(x, y));
    return L::select(L::cmpgt(t1, d), d, t2);
}

// Each vector of a row, with the index of its constants: rows as stored (step 3)
// in runs of three vectors, each with its own; luma alone (step 1) all with the first.
template <class L, int step, class Body>
inline void eachVector(int values, Body body) noexcept {
    if constexpr (step == 3) {
        for (int at = 0; at < values; at += 3 * L::kLanes) {
            body(at, 0);
            body(at + L::kLanes, 1);
            body(at + 2 * L::kLanes, 2);
        }
    } else {
        for (int at = 0; at < values; at += L::kLanes) body(at, 0);
    }
}

// D rows of sample row `row` (its rows f below at `below`) for every offset; a
// column is `step` values.
template <class L, int step>
void differences(const Rows &rows, int slot, const std::int16_t *row, const std::int16_t *below, int values,
                 const Constants<L> &k) noexcept {
    for (int o = 0; o < kOffsets; ++o) {
        const std::int16_t *other = (kOffsetRow[o] ? below : row) + step * kOffsetColumn[o];
        std::int16_t *d = rows.diff[o][slot];
        eachVector<L, step>(values, [&](int at, int ph) {
            L::store(d + at, limited<L>(L::load(row + at), L::load(other + at), k.t1.v[ph], k.t2.v[ph]));
        });
    }
}

// B row of one offset: the 3 x 3 sums of the D rows above, at and below, less the
// centre, in unsigned saturation limited to 32767.
template <class L, int step>
void sums(const std::int16_t *above, const std::int16_t *at, const std::int16_t *below, std::int16_t *column,
          std::int16_t *out, int values) noexcept {
    for (int e = 0; e < values; e += L::kLanes)
        L::store(column + e, L::addsUnsigned(L::addsUnsigned(L::load(above + e), L::load(at + e)), L::load(below + e)));
    for (int e = 0; e < values; e += L::kLanes) {
        const typename L::V sides = L::addsUnsigned(L::load(column + e - step), L::load(column + e + step));
        const typename L::V middle = L::addsUnsigned(L::load(above + e), L::load(below + e));
        L::store(out + e, L::limitUnsigned(L::addsUnsigned(sides, middle)));
    }
}

// Sum x reciprocal estimate of Count + 0.5, truncated and saturated; 0 where Count is 0.
template <class L>
inline typename L::V mean(typename L::V sum, typename L::V count) noexcept {
    using V = typename L::V;
    using F = typename L::F;
    const V zero = L::zero();
    // Count 0 would make an infinite estimate; those lanes are cleared below anyway.
    const V divisor = L::max(count, L::set1(std::int16_t{1}));
    const F half = L::set1(0.5f);
    const V sumLo = L::shiftRight32(L::widenLow(sum, sum));
    const V sumHi = L::shiftRight32(L::widenHigh(sum, sum));
    const F rcpLo = L::reciprocal(L::toFloat(L::widenLow(divisor, zero)));
    const F rcpHi = L::reciprocal(L::toFloat(L::widenHigh(divisor, zero)));
    const V lo = L::truncate(L::add(L::mul(L::toFloat(sumLo), rcpLo), half));
    const V hi = L::truncate(L::add(L::mul(L::toFloat(sumHi), rcpHi), half));
    return L::andNot(L::cmpeq(count, zero), L::pack32(lo, hi));
}

// The corrections of row r: the candidates in the pass's order, their offsets
// accumulated with saturation.
template <class L, int step>
void corrections(const std::int16_t *up, const std::int16_t *row, const std::int16_t *down,
                 const std::int16_t *const sumsUp[3], const std::int16_t *sumAcross,
                 const std::int16_t *const sumsHere[3], std::int16_t *out, int values, const Constants<L> &k,
                 const char *nextIn, char *nextOut) noexcept {
    using V = typename L::V;
    // sumsUp / sumsHere: offsets (1, -1), (1, 0), (1, 1) of rows r - f and r.
    eachVector<L, step>(values, [&](int at, int ph) {
        // The image rows the next steps read and write, fetched while this one
        // computes: a cache line for every 32 values.
        if (nextIn && (at & 31) == 16) {
            _mm_prefetch(nextIn + 2 * at, _MM_HINT_T0);
            __builtin_prefetch(nextOut + 2 * at, 1);
        }
        const V t2 = k.t2.v[ph];
        const V c = L::load(row + at);
        V sum = L::zero(), count = k.centre.v[ph];
        auto candidate = [&](V distance, const std::int16_t *sample) {
            const V accepted = L::cmpgt(t2, distance);
            sum = L::adds(sum, L::bitAnd(accepted, L::subs(L::load(sample), c)));
            count = L::sub(count, accepted);
        };
        candidate(L::load(sumsUp[2] + at - step), up + at - step);   // (-1, -1): -(1, 1)
        candidate(L::load(sumsUp[1] + at), up + at);                 // (-1, 0)
        candidate(L::load(sumsUp[0] + at + step), up + at + step);   // (-1, 1): -(1, -1)
        candidate(L::load(sumAcross + at - step), row + at - step);  // (0, -1): -(0, 1)
        // The centre adds nothing to the sum; its count is in k.centre.
        candidate(L::load(sumAcross + at), row + at + step);         // (0, 1)
        candidate(L::load(sumsHere[0] + at), down + at - step);      // (1, -1)
        candidate(L::load(sumsHere[1] + at), down + at);             // (1, 0)
        candidate(L::load(sumsHere[2] + at), down + at + step);      // (1, 1)
        L::store(out + at, mean<L>(sum, count));
    });
}

// Adds the corrections to row r into out (the odd pixels' cb and cr take the even
// pixel's), pixels 0, 1, w - 2 and w - 1 unchanged.
template <class L>
void applyCorrections(const std::int16_t *row, std::int16_t *correction, std::int16_t *out, int values,
                      const Constants<L> &k) noexcept {
    for (int e = 0; e < 6; ++e) correction[e] = correction[values - 1 - e] = 0;
    eachVector<L, 3>(values, [&](int at, int ph) {
        const typename L::V own = L::load(correction + at), left = L::load(correction + at - 3);
        L::store(out + at, L::adds(L::load(row + at), L::select(k.oddChroma.v[ph], left, own)));
    });
}

// Marks in skin (a row of values) the luma value of every skin-coloured even pixel
// E from 2 to w - 4 (all ones there, zero elsewhere); true if there is one.
template <class L>
bool findSkin(const std::int16_t *row, std::int16_t *skin, int values, const Constants<L> &k, int w) noexcept {
    eachVector<L, 3>(values, [&](int at, int ph) {
        const typename L::V v = L::load(row + at);
        L::store(skin + at, L::bitAnd(L::cmpgt(v, k.skinLow.v[ph]), L::cmpgt(k.skinHigh.v[ph], v)));
    });
    // In place: each vector reads only values at and after its own.
    typename L::V any = L::zero();
    eachVector<L, 3>(values, [&](int at, int ph) {
        const typename L::V all = L::bitAnd(L::bitAnd(L::load(skin + at), L::load(skin + at + 1)),
                                            L::bitAnd(L::load(skin + at + 2), k.evenLuma.v[ph]));
        L::store(skin + at, all);
        any = L::bitOr(any, all);
    });
    // Pixels 0 and w - 2 are outside every unit.
    skin[0] = skin[3 * (w - 2)] = 0;
    return L::any(any);
}

// One kind of row chain: the rows as stored (step 3) or their luma alone (step 1).
template <class L, int step>
struct Chain {
    Rows rows;
    const Constants<L> *k;
    int values, f;

    std::int16_t *sourceRow(int row) const noexcept { return rows.source[(row / f) % 4]; }
    void differencesOf(int row) const noexcept {
        differences<L, step>(rows, (row / f) % 3, sourceRow(row), sourceRow(row + f), values, *k);
    }
    // B of row r for the offsets that reach down (and, with across, of (0, 1)).
    void sumsOf(int r, bool across) const noexcept {
        const int above = ((r - f) / f) % 3, at = (r / f) % 3, below = ((r + f) / f) % 3;
        if (across)
            sums<L, step>(rows.diff[0][above], rows.diff[0][at], rows.diff[0][below], rows.column, rows.sumAcross,
                          values);
        for (int o = 1; o < kOffsets; ++o)
            sums<L, step>(rows.diff[o][above], rows.diff[o][at], rows.diff[o][below], rows.column,
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
        corrections<L, step>(sourceRow(r - f), sourceRow(r), sourceRow(r + f), sumsUp, rows.sumAcross, sumsHere,
                             rows.correction, values, *k, nextIn, nextOut);
    }
};

}  // namespace block

// The block pass over rows [rowBegin, rowEnd): blockNrRows with lane type L.
template <class L>
void blockNrRowsWith(int rowBegin, int rowEnd, int fieldCount, const FILTER_PROC_INFO *fpip, const PIXEL_YC *source,
                     int strengthA, int strengthB, bool animeMode, PrepassScratch scratchRows) noexcept {
    using namespace block;
    const int w = fpip->w, h = fpip->h, f = fieldCount;
    const int pitch = fpip->max_w;
    // What the rows do not take (see the banner), and frames not a whole number of
    // 16 pixels wide, which the driver never sends: the scalar statement.
    if (w % 16 != 0 || w < 16 || f < 1 || saturate16(strengthB) < 0 || !scratchRows.rows ||
        scratchRows.bytes < scratchBytes(w, animeMode)) {
        blockNrRowsScalar(rowBegin, rowEnd, fieldCount, fpip, source, strengthA, strengthB, animeMode, scratchRows);
        return;
    }
    const int values = 3 * w;
    std::int16_t *scratch = static_cast<std::int16_t *>(scratchRows.rows);
    const Constants<L> k = constants<L>(strengthA, strengthB);
    const Constants<L> kSkin = skinConstants<L>(strengthA, strengthB);
    const Chain<L, 3> all{carve(scratch, values), &k, values, f};
    Chain<L, 1> luma{};
    if (!animeMode) luma = {carve(scratch, w), &kSkin, w, f};
    PIXEL_YC *edit = fpip->ycp_edit;

    forEachRow(source, edit, pitch, w, h, 2 * f, rowBegin, rowEnd, [](int, const PIXEL_YC *, PIXEL_YC *) {});
    const int first = rowBegin > 2 * f ? rowBegin : 2 * f, last = rowEnd < h - 2 * f ? rowEnd : h - 2 * f;

    auto load = [&](int row) {
        std::memcpy(all.sourceRow(row), rowOf(source, row, pitch), sizeof(PIXEL_YC) * w);
        if (!animeMode) L::lumaOf(all.sourceRow(row), luma.sourceRow(row), w);
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
            all.correctionsOf(r, ahead ? reinterpret_cast<const char *>(rowOf(source, r + 3 * f, pitch)) : nullptr,
                              ahead ? reinterpret_cast<char *>(rowOf(edit, r + f, pitch)) : nullptr);
            if (!animeMode) {
                luma.advance(r);
                // Skin-coloured even pixels: their luma and the next pixel's from the
                // quartered thresholds.
                if (findSkin<L>(all.sourceRow(r), all.rows.column, values, k, w)) {
                    luma.correctionsOf(r);
                    L::takeSkinLuma(all.rows.correction, luma.rows.correction, all.rows.column, w);
                }
            }
            applyCorrections<L>(all.sourceRow(r), all.rows.correction,
                                reinterpret_cast<std::int16_t *>(rowOf(edit, r, pitch)), values, k);
        }
    }
}

}  // namespace
}  // namespace prefilter
