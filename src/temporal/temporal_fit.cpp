// The three-frame fit of the coarsest band, and the float-to-sample conversion the
// output planes share. The fit divides with the processor's approximate reciprocal
// and one Newton step, whose exact result is part of the numbers; the scalar twin
// uses the scalar form of the same instruction so that both agree bit for bit.
#include <emmintrin.h>
#include <xmmintrin.h>

#include <cmath>
#include <cstdint>

#include "temporal/fit_steps.h"
#include "wavelet/sample_conversion.h"
#include "temporal/temporal.h"

TemporalJob makeTemporalJob(int frame, bool prevEmpty, bool nextEmpty) noexcept {
    TemporalJob job;
    job.prevSlot = (frame + 2) % 3;
    job.curSlot = frame % 3;
    job.nextSlot = (frame + 1) % 3;
    job.prevEmpty = prevEmpty;
    job.nextEmpty = nextEmpty;
    return job;
}

// The value at time 0 of the least-squares line through the accepted samples at
// times -1, 0, +1 (the current one always accepted): the mean of all three when
// both neighbours lie within the threshold, else the current value. A neighbour
// enters the sums only through a mask, so whatever a rejected slot holds, even a
// NaN, never reaches the result.
void temporalFitSse2(const TemporalJob &job, int count, float threshold, float *output, const float *ringA,
                     long slotFloats, long lineStart) noexcept {
    const __m128 t = _mm_set1_ps(threshold);
    const __m128 usePrev = useSlot<Fit4>(job.prevEmpty), useNext = useSlot<Fit4>(job.nextEmpty);
    const float *prev = ringA + job.prevSlot * slotFloats + lineStart;
    const float *cur = ringA + job.curSlot * slotFloats + lineStart;
    const float *next = ringA + job.nextSlot * slotFloats + lineStart;
    for (int i = 0; i < count; i += 4)
        Fit4::store(output + i, fitGroup<Fit4>(prev + i, cur + i, next + i, usePrev, useNext, t));
}

void temporalFitScalar(const TemporalJob &job, int count, float threshold, float *output,
                       const float *ringA, long slotFloats, long lineStart) noexcept {
    const float *prev = ringA + job.prevSlot * slotFloats + lineStart;
    const float *cur = ringA + job.curSlot * slotFloats + lineStart;
    const float *next = ringA + job.nextSlot * slotFloats + lineStart;
    for (int i = 0; i < count; ++i) {
        const float p = prev[i];
        const float c = cur[i];
        const float q = next[i];
        const bool takeP = !job.prevEmpty && std::fabs(p - c) < threshold;
        const bool takeN = !job.nextEmpty && std::fabs(q - c) < threshold;
        const float ap = takeP ? 1.0f : 0.0f;
        const float an = takeN ? 1.0f : 0.0f;
        const float apP = takeP ? p : 0.0f;
        const float anQ = takeN ? q : 0.0f;
        const float a = ap + an;
        if (a == 0.0f) {
            output[i] = c;
            continue;
        }
        const float b = an - ap;
        const float s = (c + apP) + anQ;
        const float e = anQ - apP;
        const float det = (a + 1.0f) * a - b * b;
        const float num = s * a - e * b;
        const float r = _mm_cvtss_f32(_mm_rcp_ss(_mm_set_ss(det)));
        output[i] = (num * r) * (2.0f - det * r);
    }
}

const TemporalKernels kTemporalScalar = {temporalFitScalar, rebuildOctetSse2};
const TemporalKernels kTemporalSse2 = {temporalFitSse2, rebuildOctetSse2};
const TemporalKernels kTemporalAvx2 = {temporalFitAvx2, rebuildOctetAvx2};
TemporalKernels temporalKernels = kTemporalScalar;

void initTemporalKernels(KernelTier tier) noexcept {
    temporalKernels = kTemporalScalar;
    if (tier >= kTierSse2) temporalKernels = kTemporalSse2;
    if (tier >= kTierAvx2) temporalKernels = kTemporalAvx2;
}

std::int16_t floatToSample(float v) noexcept {
    // The floor of v + 0.5 from the truncating conversion, with its overflow result
    // (INT32_MIN, also for a NaN) kept at the bottom.
    const float x = v + 0.5f;
    const int i = _mm_cvttss_si32(_mm_set_ss(x));
    int s = i < -32768 ? -32768 : i > 32767 ? 32767 : i;
    if (x < static_cast<float>(i)) --s;
    s = s < -8192 ? -8192 : s > 8192 ? 8192 : s;
    return static_cast<std::int16_t>(s);
}

void floatsToSamples(const float *in, int count, std::int16_t *out) noexcept {
    for (int i = 0; i < count; i += 8)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i),
                         samplesOfEight(_mm_loadu_ps(in + i), _mm_loadu_ps(in + i + 4)));
}
