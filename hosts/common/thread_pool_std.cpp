// The worker threads with the standard library's threads: one generation count
// wakes every thread for a worker, and the last one to finish wakes the caller.
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "common/thread_pool.h"

namespace q5host {

struct ThreadPool::Threads {
    int count;
    std::vector<std::thread> threads;
    std::mutex mutex;
    std::condition_variable wake, done;
    unsigned long generation = 0;
    bool stopping = false;
    bool open = false;     // the current call still takes threads
    bool sharing = false;  // share(): threads count themselves in as they start
    int pending = 0;
    MULTI_THREAD_FUNC func = nullptr;
    void *param1 = nullptr;
    void *param2 = nullptr;

    void run(int id) {
        unsigned long seen = 0;
        for (;;) {
            MULTI_THREAD_FUNC f;
            void *p1, *p2;
            {
                std::unique_lock<std::mutex> lock(mutex);
                wake.wait(lock, [&] { return generation != seen; });
                seen = generation;
                if (stopping) return;
                if (!open) continue;  // a shared call its caller has already finished
                if (sharing) ++pending;
                f = func;
                p1 = param1;
                p2 = param2;
            }
            f(id, count, p1, p2);
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (--pending == 0) done.notify_one();
            }
        }
    }
};

ThreadPool::ThreadPool(int threads) : count_(threads), threads_(std::make_unique<Threads>()) {
    threads_->count = threads;
    for (int i = 0; i < threads; ++i) threads_->threads.emplace_back([this, i] { threads_->run(i); });
}

ThreadPool::~ThreadPool() {
    {
        std::lock_guard<std::mutex> lock(threads_->mutex);
        threads_->stopping = true;
        ++threads_->generation;
    }
    threads_->wake.notify_all();
    for (auto &t : threads_->threads) t.join();
}

void ThreadPool::exec(MULTI_THREAD_FUNC func, void *param1, void *param2) {
    Threads &t = *threads_;
    std::unique_lock<std::mutex> lock(t.mutex);
    t.func = func;
    t.param1 = param1;
    t.param2 = param2;
    t.pending = count_;
    t.open = true;
    t.sharing = false;
    ++t.generation;
    t.wake.notify_all();
    t.done.wait(lock, [&t] { return t.pending == 0; });
}

void ThreadPool::share(MULTI_THREAD_FUNC func, void *param1, void *param2) {
    Threads &t = *threads_;
    {
        std::lock_guard<std::mutex> lock(t.mutex);
        t.func = func;
        t.param1 = param1;
        t.param2 = param2;
        t.pending = 0;
        t.open = true;
        t.sharing = true;
        ++t.generation;
    }
    t.wake.notify_all();
    func(count_, count_ + 1, param1, param2);
    std::unique_lock<std::mutex> lock(t.mutex);
    t.open = false;
    t.done.wait(lock, [&t] { return t.pending == 0; });
}

}  // namespace q5host
