// One running instance per machine, across all users, and the way a second start
// asks the first to come forward.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace platform {

// Holds the machine-wide instance lock for its lifetime.
//
// On Linux the lock is a file in /tmp (SetInstanceDir names another folder, for test
// runs that must not meet a real instance). Any user can put something else at
// that path first; when the file there is not a regular file or cannot be opened, the
// lock falls back to one in the current user's own folder ($XDG_RUNTIME_DIR, else the
// home folder), so a planted file cannot keep anyone from working. That lock is taken
// in the normal case too, so an instance that had to fall back still counts.
class InstanceLock {
public:
    InstanceLock();
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // False when another process holds the lock (or it cannot be had at all).
    bool Acquire();
    // Lets the lock go before the object ends, for a start-up that cannot go on.
    void Release();

    // After Acquire: why the machine-wide lock could not be used and which per-user lock
    // stood in for it, for the log; empty when the machine-wide lock was usable.
    const std::string& DegradedReason() const { return degraded_; }

private:
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
    int userFd_ = -1;
#endif
    std::string degraded_;
};

// Moves the machine-wide lock and the activation socket's name to `dir` (empty: the
// usual place). Set before the lock is taken; does nothing on Windows.
void SetInstanceDir(const std::string& dir);

// Asks the running instance's top-level window with this title to show itself.
// Returns true when the request was handed to a listener. Never waits on a listener
// that does not take it.
bool ActivateRunningInstance(const std::string& utf8Title);

// Receives activation requests from later starts and hands the requested window
// title to `onRequest` on the listener's own thread. Only requests from processes of
// the same user count, and each one must arrive within a short deadline, so no other
// process can hold the listener. Stops in its destructor.
// On Linux the socket's name is the user's own; when another process holds it, one of
// a few further names is taken, and ActivateRunningInstance tries them in turn.
// On Windows the listener is a message-only window on a thread of its own; a running
// instance without one gets the request as a message to its titled main window.
class ActivationListener {
public:
    explicit ActivationListener(std::function<void(const std::string& utf8Title)> onRequest);
    ~ActivationListener();
    ActivationListener(const ActivationListener&) = delete;
    ActivationListener& operator=(const ActivationListener&) = delete;
    bool IsListening() const;
    // Names that could not be taken and why, for the log; empty when the first was
    // free (on Windows: why there is no listener window).
    const std::string& Problem() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
