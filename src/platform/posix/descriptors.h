// The shell's own descriptors: owned, and kept clear of the standard streams.
#pragma once

#include <fcntl.h>
#include <unistd.h>

namespace lorvane {

// Owns one descriptor of the shell; closes it when it goes.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.release();
        }
        return *this;
    }
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

// A close-on-exec copy of `fd` numbered 3 or above, or none (-1). A GUI app may run with 0-2
// closed, and a descriptor of the shell's there would be clobbered when a child's standard
// streams are set up.
inline UniqueFd duplicateAboveStandardStreams(int fd) { return UniqueFd(::fcntl(fd, F_DUPFD_CLOEXEC, 3)); }

}  // namespace lorvane
