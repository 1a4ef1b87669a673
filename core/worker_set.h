// Threads an owner starts for single actions and must outlive: finished ones are
// joined when the next starts, the rest when the set is destroyed. Any layer may
// keep one; no Qt.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class WorkerSet {
public:
    WorkerSet() = default;
    ~WorkerSet() { Wait(); }
    WorkerSet(const WorkerSet&) = delete;
    WorkerSet& operator=(const WorkerSet&) = delete;

    void Start(std::function<void()> work);
    // Waits for every worker started so far (answering their message boxes when
    // called on the UI thread, see JoinWorker).
    void Wait();
    // True while a worker started here has not finished its work.
    bool Busy() const;
    // Threads held, running or finished and not yet joined.
    size_t Held() const;

private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    mutable std::mutex lock_;
    std::vector<Worker> workers_;
};
