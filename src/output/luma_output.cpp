// The current frame's luma, from the ring to the output image in one sweep: eight
// low-band and eight high-band rows rebuilt from the ring (the temporal fit and the
// horizontal synthesis), the vertical one-level split undone row by row into the
// sixteen plane rows they make, and those converted to samples and written out with
// their chroma, while all of it is still in the thread's cache. Only plane rows that
// hold picture rows are made: the margins above and below feed nothing else.
#include <cstring>

#include "core/core.h"
#include "output/output_stage.h"
#include "output/rounding.h"
#include "temporal/temporal.h"
#include "wavelet/octet_rows.h"
#include "wavelet/wavelet.h"

namespace {

constexpr int kLanes = octet_rows::kLanes;
constexpr int kUnitRows = 2 * kLanes;  // plane rows an octet of low and high rows makes

// The thread's part of the octet scratch beyond the temporal stage's four octet
// lines of `stride` positions: nine low-band and nine high-band rows (the row above
// the octet, then its eight), and the sixteen sample rows.
struct BandBuffers {
    float *low, *high;      // 9 rows of stride floats each
    std::int16_t *samples;  // kUnitRows rows of stride values
};

// Four octet lines, 18 float rows, then 16 rows of 16-bit values: rows of the
// stride that the octet scratch holds for every thread.
static_assert(4 * kLanes + 18 + kUnitRows / 2 <= kScratchStrideRows, "the luma sweep's buffers outgrow the scratch");

BandBuffers bandBuffers(const WorkBuffers &buffers, int thread, int stride) noexcept {
    float *rest = octetScratchLine(buffers, thread, stride, 4);
    BandBuffers b;
    b.low = rest;
    b.high = b.low + 9L * stride;
    b.samples = reinterpret_cast<std::int16_t *>(b.high + 9L * stride);
    return b;
}

// Plane row q of the picture's placement: the picture row it holds, or -1.
struct Placement {
    int rows, h;
    bool fieldMode;
    int pictureRow(int q) const noexcept {
        if (!fieldMode) {
            const int y = q - (rows - h) / 2;
            return y >= 0 && y < h ? y : -1;
        }
        const int field = q >= rows / 2 ? 1 : 0;
        const int j = q - field * (rows / 2) - (rows - h) / 4;
        return j >= 0 && j < h / 2 ? 2 * j + field : -1;
    }
};

struct LumaOutput {
    const TemporalParams &params;
    const WorkBuffers &buffers;
    const KernelTables &kernels;
    const FILTER_PROC_INFO *fpip;
    int thread;
    PlaneGeometry g;
    Placement place;
    OctetBuffers octet;
    BandBuffers band;
    int planeBegin, planeEnd;  // the plane rows whose picture rows this sweep writes
    RoundingPass *rounding;    // the pass whose groups the rows are, or null

    bool wanted(int q) const noexcept { return q >= planeBegin && q < planeEnd && place.pictureRow(q) >= 0; }

    // Rebuilds low-band rows 8o .. 8o+7 (high: n + 8o ..) into rows 1 .. 8 of the
    // band buffers, or only the last of them into row 0; positions of the picture's
    // columns only.
    void rebuild(int o, bool lastOnly) noexcept {
        const int n = g.rows / 2;
        for (int half = 0; half < 2; ++half) {
            float *rows = half ? band.high : band.low;
            kernels.temporal->rebuildOctet(params, buffers.yRingA, buffers.yRingB, g.rows, half * n + kLanes * o,
                                           g.stride, octet);
            if (lastOnly) {
                for (int j = g.lumaPad; j < g.lumaPad + g.w; ++j) rows[j] = octet.band[kLanes * j + kLanes - 1];
            } else {
                octet_rows::scatter(octet.band, g.lumaPad, g.w, kLanes, [&](int k, int j) noexcept {
                    return rows + static_cast<long>(k + 1) * g.stride + j;
                });
            }
        }
    }

