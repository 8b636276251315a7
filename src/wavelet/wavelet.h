// One-dimensional kernels of the three-channel Daubechies-4 filter bank: forward
// analysis with flat-area masking and hard coring, and the inverse kernels.
// Each kernel has a plain scalar twin written from the formulas and an SSE3
// version; waveletKernels holds the ones the workers call.
#pragma once

/// One analysis level: N samples (periodic) -> L and H1 in bandBuffer[0..N),
/// H2 in h2Buffer[N/2..N).
void forwardLevelScalar(int N, const float *source, float *bandBuffer, float *h2Buffer) noexcept;
void forwardLevelSse3(int N, const float *source, float *bandBuffer, float *h2Buffer) noexcept;

/// Marks (1.0) the detail positions [n, 2n), n = N >> level, that show structure;
/// luma outside anime mode also keeps the smallest details.
void flatMaskScalar(int level, bool chroma, bool animeMode, float *mask, int N, const float *bandBuffer,
                    const float *h2Buffer, float flatThreshold) noexcept;
void flatMaskSse3(int level, bool chroma, bool animeMode, float *mask, int N, const float *bandBuffer,
                  const float *h2Buffer, float flatThreshold) noexcept;

/// Zeroes unmasked detail coefficients at [N2/2, N2) whose magnitude is not above
/// coefThreshold (0 is taken as 0.0001).
void coreBandsScalar(int N2, float *bandBuffer, float *h2Buffer, float coefThreshold,
                     const float *mask) noexcept;
void coreBandsSse3(int N2, float *bandBuffer, float *h2Buffer, float coefThreshold,
                   const float *mask) noexcept;

/// Rebuilds 2n samples from L, H1 (bandBuffer) and H2 (h2Buffer[n..2n)).
void inverseLevelScalar(const float *bandBuffer, const float *h2Buffer, int n,
                        float *output) noexcept;
void inverseLevelSse3(const float *bandBuffer, const float *h2Buffer, int n,
                      float *output) noexcept;

/// The Daubechies-4 low band lo (n samples) from L and H1.
void mergeLowBandScalar(const float *bandBuffer, int n, float *output) noexcept;
void mergeLowBandSse3(const float *bandBuffer, int n, float *output) noexcept;

/// One orthogonal Daubechies-4 inverse level: lo at [0, n), hi at [n, 2n) -> 2n samples.
void inverseD4Scalar(const float *source, int n, float *output) noexcept;
void inverseD4Sse3(const float *source, int n, float *output) noexcept;

// ---- Octet kernels ----------------------------------------------------------
// An octet line holds eight lines side by side: position i of line k is float
// 8i + k, 16-byte aligned. The octet kernels run the kernels above on all eight
// lines at once, each lane with the same sums in the same order (results equal up
// to the sign of an exact zero), so that a column pass can keep eight neighbouring
// columns in the lanes instead of gathering every column into a line.

/// forwardLevel on eight lines.
void forwardOctetsScalar(int N, const float *source, float *bandBuffer, float *h2Buffer) noexcept;
void forwardOctetsSse3(int N, const float *source, float *bandBuffer, float *h2Buffer) noexcept;
void forwardOctetsAvx2(int N, const float *source, float *bandBuffer, float *h2Buffer) noexcept;

/// flatMask and coreBands of one level in one sweep over the detail positions
/// [n, 2n): keepSmallBound is 0.4 for luma without anime mode, else 0.
void shrinkOctetsScalar(int n, float *bandBuffer, float *h2Buffer, float flatThreshold, float coefThreshold,
                        float keepSmallBound) noexcept;
void shrinkOctetsSse3(int n, float *bandBuffer, float *h2Buffer, float flatThreshold, float coefThreshold,
                      float keepSmallBound) noexcept;
void shrinkOctetsAvx2(int n, float *bandBuffer, float *h2Buffer, float flatThreshold, float coefThreshold,
                      float keepSmallBound) noexcept;

/// inverseLevel on eight lines.
void inverseOctetsScalar(const float *bandBuffer, const float *h2Buffer, int n, float *output) noexcept;
void inverseOctetsSse3(const float *bandBuffer, const float *h2Buffer, int n, float *output) noexcept;
void inverseOctetsAvx2(const float *bandBuffer, const float *h2Buffer, int n, float *output) noexcept;

/// mergeLowBand on eight lines; output position j goes to output + outputStep * j.
void mergeLowBandOctetsScalar(const float *bandBuffer, int n, float *output, long outputStep) noexcept;
void mergeLowBandOctetsSse3(const float *bandBuffer, int n, float *output, long outputStep) noexcept;
void mergeLowBandOctetsAvx2(const float *bandBuffer, int n, float *output, long outputStep) noexcept;

/// inverseD4 on eight lines; output position j goes to output + outputStep * j.
void inverseD4OctetsScalar(const float *source, int n, float *output, long outputStep) noexcept;
void inverseD4OctetsSse3(const float *source, int n, float *output, long outputStep) noexcept;
void inverseD4OctetsAvx2(const float *source, int n, float *output, long outputStep) noexcept;

struct WaveletKernels {
    void (*forwardLevel)(int, const float *, float *, float *) noexcept;
    void (*flatMask)(int, bool, bool, float *, int, const float *, const float *, float) noexcept;
    void (*coreBands)(int, float *, float *, float, const float *) noexcept;
    void (*inverseLevel)(const float *, const float *, int, float *) noexcept;
    void (*mergeLowBand)(const float *, int, float *) noexcept;
    void (*inverseD4)(const float *, int, float *) noexcept;
    void (*forwardOctets)(int, const float *, float *, float *) noexcept;
    void (*shrinkOctets)(int, float *, float *, float, float, float) noexcept;
    void (*inverseOctets)(const float *, const float *, int, float *) noexcept;
    void (*mergeLowBandOctets)(const float *, int, float *, long) noexcept;
    void (*inverseD4Octets)(const float *, int, float *, long) noexcept;
};

// State
/// Scalar twins at load; initWaveletKernels(2) switches to the SSE3 kernels, and
/// to their AVX2 octet kernels where the processor has AVX2.
extern WaveletKernels waveletKernels;
extern const WaveletKernels kScalarWaveletKernels;
extern const WaveletKernels kSse3WaveletKernels;
/// The SSE3 table with the octet kernels in AVX2 (the same numbers).
extern const WaveletKernels kAvx2WaveletKernels;

/// Picks the kernels for a processor level (SSE3 at level 2, scalar otherwise);
/// allowAvx2 = false keeps to SSE3 where AVX2 would be chosen.
void initWaveletKernels(int cpuLevel, bool allowAvx2 = true) noexcept;
