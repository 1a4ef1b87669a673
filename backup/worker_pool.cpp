#include "backup/worker_pool.h"

#include <utility>

unsigned WorkerPool::DefaultThreads() {
    unsigned n = std::thread::hardware_concurrency();
    if (n == 0) n = 1;
    return n > 8 ? 8 : n;
}

WorkerPool::WorkerPool(unsigned threads) : limit_(threads == 0 ? DefaultThreads() : threads) {
    threads_.reserve(limit_);
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        closing_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
}

std::future<void> WorkerPool::Submit(std::function<void()> task) {
    std::packaged_task<void()> job(std::move(task));
    std::future<void> done = job.get_future();
    {
        std::lock_guard<std::mutex> guard(lock_);
        queue_.push_back(std::move(job));
        // Small archives need few threads; a worker is started only when none waits.
        if (idle_ < queue_.size() && threads_.size() < limit_) {
            threads_.emplace_back(&WorkerPool::Run, this);
        }
    }
    wake_.notify_one();
    return done;
}

void WorkerPool::Run() {
    for (;;) {
        std::packaged_task<void()> job;
        {
            std::unique_lock<std::mutex> lock(lock_);
            ++idle_;
            wake_.wait(lock, [this] { return closing_ || !queue_.empty(); });
            --idle_;
            if (queue_.empty()) return;
            job = std::move(queue_.front());
            queue_.pop_front();
        }
        job();
    }
}
