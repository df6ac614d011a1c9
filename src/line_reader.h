// Reading a file descriptor line by line through one reused buffer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
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
// line and is reused, and finds the delimiters of what it reads 64 bytes at a
// time. Any byte but the newline is line content, NUL and CR included; the
// last line may lack a newline.
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

    // The next line, with up to so many of its first delimiters recorded,
    // valid until the next call; nullptr at the end of the file or on a read
    // error (error() then tells which).
    const delimited_line* next(std::size_t recorded_delimiters);

    // errno of the failed read, or 0.
    [[nodiscard]] int error() const { return error_; }

private:
    bool fill();
    [[nodiscard]] bool newline_after(std::size_t from) const;

    int fd_;
    ssize_t (*read_)(int fd, void* buffer, std::size_t size) = ::read;
    std::unique_ptr<char, free_deleter> buffer_;
    // The delimiters of buffer_[0, end_), one mask per block.
    std::unique_ptr<std::uint64_t, free_deleter> masks_;
    std::size_t capacity_;
    std::size_t begin_ = 0;        // first byte of the current line
    std::size_t newline_free_ = 0; // bytes from begin_ up to here hold no newline
    std::size_t end_ = 0;          // end of the bytes read so far
    delimited_line line_;          // the line next() handed over last
    bool at_eof_ = false;
    int error_ = 0;
    std::optional<off_t> offset_; // where the next pread reads, when reading by offset
};

inline const delimited_line* line_reader::next(std::size_t recorded_delimiters) {
    for (;;) {
        // Walk only when the line may be complete: a line that outgrows the
        // buffer is walked once more, not once per read. At the end of the
        // file, the last line may lack its newline.
        if (begin_ < end_ && (newline_free_ == begin_ || at_eof_ || newline_after(newline_free_)) &&
            take_line(buffer_.get(), masks_.get(), begin_, end_, recorded_delimiters, at_eof_,
                      line_)) {
            begin_ = std::min(begin_ + line_.text.size() + 1, end_);
            newline_free_ = begin_;
            return &line_;
        }
        if (begin_ < end_) {
            newline_free_ = end_;
        }
        if (at_eof_ || !fill()) {
            return nullptr;
        }
    }
}
