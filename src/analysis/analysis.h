// Frame import with the vertical analysis, and the horizontal analysis that leaves
// each analysed frame in its slot of the frame ring.
#pragma once

#include "abi/host_api.h"

struct NrStrengths;

/// What the frame driver hands both analysis workers as param1.
struct AnalysisParams {
    PIXEL_YC *source;  // the prepared frame
    int slot;          // ring slot 0..2 to fill
    bool fieldMode;
    const NrStrengths *strengths;  // the coring thresholds and anime mode
};

/// param1 = AnalysisParams, param2 = FILTER_PROC_INFO.
void verticalAnalysisWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept;
void horizontalAnalysisWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept;

/// Float index of position j of slot s in line i of a ring whose lines hold len positions:
/// the three slots are interleaved in groups of four floats.
inline long ringIndex(long i, long len, long j, int s) noexcept {
    return (i * len + (j - j % 4)) * 3 + 4 * s + j % 4;
}

enum class ChromaPlane { Cb, Cr };

/// Imports picture columns [firstColumn, endColumn) of luma, splits each vertically
/// with coring, and leaves low over high band in the yWork column (margins included).
/// Eight neighbouring columns go through the octet kernels together.
void verticalLumaColumns(const FILTER_PROC_INFO *fpip, int firstColumn, const AnalysisParams *params,
                         int endColumn, int thread_id) noexcept;

/// Analyses every even picture column of one chroma plane into the slot's lines of
/// that plane's rings, margin lines included.
template <ChromaPlane P>
void verticalChromaColumns(const FILTER_PROC_INFO *fpip, const AnalysisParams *params,
                           int thread_id) noexcept;

/// Analyses yWork rows [firstRow, endRow) horizontally into the slot's lines of
/// yRingA and yRingB; firstLineOffset = 3 * stride * firstRow.
void horizontalLumaRows(int thread_id, const AnalysisParams *params, int firstRow, int endRow,
                        long firstLineOffset) noexcept;

/// Writes count positions of src into one ring line, the slot's groups only, with
/// 16-byte stores (zeros when src is null). slotLine = the ring line's first
/// float plus 4 * slot; first and count are multiples of 4.
void storeRingPositions(float *slotLine, const float *src, int first, int count) noexcept;
