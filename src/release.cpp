#include "release.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "file_descriptor.h"

std::string_view release_major(std::string_view release) {
    return release.substr(0, release.find('.'));
}

std::optional<std::string> release_from_file(const char* path) {
    const file_descriptor fd(::open(path, O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        return std::nullopt;
    }
    std::string text;
    char chunk[512];
    ssize_t got = 0;
    while ((got = ::read(fd.get(), chunk, sizeof chunk)) != 0) {
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return std::nullopt;
        }
        text.append(chunk, static_cast<std::size_t>(got));
    }
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    text.resize(std::strlen(text.c_str()));
    if (text.empty()) {
        return std::nullopt;
    }
    return text;
}
