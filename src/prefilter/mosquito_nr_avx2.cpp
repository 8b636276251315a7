// Mosquito noise reduction, AVX2, sixteen pixels (four units) at a time. The three
// images' rows are first split into planes in a small ring that stays in the L1
// cache: the luma of every pixel, and the chroma pairs (cb, cr) of the even and of
// the odd pixels, chroma already in working values. A member of a pair is then one
// load from those planes: luma of the sixteen pixels in one vector, the chroma of
// their eight even pixels in another, so every lane is a target value (the unit
// layout of the SSE2 kernel rebuilds each member from two loads and three shuffles,
// and most units run all 19 pairs). The lanes of unit u are the 64-bit lane u of
// both vectors, which makes the joint early stop one compare per unit.
//
// The ring holds whole rows, in the thread's scratch (the driver hands over its
// octet scratch: the pass runs before the analysis that uses it): a row is then
// split in one sweep the processor fetches ahead. Where the scratch is missing or too small the frame goes by strips
// of columns with the ring on the stack, each strip from the band's top row to its
// bottom (rows of a strip are short runs far apart, which costs about a third more
// at 1920 x 1080, where the images come from memory). The results are those of the
// unit kernels: every unit does the same operations in the same order, and a unit
// that has settled stops taking pairs while others in its vector go on.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "prefilter/prefilter_common.h"
#include "prefilter/prefilter.h"

namespace {

using namespace prefilter;

// A strip's planes hold the pixels from two left of its first group to two right
// of its last (in whole chunks of sixteen), at index pixel - (first group) + 16,
// so that the groups' own pixels start on 32-byte boundaries. A plane row has P
// values (a template parameter, so that every member's place is a constant).
// Five rows a ring, each stored twice (slot s and s + 5), so that the five rows
// around any row are consecutive slots. Per image: luma, even chroma, odd chroma.
constexpr int kRingRows = 5;
template <int P>
struct Ring {
    static constexpr int kRow = 3 * P;
    static constexpr int kImage = 2 * kRingRows * kRow;
    static constexpr int kValues = 3 * kImage;
    static constexpr int kLuma = 0, kEvenChroma = P, kOddChroma = 2 * P;
    // The widest strip: its groups, from the ring's index 16, and two pixels more
    // each side in whole chunks (index 14 on) must fit.
    static constexpr int kWidest = P - 32;
};
// Strips on the stack: kStripGroups groups of sixteen pixels, the last strip of a
// row up to a group more and the units after it.
constexpr int kStripGroups = 8;
constexpr int kStripPlane = 16 * (kStripGroups + 3);
// Whole rows in the scratch: the narrowest plane length that holds the frame.
constexpr int kRowPlanes[] = {768, 1984, 4160};

// Byte masks for _mm_shuffle_epi8 between eight pixels as stored (24 values in three
// vectors: y cb cr y cb cr ..) and a vector of eight 16-bit values.
struct Gather {
    alignas(16) std::int8_t part[3][16];
};
// Eight values taken from the pixels: value q is stored value source[q].
constexpr Gather gatherOf(const int (&source)[8]) {
    Gather g{};
    for (int p = 0; p < 3; ++p)
        for (int q = 0; q < 8; ++q) {
            const bool here = source[q] / 8 == p;
            g.part[p][2 * q] = static_cast<std::int8_t>(here ? 2 * (source[q] % 8) : -128);
            g.part[p][2 * q + 1] = static_cast<std::int8_t>(here ? 2 * (source[q] % 8) + 1 : -128);
        }
    return g;
}
constexpr int kLumaOf[8] = {0, 3, 6, 9, 12, 15, 18, 21};
constexpr int kEvenChromaOf[8] = {1, 2, 7, 8, 13, 14, 19, 20};
constexpr int kOddChromaOf[8] = {4, 5, 10, 11, 16, 17, 22, 23};
constexpr Gather kGatherLuma = gatherOf(kLumaOf), kGatherEven = gatherOf(kEvenChromaOf),
                 kGatherOdd = gatherOf(kOddChromaOf);

// The way back: stored value e (of 24) of part e / 8 takes luma lane e / 3, or for
// cb and cr the even pixel's chroma lane (pixel & ~1) + component - 1.
struct Scatter {
    alignas(16) std::int8_t luma[3][16], chroma[3][16];
};
constexpr Scatter scatterOf() {
    Scatter s{};
    for (int e = 0; e < 24; ++e) {
        const int pixel = e / 3, component = e % 3, p = e / 8, at = 2 * (e % 8);
        const int lumaLane = component == 0 ? pixel : -1;
        const int chromaLane = component == 0 ? -1 : (pixel & ~1) + component - 1;
        for (int b = 0; b < 2; ++b) {
            s.luma[p][at + b] = static_cast<std::int8_t>(lumaLane < 0 ? -128 : 2 * lumaLane + b);
            s.chroma[p][at + b] = static_cast<std::int8_t>(chromaLane < 0 ? -128 : 2 * chromaLane + b);
        }
    }
    return s;
}
constexpr Scatter kScatter = scatterOf();

inline __m256i twice(const std::int8_t (&mask)[16]) {
    return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(mask)));
}
inline __m256i loadAt(const std::int16_t *p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)); }
inline void storeAt(std::int16_t *p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), v); }

