// Processor level, working buffers and noise-reduction strengths: the module-level
// state that the host's plug-in model needs kept from call to call, written by the
// host callbacks between dispatches. The rest of the module's state: the frame ring
// (host/frame_ring.h), the kernel tables (wavelet.h, prefilter.h, rounding.h) and the
// settings window's button (host/settings_window.cpp). Everything else a stage needs
// comes from the frame driver in its parameter record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "abi/host_api.h"

// ---- Processor level --------------------------------------------------------

/// 0 = no usable SSE2, 1 = SSE2 only, 2 = SSE2 and SSE3 (the level frames need).
extern int CpuLevel;

/// Finds the processor level: CPUID, then one guarded SSE instruction.
int detectCpuLevel() noexcept;

/// Whether the processor has AVX2 and the system saves its registers, so that the
/// AVX2 kernels may run.
bool cpuHasAvx2() noexcept;

/// Whether the environment asks to keep to the SSE3 kernels where AVX2 would be
/// chosen: Q5_NO_AVX2 set to anything but "" or "0". The same variable works for
/// both modules, so tests can compare the two paths on one machine.
bool avx2Refused() noexcept;

// ---- Working buffers --------------------------------------------------------

/// Geometry of the working planes: floats per luma row and rows per plane.
struct SizeClass {
    int stride;
    int rows;
};

/// Per-thread scratch; one set for each thread index 0..3.
struct ScratchSet {
    float *scratchWide0;           // stride * 16 bytes
    float *scratchWide1;           // stride * 16 bytes
    float *scratch112;             // 112 bytes
    std::int16_t *scratchQuarter;  // (stride / 4) * 6 bytes, zeroed when (re)allocated
    std::int16_t *scratchHalf;     // stride * 2 bytes
    std::int16_t *scratch400;      // 400 bytes
    float *scratchOctets;          // rows * 352 + 32 bytes: eleven octet lines for the column passes
};

/// The thread's scratchOctets as kOctetLines octet lines of `rows` positions (eight
/// floats each), 32-byte aligned, one after the other.
constexpr int kOctetLines = 11;
float *octetScratch(int thread) noexcept;

/// Octet line i of the thread's octet scratch seen as lines of `positions` positions
/// each, one after the other (kOctetLines x rows positions fit every use).
inline float *octetScratchLine(int thread, long positions, int i) noexcept {
    return octetScratch(thread) + 8L * positions * i;
}

constexpr int kScratchSets = 4;

struct WorkBuffers {
    // The five allocations, in allocation order.
    float *lumaBlock;
    float *cbBlock;
    std::int16_t *cbAux;
    float *crBlock;
    std::int16_t *crAux;
    // Planes carved from the blocks.
    float *yRingA, *yRingB, *yWork;
    float *cbRingA, *cbRingB;
    float *crRingA, *crRingB;
    ScratchSet scratch[kScratchSets];
};

extern SizeClass sizeClass;  // 2048 x 1280 at load
extern int lastW, lastH;     // rounded frame size of the last allocation, 1920 x 1088 at load
extern bool buffersReady;    // true only if the last allocation succeeded completely
extern WorkBuffers workBuffers;

/// The frame's picture in the working planes: the size class and where the (rounded)
/// picture sits in it, as every stage that reads or writes the planes places it.
struct PlaneGeometry {
    int stride, rows;  // the size class
    int w, h;          // the rounded picture
    long pitch;        // pixels from one row of a host image to the next
    int lumaPad;       // the picture's first column in a luma row
    int chromaPad;     // the picture's first chroma line (column of chroma)
};
inline PlaneGeometry planeGeometry(const FILTER_PROC_INFO *fpip) noexcept {
    const int stride = sizeClass.stride;
    return {stride, sizeClass.rows, fpip->w, fpip->h, fpip->max_w, (stride - fpip->w) / 2, (stride - fpip->w) / 4};
}

/// Byte sizes of every buffer for a size class.
struct WorkBufferSizes {
    std::size_t lumaBlock, chromaBlock, chromaAux;
    std::size_t scratchWide, scratch112, scratchQuarter, scratchHalf, scratch400, scratchOctets;
};
WorkBufferSizes workBufferSizes(SizeClass sc) noexcept;

/// (Re)allocates every buffer for the current sizeClass and returns true only if
/// every allocation succeeded. The planes' old contents are gone: the caller empties
/// the frame ring.
bool allocateWorkBuffers() noexcept;

/// Releases every buffer and leaves each pointer null; a second call does nothing.
void releaseWorkBuffers() noexcept;

/// The system allocation every buffer comes from, released with std::free: malloc
/// in the module (core/system_memory.cpp); the unit tests link one that can fail.
void *systemAllocate(std::size_t size) noexcept;

/// The wavelet stages that split into four fixed jobs, by how they split.
enum class FourJobs {
    LumaChroma,      // vertical analysis, temporal stage: luma first half, second half, Cb, Cr
    RowQuarters,     // horizontal analysis: the four quarters of the rows
    OutputQuarters,  // output conversion: (part 0, first quarter), (part 0, second), (part 1, first), (part 1, second)
};

/// The thread that runs each of the four jobs of a stage for 1, 2, 3 and 4 or more
/// threads: one table for every such stage. Threads 4 and above idle (the scratch
/// exists for four threads only).
inline void fourJobOwners(FourJobs split, int thread_num, int owner[4]) noexcept {
    static constexpr int kOwners[3][4][4] = {
        {{0, 0, 0, 0}, {0, 0, 1, 1}, {0, 0, 1, 2}, {0, 1, 2, 3}},  // LumaChroma
        {{0, 0, 0, 0}, {0, 0, 1, 1}, {0, 0, 1, 1}, {0, 1, 2, 3}},  // RowQuarters
        {{0, 0, 0, 0}, {0, 1, 0, 1}, {0, 2, 0, 2}, {0, 2, 1, 3}},  // OutputQuarters
    };
    const int row = thread_num >= 1 && thread_num <= 3 ? thread_num - 1 : 3;
    for (int job = 0; job < 4; ++job) owner[job] = kOwners[static_cast<int>(split)][row][job];
}

// ---- Strengths --------------------------------------------------------------

struct NrStrengths {
    float temporalThreshold;
    float lumaCoefThreshold[4];
    float lumaFlatThreshold[4];
    float chromaCoefThreshold[5];
    float chromaFlatThreshold[5];
    bool animeMode;
    bool fieldMode;
};

/// Zero thresholds, anime mode on and field mode off until the first update.
extern NrStrengths nrStrengths;

/// Recomputes nrStrengths from the sliders and check boxes of fp.
void deriveStrengths(const FILTER *fp) noexcept;
