// Telling when a pipe is full, for a test that lets the command writing to it
// block part-way: from then on the command can write nothing until the test
// reads. How is each system's own, in a file chosen by the build:
// pipe_gauge_linux.cpp and pipe_gauge_bsd.cpp.
#pragma once

#include <algorithm>
#include <chrono>

namespace fixture {

class pipe_gauge {
public:
    // On a fresh pipe, before anything writes to it.
    pipe_gauge(int read_end, int write_end);

    // Blocks until the pipe is full: true. false when every writer has
    // closed it first, or at the deadline, which guards against a test that
    // would hang and is not the way it waits. The writer must write whole
    // buffers of stdio, as large as the pipe's block size, until its last.
    [[nodiscard]] bool wait_until_full(std::chrono::steady_clock::time_point deadline) const;

private:
    int read_end_;
    int capacity_ = 0; // bytes
};

// Milliseconds from now until the deadline, none below 0, for poll and the
// like.
inline int milliseconds_until(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

} // namespace fixture
