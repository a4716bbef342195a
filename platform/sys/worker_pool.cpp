#include "platform/sys/worker_pool.h"

#include <algorithm>
#include <cassert>
#include <chrono>

#include "platform/sys/thread.h"

namespace lc {

namespace {

// Set while this thread runs a task of any pool, so that a Run from inside it runs inline
// instead of waiting for workers that may all be busy with the outer Run.
thread_local bool tInsideTask = false;

constexpr int kMaxSharedThreads = 8;

// How long a caller whose own part of a run is done spins for the workers still inside it before
// it sleeps: they mostly end together, and a caller gone to sleep wakes tens of microseconds after
// the last one leaves. Workers do not spin for the next run: on a busy machine that would take
// the processors from the threads that still work.
constexpr auto kCallerSpin = std::chrono::microseconds(20);

template <typename Done>
void SpinUntil(Done done, std::chrono::microseconds spin)
{
    const auto until = std::chrono::steady_clock::now() + spin;
    for (;;) {
        for (int i = 0; i < 64; i++) {
            if (done()) {
                return;
            }
            __builtin_ia32_pause();
        }
        if (std::chrono::steady_clock::now() >= until) {
            return;
        }
    }
}

} // namespace

WorkerPool::WorkerPool(int threads)
{
    StartWorkers(threads);
}

WorkerPool::~WorkerPool()
{
    StopWorkers();
}

int WorkerPool::Threads() const
{
    return threads_;
}

void WorkerPool::Resize(int threads)
{
    StopWorkers();
    StartWorkers(threads);
}

void WorkerPool::StartWorkers(int threads)
{
    assert(threads >= 1);
    threads_ = std::max(threads, 1);
    workers_.reserve(static_cast<size_t>(threads_ - 1));
    for (int i = 1; i < threads_; i++) {
        workers_.emplace_back([this] { WorkerLoop(); });
    }
}

std::unique_lock<std::mutex> WorkerPool::LockQuickly()
{
    for (int i = 0; i < 200; i++) {
        if (mutex_.try_lock()) {
            return std::unique_lock<std::mutex>(mutex_, std::adopt_lock);
        }
        __builtin_ia32_pause();
    }
    return std::unique_lock<std::mutex>(mutex_);
}

void WorkerPool::StopWorkers()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        assert(pending_ == nullptr);
        stop_ = true;
    }
    wakeCount_.fetch_add(1, std::memory_order_release);
    wakeCount_.notify_all();
    for (std::thread &t : workers_) {
        t.join();
    }
    workers_.clear();
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = false;
}

void WorkerPool::Drain(Job &job)
{
    const bool outer = tInsideTask;
    tInsideTask = true;
    for (;;) {
        const int i = job.next.fetch_add(1, std::memory_order_relaxed);
        if (i >= job.count) {
            break;
        }
        (*job.task)(i);
    }
    tInsideTask = outer;
}

void WorkerPool::Unlink(Job &job)
{
    for (Job **p = &pending_; *p; p = &(*p)->link) {
        if (*p == &job) {
            *p = job.link;
            job.link = nullptr;
            return;
        }
    }
}

void WorkerPool::WakeWorkers(int n)
{
    // All at once: a worker woken in a chain by the one before it starts a wake-up latency
    // (tens of microseconds on an idle processor) after it, and the last of seven would join a
    // short job when it is nearly over.
    wakeCount_.fetch_add(1, std::memory_order_release);
    if (n >= threads_ - 1) {
        wakeCount_.notify_all();
        return;
    }
    for (int i = 0; i < n; i++) {
        wakeCount_.notify_one();
    }
}

void WorkerPool::WaitForUsers(Job &job, std::unique_lock<std::mutex> &lock)
{
    if (job.users.load(std::memory_order_relaxed) == 0) {
        return;
    }
    // The job is out of the list, so no worker enters it any more: the count only falls.
    lock.unlock();
    SpinUntil([&job] { return job.users.load(std::memory_order_relaxed) == 0; }, kCallerSpin);
    lock.lock();
    idle_.wait(lock, [&job] { return job.users.load(std::memory_order_relaxed) == 0; });
}

void WorkerPool::WorkerLoop()
{
    for (;;) {
        // Read before looking at the queue: a Run queued after the look has bumped the count,
        // so the wait below returns at once.
        const uint32_t seen = wakeCount_.load(std::memory_order_acquire);
        std::unique_lock<std::mutex> lock = LockQuickly();
        if (stop_) {
            return;
        }
        if (pending_ == nullptr) {
            lock.unlock();
            wakeCount_.wait(seen, std::memory_order_acquire);
            continue;
        }
        Job &job = *pending_;
        job.users++;
        lock.unlock();
        Drain(job);
        lock = LockQuickly();
        // Every index is claimed: no one else should pick this job up.
        Unlink(job);
        if (--job.users == 0) {
            idle_.notify_all();
        }
    }
}

void WorkerPool::Run(int count, const std::function<void(int)> &task)
{
    if (count <= 0) {
        return;
    }
    if (tInsideTask || threads_ == 1 || count == 1) {
        const bool outer = tInsideTask;
        tInsideTask = true;
        for (int i = 0; i < count; i++) {
            task(i);
        }
        tInsideTask = outer;
        return;
    }
    Job job;
    job.task = &task;
    job.count = count;
    {
        std::unique_lock<std::mutex> lock = LockQuickly();
        Job **tail = &pending_;
        while (*tail) {
            tail = &(*tail)->link;
        }
        *tail = &job;
    }
    // As many workers as there are indices beyond the caller's own.
    WakeWorkers(std::min(count - 1, threads_ - 1));
    Drain(job);
    // The job leaves the list before the wait, so no worker can enter it afterwards; the wait
    // ends when the last worker inside it has finished its index.
    std::unique_lock<std::mutex> lock = LockQuickly();
    Unlink(job);
    WaitForUsers(job, lock);
}

void WorkerPool::Start(Background &run, int count, std::function<void(int)> task)
{
    Finish(run);
    if (count <= 0) {
        return;
    }
    run.pool_ = this;
    run.task_ = std::move(task);
    run.job_.task = &run.task_;
    run.job_.count = count;
    run.job_.next.store(0, std::memory_order_relaxed);
    run.job_.users = 0;
    run.job_.link = nullptr;
    run.inline_ = tInsideTask || threads_ == 1;
    if (run.inline_) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Job **tail = &pending_;
        while (*tail) {
            tail = &(*tail)->link;
        }
        *tail = &run.job_;
    }
    // As many workers as there are indices.
    WakeWorkers(std::min(count, threads_ - 1));
}

void WorkerPool::Finish(Background &run)
{
    if (run.pool_ != this) {
        if (run.pool_) {
            run.pool_->Finish(run);
        }
        return;
    }
    if (run.inline_) {
        const bool outer = tInsideTask;
        tInsideTask = true;
        for (int i = 0; i < run.job_.count; i++) {
            run.task_(i);
        }
        tInsideTask = outer;
    } else {
        Drain(run.job_);
        std::unique_lock<std::mutex> lock = LockQuickly();
        Unlink(run.job_);
        WaitForUsers(run.job_, lock);
    }
    run.pool_ = nullptr;
    run.task_ = nullptr;
}

WorkerPool::Background::~Background()
{
    if (pool_) {
        pool_->Finish(*this);
    }
}

WorkerPool &SharedWorkerPool()
{
    static WorkerPool pool(std::min(ProcessorCount(), kMaxSharedThreads));
    return pool;
}

void SetSharedWorkerThreads(int n)
{
    SharedWorkerPool().Resize(n);
}

} // namespace lc
