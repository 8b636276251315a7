// SSE3 forward kernels: one analysis level with horizontal adds, and the flat
// mask and hard coring four positions a step without branches. The scalar twins
// in forward_scalar.cpp sum in the same order.
#include <pmmintrin.h>

#include "wavelet/line_kernels.h"
#include "wavelet/taps.h"

using namespace wavelet_taps;

namespace {

struct ForwardTaps {
    __m128 lEven[3], lOdd[3], h1Even[3], h1Odd[3], h2Even, h2Odd[2];

    ForwardTaps() noexcept {
        for (int i = 0; i < 3; ++i) {
            lEven[i] = _mm_loadu_ps(kForwardLEven + 4 * i);
            lOdd[i] = _mm_loadu_ps(kForwardLOdd + 4 * i);
            h1Even[i] = _mm_loadu_ps(kForwardH1Even + 4 * i);
            h1Odd[i] = _mm_loadu_ps(kForwardH1Odd + 4 * i);
        }
        h2Even = _mm_loadu_ps(kForwardH2Even);
        h2Odd[0] = _mm_loadu_ps(kForwardH2Odd);
        h2Odd[1] = _mm_loadu_ps(kForwardH2Odd + 4);
    }
};

inline __m128 dot3(__m128 a, __m128 b, __m128 c, const __m128 *taps) noexcept {
    __m128 acc = _mm_mul_ps(a, taps[0]);
    acc = _mm_add_ps(acc, _mm_mul_ps(b, taps[1]));
    return _mm_add_ps(acc, _mm_mul_ps(c, taps[2]));
}

// Outputs m .. m + 3 (m even) from the sixteen samples x[2m - 4 .. 2m + 11] in
// v[0..3]: (L, L, H1, H1) for each pair, then the four of each band.
inline void forwardBlock(const __m128 *v, const ForwardTaps &t, __m128 &low, __m128 &high1,
                         __m128 &high2) noexcept {
    __m128 pair[2];
    for (int p = 0; p < 2; ++p) {
        const __m128 a = v[p], b = v[p + 1], c = v[p + 2];
        const __m128 lowSums = _mm_hadd_ps(dot3(a, b, c, t.lEven), dot3(a, b, c, t.lOdd));
        const __m128 highSums = _mm_hadd_ps(dot3(a, b, c, t.h1Even), dot3(a, b, c, t.h1Odd));
        pair[p] = _mm_hadd_ps(lowSums, highSums);
    }
    low = _mm_shuffle_ps(pair[0], pair[1], _MM_SHUFFLE(1, 0, 1, 0));
    high1 = _mm_shuffle_ps(pair[0], pair[1], _MM_SHUFFLE(3, 2, 3, 2));
    // H2 of the pair starting at m reads x[2m .. 2m + 5]: v[1] (and v[2]) for the first pair.
    const __m128 evenA = _mm_mul_ps(v[1], t.h2Even);
    const __m128 oddA = _mm_add_ps(_mm_mul_ps(v[1], t.h2Odd[0]), _mm_mul_ps(v[2], t.h2Odd[1]));
    const __m128 evenB = _mm_mul_ps(v[2], t.h2Even);
    const __m128 oddB = _mm_add_ps(_mm_mul_ps(v[2], t.h2Odd[0]), _mm_mul_ps(v[3], t.h2Odd[1]));
    high2 = _mm_hadd_ps(_mm_hadd_ps(evenA, oddA), _mm_hadd_ps(evenB, oddB));
}

// A block whose window wraps round the line: the window is assembled first, and
// only the outputs below n are stored.
void forwardWrappedBlock(int N, int m, const float *source, float *L, float *H1, float *H2,
                         const ForwardTaps &t) noexcept {
    alignas(16) float window[16];
    for (int i = 0; i < 16; ++i) {
        int k = (2 * m - 4 + i) % N;
        if (k < 0) k += N;
        window[i] = source[k];
    }
    const __m128 v[4] = {_mm_load_ps(window), _mm_load_ps(window + 4), _mm_load_ps(window + 8),
                         _mm_load_ps(window + 12)};
    alignas(16) float out[3][4];
    __m128 low, high1, high2;
    forwardBlock(v, t, low, high1, high2);
    _mm_store_ps(out[0], low);
    _mm_store_ps(out[1], high1);
    _mm_store_ps(out[2], high2);
    const int n = N / 2;
    for (int j = 0; j < 4 && m + j < n; ++j) {
        L[m + j] = out[0][j];
        H1[m + j] = out[1][j];
        H2[m + j] = out[2][j];
    }
}

}  // namespace

void forwardLevelSse3(int N, const float *source, float *bandBuffer, float *h2Buffer) noexcept {
    const ForwardTaps t;
    const int n = N / 2;
    float *L = bandBuffer, *H1 = bandBuffer + n, *H2 = h2Buffer + n;
    // Outputs 0..3 reach back past x[0]; blocks m .. m + 3 with 2m + 11 < N read
    // straight from the line; the rest reach past x[N - 1].
    forwardWrappedBlock(N, 0, source, L, H1, H2, t);
    int m = 4;
    for (; m <= n - 6; m += 4) {
        const float *x = source + 2 * m - 4;  // 16-byte aligned: 2m - 4 is a multiple of 4
        const __m128 v[4] = {_mm_load_ps(x), _mm_load_ps(x + 4), _mm_load_ps(x + 8),
                             _mm_load_ps(x + 12)};
        __m128 low, high1, high2;
        forwardBlock(v, t, low, high1, high2);
        _mm_store_ps(L + m, low);
        _mm_storeu_ps(H1 + m, high1);
        _mm_storeu_ps(H2 + m, high2);
    }
    for (; m < n; m += 4) forwardWrappedBlock(N, m, source, L, H1, H2, t);
}

