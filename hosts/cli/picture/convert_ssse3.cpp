// The sample rules sixteen pixels at a time. Compiled with SSSE3 for its byte
// shuffle, which takes a host pixel's three 16-bit values apart and puts them back
// together; run only where the processor has it. The arithmetic is the rules' own,
// in 32-bit lanes wherever a product leaves 16 bits, so every code is the one the
// scalar rules give.
#include "cli/picture/convert_kernels.h"

#if defined(__SSSE3__)

#include <tmmintrin.h>

namespace q5cli::convert_kernels {

namespace {

// pshufb masks moving whole 16-bit lanes: out lane j takes lane from[j], or none.
__m128i laneMask(const int (&from)[8]) {
    alignas(16) std::int8_t m[16];
    for (int j = 0; j < 8; ++j) {
        m[2 * j] = from[j] < 0 ? -128 : static_cast<std::int8_t>(2 * from[j]);
        m[2 * j + 1] = from[j] < 0 ? -128 : static_cast<std::int8_t>(2 * from[j] + 1);
    }
    return _mm_load_si128(reinterpret_cast<const __m128i *>(m));
}

// Eight pixels are 24 values in three vectors; value t = 3 p + c (pixel p, part c:
// y, cb, cr) sits in vector t / 8, lane t % 8.
struct Masks {
    __m128i split[3][3];        // [part][vector]: that part of pixels 0..7, in order
    __m128i joinY[3];           // [vector]: the y values of pixels 0..7
    __m128i joinC[2][2][3];     // [cb or cr][half][vector]: chroma lane 4 half + p / 2
    __m128i joinF[2][3];        // [cb or cr][vector]: chroma lane p (4:4:4)
    Masks() {
        for (int c = 0; c < 3; ++c)
            for (int v = 0; v < 3; ++v) {
                int from[8];
                for (int p = 0; p < 8; ++p) from[p] = (3 * p + c) / 8 == v ? (3 * p + c) % 8 : -1;
                split[c][v] = laneMask(from);
            }
        for (int v = 0; v < 3; ++v) {
            int y[8], c[2][2][8], full[2][8];
            for (int j = 0; j < 8; ++j) {
                const int t = 8 * v + j, p = t / 3, part = t % 3;
                y[j] = part == 0 ? p : -1;
                full[0][j] = part == 1 ? p : -1;
                full[1][j] = part == 2 ? p : -1;
                for (int h = 0; h < 2; ++h) {
                    c[0][h][j] = part == 1 ? 4 * h + p / 2 : -1;
                    c[1][h][j] = part == 2 ? 4 * h + p / 2 : -1;
                }
            }
            joinY[v] = laneMask(y);
            joinF[0][v] = laneMask(full[0]);
            joinF[1][v] = laneMask(full[1]);
            for (int k = 0; k < 2; ++k)
                for (int h = 0; h < 2; ++h) joinC[k][h][v] = laneMask(c[k][h]);
        }
    }
};

const Masks &masks() {
    static const Masks m;
    return m;
}

#define Q5_INLINE inline __attribute__((always_inline))

// One part of eight pixels: the three vectors at `in` each shuffled by its mask.
struct PartMasks {
    __m128i m0, m1, m2;
};

PartMasks partMasks(const Masks &m, int part) { return {m.split[part][0], m.split[part][1], m.split[part][2]}; }

Q5_INLINE __m128i part(__m128i v0, __m128i v1, __m128i v2, const PartMasks &k) {
    return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(v0, k.m0), _mm_shuffle_epi8(v1, k.m1)), _mm_shuffle_epi8(v2, k.m2));
}

Q5_INLINE __m128i load(const PIXEL_YC *in, int vector) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(in) + vector);
}

// Codes in 16-bit lanes to [0, maxCode] and out as bytes or little-endian words.
Q5_INLINE void storeCodes16(__m128i lo, __m128i hi, Depth d, std::uint8_t *out) {
    if (d.bytes) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_packus_epi16(lo, hi));
        return;
    }
    const __m128i zero = _mm_setzero_si128(), top = _mm_set1_epi16(static_cast<short>(d.maxCode));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_min_epi16(_mm_max_epi16(lo, zero), top));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 16), _mm_min_epi16(_mm_max_epi16(hi, zero), top));
}

