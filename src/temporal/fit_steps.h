// The temporal fit's steps on one group of coefficients, written once over a vector
// type F (F::V, its loads, stores and lane-wise operations): the SSE2 kernel runs
// them four samples at a time through Fit4, the AVX2 one eight at a time (and four
// for a group left over). Everything here has internal linkage, so that the AVX2
// file's copy (compiled with AVX) is never shared with the other files.
#pragma once

#include <emmintrin.h>
#include <xmmintrin.h>

#include "temporal/temporal.h"

namespace {

struct Fit4 {
    using V = __m128;
    static V load(const float *p) noexcept { return _mm_loadu_ps(p); }
    static void store(float *p, V v) noexcept { _mm_storeu_ps(p, v); }
    static V set1(float x) noexcept { return _mm_set1_ps(x); }
    static V allOnes() noexcept { return _mm_castsi128_ps(_mm_set1_epi32(-1)); }
    static V zero() noexcept { return _mm_setzero_ps(); }
    static V add(V a, V b) noexcept { return _mm_add_ps(a, b); }
    static V sub(V a, V b) noexcept { return _mm_sub_ps(a, b); }
    static V mul(V a, V b) noexcept { return _mm_mul_ps(a, b); }
    static V band(V a, V b) noexcept { return _mm_and_ps(a, b); }
    static V bor(V a, V b) noexcept { return _mm_or_ps(a, b); }
    static V andnot(V a, V b) noexcept { return _mm_andnot_ps(a, b); }
    static V cmplt(V a, V b) noexcept { return _mm_cmplt_ps(a, b); }
    static V cmpeq(V a, V b) noexcept { return _mm_cmpeq_ps(a, b); }
    static V rcp(V a) noexcept { return _mm_rcp_ps(a); }
};

// _mm_cmplt_ps is the ordered, signalling less-than (_CMP_LT_OS) and _mm_cmpeq_ps
// the ordered, quiet equality (_CMP_EQ_OQ), so both widths decide alike.
template <class F>
[[gnu::always_inline]] inline typename F::V fitGroup(const float *prev, const float *cur, const float *next,
                                                     typename F::V usePrev, typename F::V useNext,
                                                     typename F::V t) noexcept {
    using V = typename F::V;
    const V one = F::set1(1.0f), two = F::set1(2.0f), zero = F::zero();
    const V absMask = F::andnot(F::set1(-0.0f), F::allOnes());
    const V p = F::load(prev), c = F::load(cur), q = F::load(next);
    const V takeP = F::band(F::cmplt(F::band(F::sub(p, c), absMask), t), usePrev);
    const V takeN = F::band(F::cmplt(F::band(F::sub(q, c), absMask), t), useNext);
    const V ap = F::band(takeP, one), an = F::band(takeN, one);
    const V apP = F::band(takeP, p), anQ = F::band(takeN, q);
    const V a = F::add(ap, an);
    const V b = F::sub(an, ap);
    const V s = F::add(F::add(c, apP), anQ);
    const V e = F::sub(anQ, apP);
    const V det = F::sub(F::mul(F::add(a, one), a), F::mul(b, b));
    const V num = F::sub(F::mul(s, a), F::mul(e, b));
    const V r = F::rcp(det);
    const V fit = F::mul(F::mul(num, r), F::sub(two, F::mul(det, r)));
    const V alone = F::cmpeq(a, zero);
    return F::bor(F::band(alone, c), F::andnot(alone, fit));
}

template <class F>
typename F::V useSlot(bool empty) noexcept {
    return empty ? F::zero() : F::allOnes();
}

// The three frames' lines a fit reads: the previous frame's coarsest band in its
// past slot, the current and the next frame's line in their full slots. Line k of
// eight follows prevPitch floats (a past slot's line) and pitch floats (a full
// slot's) after line 0.
struct FitLines {
    const float *prev, *cur, *next;
    long prevPitch, pitch;
    FitLines(const float *p, const float *c, const float *q, long pp = 0, long cp = 0) noexcept
        : prev(p), cur(c), next(q), prevPitch(pp), pitch(cp) {}
    // Lines first .. of full slots of `lines` lines of len positions, and of past slots
    // of `lines` lines of len / 16.
    FitLines(const TemporalJob &job, const float *ringA, const float *past, long lines, long first, long len) noexcept
        : FitLines(past + (job.prevSlot * lines + first) * (len / 16), ringA + (job.curSlot * lines + first) * len,
                   ringA + (job.nextSlot * lines + first) * len, len / 16, len) {}
    FitLines line(int k) const noexcept {
        return {prev + k * prevPitch, cur + k * pitch, next + k * pitch, prevPitch, pitch};
    }
};

// The fit's threshold and neighbour masks in F's lanes, and the fit of the group
// at offset `at` of the three lines.
template <class F>
struct FitRun {
    typename F::V t, usePrev, useNext;
    FitRun(const TemporalJob &job, float threshold) noexcept
        : t(F::set1(threshold)), usePrev(useSlot<F>(job.prevEmpty)), useNext(useSlot<F>(job.nextEmpty)) {}
    [[gnu::always_inline]] typename F::V operator()(const FitLines &lines, long at) const noexcept {
        return fitGroup<F>(lines.prev + at, lines.cur + at, lines.next + at, usePrev, useNext, t);
    }
};

}  // namespace
