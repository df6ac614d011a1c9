// Output written with care: through stdio's buffer, with every write's
// result looked at, so that a failure is known with the errno of the call
// that failed, not whatever errno holds when someone asks later.
#pragma once

#include <cstdio>
#include <string_view>

class checked_output {
public:
    // Writes to file, which stays open for the caller to close.
    explicit checked_output(std::FILE* file) noexcept : file_(file) {}

    // Writes the bytes. A failure keeps its errno if it is the first.
    void write(std::string_view bytes) noexcept;
    void write(char byte) noexcept;
    // Writes as std::fprintf would.
    __attribute__((format(printf, 2, 3))) void print(const char* format, ...) noexcept;

    // Flushes what stdio holds; false when this or any earlier write failed.
    bool flush() noexcept;

    // Whether a write or flush failed, or the stream holds an error from
    // writes made around this object.
    [[nodiscard]] bool failed() const noexcept;

    // errno of the first failure (EIO for an error that left none), 0 when
    // nothing failed.
    [[nodiscard]] int error() const noexcept;

    [[nodiscard]] std::FILE* file() const noexcept { return file_; }

private:
    void keep_error() noexcept;

    std::FILE* file_;
    int error_ = 0;
};
