// Scalar twins of the inverse kernels: one fused synthesis level, the merge of L
// and H1 into the Daubechies-4 low band, and one Daubechies-4 inverse level.
// Their order of additions is the octet kernels' so that both give the same bits.
#include "wavelet/line_kernels.h"
#include "wavelet/taps.h"

using namespace wavelet_taps;

namespace {

inline int wrap(int i, int n) noexcept { return i < 0 ? i + n : (i >= n ? i - n : i); }

}  // namespace

void inverseLevelScalar(const float *bandBuffer, const float *h2Buffer, int n,
                        float *output) noexcept {
    const float *L = bandBuffer, *H1 = bandBuffer + n, *H2 = h2Buffer + n;
    for (int m = 0; m < n; ++m) {
        // Lanes: L[m-2..m+1], H1[m-2..m+1], then L[m+2], H1[m+2], H2[m-1], H2[m].
        float window[12];
        for (int k = 0; k < 4; ++k) {
            window[k] = L[wrap(m - 2 + k, n)];
            window[4 + k] = H1[wrap(m - 2 + k, n)];
        }
        window[8] = L[wrap(m + 2, n)];
        window[9] = H1[wrap(m + 2, n)];
        window[10] = H2[wrap(m - 1, n)];
        window[11] = H2[m];
        for (int parity = 0; parity < 2; ++parity) {
            const float *taps = parity == 0 ? kInverseEven : kInverseOdd;
            float lane[4];
            for (int j = 0; j < 4; ++j) lane[j] = window[j] * taps[j];
            for (int j = 0; j < 4; ++j) lane[j] = lane[j] + window[4 + j] * taps[4 + j];
            for (int j = 0; j < 4; ++j) lane[j] = lane[j] + window[8 + j] * taps[8 + j];
            output[2 * m + parity] = (lane[0] + lane[1]) + (lane[2] + lane[3]);
        }
    }
}

void mergeLowBandScalar(const float *bandBuffer, int n, float *output) noexcept {
    const float *L = bandBuffer, *H1 = bandBuffer + n;
    for (int j = 0; j < n; ++j) {
        float s = kMergeL[0] * L[wrap(j - 1, n)];
        s = s + kMergeH1[0] * H1[wrap(j - 1, n)];
        for (int i = 1; i < 4; ++i) {
            s = s + kMergeL[i] * L[wrap(j - 1 + i, n)];
            s = s + kMergeH1[i] * H1[wrap(j - 1 + i, n)];
        }
        output[j] = s;
    }
}

void inverseD4Scalar(const float *source, int n, float *output) noexcept {
    const float *lo = source, *hi = source + n;
    for (int p = 0; p < n; ++p) {
        const int q = wrap(p - 1, n);
        output[2 * p] = ((h0 * lo[p] + h2 * lo[q]) + h3 * hi[p]) + h1 * hi[q];
        output[2 * p + 1] = ((h1 * lo[p] + h3 * lo[q]) - h2 * hi[p]) - h0 * hi[q];
    }
}
