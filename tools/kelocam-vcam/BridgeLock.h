// Keeps a second bridge from taking over a block (and its device) while one runs: an exclusive
// flock on a file named after the shared-memory object, under $XDG_RUNTIME_DIR (else /tmp).
// The kernel drops the lock when the process ends, however it ends.
#pragma once

#include <string>

namespace kelo::vcam {

class BridgeLock {
public:
    enum class Result { Acquired, HeldByOther, Failed };

    BridgeLock() = default;
    BridgeLock(const BridgeLock&) = delete;
    BridgeLock& operator=(const BridgeLock&) = delete;
    ~BridgeLock();

    // The lock file for a feed object: "/KeloVCam" -> "<runtime dir>/kelocam-vcam-KeloVCam.lock".
    static std::string LockPathFor(const std::string& feedObjectName);

    Result Acquire(const std::string& feedObjectName);
    void Release();

    const std::string& path() const { return path_; }
    const std::string& error() const { return error_; } // why Acquire failed

private:
    int fd_ = -1;
    std::string path_;
    std::string error_;
};

} // namespace kelo::vcam
