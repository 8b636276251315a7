// The three-frame fit of the coarsest band. The fit divides with the processor's
// approximate reciprocal and one Newton step, whose exact result is part of the
// numbers; the scalar twin uses the scalar form of the same instruction so that both
// agree bit for bit.
#include <emmintrin.h>
#include <xmmintrin.h>

#include <cmath>

#include "temporal/fit_steps.h"
#include "temporal/temporal.h"

TemporalJob makeTemporalJob(int frame, bool prevEmpty, bool nextEmpty) noexcept {
    TemporalJob job;
    job.prevSlot = ringSlotOf(frame - 1);
    job.curSlot = ringSlotOf(frame);
    job.nextSlot = ringSlotOf(frame + 1);
    job.prevEmpty = prevEmpty;
    job.nextEmpty = nextEmpty;
    return job;
}

// The value at time 0 of the least-squares line through the accepted samples at
// times -1, 0, +1 (the current one always accepted): the mean of all three when
// both neighbours lie within the threshold, else the current value. A neighbour
// enters the sums only through a mask, so whatever a rejected slot holds, even a
// NaN, never reaches the result.
void temporalFitSse2(const TemporalJob &job, int count, float threshold, float *output, const float *prev,
                     const float *cur, const float *next) noexcept {
    const FitLines lines(prev, cur, next);
    const FitRun<Fit4> fit(job, threshold);
    for (int i = 0; i < count; i += 4) Fit4::store(output + i, fit(lines, i));
}

void temporalFitScalar(const TemporalJob &job, int count, float threshold, float *output, const float *prev,
                       const float *cur, const float *next) noexcept {
    const FitLines lines(prev, cur, next);
    for (int i = 0; i < count; ++i) {
        const float p = lines.prev[i];
        const float c = lines.cur[i];
        const float q = lines.next[i];
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
