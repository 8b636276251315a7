// The Windows side of the platform layer. The user-interface calls are the real
// ones from user32 and gdi32 (declared by windows.h); what is left here is the
// guard that tells whether the operating system lets SSE instructions run.
#include "platform/platform.h"

namespace {

// The SSE probe: one instruction and a return. Written in assembly so that the
// exception guard knows the exact address of the instruction that may fault and
// of the one to resume at.
extern "C" void q5SseProbe() __asm__("q5SseProbe");
extern "C" const char q5SseProbeResume[] __asm__("q5SseProbeResume");
__asm__(
    ".text\n"
    "q5SseProbe:\n"
    "    xorps %xmm0, %xmm0\n"
    "q5SseProbeResume:\n"
    "    ret\n");

// The probe being run, read by the exception handler. Written only while no
// probe runs; func_init is the only caller and runs on one thread.
const void *volatile guardedAt = nullptr;
const void *volatile resumeAt = nullptr;
volatile LONG guardedFaulted = 0;

// Vectored handlers see every exception of the process first. Only one raised
// by the guarded instruction is ours: it is noted and skipped; everything else
// goes on to the next handler untouched.
LONG CALLBACK guardHandler(EXCEPTION_POINTERS *info) {
    CONTEXT *context = info->ContextRecord;
#if defined(__i386__)
    DWORD &ip = context->Eip;
    using Address = DWORD;
#else
    DWORD64 &ip = context->Rip;
    using Address = DWORD64;
#endif
    if (!guardedAt || ip != reinterpret_cast<Address>(guardedAt))
        return EXCEPTION_CONTINUE_SEARCH;
    guardedFaulted = 1;
    ip = reinterpret_cast<Address>(resumeAt);
    return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

bool instructionRuns(void (*probe)(), const void *resume) noexcept {
    PVOID handler = AddVectoredExceptionHandler(1, guardHandler);
    // Without a guard, a fault would end the host: treat the instructions as unusable.
    if (!handler) return false;
    guardedFaulted = 0;
    resumeAt = resume;
    guardedAt = reinterpret_cast<const void *>(probe);
    probe();
    guardedAt = nullptr;
    RemoveVectoredExceptionHandler(handler);
    return guardedFaulted == 0;
}

bool sseInstructionsRun() noexcept { return instructionRuns(q5SseProbe, q5SseProbeResume); }
