#include "backup/worker_pool.h"

#include <utility>

unsigned WorkerPool::DefaultThreads() {
    unsigned n = std::thread::hardware_concurrency();
    if (n == 0) n = 1;
    return n > 8 ? 8 : n;
}

WorkerPool::WorkerPool(unsigned threads) {
    if (threads == 0) threads = DefaultThreads();
    threads_.reserve(threads);
    for (unsigned i = 0; i < threads; ++i) threads_.emplace_back(&WorkerPool::Run, this);
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
    }
    wake_.notify_one();
    return done;
}

void WorkerPool::Run() {
    for (;;) {
        std::packaged_task<void()> job;
        {
            std::unique_lock<std::mutex> lock(lock_);
            wake_.wait(lock, [this] { return closing_ || !queue_.empty(); });
            if (queue_.empty()) return;
            job = std::move(queue_.front());
            queue_.pop_front();
        }
        job();
    }
}
