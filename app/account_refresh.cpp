#include "app/account_refresh.h"

#include "backup/backup_jobs.h"
#include "core/message_box.h"

AccountRefresh::~AccountRefresh() {
    Stop();
}

void AccountRefresh::Request() {
    std::lock_guard<std::mutex> guard(lock_);
    if (stop_) return;
    if (running_) {
        again_ = true;
        return;
    }
    // The previous worker has ended (running_ is false): its join returns at once.
    if (worker_.joinable()) worker_.join();
    running_ = true;
    worker_ = std::thread([this] { Run(); });
}

void AccountRefresh::Run() {
    for (;;) {
        RunAccountRefresh(stop_);
        std::lock_guard<std::mutex> guard(lock_);
        if (!again_ || stop_) {
            running_ = false;
            return;
        }
        again_ = false;
    }
}

void AccountRefresh::Stop() {
    std::thread worker;
    {
        std::lock_guard<std::mutex> guard(lock_);
        stop_ = true;
        worker.swap(worker_);
    }
    JoinWorker(worker);
}
