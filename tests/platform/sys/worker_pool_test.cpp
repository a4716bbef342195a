#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/sys/worker_pool.h"

namespace {

using lc::WorkerPool;

// Every index runs exactly once, and Run returns only after the slowest one has finished.
TEST(WorkerPool, RunsEachIndexOnceWhateverTheThreadCount)
{
    struct Case
    {
        int threads;
        int count;
    };
    const Case cases[] = {{1, 0}, {1, 5}, {2, 1}, {2, 2}, {3, 7}, {8, 3}, {8, 1000}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.threads << " threads, " << c.count << " tasks");
        WorkerPool pool(c.threads);
        EXPECT_EQ(pool.Threads(), c.threads);
        std::vector<std::atomic<int>> runs(static_cast<size_t>(c.count));
        std::vector<int> out(static_cast<size_t>(c.count), 0);
        pool.Run(c.count, [&](int i) {
            if (i % 3 == 0) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            out[static_cast<size_t>(i)] = i * i + 1;
            runs[static_cast<size_t>(i)].fetch_add(1);
        });
        for (int i = 0; i < c.count; i++) {
            ASSERT_EQ(runs[static_cast<size_t>(i)].load(), 1) << "index " << i;
            ASSERT_EQ(out[static_cast<size_t>(i)], i * i + 1) << "index " << i;
        }
    }
}

// With n threads, n tasks that each wait for all n to arrive finish only when the caller works
// beside the n - 1 workers; with one thread everything runs on the caller.
TEST(WorkerPool, CallerTakesPartBesideTheWorkers)
{
    for (int threads : {1, 4, 8}) {
        SCOPED_TRACE(threads);
        WorkerPool pool(threads);
        std::mutex m;
        std::condition_variable cv;
        int arrived = 0;
        bool allMet = true;
        std::set<std::thread::id> ids;
        pool.Run(threads, [&](int) {
            std::unique_lock<std::mutex> lock(m);
            ids.insert(std::this_thread::get_id());
            arrived++;
            cv.notify_all();
            if (!cv.wait_for(lock, std::chrono::seconds(10), [&] { return arrived == threads; })) {
                allMet = false;
            }
        });
        EXPECT_TRUE(allMet);
        EXPECT_EQ(static_cast<int>(ids.size()), threads);
        EXPECT_EQ(ids.count(std::this_thread::get_id()), 1u);
    }
}

// A Run from inside a task runs inline on that task's thread, so a pool whose workers are all
// busy with the outer Run cannot deadlock.
TEST(WorkerPool, NestedRunRunsInline)
{
    WorkerPool pool(4);
    std::vector<int> sums(16, 0);
    std::atomic<int> foreign{0};
    pool.Run(16, [&](int i) {
        const std::thread::id outer = std::this_thread::get_id();
        int local[8] = {};
        pool.Run(8, [&](int j) {
            if (std::this_thread::get_id() != outer) {
                foreign++;
            }
            local[j] = i + j;
        });
        for (int v : local) {
            sums[static_cast<size_t>(i)] += v;
        }
    });
    EXPECT_EQ(foreign.load(), 0);
    for (int i = 0; i < 16; i++) {
        EXPECT_EQ(sums[static_cast<size_t>(i)], 8 * i + 28);
    }
}

// Several threads share one pool; each Run sees only its own tasks. Many short Runs also check
// that no worker touches a finished Run's job (it lives on the caller's stack).
TEST(WorkerPool, ConcurrentCallersEachGetTheirOwnResults)
{
    WorkerPool pool(8);
    constexpr int kCallers = 4;
    constexpr int kRuns = 300;
    std::atomic<int> bad{0};
    std::vector<std::thread> callers;
    for (int c = 0; c < kCallers; c++) {
        callers.emplace_back([&, c] {
            for (int r = 0; r < kRuns; r++) {
                const int count = 1 + (r + c) % 13;
                std::vector<int> out(static_cast<size_t>(count), -1);
                pool.Run(count, [&](int i) { out[static_cast<size_t>(i)] = c * 1000 + r + i; });
                for (int i = 0; i < count; i++) {
                    if (out[static_cast<size_t>(i)] != c * 1000 + r + i) {
                        bad++;
                    }
                }
            }
        });
    }
    for (std::thread &t : callers) {
        t.join();
    }
    EXPECT_EQ(bad.load(), 0);
}

