#include "system.h"

#include <cstring>
#include <unistd.h>

#if defined(__FreeBSD__) || defined(__DragonFly__) || defined(__NetBSD__) || defined(__APPLE__)
// sys/sysctl.h wants sys/types.h first.
// clang-format off
#include <sys/types.h>
#include <sys/sysctl.h>
// clang-format on

std::optional<std::string> kernel_release() {
    std::size_t size = 0;
    static_cast<void>(sysctlbyname("kern.osrelease", nullptr, &size, nullptr, 0));
    if (size == 0) {
        return std::nullopt;
    }
    std::string release(size, '\0');
    static_cast<void>(sysctlbyname("kern.osrelease", release.data(), &size, nullptr, 0));
    // Whatever the second call left in the zero-filled buffer is used.
    release.resize(std::strlen(release.c_str()));
    return release;
}

#elif defined(__linux__)
#include <cerrno>
#include <fcntl.h>

std::optional<std::string> release_from_file(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string text;
    char chunk[512];
    ssize_t got = 0;
    while ((got = ::read(fd, chunk, sizeof chunk)) != 0) {
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            ::close(fd);
            return std::nullopt;
        }
        text.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(fd);
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    if (text.empty()) {
        return std::nullopt;
    }
    text.resize(std::strlen(text.c_str()));
    return text;
}

std::optional<std::string> kernel_release() {
    return release_from_file("/proc/sys/kernel/osrelease");
}

#else
#error "vandrel needs the kernel's release on this system: add it to system.cpp"
#endif

std::string_view release_major(std::string_view release) {
    return release.substr(0, release.find('.'));
}

void restart_getopt() noexcept {
#if defined(__GLIBC__)
    optind = 0; // glibc's full reset, which also forgets its own state
#else
    optreset = 1; // the BSDs' and macOS's
    optind = 1;
#endif
}