// Working values from -kNear to kNear - 1 never saturate in a pair's sums and
// differences (twice the larger distance of a member from the target is at most
// 32766), which lets a row whose values all lie there take the short form.
constexpr int kNear = 8192;

// Pixels [first, first + 16 * chunks) of an image row into a ring row (and its
// twin) of planes P apart: row + index(first) holds them. True when every working
// value lies within kNear of 0.
template <int P>
bool splitRow(const PIXEL_YC *pixels, int chunks, std::int16_t *row, std::int16_t *twin) noexcept {
    const __m256i offset = _mm256_set1_epi16(2048);
    __m256i low = _mm256_set1_epi16(-kNear), high = _mm256_set1_epi16(kNear - 1);
    __m256i gather[3][3];
    for (int p = 0; p < 3; ++p) {
        gather[0][p] = twice(kGatherLuma.part[p]);
        gather[1][p] = twice(kGatherEven.part[p]);
        gather[2][p] = twice(kGatherOdd.part[p]);
    }
    for (int c = 0; c < chunks; ++c, pixels += 16) {
        // Pixels 0-7 in the low halves, 8-15 in the high ones.
        const auto *at = reinterpret_cast<const __m128i *>(pixels);
        __m256i part[3];
        for (int p = 0; p < 3; ++p)
            part[p] = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(at + p)),
                                              _mm_loadu_si128(at + 3 + p), 1);
        __m256i plane[3];
        for (int k = 0; k < 3; ++k)
            plane[k] = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(part[0], gather[k][0]),
                                                       _mm256_shuffle_epi8(part[1], gather[k][1])),
                                       _mm256_shuffle_epi8(part[2], gather[k][2]));
        plane[1] = _mm256_adds_epi16(plane[1], offset);
        plane[2] = _mm256_adds_epi16(plane[2], offset);
        for (int k = 0; k < 3; ++k) {
            storeAt(row + k * P + 16 * c, plane[k]);
            storeAt(twin + k * P + 16 * c, plane[k]);
            low = _mm256_min_epi16(low, plane[k]);
            high = _mm256_max_epi16(high, plane[k]);
        }
    }
    const __m256i outside = _mm256_or_si256(_mm256_cmpgt_epi16(_mm256_set1_epi16(-kNear), low),
                                            _mm256_cmpgt_epi16(high, _mm256_set1_epi16(kNear - 1)));
    return _mm256_testz_si256(outside, outside);
}

// Where member m's sixteen luma values and eight chroma pairs lie, relative to the
// target's own in the ring (F = field count).
template <int F, int P>
constexpr int memberLuma(const Member &m) {
    using R = Ring<P>;
    return m.image * R::kImage + (m.fieldRows * F + m.frameRows) * R::kRow + R::kLuma + m.column;
}
template <int F, int P>
constexpr int memberChroma(const Member &m) {
    using R = Ring<P>;
    const int rowAt = m.image * R::kImage + (m.fieldRows * F + m.frameRows) * R::kRow;
    // Columns 0 and +-2 are even pixels; +1 is the odd pixel of the same pair, -1 the
    // odd pixel of the pair before.
    if (m.column % 2 == 0) return rowAt + R::kEvenChroma + m.column;
    return rowAt + R::kOddChroma + (m.column > 0 ? 0 : -2);
}

struct Search {
    __m256i best, pick;
};

// vpblendvb itself: the compiler's form of the intrinsic first tests the sign of
// every byte of the mask again, one more instruction for each pair.
inline __m256i blendBytes(__m256i ifClear, __m256i ifSet, __m256i mask) noexcept {
    __m256i r;
    __asm__("vpblendvb %3, %2, %1, %0" : "=x"(r) : "x"(ifClear), "x"(ifSet), "x"(mask));
    return r;
}