Q5_INLINE void storeCodes8(__m128i v, Depth d, std::uint8_t *out) {
    if (d.bytes) {
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out), _mm_packus_epi16(v, v));
        return;
    }
    const __m128i zero = _mm_setzero_si128(), top = _mm_set1_epi16(static_cast<short>(d.maxCode));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_min_epi16(_mm_max_epi16(v, zero), top));
}

// ((y * 219 << shift) + 2048 >> 12) + (16 << shift), before the clamp.
Q5_INLINE __m128i lumaCode(__m128i y, Depth d) {
    const __m128i k = _mm_set1_epi16(219), count = _mm_cvtsi32_si128(d.shift), round = _mm_set1_epi32(2048);
    const __m128i lo = _mm_mullo_epi16(y, k), hi = _mm_mulhi_epi16(y, k);
    const __m128i p0 = _mm_srai_epi32(_mm_add_epi32(_mm_sll_epi32(_mm_unpacklo_epi16(lo, hi), count), round), 12);
    const __m128i p1 = _mm_srai_epi32(_mm_add_epi32(_mm_sll_epi32(_mm_unpackhi_epi16(lo, hi), count), round), 12);
    return _mm_add_epi16(_mm_packs_epi32(p0, p1), _mm_set1_epi16(static_cast<short>(16 << d.shift)));
}

// Of four 32-bit YC48 chroma values: (((c + 2048) * 7 << shift) + 64 >> 7), without
// the (16 << shift) added after packing.
Q5_INLINE __m128i chromaCode32(__m128i c, Depth d) {
    const __m128i t = _mm_add_epi32(c, _mm_set1_epi32(2048));
    const __m128i t7 = _mm_sll_epi32(_mm_sub_epi32(_mm_slli_epi32(t, 3), t), _mm_cvtsi32_si128(d.shift));
    return _mm_srai_epi32(_mm_add_epi32(t7, _mm_set1_epi32(64)), 7);
}

Q5_INLINE __m128i chromaCode(__m128i c0, __m128i c1, Depth d) {
    return _mm_add_epi16(_mm_packs_epi32(chromaCode32(c0, d), chromaCode32(c1, d)),
                         _mm_set1_epi16(static_cast<short>(16 << d.shift)));
}

Q5_INLINE __m128i signExtendLo(__m128i v) { return _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16); }
Q5_INLINE __m128i signExtendHi(__m128i v) { return _mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16); }

}  // namespace

bool available() { return __builtin_cpu_supports("ssse3"); }

int lumaCodes(const PIXEL_YC *in, int n, Depth d, std::uint8_t *out) {
    const PartMasks ky = partMasks(masks(), 0);
    const int size = d.bytes ? 1 : 2;
    int x = 0;
    for (; x + 16 <= n; x += 16) {
        const PIXEL_YC *p = in + x;
        const __m128i y0 = part(load(p, 0), load(p, 1), load(p, 2), ky);
        const __m128i y1 = part(load(p, 3), load(p, 4), load(p, 5), ky);
        storeCodes16(lumaCode(y0, d), lumaCode(y1, d), d, out + size * x);
    }
    return x;
}

namespace {

// Pair sums of eight pixels' cb and cr, in 32 bits: [p0 + p1, p2 + p3, ...].
Q5_INLINE void pairSums(const PIXEL_YC *p, const PartMasks &kb, const PartMasks &kr, __m128i *cb, __m128i *cr) {
    const __m128i ones = _mm_set1_epi16(1);
    const __m128i v0 = load(p, 0), v1 = load(p, 1), v2 = load(p, 2);
    *cb = _mm_madd_epi16(part(v0, v1, v2, kb), ones);
    *cr = _mm_madd_epi16(part(v0, v1, v2, kr), ones);
}

}  // namespace

