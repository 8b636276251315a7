// Checks the structured-exception guard the processor check relies on: a
// faulting probe instruction is caught and skipped, a harmless one runs, and
// the SSE probe itself runs on any processor that can run this host.
#include "platform/platform.h"
#include "win32/checks.h"
#include "win32/commands.h"

namespace {

extern "C" void q5ProbeUd2() __asm__("q5ProbeUd2");
extern "C" const char q5ProbeUd2Resume[] __asm__("q5ProbeUd2Resume");
extern "C" void q5ProbeNullWrite() __asm__("q5ProbeNullWrite");
extern "C" const char q5ProbeNullWriteResume[] __asm__("q5ProbeNullWriteResume");
extern "C" void q5ProbeNop() __asm__("q5ProbeNop");
extern "C" const char q5ProbeNopResume[] __asm__("q5ProbeNopResume");
__asm__(
    ".text\n"
    "q5ProbeUd2:\n"
    "    ud2\n"
    "q5ProbeUd2Resume:\n"
    "    ret\n"
    "q5ProbeNullWrite:\n"
    "    movl $1, 0\n"
    "q5ProbeNullWriteResume:\n"
    "    ret\n"
    "q5ProbeNop:\n"
    "    nop\n"
    "q5ProbeNopResume:\n"
    "    ret\n");

}  // namespace

namespace q5win {

int guardCommand() {
    Checks checks("guard");
    checks.expect(!instructionRuns(q5ProbeUd2, q5ProbeUd2Resume),
                  "an illegal instruction is caught and reported");
    checks.expect(!instructionRuns(q5ProbeNullWrite, q5ProbeNullWriteResume),
                  "an access violation is caught and reported");
    checks.expect(instructionRuns(q5ProbeNop, q5ProbeNopResume), "a harmless instruction runs");
    // Twice: the guard is removed after each probe and installed afresh.
    checks.expect(!instructionRuns(q5ProbeUd2, q5ProbeUd2Resume), "the guard works a second time");
    checks.expect(sseInstructionsRun(), "SSE instructions run");
    return checks.finish();
}

}  // namespace q5win
