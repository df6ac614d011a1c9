#include "line_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <unistd.h>

namespace {

// realloc for the reader's arrays (never to 0 bytes, which may free them);
// throws when memory runs out.
template <typename T> void grow(std::unique_ptr<T, free_deleter>& array, std::size_t bytes) {
    void* larger = std::realloc(array.get(), std::max<std::size_t>(bytes, 1));
    if (larger == nullptr) {
        throw std::bad_alloc();
    }
    static_cast<void>(array.release());
    array.reset(static_cast<T*>(larger));
}

} // namespace

line_reader::line_reader(int fd, std::size_t initial_capacity)
    : fd_(fd), capacity_(std::max<std::size_t>(initial_capacity, 1)) {
    grow(buffer_, capacity_);
}

line_reader::line_reader(int fd, from_offset start, std::size_t initial_capacity)
    : line_reader(fd, initial_capacity) {
    offset_ = start.offset;
}

line_reader::line_reader(int fd, read_call call, std::size_t initial_capacity)
    : line_reader(fd, initial_capacity) {
    read_ = call.read;
}

// Moves the partial line at begin_ to the buffer's start, grows the buffer
// when that line fills it, and reads once.
bool line_reader::fill() {
    if (begin_ > 0) {
        std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
        end_ -= begin_;
        newline_free_ -= begin_;
        begin_ = 0;
    }
    if (end_ == capacity_) {
        // A line longer than the buffer: double it. realloc may move the pages
        // rather than copy them, so a huge line costs about its own size.
        const std::size_t grown = capacity_ * 2;
        grow(buffer_, grown);
        capacity_ = grown;
    }
    for (;;) {
        const ssize_t got = offset_ ? ::pread(fd_, buffer_.get() + end_, capacity_ - end_, *offset_)
                                    : read_(fd_, buffer_.get() + end_, capacity_ - end_);
        if (got > 0) {
            end_ += static_cast<std::size_t>(got);
            if (offset_) {
                *offset_ += got;
            }
            break;
        }
        if (got == 0) {
            at_eof_ = true;
            break;
        }
        if (errno != EINTR) {
            error_ = errno;
            return false;
        }
    }
    return true;
}
