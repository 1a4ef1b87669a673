// A fixed set of worker threads for packing and unpacking archives.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

class WorkerPool {
public:
    // Up to `threads` workers (0: one per core), started as tasks arrive and none is idle.
    explicit WorkerPool(unsigned threads = 0);
    // Runs what is still queued, then joins the workers.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Queues a task; the future is ready once it has run.
    std::future<void> Submit(std::function<void()> task);
    // The most workers it runs.
    unsigned size() const { return limit_; }

    // One per core, at least 1, at most 8.
    static unsigned DefaultThreads();

private:
    void Run();

    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::packaged_task<void()>> queue_;
    bool closing_ = false;
    unsigned idle_ = 0;
    unsigned limit_;
    std::vector<std::thread> threads_;
};