int chromaPairCodes(const PIXEL_YC *a, const PIXEL_YC *b, int pairs, Depth d, std::uint8_t *cbOut,
                    std::uint8_t *crOut) {
    const PartMasks kb = partMasks(masks(), 1), kr = partMasks(masks(), 2);
    const int size = d.bytes ? 1 : 2;
    const __m128i half = _mm_set1_epi32(b ? 2 : 1);
    const __m128i count = _mm_cvtsi32_si128(b ? 2 : 1);
    int cx = 0;
    for (; cx + 8 <= pairs; cx += 8) {
        __m128i cb0, cr0, cb1, cr1;  // pixels 0..7 and 8..15
        pairSums(a + 2 * cx, kb, kr, &cb0, &cr0);
        pairSums(a + 2 * cx + 8, kb, kr, &cb1, &cr1);
        if (b) {
            __m128i bb0, br0, bb1, br1;
            pairSums(b + 2 * cx, kb, kr, &bb0, &br0);
            pairSums(b + 2 * cx + 8, kb, kr, &bb1, &br1);
            cb0 = _mm_add_epi32(cb0, bb0), cr0 = _mm_add_epi32(cr0, br0);
            cb1 = _mm_add_epi32(cb1, bb1), cr1 = _mm_add_epi32(cr1, br1);
        }
        const auto mean = [&](__m128i sum) { return _mm_sra_epi32(_mm_add_epi32(sum, half), count); };
        storeCodes8(chromaCode(mean(cb0), mean(cb1), d), d, cbOut + size * cx);
        storeCodes8(chromaCode(mean(cr0), mean(cr1), d), d, crOut + size * cx);
    }
    return cx;
}

int fullChromaCodes(const PIXEL_YC *in, int n, Depth d, std::uint8_t *cbOut, std::uint8_t *crOut) {
    const PartMasks kb = partMasks(masks(), 1), kr = partMasks(masks(), 2);
    const int size = d.bytes ? 1 : 2;
    int x = 0;
    for (; x + 16 <= n; x += 16) {
        const PIXEL_YC *p = in + x;
        const __m128i a0 = load(p, 0), a1 = load(p, 1), a2 = load(p, 2);
        const __m128i b0 = load(p, 3), b1 = load(p, 4), b2 = load(p, 5);
        const __m128i cbA = part(a0, a1, a2, kb), cbB = part(b0, b1, b2, kb);
        const __m128i crA = part(a0, a1, a2, kr), crB = part(b0, b1, b2, kr);
        storeCodes16(chromaCode(signExtendLo(cbA), signExtendHi(cbA), d),
                     chromaCode(signExtendLo(cbB), signExtendHi(cbB), d), d, cbOut + size * x);
        storeCodes16(chromaCode(signExtendLo(crA), signExtendHi(crA), d),
                     chromaCode(signExtendLo(crB), signExtendHi(crB), d), d, crOut + size * x);
    }
    return x;
}

namespace {

// Codes as unsigned 16-bit lanes, clamped to maxCode; every word read or-ed into seen.
Q5_INLINE __m128i loadCodes8(const std::uint8_t *at, Depth d, __m128i *seen) {
    if (d.bytes) return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(at)), _mm_setzero_si128());
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
    *seen = _mm_or_si128(*seen, w);
    // An unsigned minimum through the signed one: both sides offset by 0x8000.
    const __m128i flip = _mm_set1_epi16(-0x8000);
    return _mm_xor_si128(_mm_min_epi16(_mm_xor_si128(w, flip), _mm_xor_si128(_mm_set1_epi16(static_cast<short>(d.maxCode)), flip)), flip);
}

// (code * 1197 >> 6 + shift) - 299, codes below 2^11.
Q5_INLINE __m128i lumaIn(__m128i code, Depth d) {
    const __m128i k = _mm_set1_epi16(1197), count = _mm_cvtsi32_si128(6 + d.shift);
    const __m128i lo = _mm_mullo_epi16(code, k), hi = _mm_mulhi_epu16(code, k);
    const __m128i p0 = _mm_srl_epi32(_mm_unpacklo_epi16(lo, hi), count);
    const __m128i p1 = _mm_srl_epi32(_mm_unpackhi_epi16(lo, hi), count);
    return _mm_sub_epi16(_mm_packs_epi32(p0, p1), _mm_set1_epi16(299));
}

// ((code - (128 << shift)) * 4681 + (164 << shift)) >> 8 + shift.
Q5_INLINE __m128i chromaIn(__m128i code, Depth d) {
    const __m128i k = _mm_set1_epi16(4681), count = _mm_cvtsi32_si128(8 + d.shift);
    const __m128i centred = _mm_sub_epi16(code, _mm_set1_epi16(static_cast<short>(128 << d.shift)));
    const __m128i lo = _mm_mullo_epi16(centred, k), hi = _mm_mulhi_epi16(centred, k);
    const __m128i round = _mm_set1_epi32(164 << d.shift);
    const __m128i p0 = _mm_sra_epi32(_mm_add_epi32(_mm_unpacklo_epi16(lo, hi), round), count);
    const __m128i p1 = _mm_sra_epi32(_mm_add_epi32(_mm_unpackhi_epi16(lo, hi), round), count);
    return _mm_packs_epi32(p0, p1);
}

}  // namespace

