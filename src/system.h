// What differs between the systems vandrel runs on: where the kernel's release
// comes from, and how getopt(3) is told to stop at the first operand. Each
// system has its own file, chosen by the build: system_bsd.cpp (FreeBSD, the
// other BSDs with sysctlbyname(3), macOS) and system_linux.cpp.
#pragma once

#include <optional>
#include <string>

// The running kernel's release, such as "15.1-RELEASE-p2": kern.osrelease on
// the BSDs and macOS, /proc/sys/kernel/osrelease on Linux. Absent when the
// kernel reports an empty release or none at all.
std::optional<std::string> kernel_release();

// Prefix for getopt(3)'s option string that makes parsing stop at the first
// operand: glibc reorders arguments unless the string starts with "+" (musl
// accepts and ignores it), while on the BSDs a "+" would itself become an
// option letter.
extern const char getopt_posix_prefix[];

// Makes the next getopt(3) call start over at the first argument.
void restart_getopt() noexcept;
