// The working buffers: the ring planes carved from three large blocks, two aux
// planes, and three scratch buffers for each of four worker threads. Allocated for
// the 1920 x 1088 class at load and again on every change of the rounded frame
// size, never per frame. Every buffer is 16-byte aligned for aligned 128-bit loads
// and stores.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

#include "core/core.h"

namespace {

// 16-byte aligned blocks, written by hand so the same code serves every C
// runtime: the pointer returned by malloc is kept just below the aligned start.
void alignedFree(void *p) noexcept {
    if (p) std::free(static_cast<void **>(p)[-1]);
}

// The planes start on a 2 MB boundary and, where the system offers it, ask for 2 MB
// pages: the column passes go from one row of a plane to the next, each row on a
// 4 KB page of its own, which would miss the address translation cache on every row.
constexpr std::size_t kLargePage = std::size_t{1} << 21;

void *alignedAlloc(std::size_t size) noexcept {
    const std::size_t alignment = size >= kLargePage ? kLargePage : 16;
    void *raw = systemAllocate(size + alignment + sizeof(void *));
    if (!raw) return nullptr;
    auto start = reinterpret_cast<std::uintptr_t>(raw) + sizeof(void *);
    start = (start + alignment - 1) & ~static_cast<std::uintptr_t>(alignment - 1);
    void *aligned = reinterpret_cast<void *>(start);
    static_cast<void **>(aligned)[-1] = raw;
#if defined(__SANITIZE_ADDRESS__)
    // The slack on either side of the block is the allocator's, not the buffer's:
    // marked unaddressable, so that AddressSanitizer sees an overrun of even one
    // byte past the end (or before the start) as it would with an exact allocation.
    char *const block = static_cast<char *>(raw);
    char *const end = static_cast<char *>(aligned) + size;
    ASAN_POISON_MEMORY_REGION(block, static_cast<char *>(aligned) - sizeof(void *) - block);
    ASAN_POISON_MEMORY_REGION(end, block + size + alignment + sizeof(void *) - end);
#endif
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (alignment == kLargePage) madvise(aligned, size & ~(kLargePage - 1), MADV_HUGEPAGE);
#endif
    return aligned;
}

// Resizes one buffer. Contents are not kept: every caller empties the frame ring
// after an allocation, so every plane is rewritten before it is read.
template <typename T>
bool resize(T *&buffer, std::size_t size) noexcept {
    alignedFree(buffer);
    buffer = static_cast<T *>(alignedAlloc(size));
    return buffer != nullptr;
}

template <typename T>
void release(T *&buffer) noexcept {
    alignedFree(buffer);
    buffer = nullptr;
}

}  // namespace

WorkBufferSizes workBufferSizes(SizeClass sc) noexcept {
    const std::size_t stride = static_cast<std::size_t>(sc.stride);
    const std::size_t rows = static_cast<std::size_t>(sc.rows);
    WorkBufferSizes s{};
    s.lumaBlock = rows * stride * 24;
    s.chromaBlock = rows * (stride / 2) * 24;
    s.chromaAux = rows * (stride / 2) * 2;
    s.scratchQuarter = (stride / 4) * 6;
    s.scratch400 = 400;
    // Eight columns side by side in each line, or the row sweeps' rows, whichever
    // is larger (the rows at the widest strides); 32 more bytes to align on 32.
    const std::size_t columnPasses = rows * 8 * kOctetLines;
    const std::size_t rowSweeps = stride * kScratchStrideRows;
    s.scratchOctets = (columnPasses > rowSweeps ? columnPasses : rowSweeps) * sizeof(float) + 32;
    return s;
}

float *octetScratch(const WorkBuffers &b, int thread) noexcept {
    float *block = thread < kScratchSets ? b.scratch[thread].scratchOctets : b.extraOctets[thread - kScratchSets];
    const auto address = reinterpret_cast<std::uintptr_t>(block);
    return reinterpret_cast<float *>((address + 31) & ~static_cast<std::uintptr_t>(31));
}

namespace {

void releaseExtraOctets(WorkBuffers &b) noexcept {
    for (int i = 0; i < b.extraOctetCount; ++i) release(b.extraOctets[i]);
    b.extraOctetCount = 0;
}

}  // namespace

