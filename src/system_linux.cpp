// Linux: the kernel's release is a file under /proc.
#include "release.h"
#include "system.h"

std::optional<std::string> kernel_release() {
    return release_from_file("/proc/sys/kernel/osrelease");
}
