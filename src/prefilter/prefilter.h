// Optional clean-ups of each source frame before its analysis, in saturating
// 16-bit arithmetic: block noise and mosquito noise.
#pragma once

/// param1 = PrepassParams, param2 = FILTER_PROC_INFO; writes fpip->ycp_edit.
void blockNrWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept;
/// param1 = PrepassParams, param2 = FILTER_PROC_INFO; writes fpip->ycp_temp.
void mosquitoNrWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept;