TEST(WorkerPool, StressManyTinyRuns)
{
    WorkerPool pool(8);
    int64_t total = 0;
    for (int r = 0; r < 20000; r++) {
        int64_t parts[3] = {};
        pool.Run(3, [&](int i) { parts[i] = r + i; });
        total += parts[0] + parts[1] + parts[2];
    }
    // Sum over r of 3r + 3.
    EXPECT_EQ(total, int64_t(3) * 19999 * 20000 / 2 + 3 * 20000);
}

// A background run goes on while its caller does other work (a Run of its own among it): with
// workers, the tasks start before Finish (each waits until the caller has reached its own work),
// and Finish returns once every index has run once. With one thread, or started from inside a
// task, everything runs in Finish.
TEST(WorkerPool, BackgroundRunGoesOnBesideItsCaller)
{
    for (int threads : {1, 2, 8}) {
        SCOPED_TRACE(threads);
        WorkerPool pool(threads);
        for (int count : {0, 1, 5, 40}) {
            SCOPED_TRACE(count);
            std::vector<std::atomic<int>> runs(static_cast<size_t>(count));
            std::atomic<int> startedBeforeFinish{0};
            std::atomic<bool> finishing{false};
            WorkerPool::Background background;
            pool.Start(background, count, [&](int i) {
                if (!finishing.load()) {
                    startedBeforeFinish++;
                }
                runs[static_cast<size_t>(i)].fetch_add(1);
            });
            // The caller's own work, with a Run of its own, while the background run goes on.
            std::atomic<int> sum{0};
            pool.Run(10, [&](int i) { sum += i; });
            EXPECT_EQ(sum.load(), 45);
            if (threads > 1 && count > 0) {
                const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
                while (startedBeforeFinish.load() == 0
                       && std::chrono::steady_clock::now() < deadline) {
                    std::this_thread::yield();
                }
                EXPECT_GT(startedBeforeFinish.load(), 0);
            }
            finishing = true;
            pool.Finish(background);
            EXPECT_FALSE(background.Started());
            if (threads == 1) {
                EXPECT_EQ(startedBeforeFinish.load(), 0);
            }
            for (int i = 0; i < count; i++) {
                ASSERT_EQ(runs[static_cast<size_t>(i)].load(), 1) << "index " << i;
            }
        }
    }
    // Started from inside a task: inline in Finish, on that task's thread.
    WorkerPool pool(4);
    std::atomic<int> foreign{0};
    pool.Run(4, [&](int) {
        const std::thread::id outer = std::this_thread::get_id();
        int local[6] = {};
        WorkerPool::Background inner;
        pool.Start(inner, 6, [&](int j) {
            if (std::this_thread::get_id() != outer) {
                foreign++;
            }
            local[j] = j;
        });
        pool.Finish(inner);
        EXPECT_EQ(local[5], 5);
    });
    EXPECT_EQ(foreign.load(), 0);
}

// A Background that goes out of scope finishes its run first: nothing runs after it is gone.
TEST(WorkerPool, BackgroundFinishesWhenDestroyed)
{
    WorkerPool pool(8);
    std::atomic<int> done{0};
    {
        WorkerPool::Background background;
        pool.Start(background, 16, [&](int) {
            std::this_thread::sleep_for(std::chrono::microseconds(300));
            done++;
        });
    }
    EXPECT_EQ(done.load(), 16);
}

TEST(WorkerPool, SharedPoolResizes)
{
    const int before = lc::SharedWorkerPool().Threads();
    EXPECT_GE(before, 1);
    EXPECT_LE(before, 8);
    for (int n : {1, 8, 3}) {
        lc::SetSharedWorkerThreads(n);
        EXPECT_EQ(lc::SharedWorkerPool().Threads(), n);
        std::atomic<int> sum{0};
        lc::SharedWorkerPool().Run(100, [&](int i) { sum += i; });
        EXPECT_EQ(sum.load(), 4950);
    }
    lc::SetSharedWorkerThreads(before);
}

} // namespace
