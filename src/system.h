// What differs between the systems vandrel is built on: where the kernel's
// release comes from, and how getopt(3) is told to stop at the first operand.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The running kernel's release, such as "15.1-RELEASE-p2": kern.osrelease
// through sysctlbyname(3) where the system has it (FreeBSD and the other BSDs,
// macOS), /proc/sys/kernel/osrelease on Linux. Absent when the kernel reports
// an empty release or none at all.
std::optional<std::string> kernel_release();

// The major release: the release up to its first dot ("15.1-RELEASE-p2" gives
// "15"); a release without a dot is returned whole.
std::string_view release_major(std::string_view release);

#if defined(__linux__)
// The release as Linux reports it in a file like /proc/sys/kernel/osrelease:
// its text without the final newline, up to a NUL; absent when the file can't
// be read or holds nothing.
std::optional<std::string> release_from_file(const char* path);
#endif

// Prefix for getopt(3)'s option string that makes parsing stop at the first
// operand: glibc reorders arguments unless the string starts with "+", which on
// the BSDs would itself become an option letter.
#if defined(__GLIBC__)
inline constexpr char getopt_posix_prefix[] = "+";
#else
inline constexpr char getopt_posix_prefix[] = "";
#endif

// Makes the next getopt(3) call start over at the first argument.
void restart_getopt() noexcept;
