// The BSDs and macOS: a pipe's size can't be chosen, so it is measured, by
// filling the fresh pipe and reading it back; kqueue then wakes the test at
// each of the writer's writes, with the bytes the pipe holds, until they fill
// it. The writer's writes are larger than PIPE_BUF and written in part when
// they don't fit: a writer that waits has filled the pipe to the byte.
#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <sys/event.h>
#include <sys/time.h>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

#include "file_descriptor.h"
#include "pipe_gauge.h"

namespace fixture {

pipe_gauge::pipe_gauge(int read_end, int write_end) : read_end_(read_end) {
    const int flags = ::fcntl(write_end, F_GETFL);
    ::fcntl(write_end, F_SETFL, flags | O_NONBLOCK);
    // Pages, as the writer writes: one write larger than the pipe could make
    // it grow.
    const std::vector<char> page(static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)), '\0');
    ssize_t written = 0;
    while ((written = ::write(write_end, page.data(), page.size())) > 0) {
        capacity_ += static_cast<int>(written);
    }
    ::fcntl(write_end, F_SETFL, flags);
    std::vector<char> back(page.size());
    for (int left = capacity_; left > 0;) {
        const ssize_t got = ::read(read_end, back.data(), back.size());
        if (got <= 0) {
            throw std::runtime_error("reading the pipe's measure back failed");
        }
        left -= static_cast<int>(got);
    }
    if (capacity_ <= 0) {
        throw std::runtime_error("measuring the pipe failed");
    }
}

bool pipe_gauge::wait_until_full(std::chrono::steady_clock::time_point deadline) const {
    const file_descriptor queue(::kqueue());
    if (queue.get() < 0) {
        throw std::runtime_error("kqueue failed");
    }
    struct kevent change {};
    EV_SET(&change, read_end_, EVFILT_READ, EV_ADD | EV_CLEAR, 0, 0, nullptr);
    bool registered = false;
    for (;;) {
        const int left = milliseconds_until(deadline);
        const timespec timeout{left / 1000, static_cast<long>(left % 1000) * 1'000'000};
        struct kevent event {};
        const int got = ::kevent(queue.get(), registered ? nullptr : &change, registered ? 0 : 1,
                                 &event, 1, &timeout);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        registered = true;
        if (got <= 0 || (event.flags & (EV_EOF | EV_ERROR)) != 0) {
            return false;
        }
        if (event.data >= capacity_) {
            return true;
        }
    }
}

} // namespace fixture
