// Signals and descriptors: what the program settles at start, and the cleanup of
// temporaries when a signal ends it.
#include "cli/io/signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace q5cli {

namespace {

// The signals whose default action ends the program and that a user or a tool
// sends to stop it (or sends by mistake).
constexpr int kTerminating[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM};

// Temporaries to remove if a signal ends the program: fixed storage, because the
// handler may only call async-signal-safe functions.
constexpr int kMaxTemps = 8;
char tempPaths[kMaxTemps][4096];
volatile sig_atomic_t tempUsed[kMaxTemps];
// While work that must finish runs, a signal is only noted, on whichever thread it
// arrives, and acted on afterwards.
volatile sig_atomic_t holding = 0, heldSignal = 0;

extern "C" void removeTempsAndDie(int sig) {
    if (holding) {
        heldSignal = sig;
        return;
    }
    for (int i = 0; i < kMaxTemps; ++i)
        if (tempUsed[i]) unlink(tempPaths[i]);
    signal(sig, SIG_DFL);
    raise(sig);
}

void installSignalCleanup() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    for (int sig : kTerminating) {
        struct sigaction old {};
        // Ignored at start (nohup, a shell's background job): the caller's choice stands.
        if (sigaction(sig, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL)
            continue;
        struct sigaction sa {};
        sa.sa_handler = removeTempsAndDie;
        sa.sa_flags = SA_RESTART;
        sigemptyset(&sa.sa_mask);
        for (int other : kTerminating) sigaddset(&sa.sa_mask, other);
        sigaction(sig, &sa, nullptr);
    }
}

}  // namespace

void prepareProcess() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor: this one.
        const int opened = open("/dev/null", O_RDWR);
        if (opened >= 0 && opened != fd) close(opened);
    }
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
}

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
