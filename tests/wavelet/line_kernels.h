// The one-line kernels of the filter bank: each level, mask, coring and inverse
// written for a single line, straight from the formulas. The module runs the octet
// kernels; these are the reference the octet kernels are checked against, lane by
// lane.
#pragma once

/// One analysis level: N samples (periodic) -> L and H1 in bandBuffer[0..N),
/// H2 in h2Buffer[N/2..N).
void forwardLevelScalar(int N, const float *source, float *bandBuffer, float *h2Buffer) noexcept;

/// Marks (1.0) the detail positions [n, 2n), n = N >> level, that show structure;
/// luma outside anime mode also keeps the smallest details.
void flatMaskScalar(int level, bool chroma, bool animeMode, float *mask, int N, const float *bandBuffer,
                    const float *h2Buffer, float flatThreshold) noexcept;

/// Zeroes unmasked detail coefficients at [N2/2, N2) whose magnitude is not above
/// coefThreshold (0 is taken as 0.0001).
void coreBandsScalar(int N2, float *bandBuffer, float *h2Buffer, float coefThreshold,
                     const float *mask) noexcept;

/// Rebuilds 2n samples from L, H1 (bandBuffer) and H2 (h2Buffer[n..2n)).
void inverseLevelScalar(const float *bandBuffer, const float *h2Buffer, int n,
                        float *output) noexcept;

/// The Daubechies-4 low band lo (n samples) from L and H1.
void mergeLowBandScalar(const float *bandBuffer, int n, float *output) noexcept;

/// One orthogonal Daubechies-4 inverse level: lo at [0, n), hi at [n, 2n) -> 2n samples.
void inverseD4Scalar(const float *source, int n, float *output) noexcept;

struct LineKernels {
    void (*forwardLevel)(int, const float *, float *, float *) noexcept;
    void (*flatMask)(int, bool, bool, float *, int, const float *, const float *, float) noexcept;
    void (*coreBands)(int, float *, float *, float, const float *) noexcept;
    void (*inverseLevel)(const float *, const float *, int, float *) noexcept;
    void (*mergeLowBand)(const float *, int, float *) noexcept;
    void (*inverseD4)(const float *, int, float *) noexcept;
};

inline constexpr LineKernels kScalarLineKernels = {
    forwardLevelScalar, flatMaskScalar, coreBandsScalar, inverseLevelScalar, mergeLowBandScalar, inverseD4Scalar,
};
