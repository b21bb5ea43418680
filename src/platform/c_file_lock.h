#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace kestrum {

// An advisory lock on a lock file, held for as long as the object lives, so that programs
// changing one shared file take turns with it. It waits for another holder at most the
// given time; programs that never take the lock are not held back.
class CFileLock {
public:
    enum class State {
        Held,       // this object holds the lock
        TimedOut,   // another holder kept it for the whole wait
        Unusable,   // the lock file cannot be made or this file system has no locks
    };

    // Creates lockPath when missing (it is left in place: removing it would let a third
    // program lock a new file while the second still waits on the old one). A symbolic
    // link there is not followed: the lock is then unusable.
    CFileLock(const std::string& lockPath, std::chrono::milliseconds wait);
    ~CFileLock();  // releases the lock
    CFileLock(const CFileLock&) = delete;
    CFileLock& operator=(const CFileLock&) = delete;

    State Result() const { return state_; }
    // Why the lock is not held; empty when it is.
    const std::string& Error() const { return error_; }

private:
    // Tries the lock until it is held, refused for good, or the wait is over.
    void Acquire(const std::string& lockPath, std::chrono::milliseconds wait);

    intptr_t handle_ = -1;  // a descriptor, or a Windows handle; closing it releases the lock
    State state_ = State::Unusable;
    std::string error_;
};

}  // namespace kestrum
