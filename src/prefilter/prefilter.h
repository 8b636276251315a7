// Optional clean-ups of each source frame before its analysis, in saturating
// 16-bit arithmetic: block noise and mosquito noise.
#pragma once

#include <cstddef>

struct FILTER_PROC_INFO;
struct PIXEL_YC;
struct KernelTables;

/// Working memory a kernel may use on its thread: `rows` (32-byte aligned, `bytes`
/// long) for the AVX2 kernels' rings of rows, or null where the thread has none, in
/// which case they work from the stack (the same numbers, somewhat slower).
struct PrepassScratch {
    void *rows;
    std::size_t bytes;
};

/// What the frame driver hands both pre-pass workers as param1.
struct PrepassParams {
    PIXEL_YC *source;
    PIXEL_YC *prevFrame;  // mosquito pass: the frame before, or source when there is none
    PIXEL_YC *nextFrame;  // mosquito pass: the frame after, or source when there is none
    int fieldCount;       // 2 with per-field processing, else 1
    int strengthA;        // block pass: 8 x BlockNR
    int strengthB;        // block pass: 16 x BlockNR
    int strengthC;        // mosquito pass: 90 x or 8 x MosqNR, by size class
    bool animeMode;
    const PrepassScratch *scratch;  // thread t's is scratch[t] for t < scratchCount;
    int scratchCount;               // threads beyond have none
    const KernelTables *kernels;    // the row kernels are its prefilter table's
};

// ---- Workers ----------------------------------------------------------------

/// param1 = PrepassParams, param2 = FILTER_PROC_INFO; writes fpip->ycp_edit.
/// Safe for any number of threads, with or without scratch.
void blockNrWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept;
/// param1 = PrepassParams, param2 = FILTER_PROC_INFO; writes fpip->ycp_temp.
void mosquitoNrWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept;

/// First row of a worker's band; the band of thread_id ends where thread_id + 1's begins.
inline int prepassBandStart(int h, int thread_id, int thread_num) noexcept {
    return h * thread_id / thread_num;
}

// ---- Row kernels ------------------------------------------------------------

/// Cleans rows [rowBegin, rowEnd) of source into fpip->ycp_edit (w x h of fpip,
/// rows max_w pixels apart).
using BlockNrRows = void(int rowBegin, int rowEnd, int fieldCount, const FILTER_PROC_INFO *fpip,
                         const PIXEL_YC *source, int strengthA, int strengthB, bool animeMode,
                         PrepassScratch scratch) noexcept;
using BlockNrRowsFn = BlockNrRows *;
/// Cleans rows [rowBegin, rowEnd) of source into fpip->ycp_temp, pairing samples
/// across prevFrame and nextFrame and within source.
using MosquitoNrRows = void(const PIXEL_YC *source, const PIXEL_YC *prevFrame, const FILTER_PROC_INFO *fpip,
                            const PIXEL_YC *nextFrame, int fieldCount, int strengthC, int rowBegin,
                            int rowEnd, PrepassScratch scratch) noexcept;
using MosquitoNrRowsFn = MosquitoNrRows *;

/// The scalar twins, the SSE2 kernels (one unit at a time) and the AVX2 kernels (whole
/// rows, only where cpuHasAvx2()), all giving the same numbers. What the AVX2 kernels'
/// rows do not cover (thresholds beyond the sliders' range, threads without octet
/// scratch, frames not a whole number of 16 pixels wide) they hand to the SSE2 kernels.
BlockNrRows blockNrRowsScalar, blockNrRowsSse2, blockNrRowsAvx2;
MosquitoNrRows mosquitoNrRowsScalar, mosquitoNrRowsSse2, mosquitoNrRowsAvx2;

// ---- Kernel table -------------------------------------------------------------

/// The row kernels the workers run, and the tiers' tables.
struct PrefilterKernels {
    BlockNrRowsFn blockNrRows;
    MosquitoNrRowsFn mosquitoNrRows;
};
extern const PrefilterKernels kPrefilterScalar;
extern const PrefilterKernels kPrefilterSse2;
extern const PrefilterKernels kPrefilterAvx2;
