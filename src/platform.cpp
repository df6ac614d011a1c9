#include "platform.h"

#if !defined(__FreeBSD__)
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

constexpr const char* osrelease_file = "/proc/sys/kernel/osrelease";

// Reads a small text file whole; false when it can't be opened or read.
bool read_small_file(const char* file, std::string& text) {
    const int fd = ::open(file, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char chunk[512];
    bool ok = true;
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            ok = false;
            break;
        }
        if (got == 0) {
            break;
        }
        text.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return ok;
}

} // namespace

int sysctl_value_from_file(const char* file, void* oldp, std::size_t* oldlenp) {
    if (oldlenp == nullptr) {
        errno = EINVAL;
        return -1;
    }
    std::string value;
    if (!read_small_file(file, value)) {
        *oldlenp = 0;
        return -1;
    }
    if (!value.empty() && value.back() == '\n') {
        value.pop_back();
    }
    if (value.empty()) {
        *oldlenp = 0;
        errno = ENOENT;
        return -1;
    }
    const std::size_t needed = value.size() + 1;
    if (oldp == nullptr) {
        *oldlenp = needed;
        return 0;
    }
    if (*oldlenp < needed) {
        // Like the kernel: fill what fits, report the shortfall.
        std::memcpy(oldp, value.data(), *oldlenp);
        errno = ENOMEM;
        return -1;
    }
    std::memcpy(oldp, value.c_str(), needed);
    *oldlenp = needed;
    return 0;
}

int sysctlbyname(const char* name, void* oldp, std::size_t* oldlenp, const void* newp,
                 std::size_t newlen) {
    if (newp != nullptr || newlen != 0) {
        errno = EPERM;
        return -1;
    }
    if (name == nullptr || std::strcmp(name, "kern.osrelease") != 0) {
        errno = ENOENT;
        return -1;
    }
    return sysctl_value_from_file(osrelease_file, oldp, oldlenp);
}
#endif
