// Mosquito noise reduction written once over a lane type L (lanes_sse2.h,
// lanes_avx2.h), a group of L::kLanes pixels (two or four units) a step, so that
// the SSE2 and AVX2 kernels run the same steps in the same order;
// mosquitoNrRowsScalar states the pass one target at a time.
//
// The three images' rows are first split into planes in a small ring that stays in
// the L1 cache: the luma of every pixel, and the chroma pairs (cb, cr) of the even
// and of the odd pixels, chroma already in working values. A member of a pair is
// then one load from those planes: the luma of the group's pixels in one vector,
// the chroma of their even pixels in another, so every lane is a target value (a
// unit's own layout would rebuild each member from two loads and three shuffles,
// and most units run all 19 pairs). The lanes of unit u are the lanes 4u .. 4u + 3
// of both vectors, which makes the joint early stop one compare per unit.
//
// The ring holds whole rows, in the thread's scratch (the driver hands over its
// octet scratch: the pass runs before the analysis that uses it): a row is then
// split in one sweep the processor fetches ahead. Where the scratch is missing or
// too small the frame goes by strips of columns with the ring on the stack, each
// strip from the band's top row to its bottom (rows of a strip are short runs far
// apart, which costs about a third more at 1920 x 1080, where the images come from
// memory). The results are the pass's: every unit does the same operations in the
// same order, and a unit that has settled stops taking pairs while others in its
// vector go on.
#pragma once

#include <xmmintrin.h>

#include <cstddef>
#include <cstdint>

#include "prefilter/prefilter.h"
#include "prefilter/prefilter_common.h"

