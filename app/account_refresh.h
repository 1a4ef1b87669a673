// The lists' refresh after a sign-in or an account switch, on a worker of its own: the
// jobs on the lists finish first, then the local data and the cloud list are read for
// the account now signed in (RunAccountRefresh). A sign-in while one runs runs it once
// more afterwards, so the last account's data is what stays.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

class AccountRefresh {
public:
    AccountRefresh() = default;
    // Stops the wait for the jobs and joins the worker.
    ~AccountRefresh();
    AccountRefresh(const AccountRefresh&) = delete;
    AccountRefresh& operator=(const AccountRefresh&) = delete;

    // Called on the UI thread for each sign-in.
    void Request();
    // Ends the wait for the jobs and joins; nothing runs afterwards. UI thread.
    void Stop();

private:
    void Run();

    std::mutex lock_;
    bool running_ = false;
    bool again_ = false;
    std::atomic<bool> stop_{false};
    std::thread worker_;
};
