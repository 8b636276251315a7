// Processor level, working buffers, strengths and the records the frame driver
// hands every stage: the module-level state the host's plug-in model needs kept
// from call to call, and what the stages get instead of reading it.
//
// Every mutable global of the module, and why it is one. Only the callbacks write
// them, between dispatches; no stage reads them: each gets what it needs in its
// parameter record (the driver fills them on func_proc's stack), the kernel tables
// and the working buffers through a StageContext.
// - CpuLevel (core/cpu_level.cpp): found once by func_init; func_proc refuses frames
//   below SSE3 with it.
// - nrStrengths (core/strengths.cpp): derived from the sliders by func_update, kept
//   for the frames that follow; the driver hands the stages a pointer to it.
// - moduleKernels (host/callbacks.cpp): the kernel tables of the processor's tier,
//   chosen once by func_init.
// - workBuffers, lastW, lastH and buffersReady (host/callbacks.cpp): the planes and
//   scratch live from one frame to the next (the ring's analyses are in them), made
//   at load and again when the rounded frame size changes.
// - frameRing, hostThreads and memoryShortageReported (host/frame_driver.cpp): which
//   frame each ring slot holds, how many threads the host last ran a stage on, and
//   whether the memory message was shown for this size.
// - cacheResetButton and cacheResetFont (host/settings_window.cpp): the settings
//   window's own control, made and destroyed by func_WndProc.
// - descriptor, with its label arrays and setting columns (host/descriptor.cpp): the
//   record GetFilterTable hands the host. Mutable only because the host's record
//   takes char * and plain pointers; nothing in the module writes it.
// - nextHandle (platform/platform_posix.cpp): the next window or font handle the
//   stand-ins for the Windows calls give out.
// - guardedAt, resumeAt and guardedFaulted (platform/platform_win32.cpp): the one
//   guarded probe instruction func_init runs, as the exception handler sees it.
// The dither registers' sequence the rounding kernels read is a constant, computed
// when the module is compiled (output/register_sequence.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include "abi/host_api.h"
#include "core/kernel_tier.h"

// ---- Processor level --------------------------------------------------------

/// 0 = no usable SSE2, 1 = SSE2 only, 2 = SSE2 and SSE3 (the level frames need).
extern int CpuLevel;

/// Finds the processor level: CPUID, then one guarded SSE instruction.
int detectCpuLevel() noexcept;

/// Whether the processor has AVX2 and the system saves its registers, so that the
/// AVX2 kernels may run.
bool cpuHasAvx2() noexcept;

/// Whether the environment asks to stop at the SSE3 tier (whose kernels are the
/// SSE2 ones) where AVX2 would be chosen: Q5_NO_AVX2 set to anything but "" or "0". The same variable works for
/// both modules, so tests can compare the two paths on one machine.
bool avx2Refused() noexcept;

/// The highest tier the processor runs at a processor level (AVX2 where
/// cpuHasAvx2()), capped by the environment: Q5_MAX_TIER = scalar, sse2, sse3 or
/// avx2, and Q5_NO_AVX2 as a cap at sse3. Any other Q5_MAX_TIER value caps nothing.
KernelTier kernelTier(int cpuLevel) noexcept;

// ---- Working buffers --------------------------------------------------------

/// Geometry of the working planes: floats per luma row and rows per plane.
struct SizeClass {
    int stride;
    int rows;
};

/// Per-thread scratch; one set for each thread index 0..3.
struct ScratchSet {
    std::int16_t *scratchQuarter;  // (stride / 4) * 6 bytes, zeroed when (re)allocated: rounding remainders
    std::int16_t *scratch400;      // 400 bytes: the block pass's window
    float *scratchOctets;          // octet lines for the column passes and the luma band sweep
};

/// Octet lines of `rows` positions (eight floats each) that every thread's octet
/// scratch holds, one after the other.
constexpr int kOctetLines = 11;

/// Rows of `stride` floats that every thread's octet scratch holds as well, for the
/// stages that sweep the planes row by row (the luma output lays out four octet
/// lines and 26 rows of bands and samples along the rows). The scratch is the larger
/// of the two shapes; a stage that lays out more must raise this, and checks that
/// it fits where it lays its buffers out.
constexpr int kScratchStrideRows = 58;

constexpr int kScratchSets = 4;
/// The most threads a stage shares its work among; any more idle.
constexpr int kMaxThreads = 256;

/// The working planes and scratch, all made for one size class.
struct WorkBuffers {
    SizeClass planes;  // the size class the planes (and the scratch) were made for
    // The five allocations, in allocation order. The frame being analysed has no
    // plane of its own: its luma rows pass through its slot of yRingA.
    float *lumaBlock;
    float *cbBlock;
    std::int16_t *cbAux;
    float *crBlock;
    std::int16_t *crAux;
    // Planes carved from the blocks.
    float *yRingA, *yRingB;
    float *cbRingA, *cbRingB;
    float *crRingA, *crRingB;
    ScratchSet scratch[kScratchSets];
    // Octet scratch of threads kScratchSets .. kScratchSets + extraOctetCount - 1,
    // made the first time the host runs them (ensureOctetScratch).
    float *extraOctets[kMaxThreads - kScratchSets];
    int extraOctetCount;
};


/// Inside each ring buffer (yRingA .. crRingB) the three slots follow one another,
/// each slot's lines one after the other, so analysing a frame writes only its own
/// slot and the temporal stage streams the three. A luma slot has `rows` lines of
/// `stride` positions, a chroma slot `stride` / 2 lines (chroma columns) of `rows`.
inline float *ringSlot(float *ring, int slot, long lines, long len) noexcept {
    return ring + slot * lines * len;
}

