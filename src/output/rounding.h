// Rounding correction: re-quantises the output frame onto multiples of 16 with a
// block-adaptive mix of error carry and dither.
#pragma once

/// param1 = fp, param2 = FILTER_PROC_INFO; works on fpip->ycp_edit in place.
void roundingWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept;
