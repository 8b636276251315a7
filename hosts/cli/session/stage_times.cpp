// The two clocks of --stats.
#include "cli/session/stage_times.h"

#include <chrono>
#include <ctime>

namespace q5cli {

StageTime stageClock() {
    timespec cpu {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    return {std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(),
            static_cast<double>(cpu.tv_sec) + cpu.tv_nsec * 1e-9};
}

StageTime since(const StageTime &start) { return stageClock().minus(start); }

}  // namespace q5cli
