// What the scalar, SSE2 and AVX2 pre-pass kernels share: pixel addressing, the
// copied borders, the skin-colour test, the unit's lanes and the mosquito pass's
// candidate pairs.
//
// Everything here has internal linkage: each kernel file is built for its own
// instruction set, and a helper shared by name could be emitted from the AVX2
// file and then picked by the linker for a processor without AVX2.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include <emmintrin.h>

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

// ---- The same in eight 16-bit lanes (the SSE2 kernels) ----------------------

/// y, cb, cr of pixel x and y of x + 1 in lanes 0-3; the same for x + 2 in lanes 4-7.
inline __m128i loadUnit(const PIXEL_YC *row, std::ptrdiff_t x) noexcept {
    const __m128i even = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(row + x));
    const __m128i next = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(row + x + 2));
    return _mm_unpacklo_epi64(even, next);
}

/// The eight lanes of a unit laid out as its four pixels: y cb cr of X, y of X+1
/// with the chroma of X (lanes 1-2), then the same for X+2 and X+3 (lanes 5-6).
/// first holds the first 16 bytes of the pixels, last the remaining 8 (in its low half).
struct UnitPixels {
    __m128i first, last;
};
inline UnitPixels unitPixels(__m128i v) noexcept {
    const __m128i shifted = _mm_shufflelo_epi16(v, _MM_SHUFFLE(3, 3, 2, 1));    // v1 v2 v3 v3 v4..v7
    const __m128i mixed = _mm_unpacklo_epi32(shifted, _mm_srli_si128(v, 8));    // v1 v2 v4 v5 ..
    return {_mm_unpacklo_epi64(v, mixed),                                       // v0 v1 v2 v3 v1 v2 v4 v5
            _mm_srli_si128(_mm_shufflehi_epi16(v, _MM_SHUFFLE(2, 1, 3, 2)), 8)};  // v6 v7 v5 v6
}

/// Writes pixels X .. X+3 from the unit's lanes.
inline void storeUnit(PIXEL_YC *out, __m128i v) noexcept {
    const UnitPixels p = unitPixels(v);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), p.first);
    _mm_storel_epi64(reinterpret_cast<__m128i *>(reinterpret_cast<std::int16_t *>(out) + 8), p.last);
}

/// Writes pixels X .. X+3 of in plus the unit's lanes, saturated, to out.
inline void addUnit(PIXEL_YC *out, const PIXEL_YC *in, __m128i v) noexcept {
    const UnitPixels p = unitPixels(v);
    const auto *tailIn = reinterpret_cast<const __m128i *>(reinterpret_cast<const std::int16_t *>(in) + 8);
    auto *tailOut = reinterpret_cast<__m128i *>(reinterpret_cast<std::int16_t *>(out) + 8);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out),
                     _mm_adds_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(in)), p.first));
    _mm_storel_epi64(tailOut, _mm_adds_epi16(_mm_loadl_epi64(tailIn), p.last));
}

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