namespace {

// Clears the sign bit.
inline __m128 absolute(__m128 x) noexcept { return _mm_andnot_ps(_mm_set1_ps(-0.0f), x); }

// Structure test of four positions of one band: magnitude or bend at or above T.
// One compare of max(|bend|, |at|) decides both: a NaN bend (from a NaN neighbour)
// makes maxps return |at|, and a NaN at makes the bend NaN too, so no NaN ever
// marks a position that the two separate compares would not.
inline __m128 structure(__m128 before, __m128 at, __m128 after, __m128 T) noexcept {
    const __m128 bend = _mm_sub_ps(_mm_sub_ps(_mm_mul_ps(at, _mm_set1_ps(2.0f)), before), after);
    return _mm_cmpge_ps(_mm_max_ps(absolute(bend), absolute(at)), T);
}

// The first and last steps repeat the edge value in place of the missing neighbour.
inline __m128 withFirstRepeated(__m128 at) noexcept {
    return _mm_shuffle_ps(at, at, _MM_SHUFFLE(2, 1, 0, 0));
}
inline __m128 withLastRepeated(__m128 at) noexcept {
    return _mm_shuffle_ps(at, at, _MM_SHUFFLE(3, 3, 2, 1));
}

// KeepSmall: luma with anime mode off also marks details below the keep-small
// bound; otherwise that bound is 0 and its compares are left out.
template <bool KeepSmall>
void flatMaskLine(int n, float *out, const float *u, const float *v, float flatThreshold) noexcept {
    const __m128 T = _mm_set1_ps(flatThreshold), P = _mm_set1_ps(kKeepSmallBound);
    const __m128 one = _mm_set1_ps(1.0f);
    auto step = [&](int i, __m128 beforeU, __m128 atU, __m128 afterU, __m128 beforeV, __m128 atV,
                    __m128 afterV) {
        __m128 marked = _mm_or_ps(structure(beforeU, atU, afterU, T),
                                  structure(beforeV, atV, afterV, T));
        if (KeepSmall)
            marked = _mm_or_ps(marked, _mm_or_ps(_mm_cmplt_ps(absolute(atU), P),
                                                 _mm_cmplt_ps(absolute(atV), P)));
        _mm_store_ps(out + i, _mm_and_ps(marked, one));
    };
    const int lastStep = n - 4;
    {
        const __m128 atU = _mm_load_ps(u), atV = _mm_load_ps(v);
        const __m128 afterU = lastStep == 0 ? withLastRepeated(atU) : _mm_loadu_ps(u + 1);
        const __m128 afterV = lastStep == 0 ? withLastRepeated(atV) : _mm_loadu_ps(v + 1);
        step(0, withFirstRepeated(atU), atU, afterU, withFirstRepeated(atV), atV, afterV);
    }
    for (int i = 4; i < lastStep; i += 4)
        step(i, _mm_loadu_ps(u + i - 1), _mm_load_ps(u + i), _mm_loadu_ps(u + i + 1),
             _mm_loadu_ps(v + i - 1), _mm_load_ps(v + i), _mm_loadu_ps(v + i + 1));
    if (lastStep > 0) {
        const __m128 atU = _mm_load_ps(u + lastStep), atV = _mm_load_ps(v + lastStep);
        step(lastStep, _mm_loadu_ps(u + lastStep - 1), atU, withLastRepeated(atU),
             _mm_loadu_ps(v + lastStep - 1), atV, withLastRepeated(atV));
    }
}

}  // namespace

void flatMaskSse3(int level, bool chroma, bool animeMode, float *mask, int N, const float *bandBuffer,
                  const float *h2Buffer, float flatThreshold) noexcept {
    const int n = N >> level;
    if (!chroma && !animeMode)
        flatMaskLine<true>(n, mask + n, bandBuffer + n, h2Buffer + n, flatThreshold);
    else
        flatMaskLine<false>(n, mask + n, bandBuffer + n, h2Buffer + n, flatThreshold);
}

void coreBandsSse3(int N2, float *bandBuffer, float *h2Buffer, float coefThreshold,
                   const float *mask) noexcept {
    const int n = N2 / 2;
    const __m128 T =
        _mm_set1_ps(coefThreshold == 0.0f ? kZeroThresholdReplacement : coefThreshold);
    const __m128 zero = _mm_setzero_ps();
    for (int i = n; i < 2 * n; i += 4) {
        const __m128 masked = _mm_cmpgt_ps(_mm_load_ps(mask + i), zero);
        const __m128 a = _mm_load_ps(bandBuffer + i), b = _mm_load_ps(h2Buffer + i);
        _mm_store_ps(bandBuffer + i, _mm_and_ps(a, _mm_or_ps(masked, _mm_cmpgt_ps(absolute(a), T))));
        _mm_store_ps(h2Buffer + i, _mm_and_ps(b, _mm_or_ps(masked, _mm_cmpgt_ps(absolute(b), T))));
    }
}
