// What differs between the systems vandrel runs on: where the kernel's release
// comes from. Each system has its own file, chosen by the build:
// system_bsd.cpp (FreeBSD, through sysctlbyname(3)) and system_linux.cpp.
#pragma once

#include <optional>
#include <string>

// The running kernel's release, such as "15.1-RELEASE-p2": kern.osrelease on
// FreeBSD, /proc/sys/kernel/osrelease on Linux. Absent when the
// kernel reports an empty release or none at all.
std::optional<std::string> kernel_release();
