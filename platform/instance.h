// One running instance per machine, across all users, and the way a second start
// asks the first to come forward.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace platform {

// Holds the machine-wide instance lock for its lifetime.
class InstanceLock {
public:
    InstanceLock();
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // False when another process holds the lock (or it cannot be had at all).
    bool Acquire();

private:
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

// Asks the running instance's top-level window with this title to show itself.
// Returns true when a running instance received the request.
bool ActivateRunningInstance(const std::string& utf8Title);

// Receives activation requests from later starts and hands the requested window
// title to `onRequest` on the listener's own thread. Stops in its destructor.
// On Windows the request arrives as a window message instead and this does nothing.
class ActivationListener {
public:
    explicit ActivationListener(std::function<void(const std::string& utf8Title)> onRequest);
    ~ActivationListener();
    ActivationListener(const ActivationListener&) = delete;
    ActivationListener& operator=(const ActivationListener&) = delete;
    bool IsListening() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
