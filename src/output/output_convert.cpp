// Output conversion: a row of luma samples and its half-width chroma, doubled,
// into a picture row of the host's output image.
#include <emmintrin.h>

#include "output/output_stage.h"


// Writes `pairs` pixel pairs of one picture row: pixel 2k gets (luma[2k], cb[k],
// cr[k]), pixel 2k+1 (luma[2k+1], cb[k], cr[k]). Eight pixels (48 bytes) per step,
// built from 32-bit units: (y, cb) (cr, y) (cb, cr) repeat with the period of a pair.
void writePixels(const std::int16_t *luma, const std::int16_t *cb, const std::int16_t *cr, int pairs,
                 PIXEL_YC *out) noexcept {
    const __m128i zero = _mm_setzero_si128(), low16 = _mm_set1_epi32(0xFFFF);
    int k = 0;
    for (; k + 4 <= pairs; k += 4, out += 8) {
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i *>(luma + 2 * k));
        const __m128i b = _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(cb + k)), zero);
        const __m128i r = _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(cr + k)), zero);
        const __m128 yCb = _mm_castsi128_ps(_mm_or_si128(_mm_and_si128(y, low16), _mm_slli_epi32(b, 16)));
        const __m128 crY = _mm_castsi128_ps(_mm_or_si128(r, _mm_slli_epi32(_mm_srli_epi32(y, 16), 16)));
        const __m128 cbCr = _mm_castsi128_ps(_mm_or_si128(b, _mm_slli_epi32(r, 16)));
        // Units a (y cb), b (cr y), c (cb cr) of pairs 0..3:
        // out = a0 b0 c0 a1 | b1 c1 a2 b2 | c2 a3 b3 c3.
        const __m128 abLow = _mm_unpacklo_ps(yCb, crY), abHigh = _mm_unpackhi_ps(yCb, crY);
        const __m128 v0 = _mm_shuffle_ps(abLow, _mm_shuffle_ps(cbCr, abLow, _MM_SHUFFLE(0, 2, 0, 0)),
                                         _MM_SHUFFLE(2, 0, 1, 0));
        const __m128 v1 = _mm_shuffle_ps(_mm_shuffle_ps(abLow, cbCr, _MM_SHUFFLE(0, 1, 0, 3)), abHigh,
                                         _MM_SHUFFLE(1, 0, 2, 0));
        const __m128 v2 = _mm_shuffle_ps(_mm_shuffle_ps(cbCr, abHigh, _MM_SHUFFLE(0, 2, 0, 2)),
                                         _mm_shuffle_ps(abHigh, cbCr, _MM_SHUFFLE(0, 3, 0, 3)), _MM_SHUFFLE(2, 0, 2, 0));
        auto *dst = reinterpret_cast<__m128i *>(out);
        _mm_storeu_si128(dst, _mm_castps_si128(v0));
        _mm_storeu_si128(dst + 1, _mm_castps_si128(v1));
        _mm_storeu_si128(dst + 2, _mm_castps_si128(v2));
    }
    writePixelsScalar(luma + 2 * k, cb + k, cr + k, pairs - k, out);
}

void writePixelsScalar(const std::int16_t *luma, const std::int16_t *cb, const std::int16_t *cr, int pairs,
                       PIXEL_YC *out) noexcept {
    for (int k = 0; k < pairs; ++k, out += 2) {
        // Both pixels of a pair carry the same chroma, without interpolation.
        out[0] = {luma[2 * k], cb[k], cr[k]};
        out[1] = {luma[2 * k + 1], cb[k], cr[k]};
    }
}
