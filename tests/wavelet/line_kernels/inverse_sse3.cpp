// SSE3 inverse kernels: the fused synthesis level with horizontal adds, the merge
// of L and H1 and the Daubechies-4 inverse as multiply-add chains over shifted
// windows. Band starts are aligned, so every load of a band vector is aligned and
// the shifted windows are shuffled together from them. The scalar twins in
// inverse_scalar.cpp sum in the same order.
#include <pmmintrin.h>

#include "wavelet/line_kernels.h"
#include "wavelet/taps.h"

using namespace wavelet_taps;

namespace {

// (a[2], a[3], b[0], b[1]) and (a[1], a[2], a[3], b[0]): windows shifted by 2 and 1.
inline __m128 shift2(__m128 a, __m128 b) noexcept { return _mm_shuffle_ps(a, b, _MM_SHUFFLE(1, 0, 3, 2)); }
inline __m128 shift1(__m128 a, __m128 b) noexcept {
    return _mm_shuffle_ps(a, shift2(a, b), _MM_SHUFFLE(2, 1, 2, 1));
}
// (a[3], b[0], b[1], b[2]): a window shifted by 3.
inline __m128 shift3(__m128 a, __m128 b) noexcept {
    return _mm_shuffle_ps(shift2(a, b), b, _MM_SHUFFLE(2, 1, 2, 1));
}

struct InverseTaps {
    __m128 even[3], odd[3];
    InverseTaps() noexcept {
        for (int i = 0; i < 3; ++i) {
            even[i] = _mm_loadu_ps(kInverseEven + 4 * i);
            odd[i] = _mm_loadu_ps(kInverseOdd + 4 * i);
        }
    }
};

inline __m128 dot3(__m128 a, __m128 b, __m128 c, const __m128 *taps) noexcept {
    __m128 acc = _mm_mul_ps(a, taps[0]);
    acc = _mm_add_ps(acc, _mm_mul_ps(b, taps[1]));
    return _mm_add_ps(acc, _mm_mul_ps(c, taps[2]));
}

// Output pairs m = 4q .. 4q + 3 from l = L[4q-4 .. 4q+7], h = H1[4q-4 .. 4q+7]
// and d = H2[4q-4 .. 4q+3], each as aligned vectors.
inline void inverseBlock(const __m128 *l, const __m128 *h, const __m128 *d, const InverseTaps &t,
                         float *out) noexcept {
    // L[m-2 .. m+1] and H1[m-2 .. m+1] for the four m.
    const __m128 lw[4] = {shift2(l[0], l[1]), shift3(l[0], l[1]), l[1], shift1(l[1], l[2])};
    const __m128 hw[4] = {shift2(h[0], h[1]), shift3(h[0], h[1]), h[1], shift1(h[1], h[2])};
    // (L[m+2], H1[m+2], H2[m-1], H2[m]).
    const __m128 ahead = shift2(l[1], l[2]), aheadH = shift2(h[1], h[2]);
    const __m128 first = _mm_unpacklo_ps(ahead, aheadH), second = _mm_unpackhi_ps(ahead, aheadH);
    const __m128 tail[4] = {
        _mm_shuffle_ps(first, shift2(d[0], d[1]), _MM_SHUFFLE(2, 1, 1, 0)),
        _mm_shuffle_ps(first, d[1], _MM_SHUFFLE(1, 0, 3, 2)),
        _mm_shuffle_ps(second, d[1], _MM_SHUFFLE(2, 1, 1, 0)),
        _mm_shuffle_ps(second, d[1], _MM_SHUFFLE(3, 2, 3, 2)),
    };
    __m128 pairs[4];
    for (int j = 0; j < 4; ++j)
        pairs[j] = _mm_hadd_ps(dot3(lw[j], hw[j], tail[j], t.even), dot3(lw[j], hw[j], tail[j], t.odd));
    _mm_store_ps(out, _mm_hadd_ps(pairs[0], pairs[1]));
    _mm_store_ps(out + 4, _mm_hadd_ps(pairs[2], pairs[3]));
}

// A block whose windows wrap round the bands, from windows assembled first.
void inverseWrappedBlock(const float *L, const float *H1, const float *H2, int n, int q,
                         const InverseTaps &t, float *output) noexcept {
    alignas(16) float lw[12], hw[12], dw[8];
    for (int i = 0; i < 12; ++i) {
        const int k = (4 * q - 4 + i + n) % n;
        lw[i] = L[k];
        hw[i] = H1[k];
        if (i < 8) dw[i] = H2[k];
    }
    const __m128 l[3] = {_mm_load_ps(lw), _mm_load_ps(lw + 4), _mm_load_ps(lw + 8)};
    const __m128 h[3] = {_mm_load_ps(hw), _mm_load_ps(hw + 4), _mm_load_ps(hw + 8)};
    const __m128 d[2] = {_mm_load_ps(dw), _mm_load_ps(dw + 4)};
    inverseBlock(l, h, d, t, output + 8 * q);
}

}  // namespace

