// The kernel's release string: what its major number is, and reading it from
// a file such as Linux's /proc/sys/kernel/osrelease.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The major release: the release up to its first dot ("15.1-RELEASE-p2" gives
// "15"); a release without a dot is returned whole.
std::string_view release_major(std::string_view release);

// The release as a file holds it: its text without the final newline, up to a
// NUL; absent when the file can't be read or holds nothing.
std::optional<std::string> release_from_file(const char* path);
