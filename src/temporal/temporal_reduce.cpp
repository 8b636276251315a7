// Three-frame temporal reduction: the coarsest band of the previous, current and
// next frame is fitted across time, and the current frame is rebuilt from it and
// its own detail bands, eight ring lines at a time: chroma columns into the rows of
// cbAux / crAux here, luma rows for the band sweep of output/luma_output.cpp.
#include <emmintrin.h>

#include "core/core.h"
#include "temporal/rebuild_octet.h"
#include "temporal/temporal.h"
#include "wavelet/octet_rows.h"
#include "wavelet/sample_conversion.h"
#include "wavelet/wavelet.h"

namespace {

constexpr int kLanes = octet_rows::kLanes;

}  // namespace

// (kOctetLines x rows x 8 floats hold the four lines for every size class.)
OctetBuffers octetBuffers(const WorkBuffers &buffers, int thread, int len) noexcept {
    return {octetScratchLine(buffers, thread, len, 0), octetScratchLine(buffers, thread, len, 1),
            octetScratchLine(buffers, thread, len, 2), octetScratchLine(buffers, thread, len, 3)};
}

namespace {

// The fit line by line into b.fitted, then into the octet line.
template <auto fit, class S>
void fitLinesThenGather(const TemporalJob &job, float threshold, const float *ringA, long slotFloats, long lineStart,
                        int len, int coarse, OctetBuffers &b) noexcept {
    for (int k = 0; k < kLanes; ++k)
        fit(job, coarse, threshold, b.fitted + k * coarse, ringA, slotFloats, lineStart + static_cast<long>(k) * len);
    S::gather(b.fitted, coarse, 0, coarse, b.band);
}

// One value at a time: the statement of the rule the SSE2 steps are checked against.
struct ScalarSteps {
    static constexpr auto fitOctet = fitLinesThenGather<temporalFitScalar, ScalarSteps>;
    static constexpr auto inverse = inverseOctetsScalar;
    static void gather(const float *lines, long lineStep, int first, int count, float *octet) noexcept {
        for (int j = first; j < first + count; j += 4)
            for (int k = 0; k < kLanes; ++k)
                for (int i = 0; i < 4; ++i) octet[kLanes * (j + i) + k] = lines[k * lineStep + j + i];
    }
};

// Four positions of the eight lines at a time, by 4 x 4 transposes.
struct Sse2Steps {
    static constexpr auto fitOctet = fitLinesThenGather<temporalFitSse2, Sse2Steps>;
    static constexpr auto inverse = inverseOctetsSse2;
    static void gather(const float *lines, long lineStep, int first, int count, float *octet) noexcept {
        octet_rows::gather([&](int k, int j) noexcept { return lines + k * lineStep + j; }, first, count, octet);
    }
};

}  // namespace

void rebuildOctetScalar(const TemporalParams &params, const float *ringA, const float *ringB, long lines, long first,
                        int len, OctetBuffers &b) noexcept {
    rebuildOctetWith<ScalarSteps>(params, ringA, ringB, lines, first, len, b);
}

void rebuildOctetSse2(const TemporalParams &params, const float *ringA, const float *ringB, long lines, long first,
                      int len, OctetBuffers &b) noexcept {
    rebuildOctetWith<Sse2Steps>(params, ringA, ringB, lines, first, len, b);
}

void temporalChroma(std::int16_t *aux, const float *ringA, const float *ringB, const TemporalParams &params,
                    int firstLine, int endLine, int thread) noexcept {
    const WorkBuffers &buffers = *params.context.buffers;
    const RebuildOctetFn rebuildOctet = params.context.kernels->temporal->rebuildOctet;
    const int stride = buffers.planes.stride;
    const int rows = buffers.planes.rows;
    const long auxRow = stride / 2;
    // Eight chroma columns (ring lines) at a time, one in each vector lane: each
    // position of the rebuilt octet is eight neighbouring values of one plane row,
    // converted to samples (as floatsToSamples does). Up to four octets (32 columns,
    // a cache line of each aux row) are staged in the thread's scratch and go to
    // the aux rows together: an octet touches every row, 2 KB apart, and the caches
    // hold too few lines of such a stride to keep them from one octet to the next.
    constexpr int kStaged = 4 * kLanes;
    auto *staged = reinterpret_cast<std::int16_t *>(octetScratchLine(buffers, thread, rows, 4));
    int stagedFirst = firstLine;
    for (int l = firstLine; l < endLine; l += kLanes) {
        OctetBuffers b = octetBuffers(buffers, thread, rows);
        rebuildOctet(params, ringA, ringB, stride / 2, l, rows, b);
        std::int16_t *out = staged + (l - stagedFirst);
        for (int r = 0; r < rows; ++r, out += kStaged)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out),
                             samplesOfEight(_mm_load_ps(b.band + kLanes * r), _mm_load_ps(b.band + kLanes * r + 4)));
        const int next = l + kLanes;
        if (next % kStaged != 0 && next < endLine) continue;
        const int octets = (next - stagedFirst) / kLanes;
        const std::int16_t *in = staged;
        std::int16_t *row = aux + stagedFirst;
        for (int r = 0; r < rows; ++r, in += kStaged, row += auxRow)
            for (int o = 0; o < octets; ++o)
                _mm_storeu_si128(reinterpret_cast<__m128i *>(row + kLanes * o),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + kLanes * o)));
        stagedFirst = next;
    }
}

void temporalChromaWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept {
    const auto &params = *static_cast<const TemporalParams *>(param1);
    const WorkBuffers &wb = *params.context.buffers;
    const PlaneGeometry g = planeGeometry(static_cast<const FILTER_PROC_INFO *>(param2), wb.planes);
    // Only the octets of the chroma columns that hold the picture: the output reads
    // no other column of the aux planes, and the margins are a sixteenth of the work.
    const int firstOctet = g.chromaPad / kLanes, endOctet = (g.chromaPad + g.w / 2 + kLanes - 1) / kLanes;
    // Octets of Cb columns and of Cr columns, all alike, shared among every thread.
    const StageWork work{{endOctet - firstOctet, endOctet - firstOctet, 0}, {1, 1, 0}};
    const UnitRange share = threadShare(work, thread_id, workingThreads(params.context, thread_id, thread_num));
    const UnitRange cb = runPart(work, share, 0), cr = runPart(work, share, 1);
    if (cb.first < cb.end)
        temporalChroma(wb.cbAux, wb.cbRingA, wb.cbRingB, params, (firstOctet + cb.first) * kLanes,
                       (firstOctet + cb.end) * kLanes, thread_id);
    if (cr.first < cr.end)
        temporalChroma(wb.crAux, wb.crRingA, wb.crRingB, params, (firstOctet + cr.first) * kLanes,
                       (firstOctet + cr.end) * kLanes, thread_id);
}
