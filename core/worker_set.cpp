#include "core/worker_set.h"

#include "core/message_box.h"

void WorkerSet::Start(std::function<void()> work) {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (it->done->load()) {
            it->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    workers_.push_back(Worker{std::thread([work, done] {
                                  work();
                                  done->store(true);
                              }),
                              done});
}

void WorkerSet::Wait() {
    std::vector<Worker> workers;
    {
        std::lock_guard<std::mutex> guard(lock_);
        workers.swap(workers_);
    }
    for (Worker& w : workers) JoinWorker(w.thread);
}

bool WorkerSet::Busy() const {
    std::lock_guard<std::mutex> guard(lock_);
    for (const Worker& w : workers_)
        if (!w.done->load()) return true;
    return false;
}

size_t WorkerSet::Held() const {
    std::lock_guard<std::mutex> guard(lock_);
    return workers_.size();
}
