// Rounding correction: re-quantises the output frame onto multiples of 16 with a
// block-adaptive mix of error carry and dither.
#pragma once

#include <cstdint>

#include "core/core.h"

struct FILTER_PROC_INFO;
struct PIXEL_YC;

/// What the frame driver hands the rounding worker as param1 (the kernels read only
/// the strength and the field mode).
struct RoundingParams {
    int strength;          // the Rounding slider, as the host passes it
    bool fieldMode;        // per-field processing
    StageContext context;  // the kernel tables, and the remainders in the buffers' scratch sets
};

/// param1 = RoundingParams, param2 = FILTER_PROC_INFO; works on fpip->ycp_edit in place,
/// with thread t's remainders in scratch set t's scratchQuarter.
///
/// Rows are split in whole groups of 8 by thread_id and thread_num. Only four
/// remainder sets exist, so with more than four threads thread t (t < 4) runs,
/// in order, the row ranges of threads t, t + 4, t + 8, ... each as its own
/// pass on remainder set t; threads 4 and above do nothing.
void roundingWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept;

/// Rows [firstRow, rowLimit) of range `range` of the split into threadCount ranges
/// of whole groups of 8 rows of a picture h rows high: the ranges the worker rounds.
struct RoundingRange {
    int firstRow, rowLimit;
};
inline RoundingRange roundingRange(int h, int range, int threadCount) noexcept {
    const long long groups = h / 8;
    return {static_cast<int>(8 * (groups * range / threadCount)),
            static_cast<int>(8 * (groups * (range + 1) / threadCount))};
}

/// One pass over rows [firstRow, rowLimit) of fpip->ycp_edit (w, h, max_w, frame
/// from fpip; strength and field mode from params). The range must be whole groups
/// of 8 rows inside the picture. remainders holds the three remainder arrays
/// (Y, Cb, Cr) of remainderCount entries each, one after the other; they carry
/// state from pass to pass. A picture too wide for the arrays (w / 4 + 15 >
/// remainderCount) is rounded plainly to the nearest multiple of 16 instead, so
/// nothing outside the arrays is ever touched.
void roundingRowsScalar(const FILTER_PROC_INFO *fpip, const RoundingParams *params, int firstRow, int rowLimit,
                        std::int16_t *remainders, int remainderCount) noexcept;
void roundingRowsSse2(const FILTER_PROC_INFO *fpip, const RoundingParams *params, int firstRow, int rowLimit,
                      std::int16_t *remainders, int remainderCount) noexcept;
void roundingRowsAvx2(const FILTER_PROC_INFO *fpip, const RoundingParams *params, int firstRow, int rowLimit,
                      std::int16_t *remainders, int remainderCount) noexcept;

using RoundingRowsFn = void (*)(const FILTER_PROC_INFO *, const RoundingParams *, int, int, std::int16_t *,
                                int) noexcept;

/// A pass over one range taken piece by piece, as the range's rows become ready:
/// beginRoundingPass, then for each field (fieldStep of them) seedRoundingField and
/// the field's groups in order, in as many roundingGroups calls as suit. The pieces
/// do exactly what one roundingRows call over the range does.
struct RoundingPass {
    std::int16_t *rem[3];  // the remainder arrays
    int levelLow, levelHigh;
    bool oddFrame;
    int fieldStep;
    std::uint16_t lane[3];  // the noise registers, running on through the pass
};

/// Sets up a pass over rows [firstRow, rowLimit); false (and nothing done) when the
/// remainder arrays cannot serve the picture, which only roundingRows handles.
bool beginRoundingPass(const FILTER_PROC_INFO *fpip, const RoundingParams *params, int firstRow,
                       std::int16_t *remainders, int remainderCount, RoundingPass &pass) noexcept;
/// Seeds the remainders at the start of a field.
void seedRoundingField(RoundingPass &pass, int w) noexcept;
/// The groups of field f that start at rows yBegin, yBegin + 4 x fieldStep, ...
/// below yEnd (yBegin the range's first row or where the last call stopped).
void roundingGroupsScalar(const FILTER_PROC_INFO *fpip, RoundingPass &pass, int f, int yBegin, int yEnd) noexcept;
void roundingGroupsSse2(const FILTER_PROC_INFO *fpip, RoundingPass &pass, int f, int yBegin, int yEnd) noexcept;

void roundingGroupsAvx2(const FILTER_PROC_INFO *fpip, RoundingPass &pass, int f, int yBegin, int yEnd) noexcept;

using RoundingGroupsFn = void (*)(const FILTER_PROC_INFO *, RoundingPass &, int, int, int) noexcept;

/// The samples of one group of four rows, before they are pixels: row k has luma[k]
/// (w values) and the half-width cb[k] and cr[k], and goes to out[k].
struct RoundingGroupSamples {
    const std::int16_t *luma[4], *cb[4], *cr[4];
    PIXEL_YC *out[4];
};

/// Writes the group's w pixels a row as writePixels would (pixels 2i and 2i + 1 get
/// luma 2i and 2i + 1 and both chroma i), rounded as the pass's next group: what
/// writing the rows and then roundingGroups over that group alone gives, without the
/// pixels going through the image twice.
void roundingGroupSamplesScalar(RoundingPass &pass, int w, const RoundingGroupSamples &group) noexcept;
void roundingGroupSamplesSse2(RoundingPass &pass, int w, const RoundingGroupSamples &group) noexcept;
void roundingGroupSamplesAvx2(RoundingPass &pass, int w, const RoundingGroupSamples &group) noexcept;

using RoundingGroupSamplesFn = void (*)(RoundingPass &, int, const RoundingGroupSamples &) noexcept;

/// The pass the workers run, and the tiers' tables.
struct RoundingKernels {
    RoundingRowsFn roundingRows;
    RoundingGroupsFn roundingGroups;
    RoundingGroupSamplesFn roundingGroupSamples;
};
extern const RoundingKernels kRoundingScalar;
extern const RoundingKernels kRoundingSse2;
/// Its groups in AVX2, sixteen lanes a block (the same numbers).
extern const RoundingKernels kRoundingAvx2;
