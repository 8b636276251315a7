// Scalar twins of the forward kernels: one analysis level, the flat-area mask and
// hard coring. They sum in the lane order the octet kernels keep (four lanes
// first, then (l0 + l1) + (l2 + l3)) so that both give the same bits.
#include <cmath>

#include "wavelet/line_kernels.h"
#include "wavelet/taps.h"

using namespace wavelet_taps;

namespace {

// What one four-lane step computes: a lane-wise multiply-add over `vectors` groups of
// four, then a pairwise horizontal sum.
float laneDot(const float *window, const float *taps, int vectors) noexcept {
    float lane[4];
    for (int j = 0; j < 4; ++j) lane[j] = window[j] * taps[j];
    for (int v = 1; v < vectors; ++v)
        for (int j = 0; j < 4; ++j) lane[j] = lane[j] + window[4 * v + j] * taps[4 * v + j];
    return (lane[0] + lane[1]) + (lane[2] + lane[3]);
}

}  // namespace

void forwardLevelScalar(int N, const float *source, float *bandBuffer, float *h2Buffer) noexcept {
    const int n = N / 2;
    float *L = bandBuffer, *H1 = bandBuffer + n, *H2 = h2Buffer + n;
    // Outputs come in pairs (m even, m + 1) read from x[2m - 4 .. 2m + 7], periodic.
    for (int m = 0; m < n; m += 2) {
        float window[12];
        for (int i = 0; i < 12; ++i) {
            int k = (2 * m - 4 + i) % N;
            if (k < 0) k += N;
            window[i] = source[k];
        }
        L[m] = laneDot(window, kForwardLEven, 3);
        H1[m] = laneDot(window, kForwardH1Even, 3);
        H2[m] = laneDot(window + 4, kForwardH2Even, 1);
        if (m + 1 < n) {
            L[m + 1] = laneDot(window, kForwardLOdd, 3);
            H1[m + 1] = laneDot(window, kForwardH1Odd, 3);
            H2[m + 1] = laneDot(window + 4, kForwardH2Odd, 2);
        }
    }
}

void flatMaskScalar(int level, bool chroma, bool animeMode, float *mask, int N, const float *bandBuffer,
                    const float *h2Buffer, float flatThreshold) noexcept {
    const int n = N >> level;
    const float *u = bandBuffer + n, *v = h2Buffer + n;
    // A bound of 0 never fires: no magnitude is below it.
    const float keepSmall = (!chroma && !animeMode) ? kKeepSmallBound : 0.0f;
    const float T = flatThreshold;
    for (int i = 0; i < n; ++i) {
        // The bend test repeats the edge value at both ends of the band.
        const int before = i > 0 ? i - 1 : 0, after = i < n - 1 ? i + 1 : n - 1;
        const float bendU = (2.0f * u[i] - u[before]) - u[after];
        const float bendV = (2.0f * v[i] - v[before]) - v[after];
        const float au = std::fabs(u[i]), av = std::fabs(v[i]);
        const bool structure = au >= T || av >= T || std::fabs(bendU) >= T ||
                               std::fabs(bendV) >= T || au < keepSmall || av < keepSmall;
        mask[n + i] = structure ? 1.0f : 0.0f;
    }
}

void coreBandsScalar(int N2, float *bandBuffer, float *h2Buffer, float coefThreshold,
                     const float *mask) noexcept {
    const int n = N2 / 2;
    const float T = coefThreshold == 0.0f ? kZeroThresholdReplacement : coefThreshold;
    for (int i = n; i < 2 * n; ++i) {
        const bool masked = mask[i] > 0.0f;
        if (!(masked || std::fabs(bandBuffer[i]) > T)) bandBuffer[i] = 0.0f;
        if (!(masked || std::fabs(h2Buffer[i]) > T)) h2Buffer[i] = 0.0f;
    }
}
