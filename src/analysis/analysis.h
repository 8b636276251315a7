// Frame import with the vertical analysis, and the horizontal analysis that leaves
// each analysed frame in its slot of the frame ring.
#pragma once

#include "abi/host_api.h"
#include "core/core.h"

struct NrStrengths;

/// What the frame driver hands both analysis workers as param1.
struct AnalysisParams {
    PIXEL_YC *source;              // the prepared frame
    int slot;                      // ring slot 0..2 to fill
    const NrStrengths *strengths;  // the coring thresholds, anime mode and per-field processing
    StageContext context;          // the kernel tables and the working planes
};

/// param1 = AnalysisParams, param2 = FILTER_PROC_INFO.
void verticalAnalysisWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept;
void horizontalAnalysisWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept;

/// Float index of position j of slot s in line i of a ring whose slots hold `lines`
/// lines of len positions (ringSlot).
inline long ringIndex(long i, long len, long j, int s, long lines) noexcept {
    return (s * lines + i) * len + j;
}

enum class ChromaPlane { Cb, Cr };

/// Analyses the split rows [firstRow, endRow) left in the slot's yRingA lines
/// horizontally, in place, into the slot's lines of yRingA and yRingB.
void horizontalLumaRows(int thread_id, const AnalysisParams *params, int firstRow, int endRow) noexcept;
