// FreeBSD: the kernel answers through sysctl(3).
#include <cstring>

#include "system.h"
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
    if (release.empty()) {
        return std::nullopt;
    }
    return release;
}