// One pair for one vector, with the unit kernels' numbers. Their cost adds the two
// magnitudes, each saturated to 32767, with saturation; here the magnitudes are
// taken unsigned (|-32768| is 32768), added with unsigned saturation and then
// limited to 32767, which gives the same value in fewer steps. The cost is taken
// where it is at most best, so best becomes the smaller of the two.
inline void tryPair(Search &s, __m256i a, __m256i b, __m256i twiceC, __m256i largest) noexcept {
    const __m256i sum = _mm256_adds_epi16(a, b);
    const __m256i cost =
        _mm256_min_epu16(_mm256_adds_epu16(_mm256_abs_epi16(_mm256_subs_epi16(sum, twiceC)),
                                           _mm256_abs_epi16(_mm256_subs_epi16(a, b))),
                         largest);
    const __m256i keep = _mm256_cmpgt_epi16(cost, s.best);
    s.best = _mm256_min_epi16(s.best, cost);
    s.pick = blendBytes(sum, s.pick, keep);
}

// The same where every value lies within kNear of 0: then the cost is exactly twice
// the larger distance of a member from the target, and that distance is compared
// with half of best (rounded down), the same comparison.
inline void tryNearPair(Search &s, __m256i a, __m256i b, __m256i c) noexcept {
    const __m256i distance =
        _mm256_max_epi16(_mm256_abs_epi16(_mm256_sub_epi16(a, c)), _mm256_abs_epi16(_mm256_sub_epi16(b, c)));
    const __m256i keep = _mm256_cmpgt_epi16(distance, s.best);
    s.best = _mm256_min_epi16(s.best, distance);
    s.pick = blendBytes(_mm256_add_epi16(a, b), s.pick, keep);
}

// The sixteen pixels at ring index i of the row whose ring rows start at ring (the
// previous frame's row r; the other images follow a ring apart), into out; nearby:
// every value of the five rows lies within kNear of 0.
//
// A unit that has settled after a group keeps the pick it had then (held), which is
// what it would give had it stopped; its lanes go on through the pairs with the
// others of the vector, but nothing they find is used. Only after the first group
// does the vector stop when all its units have settled: that is the still picture's
// case, taken nearly always or never, while a stop taken now and then costs a
// mispredicted branch, more than the pairs it saves.
template <int F, int P, bool nearby>
inline void searchGroup(const std::int16_t *ring, int i, __m256i twiceT, PIXEL_YC *out) noexcept {
    using R = Ring<P>;
    const std::int16_t *at = ring + i;
    const std::int16_t *cur = at + Cur * R::kImage;
    const __m256i cY = loadAt(cur + R::kLuma), cC = loadAt(cur + R::kEvenChroma);
    const __m256i twiceCY = _mm256_adds_epi16(cY, cY), twiceCC = _mm256_adds_epi16(cC, cC);
    const __m256i largest = _mm256_set1_epi16(32767);
    // Nearby, best is kept halved: a cost at most best is a distance at most its half.
    const __m256i settled = _mm256_set1_epi16(nearby ? kSettledCost / 2 : kSettledCost);
    const __m256i firstBest = nearby ? _mm256_srai_epi16(twiceT, 1) : twiceT;
    Search y{firstBest, twiceCY}, c{firstBest, twiceCC};
    __m256i frozen = _mm256_setzero_si256(), heldY = twiceCY, heldC = twiceCC;
#pragma GCC unroll 19
    for (int pair = 0; pair < 19; ++pair) {
        const Pair &p = kPairs[pair];
        const __m256i aY = loadAt(at + memberLuma<F, P>(p.a)), bY = loadAt(at + memberLuma<F, P>(p.b));
        if (nearby)
            tryNearPair(y, aY, bY, cY);
        else
            tryPair(y, aY, bY, twiceCY, largest);
        if (!p.lumaOnly) {
            const __m256i aC = loadAt(at + memberChroma<F, P>(p.a)), bC = loadAt(at + memberChroma<F, P>(p.b));
            if (nearby)
                tryNearPair(c, aC, bC, cC);
            else
                tryPair(c, aC, bC, twiceCC, largest);
        }
        if (endsEarlyGroup(pair)) {
            const __m256i unsettled =
                _mm256_or_si256(_mm256_cmpgt_epi16(y.best, settled), _mm256_cmpgt_epi16(c.best, settled));
            if (pair == kGroupEnd[0] - 1 && _mm256_testz_si256(unsettled, unsettled)) break;
            // Settled units stay settled (best only falls): those new to it keep their pick.
            heldY = blendBytes(y.pick, heldY, frozen);
            heldC = blendBytes(c.pick, heldC, frozen);
            frozen = _mm256_cmpeq_epi64(unsettled, _mm256_setzero_si256());
        }
    }
    y.pick = blendBytes(y.pick, heldY, frozen);
    c.pick = blendBytes(c.pick, heldC, frozen);
    const __m256i four = _mm256_set1_epi16(4);
    auto output = [&](__m256i pick, __m256i twiceC) {
        const __m256i v = _mm256_adds_epi16(_mm256_adds_epi16(pick, pick), pick);
        return _mm256_srai_epi16(_mm256_adds_epi16(_mm256_adds_epi16(v, twiceC), four), 3);
    };
    const __m256i lumaOut = output(y.pick, twiceCY);
    const __m256i chromaOut = _mm256_subs_epi16(output(c.pick, twiceCC), _mm256_set1_epi16(2048));
    auto *to = reinterpret_cast<__m128i *>(out);
    for (int p = 0; p < 3; ++p) {
        const __m256i v = _mm256_or_si256(_mm256_shuffle_epi8(lumaOut, twice(kScatter.luma[p])),
                                          _mm256_shuffle_epi8(chromaOut, twice(kScatter.chroma[p])));
        _mm_storeu_si128(to + p, _mm256_castsi256_si128(v));
        _mm_storeu_si128(to + 3 + p, _mm256_extracti128_si256(v, 1));
    }
}

