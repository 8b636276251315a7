// The worker threads with Win32 threads and events: one auto-reset start event per
// thread and one done event the last thread to finish sets.
#include <vector>

#include "common/thread_pool.h"

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
    void run(int id) {
        for (;;) {
            WaitForSingleObject(start[id], INFINITE);
            if (stopping) return;
            func(id, count, param1, param2);
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

}  // namespace q5host