int pixelsFromPairCodes(const std::uint8_t *luma, const std::uint8_t *cb, const std::uint8_t *cr, int pairs,
                        Depth d, PIXEL_YC *out, int *seen) {
    const Masks &m = masks();
    const int size = d.bytes ? 1 : 2;
    __m128i seenWords = _mm_setzero_si128();
    int cx = 0;
    for (; cx + 8 <= pairs; cx += 8) {
        const __m128i y[2] = {lumaIn(loadCodes8(luma + size * 2 * cx, d, &seenWords), d),
                              lumaIn(loadCodes8(luma + size * (2 * cx + 8), d, &seenWords), d)};
        const __m128i c[2] = {chromaIn(loadCodes8(cb + size * cx, d, &seenWords), d),
                              chromaIn(loadCodes8(cr + size * cx, d, &seenWords), d)};
        __m128i *to = reinterpret_cast<__m128i *>(out + 2 * cx);
        for (int h = 0; h < 2; ++h)
            for (int v = 0; v < 3; ++v)
                _mm_storeu_si128(to + 3 * h + v,
                                 _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(y[h], m.joinY[v]),
                                                           _mm_shuffle_epi8(c[0], m.joinC[0][h][v])),
                                              _mm_shuffle_epi8(c[1], m.joinC[1][h][v])));
    }
    alignas(16) std::uint16_t words[8];
    _mm_store_si128(reinterpret_cast<__m128i *>(words), seenWords);
    for (std::uint16_t w : words) *seen |= w;
    return cx;
}

int pixelsFromCodes(const std::uint8_t *luma, const std::uint8_t *cb, const std::uint8_t *cr, int n, Depth d,
                    PIXEL_YC *out, int *seen) {
    const Masks &m = masks();
    const int size = d.bytes ? 1 : 2;
    __m128i seenWords = _mm_setzero_si128();
    int x = 0;
    for (; x + 16 <= n; x += 16) {
        __m128i *to = reinterpret_cast<__m128i *>(out + x);
        for (int h = 0; h < 2; ++h) {
            const int at = size * (x + 8 * h);
            const __m128i y = lumaIn(loadCodes8(luma + at, d, &seenWords), d);
            // Mono: neutral chroma, zero in YC48.
            const __m128i b = cb ? chromaIn(loadCodes8(cb + at, d, &seenWords), d) : _mm_setzero_si128();
            const __m128i r = cr ? chromaIn(loadCodes8(cr + at, d, &seenWords), d) : _mm_setzero_si128();
            for (int v = 0; v < 3; ++v)
                _mm_storeu_si128(to + 3 * h + v,
                                 _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(y, m.joinY[v]), _mm_shuffle_epi8(b, m.joinF[0][v])),
                                              _mm_shuffle_epi8(r, m.joinF[1][v])));
        }
    }
    alignas(16) std::uint16_t words[8];
    _mm_store_si128(reinterpret_cast<__m128i *>(words), seenWords);
    for (std::uint16_t w : words) *seen |= w;
    return x;
}

}  // namespace q5cli::convert_kernels

#else

namespace q5cli::convert_kernels {

bool available() { return false; }
int lumaCodes(const PIXEL_YC *, int, Depth, std::uint8_t *) { return 0; }
int chromaPairCodes(const PIXEL_YC *, const PIXEL_YC *, int, Depth, std::uint8_t *, std::uint8_t *) { return 0; }
int fullChromaCodes(const PIXEL_YC *, int, Depth, std::uint8_t *, std::uint8_t *) { return 0; }
int pixelsFromPairCodes(const std::uint8_t *, const std::uint8_t *, const std::uint8_t *, int, Depth, PIXEL_YC *,
                        int *) {
    return 0;
}
int pixelsFromCodes(const std::uint8_t *, const std::uint8_t *, const std::uint8_t *, int, Depth, PIXEL_YC *, int *) {
    return 0;
}

}  // namespace q5cli::convert_kernels

#endif