    // Octet o: plane rows 16o .. 16o+15, from low-band rows 8o-1 .. 8o+7 (row 0 of
    // the band buffers holds 8o-1 on entry).
    void unit(int o) noexcept {
        const int pairs = g.w / 2;
        rebuild(o, false);
        const long s = g.stride;
        for (int k = 0; k < kLanes; ++k) {
            const int q = kUnitRows * o + 2 * k;
            const bool wantEven = wanted(q), wantOdd = wanted(q + 1);
            if (!wantEven && !wantOdd) continue;
            const long at = g.lumaPad;
            kernels.wavelet->synthesizeRowPair(band.low + (k + 1) * s + at, band.low + k * s + at,
                                               band.high + (k + 1) * s + at, band.high + k * s + at, g.w,
                                               band.samples + 2 * k * s, band.samples + (2 * k + 1) * s, wantEven,
                                               wantOdd);
        }
        const long auxRow = g.stride / 2;
        for (int i = 0; i < kUnitRows; ++i) {
            const int q = kUnitRows * o + i;
            if (!wanted(q)) continue;
            if (rounding) {
                // The rows come in whole groups: the sweep's ends are multiples of 4
                // in plane rows, and the picture's rows are too.
                RoundingGroupSamples group;
                for (int k = 0; k < 4; ++k) {
                    group.luma[k] = band.samples + (i + k) * s;
                    group.cb[k] = buffers.cbAux + (q + k) * auxRow + g.chromaPad;
                    group.cr[k] = buffers.crAux + (q + k) * auxRow + g.chromaPad;
                    group.out[k] = fpip->ycp_edit + place.pictureRow(q + k) * g.pitch;
                }
                kernels.rounding->roundingGroupSamples(*rounding, g.w, group);
                i += 3;
                continue;
            }
            const int y = place.pictureRow(q);
            writePixels(band.samples + i * s, buffers.cbAux + q * auxRow + g.chromaPad,
                        buffers.crAux + q * auxRow + g.chromaPad, pairs, fpip->ycp_edit + y * g.pitch);
        }
        // The octet's last rows are the next octet's rows above.
        std::memcpy(band.low, band.low + 8 * s, s * sizeof(float));
        std::memcpy(band.high, band.high + 8 * s, s * sizeof(float));
    }

    // Octets [first, end): the octet above the first is rebuilt for its last rows
    // (periodic at the top of each band, as the column synthesis is).
    void run(int first, int end) noexcept {
        const int octets = g.rows / 2 / kLanes;
        if (first >= end) return;
        rebuild((first + octets - 1) % octets, true);
        for (int o = first; o < end; ++o) unit(o);
    }
};

// Octets of plane rows (kUnitRows each) that hold picture rows: one range in frame
// mode, one per field in per-field mode.
struct OctetRanges {
    int first[2], end[2];
};

OctetRanges pictureOctets(const PlaneGeometry &g, bool fieldMode) noexcept {
    auto range = [](int q0, int q1, int &first, int &end) noexcept {
        first = q0 / kUnitRows;
        end = (q1 + kUnitRows - 1) / kUnitRows;
    };
    OctetRanges r{{0, 0}, {0, 0}};
    if (!fieldMode) {
        range((g.rows - g.h) / 2, (g.rows + g.h) / 2, r.first[0], r.end[0]);
    } else {
        const int top = (g.rows - g.h) / 4;
        range(top, top + g.h / 2, r.first[0], r.end[0]);
        range(g.rows / 2 + top, g.rows / 2 + top + g.h / 2, r.first[1], r.end[1]);
        if (r.first[1] <= r.end[0]) {  // the fields' octets meet: one range
            r.end[0] = r.end[1];
            r.first[1] = r.end[1] = 0;
        }
    }
    return r;
}

}  // namespace

void lumaOutputWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept {
    const auto &params = *static_cast<const TemporalParams *>(param1);
    const auto *fpip = static_cast<const FILTER_PROC_INFO *>(param2);
    const WorkBuffers &buffers = *params.context.buffers;
    const PlaneGeometry g = planeGeometry(fpip, buffers.planes);
    const OctetRanges ranges = pictureOctets(g, params.fieldMode);

    // Octets of plane rows, all alike, shared among every thread.
    const StageWork work{{ranges.end[0] - ranges.first[0], ranges.end[1] - ranges.first[1], 0}, {1, 1, 0}};
    const UnitRange share = threadShare(work, thread_id, workingThreads(params.context, thread_id, thread_num));
    LumaOutput out{params, buffers, *params.context.kernels, fpip, thread_id, g, {g.rows, g.h, params.fieldMode},
                   octetBuffers(buffers, thread_id, g.stride), bandBuffers(buffers, thread_id, g.stride), 0, g.rows,
                   nullptr};
    for (int k = 0; k < 2; ++k) {
        const UnitRange part = runPart(work, share, k);
        out.run(ranges.first[k] + part.first, ranges.first[k] + part.end);
    }
}

void lumaOutputPlaneRows(const TemporalParams &params, const FILTER_PROC_INFO *fpip, int thread, int planeBegin,
                         int planeEnd, RoundingPass *rounding) noexcept {
    const WorkBuffers &buffers = *params.context.buffers;
    const PlaneGeometry g = planeGeometry(fpip, buffers.planes);
    LumaOutput out{params, buffers, *params.context.kernels, fpip, thread, g, {g.rows, g.h, params.fieldMode},
                   octetBuffers(buffers, thread, g.stride), bandBuffers(buffers, thread, g.stride), planeBegin,
                   planeEnd, rounding};
    out.run(planeBegin / kUnitRows, (planeEnd + kUnitRows - 1) / kUnitRows);
}
