// The one place where FreeBSD and the development systems differ.
//
// FreeBSD answers the kernel's release through sysctlbyname(3). Elsewhere a
// stand-in with the same signature and size protocol answers the one name the
// program asks for, "kern.osrelease", from /proc/sys/kernel/osrelease.
#pragma once

#include <cstddef>

#if defined(__FreeBSD__)
// sys/sysctl.h wants sys/types.h first.
// clang-format off
#include <sys/types.h>
#include <sys/sysctl.h>
// clang-format on
#else
// Answers only "kern.osrelease"; any other name fails with ENOENT. A query
// without a buffer stores the length plus one for the NUL in *oldlenp; a file
// that can't be read, or is empty once its newline is dropped, leaves *oldlenp
// at 0. Setting a value (newp) is refused with EPERM.
int sysctlbyname(const char* name, void* oldp, std::size_t* oldlenp, const void* newp,
                 std::size_t newlen);

// The same answer read from any file, so that the protocol can be tested.
int sysctl_value_from_file(const char* file, void* oldp, std::size_t* oldlenp);
#endif

// Prefix for getopt(3)'s option string that makes parsing stop at the first
// operand: glibc reorders arguments unless the string starts with "+", which on
// the BSDs would itself become an option letter.
#if defined(__GLIBC__)
inline constexpr char getopt_posix_prefix[] = "+";
#else
inline constexpr char getopt_posix_prefix[] = "";
#endif
