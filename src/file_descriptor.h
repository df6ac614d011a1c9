// An open file descriptor, closed when it goes.
#pragma once

#include <unistd.h>

class file_descriptor {
public:
    explicit file_descriptor(int fd) noexcept : fd_(fd) {}
    ~file_descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    file_descriptor(const file_descriptor&) = delete;
    file_descriptor& operator=(const file_descriptor&) = delete;
    file_descriptor(file_descriptor&&) = delete;
    file_descriptor& operator=(file_descriptor&&) = delete;
    // The descriptor; negative when the open it came from failed.
    [[nodiscard]] int get() const noexcept { return fd_; }
    // Hands the descriptor over to the caller, who closes it from then on.
    [[nodiscard]] int release() noexcept {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};
