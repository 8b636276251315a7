// Our host's exec_multi_thread_func: every thread id once, and a barrier.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "common/thread_pool.h"
#include "support/support.h"

namespace {

struct Record {
    std::atomic<int> calls{0};
    std::atomic<int> finished{0};
    std::vector<std::atomic<int>> perThread = std::vector<std::atomic<int>>(16);
    std::atomic<int> wrongCount{0};
};

void countingWorker(int id, int num, void *p1, void *p2) {
    auto *r = static_cast<Record *>(p1);
    if (num != *static_cast<int *>(p2)) r->wrongCount++;
    r->calls++;
    r->perThread[id]++;
    // The last thread to start must still be waited for.
    std::this_thread::sleep_for(std::chrono::milliseconds(id == num - 1 ? 20 : 1));
    r->finished++;
}

TEST(ThreadPool, RunsEveryThreadIdOnceAndReturnsWhenAllFinish) {
    q5host::Host host(q5test::linkedEntry(), 1);
    for (int threads : {1, 2, 3, 4, 8, 16}) {
        SCOPED_TRACE(threads);
        host.setThreads(threads);
        for (int round = 0; round < 3; ++round) {
            Record r;
            EXPECT_EQ(host.dispatch(&countingWorker, &r, &threads), TRUE);
            EXPECT_EQ(r.finished.load(), threads);
            EXPECT_EQ(r.calls.load(), threads);
            EXPECT_EQ(r.wrongCount.load(), 0);
            for (int id = 0; id < 16; ++id) EXPECT_EQ(r.perThread[id].load(), id < threads ? 1 : 0);
        }
    }
    EXPECT_THROW(host.setThreads(0), std::invalid_argument);
    EXPECT_THROW(host.setThreads(17), std::invalid_argument);
}

// share(): the host's own jobs, taken in pieces by the caller and whichever pool
// threads start in time. Each job outlives the test's calls, so a thread that ran
// one after its share() returned is counted, not a crash.
struct SharedJob {
    std::atomic<int> next{0};
    std::vector<std::atomic<int>> pieces = std::vector<std::atomic<int>>(64);
    std::atomic<bool> returned{false};
    std::atomic<int> late{0};
};

void sharingWorker(int, int, void *p1, void *) {
    auto *job = static_cast<SharedJob *>(p1);
    for (int i; (i = job->next++) < 64;) job->pieces[i]++;
    if (job->returned) job->late++;
}

TEST(ThreadPool, ShareDoesEachJobOnceAndLeavesNoThreadBehind) {
    for (int threads : {1, 2, 4}) {
        SCOPED_TRACE(threads);
        q5host::ThreadPool pool(threads);
        std::vector<SharedJob> jobs(300);
        for (std::size_t k = 0; k < jobs.size(); ++k) {
            pool.share(&sharingWorker, &jobs[k], nullptr);
            jobs[k].returned = true;
            for (int i = 0; i < 64; ++i) ASSERT_EQ(jobs[k].pieces[i].load(), 1) << "job " << k << " piece " << i;
            // exec between shares still runs every thread, those left out of a share too.
            if (k % 50 == 49) {
                Record r;
                pool.exec(&countingWorker, &r, &threads);
                ASSERT_EQ(r.finished.load(), threads);
            }
        }
        for (const SharedJob &job : jobs) EXPECT_EQ(job.late.load(), 0);
    }
}

}  // namespace