// Rows [rowBegin, rowEnd) (all with both neighbours two rows away in the frame) of
// the units from pixel xBegin to xEnd (xEnd - xBegin at least 16, at most
// Ring<P>::kWidest and a multiple of 4; the pixels two beyond either end lie in the
// frame). ring: Ring<P>::kValues values, 32-byte aligned.
template <int F, int P>
void searchStrip(const PIXEL_YC *const images[3], PIXEL_YC *outImage, std::ptrdiff_t pitch, int rowBegin,
                 int rowEnd, int xBegin, int xEnd, __m256i twiceT, std::int16_t *ring) noexcept {
    using R = Ring<P>;
    // Ring index 16 is pixel xBegin; the planes start from the 16-pixel chunk that
    // holds xBegin - 2.
    const int firstPixel = xBegin - 2;
    const int chunks = (xEnd + 2 - firstPixel + 15) / 16;
    bool nearby[kRingRows];  // by slot: all three images' values of the row lie within kNear
    auto split = [&](int row) {
        const int slot = row % kRingRows;
        nearby[slot] = true;
        for (int k = 0; k < 3; ++k) {
            std::int16_t *base = ring + k * R::kImage + 14;
            nearby[slot] &= splitRow<P>(images[k] + row * pitch + firstPixel, chunks, base + slot * R::kRow,
                                      base + (slot + kRingRows) * R::kRow);
        }
    };
    for (int row = rowBegin - 2; row < rowBegin + 2; ++row) split(row);
    for (int r = rowBegin; r < rowEnd; ++r) {
        split(r + 2);
        // Rows r - 2 .. r + 2 are slots (r - 2) % 5 .. + 4; row r is the middle one.
        const std::int16_t *middle = ring + ((r - 2) % kRingRows + 2) * R::kRow;
        PIXEL_YC *out = outImage + r * pitch;
        // The next row to split is fetched while this one is searched, a group's
        // worth (96 bytes of each image) beside each group.
        const char *next[3] = {nullptr, nullptr, nullptr};
        char *nextOut = nullptr;
        if (r + 3 < rowEnd + 2) {
            for (int k = 0; k < 3; ++k)
                next[k] = reinterpret_cast<const char *>(images[k] + (r + 3) * pitch + xBegin);
            // And the output row after this one, to be written.
            if (r + 1 < rowEnd) nextOut = reinterpret_cast<char *>(outImage + (r + 1) * pitch + xBegin);
        }
        const bool allNearby = nearby[0] && nearby[1] && nearby[2] && nearby[3] && nearby[4];
        auto group = [&](int x) {
            if (allNearby)
                searchGroup<F, P, true>(middle, x - xBegin + 16, twiceT, out + x);
            else
                searchGroup<F, P, false>(middle, x - xBegin + 16, twiceT, out + x);
        };
        int x = xBegin;
        for (; x + 16 <= xEnd; x += 16) {
            if (next[0])
                for (int k = 0; k < 3; ++k) {
                    const char *line = next[k] + 6 * (x - xBegin);
                    _mm_prefetch(line, _MM_HINT_T0);
                    _mm_prefetch(line + 64, _MM_HINT_T0);
                }
            if (nextOut) {
                __builtin_prefetch(nextOut + 6 * (x - xBegin), 1);
                __builtin_prefetch(nextOut + 6 * (x - xBegin) + 64, 1);
            }
            group(x);
        }
        // The last units: a group ending at xEnd, over units already done (with the
        // same result, which does not depend on the units beside it).
        if (x < xEnd) group(xEnd - 16);
    }
}

