// Linux: the kernel's release is a file under /proc, and getopt_long(3)
// (glibc's or musl's) starts over when optind is 0.
#include <unistd.h>

#include "release.h"
#include "system.h"

std::optional<std::string> kernel_release() {
    return release_from_file("/proc/sys/kernel/osrelease");
}

void restart_getopt() noexcept {
    optind = 0; // a full reset, which also forgets getopt's own state
}
