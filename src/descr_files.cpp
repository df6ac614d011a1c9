#include "descr_files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

#include "file_descriptor.h"
#include "locations.h"

namespace {

// open(2) is variadic: its address can't stand for a call of two arguments.
int system_open(const char* path, int flags) {
    return ::open(path, flags);
}

// read(2) until it isn't interrupted: the bytes read, or -1.
ssize_t read_some(const descr_reader::system_calls& calls, int fd, char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t got = calls.read(fd, buffer, size);
        if (got >= 0 || errno != EINTR) {
            return got;
        }
    }
}

} // namespace

const descr_reader::system_calls descr_reader::real_calls{system_open, ::read, ::fstat};

descr_reader::descr_reader(std::string ports_tree, system_calls calls, std::size_t capacity,
                           std::size_t limit)
    : ports_tree_(std::move(ports_tree)), calls_(calls), limit_(std::max<std::size_t>(limit, 1)),
      buffer_(std::clamp<std::size_t>(capacity, 1, limit_)) {}

std::optional<std::string_view> descr_reader::read_field(std::string_view field) {
    ports_file_path(field, ports_tree_, path_);
    return read(path_.c_str());
}

std::optional<std::string_view> descr_reader::read(const char* path) {
    if (!tried_any_ || last_path_ != path) {
        tried_any_ = true;
        last_path_ = path;
        last_size_ = *path == '\0' ? std::nullopt : read_file(path);
        found_any_ = found_any_ || last_size_.has_value();
        if (last_size_) {
            // One line of space-separated words, as the index's fields are.
            std::replace_if(
                buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(*last_size_),
                [](char c) {
                    return c == '\n' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
                },
                ' ');
        }
    }
    if (!last_size_) {
        return std::nullopt;
    }
    return std::string_view(buffer_.data(), *last_size_);
}

// The file's length as read into the buffer, or absent.
std::optional<std::size_t> descr_reader::read_file(const char* path) {
    const file_descriptor fd(calls_.open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        return std::nullopt; // missing, or not to be opened
    }
    // A folder fails here (EISDIR), a FIFO whose writer hasn't written yet
    // too (EAGAIN).
    ssize_t got = read_some(calls_, fd.get(), buffer_.data(), buffer_.size());
    if (got < 0) {
        return std::nullopt;
    }
    auto size = static_cast<std::size_t>(got);
    if (size > 0 && size < buffer_.size()) {
        return size; // the whole file: nearly every one
    }
    // Nothing (an empty file, or a FIFO without a writer) or a full buffer (a
    // large file, or a device that never ends): only a regular file is read.
    struct stat status {};
    if (calls_.fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    // Read on into a buffer of the file's size and a byte more, so that the
    // read that reaches its end comes back short; doubled if the file grew.
    while (size == buffer_.size() && size < limit_) {
        const auto file_size = static_cast<std::size_t>(std::max<off_t>(status.st_size, 0));
        const std::size_t room = std::max(size * 2, file_size + 1);
        buffer_.resize(std::min(room, limit_));
        got = read_some(calls_, fd.get(), buffer_.data() + size, buffer_.size() - size);
        if (got < 0) {
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        size += static_cast<std::size_t>(got);
    }
    return size;
}

std::string no_descr_files_message(std::string_view ports_tree) {
    std::string message = "vandrel: no pkg-descr file could be read under ";
    message.append(ports_tree).append("; descriptions not searched");
    return message;
}
