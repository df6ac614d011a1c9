// Reading a file descriptor line by line through one reused buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string_view>

#include "delimiters.h"

// Frees what malloc and realloc gave.
struct free_deleter {
    void operator()(void* p) const noexcept { std::free(p); }
};

// Reads lines from a file descriptor into one buffer that grows to the longest
// line and is reused. Any byte but the newline is line content, NUL and CR
// included; the last line may lack a newline.
//
// The reader doesn't look for the newline itself: next() hands the bytes read
// so far to a split function, which finds the line's fields and its end in
// the same pass.
class line_reader {
public:
    explicit line_reader(int fd, std::size_t initial_capacity = std::size_t{256} * 1024);

    // Has split take the next line and returns that line without its newline,
    // valid until the next call; nullopt at the end of the file or on a read
    // error (error() then tells which).
    //
    // split(delimiter_cursor&) starts at the line's first byte and returns
    // the line's newline, or nullptr when the bytes read so far end first. In
    // that case the reader reads more and, once the line is complete, calls
    // split again from the line's start, so split must start afresh each time.
    template <typename Split> std::optional<std::string_view> next(Split&& split);

    // The next line, split by nothing but its newline.
    std::optional<std::string_view> next();

    // errno of the failed read, or 0.
    [[nodiscard]] int error() const { return error_; }

private:
    bool fill();
    [[nodiscard]] bool newline_after(std::size_t from) const;

    int fd_;
    std::unique_ptr<char, free_deleter> buffer_;
    // The delimiters of buffer_[0, end_), one mask per block.
    std::unique_ptr<std::uint64_t, free_deleter> masks_;
    std::size_t capacity_;
    std::size_t begin_ = 0;        // first byte of the current line
    std::size_t newline_free_ = 0; // bytes from begin_ up to here hold no newline
    std::size_t end_ = 0;          // end of the bytes read so far
    // Walks the bytes read so far from line to line; made afresh after a read.
    delimiter_cursor cursor_;
    bool cursor_stale_ = true;
    bool at_eof_ = false;
    int error_ = 0;
};

template <typename Split> std::optional<std::string_view> line_reader::next(Split&& split) {
    for (;;) {
        // Split only when the line may be complete: a line that outgrows the
        // buffer is split once more, not once per read.
        if (begin_ < end_ && (newline_free_ == begin_ || at_eof_ || newline_after(newline_free_))) {
            const char* line = buffer_.get() + begin_;
            if (cursor_stale_) {
                cursor_ = delimiter_cursor(buffer_.get(), masks_.get(), begin_, end_);
                cursor_stale_ = false;
            }
            if (const char* newline = split(cursor_)) {
                const auto length = static_cast<std::size_t>(newline - line);
                begin_ += length + 1;
                newline_free_ = begin_;
                return std::string_view(line, length);
            }
            if (at_eof_) { // the last line lacks its newline
                const std::string_view last(line, end_ - begin_);
                begin_ = end_;
                newline_free_ = end_;
                return last;
            }
            newline_free_ = end_;
            cursor_stale_ = true;
        }
        if (begin_ == end_ && at_eof_) {
            return std::nullopt;
        }
        if (!fill()) {
            return std::nullopt;
        }
    }
}
