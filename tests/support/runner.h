// Runs a command, usually the real vandrel binary, against a fixture system
// and captures what it does. Two ways:
//
// - directly, wherever the binary runs: the fixture folders are named by
//   INDEXDIR, INDEXFILE and PKG_DBDIR;
// - at the default paths, for the cases that must prove them: in a private
//   mount namespace (scripts/sandbox-run, Linux only) with the fixture folders
//   at /usr/ports and /var/db/pkg and a fixture release. Elsewhere such a run
//   reports itself skipped.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

#include "fixtures.h"
#include "pipe_gauge.h"

namespace fixture {

struct run_setup {
    std::optional<std::filesystem::path> ports;   // INDEXDIR, or bound at /usr/ports
    std::string index_file = "INDEX-15";          // INDEXFILE, when run directly
    std::optional<std::filesystem::path> pkg;     // PKG_DBDIR, or bound at /var/db/pkg
    std::optional<std::filesystem::path> release; // bound over the kernel's release
    bool at_default_paths = false;                // in the namespace, as described above
    std::string user;                             // run as this user (needs root)
    std::optional<std::filesystem::path> cwd;
    std::optional<std::filesystem::path> stdin_file;  // instead of /dev/null
    std::optional<std::filesystem::path> stdout_file; // instead of capturing stdout
    bool stdout_append = false;                       // stdout_file opened to append
    bool stdout_closed = false;                       // start the command with stdout closed
    std::optional<std::size_t> stdout_limit;          // stop reading stdout after this many bytes
    bool ignore_sigpipe = false;                      // start the command with SIGPIPE ignored
    // Killed (SIGKILL) when still running this long after it started, so
    // that a command that hangs fails its test instead of stalling it.
    std::optional<std::chrono::milliseconds> timeout;
    // The file run, when it isn't the command's first word, which is then only
    // the command's argv[0]. Direct runs only.
    std::optional<std::filesystem::path> program;
    // Variables for the command, set after (and over) those above; PORTSDIR,
    // INDEXDIR, INDEXFILE and PKG_DBDIR are otherwise unset.
    std::vector<std::pair<std::string, std::string>> environment;
};

struct run_result {
    std::string out;
    std::string err;
    int status = -1;        // exit status, or -1 when killed
    int signal = 0;         // the signal that killed it
    long peak_kib = 0;      // the largest resident size of the command (or of the runner)
    bool skipped = false;   // it could not run here; err says why
    bool timed_out = false; // killed at run_setup's timeout
};

run_result run_command(const run_setup& setup, const std::vector<std::string>& command);

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

// A command started as run_command starts it, whose standard output nobody
// reads until asked: a test can let it block on a full pipe part-way through its work,
// act meanwhile, then read on.
class command_process {
public:
    command_process(const run_setup& setup, const std::vector<std::string>& command);
    ~command_process();
    command_process(const command_process&) = delete;
    command_process& operator=(const command_process&) = delete;

    // The command's process when it was run directly, else 0.
    [[nodiscard]] pid_t pid() const { return direct_ ? child_ : 0; }

    // Reads, and keeps, the command's standard output as it comes until
    // 64 KiB or more have come since the last wait, then waits until the pipe
    // is full: the command is then blocked on its standard output, or blocks
    // at its next write, until the test reads. false when the command ended
    // first (or could not be run here). A minute, or the run's timeout, is a
    // guard against a command that hangs, not the way it waits.
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
    pipe_gauge out_gauge_{out_.read_end, out_.write_end};
    pipe_pair err_;
    pid_t child_ = -1;
    std::optional<std::chrono::steady_clock::time_point> deadline_;
    bool timed_out_ = false;
    int status_ = 0;
    long peak_kib_ = 0;
    std::optional<std::size_t> out_limit_;
    std::string out_text_;
    std::string err_text_;
    bool direct_ = false;
    std::optional<std::string> skip_; // why the command could not run here
};

// A FreeBSD 15.1 system with the sample index and the sample package database.
class sample_system {
public:
    sample_system();
    // Run directly, with the ports and pkg variables naming the fixtures.
    [[nodiscard]] run_setup setup() const;
    // Run with the fixtures at the default paths and the release bound in.
    [[nodiscard]] run_setup setup_at_default_paths() const;
    [[nodiscard]] std::filesystem::path index() const { return ports() / "INDEX-15"; }
    [[nodiscard]] const temp_dir& dir() const { return dir_; }
    [[nodiscard]] std::filesystem::path ports() const { return dir_ / "ports"; }
    [[nodiscard]] std::filesystem::path pkg() const { return dir_ / "pkg"; }
    [[nodiscard]] std::filesystem::path release() const { return dir_ / "osrelease"; }

private:
    temp_dir dir_;
};

std::string vandrel_binary();

// The binary with these arguments, as a command for run_command.
std::vector<std::string> command(std::vector<std::string> args);

// What this system's getopt_long says on standard error when the program is
// given these arguments: its complaints about unknown options and missing
// arguments, word for word and with the program's name as libc writes it,
// from getopt_long run on the options the program itself hands it.
std::string getopt_complaints(const std::vector<std::string>& args);

// The counts line that -r ends a search with.
std::string counts(std::uint64_t results, std::uint64_t matches, std::uint64_t entries);

} // namespace fixture

// Runs a command, or skips the test where it can't run here.
#define RUN_OR_SKIP(result, setup, ...)                                                            \
    const fixture::run_result result = fixture::run_command(setup, __VA_ARGS__);                   \
    if (result.skipped) {                                                                          \
        GTEST_SKIP() << result.err;                                                                \
    }
