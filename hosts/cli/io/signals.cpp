// Signals and descriptors: what the program settles at start, and the cleanup of
// temporaries when a signal ends it.
#include "cli/io/signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

namespace q5cli {

namespace {

// Every signal whose default action ends the program, from a user's kill to a CPU
// limit (SIGXCPU) or a profiler's timer, and the real-time ones. SIGKILL and SIGSTOP
// cannot be caught; SIGPIPE and SIGXFSZ are ignored (prepareProcess).
std::vector<int> terminatingSignals() {
    std::vector<int> signals = {SIGHUP, SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT,   SIGBUS,
                                SIGFPE, SIGUSR1, SIGSEGV, SIGUSR2, SIGALRM, SIGTERM,   SIGXCPU,
                                SIGVTALRM, SIGPROF, SIGIO, SIGSYS};
#ifdef SIGSTKFLT
    signals.push_back(SIGSTKFLT);
#endif
#ifdef SIGPWR
    signals.push_back(SIGPWR);
#endif
#ifdef SIGRTMIN
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) signals.push_back(sig);
#endif
    return signals;
}

// Temporaries to remove if a signal ends the program: fixed storage, because the
// handler may only call async-signal-safe functions.
constexpr int kMaxTemps = 8;
char tempPaths[kMaxTemps][4096];
volatile sig_atomic_t tempUsed[kMaxTemps];
// While work that must finish runs, a signal is only noted, on whichever thread it
// arrives, and acted on afterwards.
volatile sig_atomic_t holding = 0, heldSignal = 0;
// Descriptors 0 to 2 that were closed when the program started.
bool closedAtStartup[3];

void removeTempsAndDie(int sig) {
    for (int i = 0; i < kMaxTemps; ++i)
        if (tempUsed[i]) unlink(tempPaths[i]);
    signal(sig, SIG_DFL);
    raise(sig);
}

extern "C" void onTerminatingSignal(int sig, siginfo_t *info, void *) {
    // A signal sent by a process waits; a fault of our own (a bad access, a bus error
    // on a mapped file) cannot, since returning would only repeat it.
    const bool sent = !info || info->si_code <= 0;
    if (holding && sent) {
        heldSignal = sig;
        return;
    }
    removeTempsAndDie(sig);
}

void installSignalCleanup() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    const std::vector<int> signals = terminatingSignals();
    for (int sig : signals) {
        struct sigaction old {};
        // Ignored at start (nohup, a shell's background job): the caller's choice stands.
        if (sigaction(sig, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL)
            continue;
        struct sigaction sa {};
        sa.sa_sigaction = onTerminatingSignal;
        sa.sa_flags = SA_RESTART | SA_SIGINFO;
        sigemptyset(&sa.sa_mask);
        for (int other : signals) sigaddset(&sa.sa_mask, other);
        sigaction(sig, &sa, nullptr);
    }
}

}  // namespace

void prepareProcess() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        closedAtStartup[fd] = true;
        // The lowest free descriptor: this one.
        const int opened = open("/dev/null", O_RDWR);
        if (opened >= 0 && opened != fd) close(opened);
    }
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
}

bool closedAtStart(int fd) { return fd >= 0 && fd <= 2 && closedAtStartup[fd]; }

void rememberTemp(const std::string &path) {
    installSignalCleanup();
    if (path.size() >= sizeof tempPaths[0]) return;
    for (int i = 0; i < kMaxTemps; ++i)
        if (!tempUsed[i]) {
            std::memcpy(tempPaths[i], path.c_str(), path.size() + 1);
            tempUsed[i] = 1;
            return;
        }
}

void forgetTemp(const std::string &path) {
    for (int i = 0; i < kMaxTemps; ++i)
        if (tempUsed[i] && path == tempPaths[i]) tempUsed[i] = 0;
}

SignalsHeld::SignalsHeld() {
    installSignalCleanup();
    holding = holding + 1;
}

SignalsHeld::~SignalsHeld() {
    holding = holding - 1;
    if (holding == 0)
        if (const int sig = heldSignal) removeTempsAndDie(sig);
}

}  // namespace q5cli
