// The rebuild of eight ring lines, written once over a tier's steps: the fitted
// coarsest band, then level by level the current slot's detail bands moved into the
// octet line and the inverse level run on them. Internal linkage, so that the AVX2
// file's copy (compiled with AVX) is never shared with the other files.
#pragma once

#include "temporal/temporal.h"

namespace {

// A step set S gives, for one tier:
//   S::fitOctet(job, threshold, ringA, slotFloats, lineStart, len, coarse, b): the
//     fitted first `coarse` positions of the eight lines (line k starting at float
//     lineStart + k * len of each slot) into the octet line b.band; it may use b.fitted;
//   S::gather(lines, lineStep, first, count, octet): positions [first, first + count)
//     of eight lines (line k at lines + k * lineStep) into octet positions alike;
//   S::inverse: the tier's inverseOctets.
template <class S>
void rebuildOctetWith(const TemporalParams &params, const float *ringA, const float *ringB, long lines, long first,
                      int len, OctetBuffers &b) noexcept {
    const TemporalJob &job = params.job;
    const int coarse = len / 16;
    const long slotFloats = lines * len;
    S::fitOctet(job, params.threshold, ringA, slotFloats, first * len, len, coarse, b);
    const float *curA = ringA + job.curSlot * slotFloats + first * len;
    const float *curB = ringB + job.curSlot * slotFloats + first * len;
    for (int n = coarse; n <= len / 2; n *= 2) {
        S::gather(curA, len, n, n, b.band);
        S::gather(curB, len, n, n, b.h2);
        S::inverse(b.band, b.h2, n, b.out);
        // The level's output is the next level's band buffer (no std::swap: this
        // header is compiled with AVX too, and a shared template copy must not be).
        float *const done = b.out;
        b.out = b.band;
        b.band = done;
    }
}

}  // namespace
