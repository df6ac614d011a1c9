// Linux: the pipe is made to hold one page, which one of the writer's writes
// fills (stdio writes whole buffers of the pipe's block size, a page), so the
// pipe is full as soon as it holds anything: poll wakes the test when the
// writer has written into the empty pipe, and the writer's next write waits.
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <unistd.h>

#include "pipe_gauge.h"

namespace fixture {

pipe_gauge::pipe_gauge(int read_end, int /*write_end*/) : read_end_(read_end) {
    capacity_ = ::fcntl(read_end, F_SETPIPE_SZ, static_cast<int>(::sysconf(_SC_PAGESIZE)));
    if (capacity_ <= 0) {
        throw std::runtime_error("F_SETPIPE_SZ failed");
    }
}

bool pipe_gauge::wait_until_full(std::chrono::steady_clock::time_point deadline) const {
    pollfd watched{read_end_, POLLIN, 0};
    int ready = 0;
    while ((ready = ::poll(&watched, 1, milliseconds_until(deadline))) < 0 && errno == EINTR) {
    }
    if (ready <= 0 || (watched.revents & POLLHUP) != 0) {
        return false;
    }
    int available = 0;
    if (::ioctl(read_end_, FIONREAD, &available) != 0) {
        throw std::runtime_error("FIONREAD failed");
    }
    return available > 0;
}

} // namespace fixture