/// The thread's octet scratch, 32-byte aligned (scratchOctets of threads 0..3, then
/// extraOctets).
float *octetScratch(const WorkBuffers &b, int thread) noexcept;

/// Octet line i of the thread's octet scratch seen as lines of `positions` positions
/// each, one after the other (kOctetLines x rows positions fit every use).
inline float *octetScratchLine(const WorkBuffers &b, int thread, long positions, int i) noexcept {
    return octetScratch(b, thread) + 8L * positions * i;
}

/// The frame's picture in the working planes: the size class and where the (rounded)
/// picture sits in it, as every stage that reads or writes the planes places it.
struct PlaneGeometry {
    int stride, rows;  // the size class
    int w, h;          // the rounded picture
    long pitch;        // pixels from one row of a host image to the next
    int lumaPad;       // the picture's first column in a luma row
    int chromaPad;     // the picture's first chroma line (column of chroma)
};
/// The frame's placement in planes of size class sc (the class of the buffers the
/// stage is handed).
inline PlaneGeometry planeGeometry(const FILTER_PROC_INFO *fpip, SizeClass sc) noexcept {
    const int stride = sc.stride;
    return {stride, sc.rows, fpip->w, fpip->h, fpip->max_w, (stride - fpip->w) / 2, (stride - fpip->w) / 4};
}

/// Byte sizes of every buffer for a size class.
struct WorkBufferSizes {
    std::size_t lumaBlock, chromaBlock, chromaAux;
    std::size_t scratchQuarter, scratch400, scratchOctets;
};
WorkBufferSizes workBufferSizes(SizeClass sc) noexcept;

/// (Re)allocates every buffer of b for size class sc and returns true only if every
/// allocation succeeded. The planes' old contents are gone: the caller empties the
/// frame ring.
bool allocateWorkBuffers(WorkBuffers &b, SizeClass sc) noexcept;

/// Releases every buffer of b and leaves each pointer null; a second call does nothing.
void releaseWorkBuffers(WorkBuffers &b) noexcept;

/// The system allocation every buffer comes from, released with std::free: malloc
/// in the module (core/system_memory.cpp); the unit tests link one that can fail.
void *systemAllocate(std::size_t size) noexcept;

// ---- Sharing a stage among the host's threads ------------------------------

/// Octet scratch in b for thread indices kScratchSets and up, which only the stages
/// that split among every thread use. The driver asks for it (between dispatches, on
/// the calling thread) once a stage has shown that the host runs that many threads;
/// it is kept until the buffers are allocated again or released. Returns how many
/// threads, counting the four scratch sets, now have octet scratch: fewer than asked
/// for if an allocation failed, in which case the stages share their work among that
/// many.
int ensureOctetScratch(WorkBuffers &b, int threads) noexcept;

// ---- What the driver hands every stage --------------------------------------

struct WaveletKernels;
struct PrefilterKernels;
struct TemporalKernels;
struct RoundingKernels;

/// The kernel tables of one tier, one per family (each family's header defines its
/// table). func_init builds the module's once, for the processor's tier; the stages
/// reach every kernel through the record their parameters carry, and a test builds
/// its own for the tier it checks.
struct KernelTables {
    KernelTier tier;
    const WaveletKernels *wavelet;
    const PrefilterKernels *prefilter;
    const TemporalKernels *temporal;
    const RoundingKernels *rounding;
};

/// What a stage that works in the planes gets beside its own settings.
struct StageContext {
    const KernelTables *kernels;
    WorkBuffers *buffers;  // the planes and scratch, of size class buffers->planes
    int *threadsSeen;      // the driver's note of the host's thread count (or null)
};

/// The threads a stage splits its work among: the host's, as far as each has scratch
/// in context.buffers. Thread 0 also notes the host's thread count in
/// *context.threadsSeen (when not null), a field of the driver's that it reads
/// between dispatches to give the next stages scratch for every thread.
int workingThreads(const StageContext &context, int thread_id, int thread_num) noexcept;

/// A stage's work as up to three runs of units (octets of lines or columns), each
/// unit of a run costing the same; the runs follow one another in one sequence of
/// units numbered from 0.
struct StageWork {
    int units[3];
    long unitCost[3];
};

/// Units [first, end) of the sequence that thread `thread` of `threads` runs: one
/// contiguous share each, cut where the cost so far reaches thread / threads of the
/// whole. Shares cover every unit exactly once whatever the thread count, and every
/// unit's result is independent of who runs it, so the frames are the same for any
/// split.
struct UnitRange {
    int first, end;
};
UnitRange threadShare(const StageWork &work, int thread, int threads) noexcept;

/// The part of a share that falls in run k, as units counted from that run's start
/// (empty, first == end, when none does).
inline UnitRange runPart(const StageWork &work, UnitRange share, int k) noexcept {
    int start = 0;
    for (int i = 0; i < k; ++i) start += work.units[i];
    const int end = start + work.units[k];
    const int a = share.first > start ? share.first : start;
    const int b = share.end < end ? share.end : end;
    return a < b ? UnitRange{a - start, b - start} : UnitRange{0, 0};
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

/// The strengths of the sliders and check boxes of fp.
NrStrengths strengthsFor(const FILTER *fp) noexcept;

/// Recomputes nrStrengths from the sliders and check boxes of fp.
void deriveStrengths(const FILTER *fp) noexcept;
