// Horizontal pass: every row the vertical pass left in the slot's lines of yRingA
// (vertical low rows over vertical high rows) is analysed over four levels, the two
// coarsest cored, and stored in its place in the slot's lines of yRingA and yRingB.
// Eight rows at a time go through all levels in scratch, side by side in the vector
// lanes, so the only large writes are the ring lines.
#include <xmmintrin.h>

#include <cstring>

#include "analysis/analysis.h"
#include "core/core.h"
#include "wavelet/octet_rows.h"
#include "wavelet/taps.h"
#include "wavelet/wavelet.h"

void horizontalLumaRows(int thread_id, const AnalysisParams *params, int firstRow, int endRow) noexcept {
    const WorkBuffers &buffers = *params->context.buffers;
    const WaveletKernels &kernels = *params->context.kernels->wavelet;
    const int stride = buffers.planes.stride;
    const int rows = buffers.planes.rows;
    const NrStrengths &s = *params->strengths;
    const float keepSmall = s.animeMode ? 0.0f : wavelet_taps::kKeepSmallBound;
    constexpr int kLanes = octet_rows::kLanes;
    // Four octet lines of stride positions from the thread's octet scratch.
    float *x = octetScratchLine(buffers, thread_id, stride, 0), *s0 = octetScratchLine(buffers, thread_id, stride, 1);
    float *s1 = octetScratchLine(buffers, thread_id, stride, 2), *s2 = octetScratchLine(buffers, thread_id, stride, 3);
    float *ringA = ringSlot(buffers.yRingA, params->slot, rows, stride) + static_cast<long>(firstRow) * stride;
    float *ringB = ringSlot(buffers.yRingB, params->slot, rows, stride) + static_cast<long>(firstRow) * stride;

    // Eight rows at a time, one in each vector lane of the octet kernels.
    for (int r = firstRow; r < endRow; r += kLanes) {
        const int lanes = endRow - r < kLanes ? endRow - r : kLanes;
        octet_rows::gather(
            [&](int k, int j) noexcept { return ringA + static_cast<long>(k < lanes ? k : lanes - 1) * stride + j; },
            0, stride, x);
        // The two finer levels are left as they are: the vertical pass has already
        // cored them along the columns.
        kernels.forwardOctets(stride, x, s1, s2);
        kernels.forwardOctets(stride / 2, s1, s0, s2);
        kernels.forwardOctets(stride / 4, s0, s1, s2);
        kernels.shrinkOctets(stride / 8, s1, s2, s.lumaFlatThreshold[2], s.lumaCoefThreshold[2], keepSmall);
        kernels.forwardOctets(stride / 8, s1, s0, s2);
        kernels.shrinkOctets(stride / 16, s0, s2, s.lumaFlatThreshold[3], s.lumaCoefThreshold[3], keepSmall);

        // Ring A: L(4), H1(4) .. H1(1); ring B: H2(4) .. H2(1), zeros below stride/16.
        auto slotA = [&](int k, int j) noexcept { return ringA + static_cast<long>(k) * stride + j; };
        auto slotB = [&](int k, int j) noexcept { return ringB + static_cast<long>(k) * stride + j; };
        octet_rows::scatter(s0, 0, stride / 8, lanes, slotA);
        octet_rows::scatter(s1, stride / 8, stride / 8, lanes, slotA);
        octet_rows::scatter(s0, stride / 4, stride / 4, lanes, slotA);
        octet_rows::scatter(s1, stride / 2, stride / 2, lanes, slotA);
        // Ring B is read only when this frame is the current one, in forward playback
        // a call later: its lines go out whole, with non-temporal stores that need no
        // read first and leave the cache to the work.
        if (lanes == kLanes) {
            std::memset(s2, 0, stride / 16 * kLanes * sizeof(float));
            octet_rows::stream(s2, 0, stride, slotB);
        } else {
            for (int k = 0; k < lanes; ++k) std::memset(slotB(k, 0), 0, stride / 16 * sizeof(float));
            octet_rows::scatter(s2, stride / 16, stride - stride / 16, lanes, slotB);
        }
        ringA += kLanes * static_cast<long>(stride);
        ringB += kLanes * static_cast<long>(stride);
    }
    // Every ring store is complete before the next stage reads the slot.
    _mm_sfence();
}

void horizontalAnalysisWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept {
    (void)param2;
    const auto *params = static_cast<const AnalysisParams *>(param1);
    const int rows = params->context.buffers->planes.rows;
    // Octets of rows, all alike, shared among every thread.
    const StageWork work{{rows / octet_rows::kLanes, 0, 0}, {1, 0, 0}};
    const UnitRange share = threadShare(work, thread_id, workingThreads(params->context, thread_id, thread_num));
    if (share.first < share.end)
        horizontalLumaRows(thread_id, params, share.first * octet_rows::kLanes, share.end * octet_rows::kLanes);
}
