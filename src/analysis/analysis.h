// Frame import with the vertical analysis, and the horizontal analysis that leaves
// each analysed frame in its slot of the frame ring.
#pragma once

/// param1 = AnalysisParams, param2 = FILTER_PROC_INFO.
void verticalAnalysisWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept;
void horizontalAnalysisWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept;

/// Float index of position j of slot s in line i of a ring whose lines hold len positions:
/// the three slots are interleaved in groups of four floats.
inline long ringIndex(long i, long len, long j, int s) noexcept {
    return (i * len + (j - j % 4)) * 3 + 4 * s + j % 4;
}
