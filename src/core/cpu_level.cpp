// Processor check. Built without SSE3 so that it runs on the processors it rejects.
#include <cpuid.h>

#include <cstdlib>
#include <cstring>

#include "core/core.h"
#include "platform/platform.h"

int CpuLevel = 0;

namespace {

// Whether the ID flag (bit 21) of EFLAGS can be toggled, i.e. CPUID exists.
bool hasCpuid() noexcept {
#if defined(__i386__)
    unsigned before, after;
    __asm__ volatile(
        "pushfl\n\t"
        "popl %0\n\t"
        "movl %0, %1\n\t"
        "xorl $0x200000, %1\n\t"
        "pushl %1\n\t"
        "popfl\n\t"
        "pushfl\n\t"
        "popl %1\n\t"
        "pushl %0\n\t"
        "popfl\n\t"
        : "=&r"(before), "=&r"(after)
        :
        : "cc");
    return ((before ^ after) & 0x200000u) != 0;
#else
    return true;  // every x86-64 processor has CPUID
#endif
}

}  // namespace

int detectCpuLevel() noexcept {
    if (!hasCpuid()) return 0;
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return 0;
    int level;
    if (!(edx & (1u << 26)))
        level = 0;  // no SSE2
    else if (ecx & 1u)
        level = 2;  // SSE3
    else
        level = 1;
    if (level > 0 && !sseInstructionsRun()) level = 0;
    return level;
}

bool cpuHasAvx2() noexcept {
    if (!hasCpuid()) return false;
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    const bool osSavesYmm = (ecx & (1u << 27)) != 0, avx = (ecx & (1u << 28)) != 0;
    if (!osSavesYmm || !avx) return false;
    // The system must save the SSE and AVX register state on task switches (XCR0 bits 1, 2).
    unsigned xcr0Low, xcr0High;
    __asm__ volatile(".byte 0x0f, 0x01, 0xd0" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
    if ((xcr0Low & 6u) != 6u) return false;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
    return (ebx & (1u << 5)) != 0;
}

KernelTier kernelTier(int cpuLevel) noexcept {
    KernelTier tier = cpuLevel >= 2 && cpuHasAvx2() ? kTierAvx2 : cpuLevel >= 1 ? kTierSse2 : kTierScalar;
    if (const char *cap = std::getenv("Q5_MAX_TIER")) {
        static const char *const names[] = {"scalar", "sse2", "avx2"};
        for (int t = 0; t < 3; ++t)
            if (std::strcmp(cap, names[t]) == 0 && tier > t) tier = static_cast<KernelTier>(t);
    }
    return tier;
}
