// The kernels of the three-channel Daubechies-4 filter bank the stages run: forward
// analysis with flat-area masking and hard coring, and the inverse kernels, on eight
// lines at once. Each has a scalar twin, an SSE2 and an AVX2 version; the stages
// call the ones of their KernelTables' wavelet table. (The one-line kernels they are checked against
// live with the tests, in tests/wavelet/line_kernels.)
#pragma once

#include <cstdint>

// ---- Octet kernels ----------------------------------------------------------
// An octet line holds eight lines side by side: position i of line k is float
// 8i + k, 16-byte aligned. The octet kernels run the one-line kernels on all eight
// lines at once, each lane with the same sums in the same order (results equal up
// to the sign of an exact zero), so that a column pass can keep eight neighbouring
// columns in the lanes instead of gathering every column into a line.

/// forwardLevel on eight lines.
void forwardOctetsScalar(int N, const float *source, float *bandBuffer, float *h2Buffer) noexcept;
void forwardOctetsSse2(int N, const float *source, float *bandBuffer, float *h2Buffer) noexcept;
void forwardOctetsAvx2(int N, const float *source, float *bandBuffer, float *h2Buffer) noexcept;

/// flatMask and coreBands of one level in one sweep over the detail positions
/// [n, 2n): keepSmallBound is 0.4 for luma without anime mode, else 0.
void shrinkOctetsScalar(int n, float *bandBuffer, float *h2Buffer, float flatThreshold, float coefThreshold,
                        float keepSmallBound) noexcept;
void shrinkOctetsSse2(int n, float *bandBuffer, float *h2Buffer, float flatThreshold, float coefThreshold,
                      float keepSmallBound) noexcept;
void shrinkOctetsAvx2(int n, float *bandBuffer, float *h2Buffer, float flatThreshold, float coefThreshold,
                      float keepSmallBound) noexcept;

/// inverseLevel on eight lines.
void inverseOctetsScalar(const float *bandBuffer, const float *h2Buffer, int n, float *output) noexcept;
void inverseOctetsSse2(const float *bandBuffer, const float *h2Buffer, int n, float *output) noexcept;
void inverseOctetsAvx2(const float *bandBuffer, const float *h2Buffer, int n, float *output) noexcept;

/// mergeLowBand on eight lines; output position j goes to output + outputStep * j.
void mergeLowBandOctetsScalar(const float *bandBuffer, int n, float *output, long outputStep) noexcept;
void mergeLowBandOctetsSse2(const float *bandBuffer, int n, float *output, long outputStep) noexcept;
void mergeLowBandOctetsAvx2(const float *bandBuffer, int n, float *output, long outputStep) noexcept;

/// The last vertical level along the rows, straight to samples: plane rows 2p and
/// 2p + 1 (even, odd; each written only if wanted) of count positions (a multiple
/// of 8; the float rows 16-byte aligned) from low-band rows p (l) and p - 1 (lb) and
/// high-band rows p (hi) and p - 1 (hb). Each position is inverseD4 on its column,
/// then the float-to-sample rule.
void synthesizeRowPairScalar(const float *l, const float *lb, const float *hi, const float *hb, int count,
                             std::int16_t *even, std::int16_t *odd, bool wantEven, bool wantOdd) noexcept;
void synthesizeRowPairSse2(const float *l, const float *lb, const float *hi, const float *hb, int count,
                           std::int16_t *even, std::int16_t *odd, bool wantEven, bool wantOdd) noexcept;
void synthesizeRowPairAvx2(const float *l, const float *lb, const float *hi, const float *hb, int count,
                           std::int16_t *even, std::int16_t *odd, bool wantEven, bool wantOdd) noexcept;

struct WaveletKernels {
    void (*forwardOctets)(int, const float *, float *, float *) noexcept;
    void (*shrinkOctets)(int, float *, float *, float, float, float) noexcept;
    void (*inverseOctets)(const float *, const float *, int, float *) noexcept;
    void (*mergeLowBandOctets)(const float *, int, float *, long) noexcept;
    void (*synthesizeRowPair)(const float *, const float *, const float *, const float *, int, std::int16_t *,
                              std::int16_t *, bool, bool) noexcept;
};

/// The tiers' tables: the scalar twins, the SSE2 kernels, the AVX2 kernels (the
/// same numbers throughout).
extern const WaveletKernels kWaveletScalar;
extern const WaveletKernels kWaveletSse2;
extern const WaveletKernels kWaveletAvx2;