int ensureOctetScratch(WorkBuffers &b, int threads) noexcept {
    if (threads > kMaxThreads) threads = kMaxThreads;
    // Only threads the host actually runs get a set, each once: a frame never allocates.
    while (kScratchSets + b.extraOctetCount < threads &&
           resize(b.extraOctets[b.extraOctetCount], workBufferSizes(b.planes).scratchOctets))
        ++b.extraOctetCount;
    return kScratchSets + b.extraOctetCount;
}

int workingThreads(const StageContext &context, int thread_id, int thread_num) noexcept {
    // Written only by thread 0 inside a dispatch and read by the driver after it
    // returns: each dispatch is a barrier, so no other synchronisation is needed.
    if (thread_id == 0 && context.threadsSeen) *context.threadsSeen = thread_num;
    const int available = kScratchSets + context.buffers->extraOctetCount;
    return thread_num < available ? thread_num : available;
}

UnitRange threadShare(const StageWork &work, int thread, int threads) noexcept {
    // Boundary t is the first unit u whose cost before it reaches t / threads of the
    // whole: cost(u) * threads >= t * total, in integers so every share is exact.
    auto boundary = [&](int t) noexcept {
        long long total = 0;
        for (int k = 0; k < 3; ++k) total += static_cast<long long>(work.units[k]) * work.unitCost[k];
        const long long target = static_cast<long long>(t) * total;
        long long before = 0;
        int start = 0;
        for (int k = 0; k < 3; ++k) {
            const long long step = static_cast<long long>(work.unitCost[k]) * threads;
            if (work.units[k] > 0 && step > 0) {
                const long long need = target - before * threads;
                const long long i = need <= 0 ? 0 : (need + step - 1) / step;
                if (i <= work.units[k]) return start + static_cast<int>(i);
            }
            before += static_cast<long long>(work.units[k]) * work.unitCost[k];
            start += work.units[k];
        }
        return start;
    };
    if (thread < 0 || thread >= threads) return {0, 0};
    return {boundary(thread), boundary(thread + 1)};
}

bool allocateWorkBuffers(WorkBuffers &b, SizeClass sc) noexcept {
    b.planes = sc;
    const WorkBufferSizes sz = workBufferSizes(sc);
    bool ok = true;
    for (ScratchSet &set : b.scratch) {
        if (resize(set.scratchQuarter, sz.scratchQuarter))
            std::memset(set.scratchQuarter, 0, sz.scratchQuarter);  // remainders start at 0
        else
            ok = false;
        ok &= resize(set.scratch400, sz.scratch400);
        ok &= resize(set.scratchOctets, sz.scratchOctets);
    }
    // The scratch of threads beyond the four sets follows the size class: made again
    // for the new class when the host next runs that many threads.
    releaseExtraOctets(b);

    const std::size_t plane = static_cast<std::size_t>(sc.rows) * sc.stride;
    const std::size_t chromaPlane = static_cast<std::size_t>(sc.rows) * (sc.stride / 2);
    b.yRingA = b.yRingB = nullptr;
    b.cbRingA = b.cbRingB = b.crRingA = b.crRingB = nullptr;
    if (resize(b.lumaBlock, sz.lumaBlock)) {
        b.yRingA = b.lumaBlock;
        b.yRingB = b.lumaBlock + 3 * plane;
    } else {
        ok = false;
    }
    // Each chroma plane's block, then its aux plane: Cb, then Cr.
    auto chroma = [&](float *&block, float *&ringA, float *&ringB, std::int16_t *&aux) noexcept {
        if (resize(block, sz.chromaBlock)) {
            ringA = block;
            ringB = block + 3 * chromaPlane;
        } else {
            ok = false;
        }
        ok &= resize(aux, sz.chromaAux);
    };
    chroma(b.cbBlock, b.cbRingA, b.cbRingB, b.cbAux);
    chroma(b.crBlock, b.crRingA, b.crRingB, b.crAux);
    return ok;
}

void releaseWorkBuffers(WorkBuffers &b) noexcept {
    for (ScratchSet &set : b.scratch) {
        release(set.scratchQuarter);
        release(set.scratch400);
        release(set.scratchOctets);
    }
    releaseExtraOctets(b);
    release(b.lumaBlock);
    release(b.cbBlock);
    release(b.cbAux);
    release(b.crBlock);
    release(b.crAux);
    b.yRingA = b.yRingB = nullptr;
    b.cbRingA = b.cbRingB = b.crRingA = b.crRingB = nullptr;
}
