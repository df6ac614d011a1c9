// Runs the real vandrel binary in a private mount namespace (scripts/sandbox-run)
// with fixture folders at /usr/ports and /var/db/pkg and a fixture release.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
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
    // The ports and pkg variables the command gets (PORTSDIR, INDEXDIR,
    // INDEXFILE, PKG_DBDIR); any of them not given here is unset.
    std::vector<std::pair<std::string, std::string>> environment;
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

// Both ends of a pipe, closed when it goes.
struct pipe_pair {
    int read_end = -1;
    int write_end = -1;
    pipe_pair();
    ~pipe_pair();
    pipe_pair(const pipe_pair&) = delete;
    pipe_pair& operator=(const pipe_pair&) = delete;
    void close_read();
    void close_write();
};

// A command started in the sandbox whose standard output nobody reads until
// asked: a test can let it block on a full pipe part-way through its work,
// act meanwhile, then read on.
class sandbox_process {
public:
    sandbox_process(const sandbox_setup& setup, const std::vector<std::string>& command);
    ~sandbox_process();
    sandbox_process(const sandbox_process&) = delete;
    sandbox_process& operator=(const sandbox_process&) = delete;

    // Waits, up to a minute, until the command blocks on its full standard
    // output; false when it ended first (or no namespace could be made).
    bool wait_until_output_blocks();

    // Reads at most so many bytes of standard output, waiting for the first;
    // returns how many came (0 at the end).
    std::size_t read_output(std::size_t most);

    // Reads both outputs to their end and waits for the command.
    run_result finish();

private:
    bool reap(int options);
    void wait();

    pipe_pair out_;
    pipe_pair err_;
    pid_t child_ = -1;
    int status_ = 0;
    long peak_kib_ = 0;
    std::optional<std::size_t> out_limit_;
    std::string out_text_;
    std::string err_text_;
};

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

// The binary with these arguments, as a command for run_sandboxed.
std::vector<std::string> command(std::vector<std::string> args);

// The counts line that -r ends a search with.
std::string counts(std::uint64_t results, std::uint64_t matches, std::uint64_t entries);

} // namespace fixture

// Runs a command in the sandbox, or skips the test where namespaces can't be made.
#define SANDBOX_RUN(result, setup, ...)                                                            \
    const fixture::run_result result = fixture::run_sandboxed(setup, __VA_ARGS__);                 \
    if (result.skipped) {                                                                          \
        GTEST_SKIP() << "no private mount namespace here: " << result.err;                         \
    }
