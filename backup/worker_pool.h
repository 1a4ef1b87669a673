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
    // `threads` workers; 0 takes one per core.
    explicit WorkerPool(unsigned threads = 0);
    // Runs what is still queued, then joins the workers.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Queues a task; the future is ready once it has run.
    std::future<void> Submit(std::function<void()> task);
    unsigned size() const { return static_cast<unsigned>(threads_.size()); }

    // One per core, at least 1, at most 8.
    static unsigned DefaultThreads();

private:
    void Run();

    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::packaged_task<void()>> queue_;
    bool closing_ = false;
    std::vector<std::thread> threads_;
};