template <int P>
void searchRows(const PIXEL_YC *const images[3], PIXEL_YC *out, std::ptrdiff_t pitch, int fieldCount, int first,
                int last, int xBegin, int xEnd, __m256i twiceT, std::int16_t *ring) noexcept {
    if (fieldCount == 1)
        searchStrip<1, P>(images, out, pitch, first, last, xBegin, xEnd, twiceT, ring);
    else
        searchStrip<2, P>(images, out, pitch, first, last, xBegin, xEnd, twiceT, ring);
}

// The thread's scratch as a ring of whole rows of plane length P, or null where it
// has none or one too small.
template <int P>
std::int16_t *scratchRing(PrepassScratch scratch) noexcept {
    if (!scratch.rows || scratch.bytes < sizeof(std::int16_t) * Ring<P>::kValues) return nullptr;
    return static_cast<std::int16_t *>(scratch.rows);
}

}  // namespace

void mosquitoNrRowsAvx2(const PIXEL_YC *source, const PIXEL_YC *prevFrame,
                        const FILTER_PROC_INFO *fpip, const PIXEL_YC *nextFrame, int fieldCount,
                        int strengthC, int rowBegin, int rowEnd, PrepassScratch scratch) noexcept {
    const int w = fpip->w, h = fpip->h;
    // Frames the strips do not fit (narrower than a group and its margins, or not a
    // whole number of groups wide, as the host never sends) take the unit kernel.
    if (w % 16 != 0 || w < 32 || (fieldCount != 1 && fieldCount != 2)) {
        mosquitoNrRowsSse2(source, prevFrame, fpip, nextFrame, fieldCount, strengthC, rowBegin, rowEnd,
                           scratch);
        return;
    }
    const std::ptrdiff_t pitch = fpip->max_w;
    PIXEL_YC *out = fpip->ycp_temp;
    // The copied rows and columns.
    forEachRow(source, out, static_cast<int>(pitch), w, h, 2, rowBegin, rowEnd,
               [](int, const PIXEL_YC *, PIXEL_YC *) {});
    const int first = rowBegin > 2 ? rowBegin : 2, last = rowEnd < h - 2 ? rowEnd : h - 2;
    if (first >= last) return;
    const PIXEL_YC *images[3] = {prevFrame, nextFrame, source};  // indexed by Image
    const std::int16_t t = saturate16(strengthC);
    const __m256i twiceT = _mm256_adds_epi16(_mm256_set1_epi16(t), _mm256_set1_epi16(t));
    // Units tile pixels 2 .. w - 3.
    const int xEnd = w - 2;
    if (w - 4 <= Ring<kRowPlanes[0]>::kWidest) {
        if (std::int16_t *ring = scratchRing<kRowPlanes[0]>(scratch))
            return searchRows<kRowPlanes[0]>(images, out, pitch, fieldCount, first, last, 2, xEnd, twiceT, ring);
    } else if (w - 4 <= Ring<kRowPlanes[1]>::kWidest) {
        if (std::int16_t *ring = scratchRing<kRowPlanes[1]>(scratch))
            return searchRows<kRowPlanes[1]>(images, out, pitch, fieldCount, first, last, 2, xEnd, twiceT, ring);
    } else if (w - 4 <= Ring<kRowPlanes[2]>::kWidest) {
        if (std::int16_t *ring = scratchRing<kRowPlanes[2]>(scratch))
            return searchRows<kRowPlanes[2]>(images, out, pitch, fieldCount, first, last, 2, xEnd, twiceT, ring);
    }
    // Strips of kStripGroups groups, the last taking what remains (at least one
    // group and the units after it).
    alignas(32) std::int16_t ring[Ring<kStripPlane>::kValues];
    for (int x = 2; x < xEnd;) {
        int stripEnd = x + 16 * kStripGroups;
        if (stripEnd + 16 > xEnd) stripEnd = xEnd;
        searchRows<kStripPlane>(images, out, pitch, fieldCount, first, last, x, stripEnd, twiceT, ring);
        x = stripEnd;
    }
}
