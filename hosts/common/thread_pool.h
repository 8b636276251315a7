// The worker threads behind exec_multi_thread_func in our hosts: every worker runs
// on every thread, and exec returns only when all have finished, the barrier the
// filter relies on between its stages. Built from thread_pool_std.cpp natively and
// from thread_pool_win32.cpp for the Windows test host, whose MinGW runtime has no
// std::thread.
#pragma once

#include <memory>

#include "abi/host_api.h"

namespace q5host {

class ThreadPool {
public:
    explicit ThreadPool(int threads);
    ~ThreadPool();
    ThreadPool(const ThreadPool &) = delete;
    ThreadPool &operator=(const ThreadPool &) = delete;

    int size() const { return count_; }
    /// Runs func(id, size(), param1, param2) on every thread and waits for all.
    void exec(MULTI_THREAD_FUNC func, void *param1, void *param2);
    /// For the host's own work, never the filter's: runs func on the calling thread
    /// and on the pool's threads that start before the caller's call returns, and
    /// waits for those. func must do the whole job on any number of threads, ids and
    /// count meaning nothing (it takes its pieces from a shared counter): a thread
    /// the system runs late then holds nothing up. (The Windows test host's pool runs
    /// it as exec does.)
    void share(MULTI_THREAD_FUNC func, void *param1, void *param2);

    struct Threads;

private:
    int count_;
    std::unique_ptr<Threads> threads_;
};

}  // namespace q5host
