// The one place where FreeBSD and the development systems differ, and where
// the code depends on the processor.
//
// FreeBSD answers the kernel's release through sysctlbyname(3). Elsewhere a
// stand-in with the same signature and size protocol answers the one name the
// program asks for, "kern.osrelease", from /proc/sys/kernel/osrelease.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

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

// Finding the bytes that can end an index field ("|", the newline, NUL) in a
// run of bytes, 64 at a time: masks[i] gets bit j set when byte 64 * i + j
// is one of them. A last, partial block reads as if NULs filled it, so that
// nothing past the run is read. One more mask, with every bit set, follows
// the last: whoever walks the masks meets it before their end. masks must have
// room for delimiter_masks_for(size).
using delimiter_finder = void (*)(const char* bytes, std::size_t size, std::uint64_t* masks);

// How many masks a finder writes for so many bytes, the closing one included.
constexpr std::size_t delimiter_masks_for(std::size_t size) noexcept {
    return (size + 63) / 64 + 1;
}

// The fastest finder this processor runs: AVX2 where an x86-64 processor has
// it, else SSE2, which they all have; NEON on 64-bit ARM; elsewhere eight
// bytes at a time in a 64-bit word.
delimiter_finder best_delimiter_finder() noexcept;

// Every finder this processor runs, the 64-bit word one first.
std::vector<delimiter_finder> usable_delimiter_finders();
