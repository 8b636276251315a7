// Three-frame temporal reduction, vertical synthesis and output conversion: the
// per-frame stages that rebuild the current frame from the frame ring.
#pragma once

/// param1 = fp (unused), param2 = FILTER_PROC_INFO.
void temporalWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept;
/// param1, param2 unused.
void synthesisWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept;
/// param1 = pointer to a bool copy of fieldMode, param2 = FILTER_PROC_INFO.
void outputWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept;