void inverseLevelSse3(const float *bandBuffer, const float *h2Buffer, int n,
                      float *output) noexcept {
    const InverseTaps t;
    const float *L = bandBuffer, *H1 = bandBuffer + n, *H2 = h2Buffer + n;
    const int lastBlock = n / 4 - 1;
    // Pairs 0, 1 reach back past the band starts, pairs n-2, n-1 past their ends.
    inverseWrappedBlock(L, H1, H2, n, 0, t, output);
    for (int q = 1; q < lastBlock; ++q) {
        const float *l = L + 4 * q - 4, *h = H1 + 4 * q - 4, *d = H2 + 4 * q - 4;
        const __m128 lv[3] = {_mm_load_ps(l), _mm_load_ps(l + 4), _mm_load_ps(l + 8)};
        const __m128 hv[3] = {_mm_load_ps(h), _mm_load_ps(h + 4), _mm_load_ps(h + 8)};
        const __m128 dv[2] = {_mm_load_ps(d), _mm_load_ps(d + 4)};
        inverseBlock(lv, hv, dv, t, output + 8 * q);
    }
    if (lastBlock > 0) inverseWrappedBlock(L, H1, H2, n, lastBlock, t, output);
}

void mergeLowBandSse3(const float *bandBuffer, int n, float *output) noexcept {
    const float *L = bandBuffer, *H1 = bandBuffer + n;
    const __m128 a0 = _mm_set1_ps(kMergeL[0]), a1 = _mm_set1_ps(kMergeL[1]),
                 a2 = _mm_set1_ps(kMergeL[2]), a3 = _mm_set1_ps(kMergeL[3]);
    const __m128 b0 = _mm_set1_ps(kMergeH1[0]), b1 = _mm_set1_ps(kMergeH1[1]),
                 b2 = _mm_set1_ps(kMergeH1[2]), b3 = _mm_set1_ps(kMergeH1[3]);
    // The first step takes L[n-1] and H1[n-1] from the band ends, the last takes
    // L[0], L[1], H1[0], H1[1] from the band starts: only the vector loaded changes.
    for (int j = 0; j < n; j += 4) {
        const int before = j == 0 ? n - 4 : j - 4, after = j + 4 == n ? 0 : j + 4;
        const __m128 lb = _mm_load_ps(L + before), l = _mm_load_ps(L + j), la = _mm_load_ps(L + after);
        const __m128 hb = _mm_load_ps(H1 + before), h = _mm_load_ps(H1 + j), ha = _mm_load_ps(H1 + after);
        __m128 s = _mm_mul_ps(shift3(lb, l), a0);
        s = _mm_add_ps(s, _mm_mul_ps(shift3(hb, h), b0));
        s = _mm_add_ps(s, _mm_mul_ps(l, a1));
        s = _mm_add_ps(s, _mm_mul_ps(h, b1));
        s = _mm_add_ps(s, _mm_mul_ps(shift1(l, la), a2));
        s = _mm_add_ps(s, _mm_mul_ps(shift1(h, ha), b2));
        s = _mm_add_ps(s, _mm_mul_ps(shift2(l, la), a3));
        s = _mm_add_ps(s, _mm_mul_ps(shift2(h, ha), b3));
        _mm_store_ps(output + j, s);
    }
}

void inverseD4Sse3(const float *source, int n, float *output) noexcept {
    const float *lo = source, *hi = source + n;
    // Even and odd outputs of four values of p, interleaved on the way out.
    const __m128 e0 = _mm_set1_ps(h0), e1 = _mm_set1_ps(h2), e2 = _mm_set1_ps(h3), e3 = _mm_set1_ps(h1);
    const __m128 o0 = _mm_set1_ps(h1), o1 = _mm_set1_ps(h3), o2 = _mm_set1_ps(-h2),
                 o3 = _mm_set1_ps(-h0);
    auto step = [&](__m128 l, __m128 lb, __m128 h, __m128 hb, float *out) {
        __m128 even = _mm_mul_ps(l, e0);
        even = _mm_add_ps(even, _mm_mul_ps(lb, e1));
        even = _mm_add_ps(even, _mm_mul_ps(h, e2));
        even = _mm_add_ps(even, _mm_mul_ps(hb, e3));
        __m128 odd = _mm_mul_ps(l, o0);
        odd = _mm_add_ps(odd, _mm_mul_ps(lb, o1));
        odd = _mm_add_ps(odd, _mm_mul_ps(h, o2));
        odd = _mm_add_ps(odd, _mm_mul_ps(hb, o3));
        _mm_store_ps(out, _mm_unpacklo_ps(even, odd));
        _mm_store_ps(out + 4, _mm_unpackhi_ps(even, odd));
    };
    // Only the first step wraps: the sample before p = 0 is the last of each band.
    {
        const __m128 l = _mm_load_ps(lo), h = _mm_load_ps(hi);
        step(l, shift3(_mm_load_ps(lo + n - 4), l), h, shift3(_mm_load_ps(hi + n - 4), h), output);
    }
    for (int p = 4; p < n; p += 4)
        step(_mm_load_ps(lo + p), _mm_loadu_ps(lo + p - 1), _mm_load_ps(hi + p),
             _mm_loadu_ps(hi + p - 1), output + 2 * p);
}