namespace prefilter {
namespace {
namespace mosquito {

// A strip's planes hold the pixels from two left of its first group to two right
// of its last (in whole chunks of a group), at index pixel - (first group) + 16,
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
// Strips on the stack: 128 pixels, the last strip of a row up to a group more and
// the units after it.
constexpr int kStripPixels = 128;
constexpr int kStripPlane = kStripPixels + 48;
// Whole rows in the scratch: the narrowest plane length that holds the frame.
constexpr int kRowPlanes[] = {768, 1984, 4160};

// Working values from -kNear to kNear - 1 never saturate in a pair's sums and
// differences (twice the larger distance of a member from the target is at most
// 32766), which lets a row whose values all lie there take the short form.
constexpr int kNear = 8192;

// Pixels [first, first + kLanes * chunks) of an image row into a ring row (and its
// twin) of planes P apart: row + index(first) holds them. True when every working
// value lies within kNear of 0.
template <class L, int P>
bool splitRow(const PIXEL_YC *pixels, int chunks, std::int16_t *row, std::int16_t *twin) noexcept {
    using V = typename L::V;
    const V offset = L::set1(std::int16_t{2048});
    V low = L::set1(std::int16_t{-kNear}), high = L::set1(std::int16_t{kNear - 1});
    for (int c = 0; c < chunks; ++c, pixels += L::kLanes) {
        V plane[3];
        L::split(pixels, plane[0], plane[1], plane[2]);
        plane[1] = L::adds(plane[1], offset);
        plane[2] = L::adds(plane[2], offset);
        for (int k = 0; k < 3; ++k) {
            L::store(row + k * P + L::kLanes * c, plane[k]);
            L::store(twin + k * P + L::kLanes * c, plane[k]);
            low = L::min(low, plane[k]);
            high = L::max(high, plane[k]);
        }
    }
    const V outside = L::bitOr(L::cmpgt(L::set1(std::int16_t{-kNear}), low),
                               L::cmpgt(high, L::set1(std::int16_t{kNear - 1})));
    return !L::any(outside);
}

// Where member m's luma values and chroma pairs lie, relative to the target's own
// in the ring (F = field count).
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

template <class L>
struct Search {
    typename L::V best, pick;
};

// One pair for one vector: Cost = |A + B - 2c| + |A - B|, each magnitude limited to
// 32767, added with saturation (lanes_avx2.h takes the magnitudes unsigned, adds
// them with unsigned saturation and then limits the sum, the same value). The cost
// is taken where it is at most best, so best becomes the smaller of the two.
template <class L>
inline void tryPair(Search<L> &s, typename L::V a, typename L::V b, typename L::V twiceC) noexcept {
    const typename L::V sum = L::adds(a, b);
    const typename L::V cost = L::magnitudeSum(L::subs(sum, twiceC), L::subs(a, b));
    const typename L::V keep = L::cmpgt(cost, s.best);
    s.best = L::min(s.best, cost);
    s.pick = L::select(keep, s.pick, sum);
}

// The same where every value lies within kNear of 0: then the cost is exactly twice
// the larger distance of a member from the target, and that distance is compared
// with half of best (rounded down), the same comparison. The differences lie within
// 16383 of 0, so their plain magnitudes need no limit.
template <class L>
inline void tryNearPair(Search<L> &s, typename L::V a, typename L::V b, typename L::V c) noexcept {
    const typename L::V distance = L::max(L::abs(L::sub(a, c)), L::abs(L::sub(b, c)));
    const typename L::V keep = L::cmpgt(distance, s.best);
    s.best = L::min(s.best, distance);
    s.pick = L::select(keep, s.pick, L::add(a, b));
}

// The group of pixels at ring index i of the row whose ring rows start at ring (the
// previous frame's row r; the other images follow a ring apart), into out; nearby:
// every value of the five rows lies within kNear of 0.
//
// A unit that has settled after a group of pairs keeps the pick it had then (held),
// which is what it would give had it stopped; its lanes go on through the pairs with
// the others of the vector, but nothing they find is used. Only after the first
// group does the vector stop when all its units have settled: that is the still
// picture's case, taken nearly always or never, while a stop taken now and then
// costs a mispredicted branch, more than the pairs it saves.
template <class L, int F, int P, bool nearby>
inline void searchGroup(const std::int16_t *ring, int i, typename L::V twiceT, PIXEL_YC *out) noexcept {
    using R = Ring<P>;
    using V = typename L::V;
    const std::int16_t *at = ring + i;
    const std::int16_t *cur = at + Cur * R::kImage;
    const V cY = L::load(cur + R::kLuma), cC = L::load(cur + R::kEvenChroma);
    const V twiceCY = L::adds(cY, cY), twiceCC = L::adds(cC, cC);
    // Nearby, best is kept halved: a cost at most best is a distance at most its half.
    const V settled = L::set1(std::int16_t{nearby ? kSettledCost / 2 : kSettledCost});
    const V firstBest = nearby ? L::shiftRight1(twiceT) : twiceT;
    Search<L> y{firstBest, twiceCY}, c{firstBest, twiceCC};
    V frozen = L::zero(), heldY = twiceCY, heldC = twiceCC;
#pragma GCC unroll 19
    for (int pair = 0; pair < 19; ++pair) {
        const Pair &p = kPairs[pair];
        const V aY = L::load(at + memberLuma<F, P>(p.a)), bY = L::load(at + memberLuma<F, P>(p.b));
        if (nearby)
            tryNearPair<L>(y, aY, bY, cY);
        else
            tryPair<L>(y, aY, bY, twiceCY);
        if (!p.lumaOnly) {
            const V aC = L::load(at + memberChroma<F, P>(p.a)), bC = L::load(at + memberChroma<F, P>(p.b));
            if (nearby)
                tryNearPair<L>(c, aC, bC, cC);
            else
                tryPair<L>(c, aC, bC, twiceCC);
        }
        if (endsEarlyGroup(pair)) {
            const V unsettled = L::bitOr(L::cmpgt(y.best, settled), L::cmpgt(c.best, settled));
            if (pair == kGroupEnd[0] - 1 && !L::any(unsettled)) break;
            // Settled units stay settled (best only falls): those new to it keep their pick.
            heldY = L::select(frozen, heldY, y.pick);
            heldC = L::select(frozen, heldC, c.pick);
            frozen = L::unitsClear(unsettled);
        }
    }
    y.pick = L::select(frozen, heldY, y.pick);
    c.pick = L::select(frozen, heldC, c.pick);
    const V four = L::set1(std::int16_t{4});
    auto output = [&](V pick, V twiceC) {
        const V v = L::adds(L::adds(pick, pick), pick);
        return L::shiftRight3(L::adds(L::adds(v, twiceC), four));
    };
    L::join(output(y.pick, twiceCY), L::subs(output(c.pick, twiceCC), L::set1(std::int16_t{2048})), out);
}

// Rows [rowBegin, rowEnd) (all with both neighbours two rows away in the frame) of
// the units from pixel xBegin to xEnd (xEnd - xBegin at least a group, at most
// Ring<P>::kWidest and a multiple of 4; the pixels two beyond either end lie in the
// frame). ring: Ring<P>::kValues values, 32-byte aligned.
template <class L, int F, int P>
void searchStrip(const PIXEL_YC *const images[3], PIXEL_YC *outImage, std::ptrdiff_t pitch, int rowBegin,
                 int rowEnd, int xBegin, int xEnd, typename L::V twiceT, std::int16_t *ring) noexcept {
    using R = Ring<P>;
    constexpr int kGroup = L::kLanes;
    // Ring index 16 is pixel xBegin; the planes start from pixel xBegin - 2.
    const int firstPixel = xBegin - 2;
    const int chunks = (xEnd + 2 - firstPixel + kGroup - 1) / kGroup;
    bool nearby[kRingRows];  // by slot: all three images' values of the row lie within kNear
    auto split = [&](int row) {
        const int slot = row % kRingRows;
        nearby[slot] = true;
        for (int k = 0; k < 3; ++k) {
            std::int16_t *base = ring + k * R::kImage + 14;
            nearby[slot] &= splitRow<L, P>(images[k] + row * pitch + firstPixel, chunks, base + slot * R::kRow,
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
        // worth of each image beside each group.
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
                searchGroup<L, F, P, true>(middle, x - xBegin + 16, twiceT, out + x);
            else
                searchGroup<L, F, P, false>(middle, x - xBegin + 16, twiceT, out + x);
        };
        int x = xBegin;
        for (; x + kGroup <= xEnd; x += kGroup) {
            for (int b = 0; b < 6 * kGroup; b += 64) {
                if (next[0])
                    for (int k = 0; k < 3; ++k) _mm_prefetch(next[k] + 6 * (x - xBegin) + b, _MM_HINT_T0);
                if (nextOut) __builtin_prefetch(nextOut + 6 * (x - xBegin) + b, 1);
            }
            group(x);
        }
        // The last units: a group ending at xEnd, over units already done (with the
        // same result, which does not depend on the units beside it).
        if (x < xEnd) group(xEnd - kGroup);
    }
}

template <class L, int P>
void searchRows(const PIXEL_YC *const images[3], PIXEL_YC *out, std::ptrdiff_t pitch, int fieldCount, int first,
                int last, int xBegin, int xEnd, typename L::V twiceT, std::int16_t *ring) noexcept {
    if (fieldCount == 1)
        searchStrip<L, 1, P>(images, out, pitch, first, last, xBegin, xEnd, twiceT, ring);
    else
        searchStrip<L, 2, P>(images, out, pitch, first, last, xBegin, xEnd, twiceT, ring);
}

// The thread's scratch as a ring of whole rows of plane length P, or null where it
// has none or one too small.
template <int P>
std::int16_t *scratchRing(PrepassScratch scratch) noexcept {
    if (!scratch.rows || scratch.bytes < sizeof(std::int16_t) * Ring<P>::kValues) return nullptr;
    return static_cast<std::int16_t *>(scratch.rows);
}

// Whole rows of plane length P where the frame fits them and the scratch holds the
// ring; false where it does not.
template <class L, int P>
bool searchWholeRows(const PIXEL_YC *const images[3], PIXEL_YC *out, std::ptrdiff_t pitch, int fieldCount,
                     int first, int last, int w, typename L::V twiceT, PrepassScratch scratch) noexcept {
    std::int16_t *ring = scratchRing<P>(scratch);
    if (!ring) return false;
    searchRows<L, P>(images, out, pitch, fieldCount, first, last, 2, w - 2, twiceT, ring);
    return true;
}

}  // namespace mosquito

// Frames the groups of L fit: a whole number of 16 pixels wide (as the driver sends
// them), units (pixels 2 .. w - 3) at least a group, and a frame's or a field's row step.
template <class L>
constexpr bool mosquitoGroupsFit(int w, int fieldCount) noexcept {
    return w % 16 == 0 && w - 4 >= L::kLanes && (fieldCount == 1 || fieldCount == 2);
}

// The mosquito pass over rows [rowBegin, rowEnd): mosquitoNrRows with lane type L,
// for frames that mosquitoGroupsFit.
template <class L>
void mosquitoNrRowsWith(const PIXEL_YC *source, const PIXEL_YC *prevFrame, const FILTER_PROC_INFO *fpip,
                        const PIXEL_YC *nextFrame, int fieldCount, int strengthC, int rowBegin, int rowEnd,
                        PrepassScratch scratch) noexcept {
    using namespace mosquito;
    const int w = fpip->w, h = fpip->h;
    const std::ptrdiff_t pitch = fpip->max_w;
    PIXEL_YC *out = fpip->ycp_temp;
    // The copied rows and columns.
    forEachRow(source, out, static_cast<int>(pitch), w, h, 2, rowBegin, rowEnd,
               [](int, const PIXEL_YC *, PIXEL_YC *) {});
    const int first = rowBegin > 2 ? rowBegin : 2, last = rowEnd < h - 2 ? rowEnd : h - 2;
    if (first >= last) return;
    const PIXEL_YC *images[3] = {prevFrame, nextFrame, source};  // indexed by Image
    const std::int16_t t = saturate16(strengthC);
    const typename L::V twiceT = L::adds(L::set1(t), L::set1(t));
    const int xEnd = w - 2;
    if (w - 4 <= Ring<kRowPlanes[0]>::kWidest) {
        if (searchWholeRows<L, kRowPlanes[0]>(images, out, pitch, fieldCount, first, last, w, twiceT, scratch)) return;
    } else if (w - 4 <= Ring<kRowPlanes[1]>::kWidest) {
        if (searchWholeRows<L, kRowPlanes[1]>(images, out, pitch, fieldCount, first, last, w, twiceT, scratch)) return;
    } else if (w - 4 <= Ring<kRowPlanes[2]>::kWidest) {
        if (searchWholeRows<L, kRowPlanes[2]>(images, out, pitch, fieldCount, first, last, w, twiceT, scratch)) return;
    }
    // Strips of kStripPixels, the last taking what remains (at least a group and the
    // units after it).
    alignas(32) std::int16_t ring[Ring<kStripPlane>::kValues];
    for (int x = 2; x < xEnd;) {
        int stripEnd = x + kStripPixels;
        if (stripEnd + L::kLanes > xEnd) stripEnd = xEnd;
        searchRows<L, kStripPlane>(images, out, pitch, fieldCount, first, last, x, stripEnd, twiceT, ring);
        x = stripEnd;
    }
}

}  // namespace
}  // namespace prefilter
