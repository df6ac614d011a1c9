// Runs the real vandrel binary in a private mount namespace (scripts/sandbox-run)
// with fixture folders at /usr/ports and /var/db/pkg and a fixture release.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "fixtures.h"

namespace fixture {

struct sandbox_setup {
    std::optional<std::filesystem::path> ports;   // bound at /usr/ports
    std::optional<std::filesystem::path> pkg;     // bound at /var/db/pkg
    std::optional<std::filesystem::path> release; // bound over the kernel's release
    std::string user;                             // run as this user (needs root)
    std::optional<std::filesystem::path> cwd;
    std::optional<std::filesystem::path> stdout_file; // instead of capturing stdout
    std::optional<std::size_t> stdout_limit;          // stop reading stdout after this many bytes
    bool ignore_sigpipe = false;                      // start the command with SIGPIPE ignored
};

struct run_result {
    std::string out;
    std::string err;
    int status = -1;   // exit status, or -1 when killed
    int signal = 0;    // the signal that killed it
    long peak_kib = 0; // the largest resident size of the command (or of the runner)
    bool skipped = false;
};

run_result run_sandboxed(const sandbox_setup& setup, const std::vector<std::string>& command);

// A FreeBSD 15.1 system with the sample index and the sample package database.
class sample_system {
public:
    sample_system();
    [[nodiscard]] sandbox_setup setup() const;
    [[nodiscard]] const temp_dir& dir() const { return dir_; }
    [[nodiscard]] std::filesystem::path ports() const { return dir_ / "ports"; }
    [[nodiscard]] std::filesystem::path pkg() const { return dir_ / "pkg"; }
    [[nodiscard]] std::filesystem::path release() const { return dir_ / "osrelease"; }

private:
    temp_dir dir_;
};

std::string vandrel_binary();

} // namespace fixture

// Runs a command in the sandbox, or skips the test where namespaces can't be made.
#define SANDBOX_RUN(result, setup, ...)                                                            \
    const fixture::run_result result = fixture::run_sandboxed(setup, __VA_ARGS__);                 \
    if (result.skipped) {                                                                          \
        GTEST_SKIP() << "no private mount namespace here: " << result.err;                         \
    }
