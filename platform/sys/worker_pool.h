#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace lc {

// A persistent pool: its threads start once and sleep until a Run wakes them, never one thread
// per frame. The thread that calls Run takes part in the work.
class WorkerPool
{
public:
    explicit WorkerPool(int threads); // threads >= 1 (1: everything runs on the caller)
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;
    ~WorkerPool(); // joins the workers; no Run may be in flight

    int Threads() const;

    // Runs task(i) for every i in [0, count), on the workers and the calling thread; returns
    // when all have finished. Safe from several threads at once; a Run from inside a task (of any
    // pool) runs inline on that thread. Which thread runs which index is unspecified, so a task
    // must write only what its index owns: results must never depend on the thread count.
    void Run(int count, const std::function<void(int)> &task);

    // Stops the workers and starts threads - 1 new ones (tests and benchmarks). Must not be
    // called while a Run is in flight.
    void Resize(int threads);

private:
    // One Run in flight; lives on the caller's stack, linked into pending_ while it has
    // unclaimed indices.
    struct Job
    {
        const std::function<void(int)> *task = nullptr;
        int count = 0;
        std::atomic<int> next{0}; // next unclaimed index
        // Workers inside this job; changed under mutex_, read without it by a caller that
        // spins before it sleeps.
        std::atomic<int> users{0};
        Job *link = nullptr;
    };

public:
    // A Run that goes on behind its caller: Start returns at once while the workers take its
    // indices, and Finish, on the same thread, runs what no worker has taken and returns when
    // every index has run. The task and the Background live until Finish; a Background is
    // started again only after Finish. With one thread, or when started from inside a task,
    // every index runs in Finish. As with Run, results must not depend on which thread runs
    // which index.
    class Background
    {
    public:
        Background() = default;
        Background(const Background &) = delete;
        Background &operator=(const Background &) = delete;
        ~Background(); // finishes a run still in flight
        bool Started() const { return pool_ != nullptr; }

    private:
        friend class WorkerPool;
        WorkerPool *pool_ = nullptr;
        bool inline_ = false; // every index runs in Finish
        std::function<void(int)> task_;
        Job job_;
    };
    void Start(Background &run, int count, std::function<void(int)> task);
    void Finish(Background &run);

private:
    void StartWorkers(int threads);
    void StopWorkers();
    void WorkerLoop();
    // Wakes n sleeping workers (all of them when n is every worker).
    void WakeWorkers(int n);
    // Waits until no worker is inside job: a short spin, then a sleep on idle_.
    void WaitForUsers(Job &job, std::unique_lock<std::mutex> &lock);
    // Claims and runs indices of `job` until none are left.
    static void Drain(Job &job);
    void Unlink(Job &job);

    // Takes mutex_, spinning a little before sleeping: the sections under it are short, and a
    // woken worker that slept on it would wake the next only when it lets go.
    std::unique_lock<std::mutex> LockQuickly();

    std::mutex mutex_;
    // Workers sleep on this count, not on the mutex: a Run bumps it, and the workers it wakes go
    // on at once instead of each waiting for the one before to take and leave the mutex.
    std::atomic<uint32_t> wakeCount_{0};
    std::condition_variable idle_; // callers: a worker left a job
    Job *pending_ = nullptr;       // jobs with unclaimed indices, oldest first
    bool stop_ = false;
    int threads_ = 1;
    std::vector<std::thread> workers_;
};

// The process's pool: the processor count capped at 8, made on first use.
WorkerPool &SharedWorkerPool();
// Tests and benchmarks: 1 and 8 must give equal results. Not while a Run is in flight.
void SetSharedWorkerThreads(int n);

} // namespace lc
