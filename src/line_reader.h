// Reading a file descriptor line by line through one reused buffer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string_view>
#include <sys/types.h>
#include <unistd.h>

#include "delimiters.h"

// Frees what malloc and realloc gave.
struct free_deleter {
    void operator()(void* p) const noexcept { std::free(p); }
};

// Reads lines from a file descriptor into one buffer that grows to the longest
// line and is reused. Any byte but the newline is line content, NUL and CR
// included; the last line may lack a newline.
class line_reader {
public:
    explicit line_reader(int fd, std::size_t initial_capacity = std::size_t{256} * 1024);

    // Reads a file from offset on with pread, leaving the descriptor's own
    // offset where it is, so that another reader can go on with it.
    struct from_offset {
        off_t offset;
    };
    line_reader(int fd, from_offset start, std::size_t initial_capacity = std::size_t{256} * 1024);

    // What reads from the descriptor: read(2), unless a test stands in for it
    // to have reads fail as it chooses (EINTR, EIO).
    struct read_call {
        ssize_t (*read)(int fd, void* buffer, std::size_t size);
    };
    line_reader(int fd, read_call call, std::size_t initial_capacity = std::size_t{256} * 1024);

    // The next line without its newline, valid until the next call; absent
    // at the end of the file or on a read error (error() then tells which).
    std::optional<std::string_view> next();

    // errno of the failed read, or 0.
    [[nodiscard]] int error() const { return error_; }

private:
    bool fill();

    int fd_;
    ssize_t (*read_)(int fd, void* buffer, std::size_t size) = ::read;
    std::unique_ptr<char, free_deleter> buffer_;
    std::size_t capacity_;
    std::size_t begin_ = 0;        // first byte of the current line
    std::size_t newline_free_ = 0; // bytes from begin_ up to here hold no newline
    std::size_t end_ = 0;          // end of the bytes read so far
    bool at_eof_ = false;
    int error_ = 0;
    std::optional<off_t> offset_; // where the next pread reads, when reading by offset
};

inline std::optional<std::string_view> line_reader::next() {
    for (;;) {
        if (begin_ < end_) {
            // Each byte is searched once: the search for a line that outgrows
            // the buffer goes on from where the last one ended.
            const char* const bytes = buffer_.get();
            const char* const stop = find_line_end(bytes + newline_free_, bytes + end_);
            // At the end of the file the last line may lack its newline.
            if (stop != bytes + end_ || at_eof_) {
                const auto stop_at = static_cast<std::size_t>(stop - bytes);
                const std::string_view line(bytes + begin_, stop_at - begin_);
                begin_ = std::min(stop_at + 1, end_);
                newline_free_ = begin_;
                return line;
            }
            newline_free_ = end_;
        }
        if (at_eof_ || !fill()) {
            return std::nullopt;
        }
    }
}
