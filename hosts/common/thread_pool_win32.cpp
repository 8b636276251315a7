// The worker threads with Win32 threads and events: one auto-reset start event per
// thread and one done event the last thread to finish sets; each worker entered at
// a stack alignment that changes from call to call.
#include <vector>

#include "common/thread_pool.h"

// Calls call->func(id, count, param1, param2) with the stack pointer moved down to a
// 32-byte boundary and then call->offset bytes further, so that the worker enters
// at the alignment the offset picks (cdecl: the callee finds its return address
// at esp and the arguments above it).
struct StackOffsetCall {
    MULTI_THREAD_FUNC func;  // 0
    int id, count;           // 4, 8
    void *param1, *param2;   // 12, 16
    unsigned offset;         // 20, a multiple of 4 below 32
};
extern "C" void q5winCallAtStackOffset(const StackOffsetCall *call);
__asm__(
    ".text\n"
    "_q5winCallAtStackOffset:\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  pushl %ebx\n"
    "  movl 8(%ebp), %ebx\n"
    "  andl $-32, %esp\n"
    "  subl 20(%ebx), %esp\n"
    "  subl $16, %esp\n"
    "  movl 4(%ebx), %eax\n"
    "  movl %eax, 0(%esp)\n"
    "  movl 8(%ebx), %eax\n"
    "  movl %eax, 4(%esp)\n"
    "  movl 12(%ebx), %eax\n"
    "  movl %eax, 8(%esp)\n"
    "  movl 16(%ebx), %eax\n"
    "  movl %eax, 12(%esp)\n"
    "  call *(%ebx)\n"
    "  movl -4(%ebp), %ebx\n"
    "  movl %ebp, %esp\n"
    "  popl %ebp\n"
    "  ret\n");

namespace q5host {

struct ThreadPool::Threads {
    int count = 0;
    std::vector<HANDLE> threads;
    std::vector<HANDLE> start;  // one auto-reset event per thread
    HANDLE done = nullptr;
    volatile LONG pending = 0;
    volatile LONG nextId = 0;
    bool stopping = false;
    MULTI_THREAD_FUNC func = nullptr;
    void *param1 = nullptr;
    void *param2 = nullptr;

    static DWORD WINAPI threadMain(LPVOID self) {
        auto *t = static_cast<Threads *>(self);
        t->run(static_cast<int>(InterlockedIncrement(&t->nextId) - 1));
        return 0;
    }

    // Setting and waiting on an event are full memory barriers, so the worker and
    // its parameters written before SetEvent are seen by every thread.
    // The editor's threads promise the plug-in no more than 4-byte stack alignment:
    // each call enters the worker at the next of the eight 4-byte steps below a 32-byte
    // boundary, so a kernel that keeps 16- or 32-byte values on an unaligned stack
    // faults here within a few calls instead of on some user's machine.
    void run(int id) {
        for (unsigned calls = static_cast<unsigned>(id);; ++calls) {
            WaitForSingleObject(start[id], INFINITE);
            if (stopping) return;
            const StackOffsetCall call{func, id, count, param1, param2, calls % 8 * 4};
            q5winCallAtStackOffset(&call);
            if (InterlockedDecrement(&pending) == 0) SetEvent(done);
        }
    }
};

ThreadPool::ThreadPool(int threads) : count_(threads), threads_(std::make_unique<Threads>()) {
    Threads &t = *threads_;
    t.count = threads;
    t.done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    for (int i = 0; i < threads; ++i) t.start.push_back(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    for (int i = 0; i < threads; ++i)
        t.threads.push_back(CreateThread(nullptr, 0, &Threads::threadMain, &t, 0, nullptr));
}

ThreadPool::~ThreadPool() {
    Threads &t = *threads_;
    t.stopping = true;
    for (HANDLE e : t.start) SetEvent(e);
    WaitForMultipleObjects(static_cast<DWORD>(t.threads.size()), t.threads.data(), TRUE, INFINITE);
    for (HANDLE h : t.threads) CloseHandle(h);
    for (HANDLE e : t.start) CloseHandle(e);
    CloseHandle(t.done);
}

void ThreadPool::exec(MULTI_THREAD_FUNC func, void *param1, void *param2) {
    Threads &t = *threads_;
    t.func = func;
    t.param1 = param1;
    t.param2 = param2;
    t.pending = count_;
    for (HANDLE e : t.start) SetEvent(e);
    WaitForSingleObject(t.done, INFINITE);
}

void ThreadPool::share(MULTI_THREAD_FUNC func, void *param1, void *param2) { exec(func, param1, param2); }

}  // namespace q5host
