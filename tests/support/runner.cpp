#include "runner.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <stdexcept>
#include <string_view>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// POSIX leaves declaring it to the program; FreeBSD's unistd.h doesn't.
extern char** environ; // NOLINT(readability-redundant-declaration)

namespace fixture {

namespace {

// scripts/sandbox-run's status when it can't make the namespace.
constexpr int sandbox_unavailable = 125;

// This process's environment without the ports and pkg variables, then the
// given variables, each replacing any of its name before it.
std::vector<std::string>
environment_with(const std::vector<std::pair<std::string, std::string>>& variables) {
    std::vector<std::string> entries;
    const auto drop = [&entries](std::string_view name) {
        std::erase_if(entries, [name](const std::string& entry) {
            return entry.size() > name.size() && entry.starts_with(name) &&
                   entry[name.size()] == '=';
        });
    };
    for (char** variable = environ; *variable != nullptr; ++variable) {
        entries.emplace_back(*variable);
    }
    for (const char* name : {"PORTSDIR", "INDEXDIR", "INDEXFILE", "PKG_DBDIR"}) {
        drop(name);
    }
    for (const auto& [name, value] : variables) {
        drop(name);
        entries.push_back(name);
        entries.back().append("=").append(value);
    }
    return entries;
}

// Who a user is, for running a command as that user.
struct credentials {
    uid_t uid = 0;
    gid_t gid = 0;
};

credentials credentials_of(const std::string& user) {
    const passwd* entry = ::getpwnam(user.c_str());
    if (entry == nullptr) {
        throw std::runtime_error("no user " + user);
    }
    return {entry->pw_uid, entry->pw_gid};
}

// A copy of the binary in a folder every user can reach, for runs as another
// user: the build folder may not be open to all (a clone under /root isn't).
const std::string& binary_open_to_all() {
    static const temp_dir dir;
    static const std::string copy = [] {
        const std::filesystem::path path = dir / "vandrel";
        std::filesystem::copy_file(vandrel_binary(), path);
        using std::filesystem::perms;
        std::filesystem::permissions(path, perms::owner_all | perms::group_read |
                                               perms::group_exec | perms::others_read |
                                               perms::others_exec);
        open_to_all(dir.path());
        return path.string();
    }();
    return copy;
}

// scripts/sandbox-run's command line for a run at the default paths.
[[maybe_unused]] std::vector<std::string> sandbox_command(const run_setup& setup,
                                                          const std::vector<std::string>& command) {
    std::vector<std::string> args = {(source_dir() / "scripts/sandbox-run").string()};
    const auto add = [&args](const char* flag, const std::optional<std::filesystem::path>& path) {
        if (path) {
            args.insert(args.end(), {flag, path->string()});
        }
    };
    add("--ports", setup.ports);
    add("--pkg", setup.pkg);
    add("--release", setup.release);
    add("--cd", setup.cwd);
    if (!setup.user.empty()) {
        args.insert(args.end(), {"--user", setup.user});
    }
    args.emplace_back("--");
    args.insert(args.end(), command.begin(), command.end());
    return args;
}

// In a freshly forked child: reports a failed step and ends the child.
[[noreturn]] void child_failed(const char* step) {
    const char* reason = std::strerror(errno);
    static_cast<void>(!::write(STDERR_FILENO, step, std::strlen(step)));
    static_cast<void>(!::write(STDERR_FILENO, ": ", 2));
    static_cast<void>(!::write(STDERR_FILENO, reason, std::strlen(reason)));
    static_cast<void>(!::write(STDERR_FILENO, "\n", 1));
    _exit(127);
}

// Reads both pipes to their end without letting either fill up; standard
// output only up to its limit, after which its pipe is closed as a reader that
// has seen enough would. Past the deadline, if any, on_deadline is called
// once (to kill the command) and the pipes are read on to their end.
void drain(pipe_pair& out, pipe_pair& err, std::string& out_text, std::string& err_text,
           std::optional<std::size_t> out_limit,
           std::optional<std::chrono::steady_clock::time_point> deadline,
           const std::function<void()>& on_deadline) {
    pollfd fds[2] = {{out.read_end, POLLIN, 0}, {err.read_end, POLLIN, 0}};
    std::string* texts[2] = {&out_text, &err_text};
    int open = (out.read_end >= 0 ? 1 : 0) + (err.read_end >= 0 ? 1 : 0);
    while (open > 0) {
        int wait_ms = -1;
        if (deadline) {
            wait_ms = milliseconds_until(*deadline);
        }
        const int ready = ::poll(fds, 2, wait_ms);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw std::runtime_error("poll failed");
        }
        if (ready == 0 && deadline) {
            deadline.reset();
            on_deadline();
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char chunk[65536];
            std::size_t want = sizeof chunk;
            if (i == 0 && out_limit) {
                want = std::min(want, *out_limit - std::min(*out_limit, out_text.size()));
            }
            const ssize_t got = want == 0 ? 0 : ::read(fds[i].fd, chunk, want);
            if (got > 0) {
                texts[i]->append(chunk, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                if (i == 0) {
                    out.close_read();
                }
                fds[i].fd = -1;
                --open;
            }
        }
    }
}

} // namespace

pipe_pair::pipe_pair() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe2 failed");
    }
    read_end = fds[0];
    write_end = fds[1];
}

pipe_pair::~pipe_pair() {
    close_read();
    close_write();
}

void pipe_pair::close_read() {
    if (read_end >= 0) {
        ::close(read_end);
    }
    read_end = -1;
}

void pipe_pair::close_write() {
    if (write_end >= 0) {
        ::close(write_end);
    }
    write_end = -1;
}

std::string vandrel_binary() {
    return VANDREL_BINARY;
}

std::vector<std::string> command(std::vector<std::string> args) {
    args.insert(args.begin(), vandrel_binary());
    return args;
}

std::string getopt_complaints(const std::vector<std::string>& args) {
    static const temp_dir unused; // the complaints read no index or database
    run_setup setup;
    setup.ports = unused.path();
    setup.pkg = unused.path();
    setup.program = VANDREL_GETOPT_COMPLAINTS;
    const run_result complained = run_command(setup, command(args));
    if (complained.status != 0) {
        throw std::runtime_error("getopt_complaints failed: " + complained.err);
    }
    return complained.err;
}

std::string counts(std::uint64_t results, std::uint64_t matches, std::uint64_t entries) {
    return "\nResults: " + std::to_string(results) + " / Matches: " + std::to_string(matches) +
           " / Entries: " + std::to_string(entries) + "\n\n";
}

command_process::command_process(const run_setup& setup, const std::vector<std::string>& command)
    : out_limit_(setup.stdout_limit), direct_(!setup.at_default_paths) {
    if (setup.timeout) {
        deadline_ = std::chrono::steady_clock::now() + *setup.timeout;
    }
    std::vector<std::string> args;
    std::string executable; // when not args[0]
    std::vector<std::pair<std::string, std::string>> variables;
    std::optional<credentials> as;
    if (direct_) {
        if (!setup.ports || !setup.pkg) {
            throw std::logic_error("a direct run needs a ports and a pkg folder");
        }
        variables = {{"INDEXDIR", setup.ports->string()},
                     {"INDEXFILE", setup.index_file},
                     {"PKG_DBDIR", setup.pkg->string()}};
        if (!setup.user.empty()) {
            if (::geteuid() != 0) {
                skip_ = "needs real root to run the command as " + setup.user;
                return;
            }
            as = credentials_of(setup.user);
        }
        args = command;
        if (setup.program) {
            executable = setup.program->string();
        }
        if (as && args.front() == vandrel_binary()) {
            args.front() = binary_open_to_all();
        }
    } else {
        if (setup.program) {
            throw std::logic_error("only a direct run can run another program");
        }
#if defined(__linux__)
        args = sandbox_command(setup, command);
#else
        skip_ = "the default paths are proven only on Linux, in a private mount namespace";
        return;
#endif
    }
    variables.insert(variables.end(), setup.environment.begin(), setup.environment.end());
    std::vector<std::string> environment = environment_with(variables);
    std::vector<char*> argv = c_strings(args);
    std::vector<char*> envp = c_strings(environment);
    const std::string cwd = direct_ && setup.cwd ? setup.cwd->string() : std::string();
    const std::string stdout_file = setup.stdout_file ? setup.stdout_file->string() : "";
    const bool append = setup.stdout_append;
    const bool stdout_closed = setup.stdout_closed;
    const std::string stdin_file = setup.stdin_file ? setup.stdin_file->string() : "/dev/null";

    child_ = ::fork();
    if (child_ < 0) {
        throw std::runtime_error("fork failed");
    }
    if (child_ == 0) {
        const int in = ::open(stdin_file.c_str(), O_RDONLY);
        ::dup2(in, STDIN_FILENO);
        if (!stdout_file.empty()) {
            const int file = ::open(stdout_file.c_str(),
                                    O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC), 0644);
            ::dup2(file, STDOUT_FILENO);
        } else {
            ::dup2(out_.write_end, STDOUT_FILENO);
        }
        ::dup2(err_.write_end, STDERR_FILENO);
        if (stdout_closed) {
            ::close(STDOUT_FILENO);
        }
        // An ignored SIGPIPE stays ignored across exec, down to the command.
        ::signal(SIGPIPE, setup.ignore_sigpipe ? SIG_IGN : SIG_DFL);
        if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) {
            child_failed("chdir");
        }
        if (as &&
            (::setgroups(1, &as->gid) != 0 || ::setgid(as->gid) != 0 || ::setuid(as->uid) != 0)) {
            child_failed("switching user");
        }
        const char* file = executable.empty() ? argv[0] : executable.c_str();
        ::execve(file, argv.data(), envp.data());
        child_failed(file);
    }
    out_.close_write();
    err_.close_write();
}

command_process::~command_process() {
    if (child_ > 0) {
        // Unread output: closing the pipes ends the command by SIGPIPE.
        out_.close_read();
        err_.close_read();
        wait();
    }
}

bool command_process::reap(int options) {
    rusage usage{};
    pid_t got = 0;
    while ((got = ::wait4(child_, &status_, options, &usage)) < 0 && errno == EINTR) {
    }
    if (got == child_) {
        peak_kib_ = usage.ru_maxrss;
        child_ = -1;
        return true;
    }
    return false;
}

void command_process::wait() {
    if (child_ > 0) {
        reap(0);
    }
}

bool command_process::wait_until_output_blocks() {
    if (skip_) {
        return false;
    }
    auto guard = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    if (deadline_) {
        guard = std::min(guard, *deadline_);
    }
    // Far enough into its work that the command is part-way, as it would be
    // when a pipe of the usual size filled.
    constexpr std::size_t part_way = 65536;
    for (const std::size_t start = out_text_.size(); out_text_.size() - start < part_way;) {
        pollfd watched{out_.read_end, POLLIN, 0};
        if (::poll(&watched, 1, milliseconds_until(guard)) == 0 || read_output(part_way) == 0) {
            return false;
        }
    }
    return out_gauge_.wait_until_full(guard);
}

std::size_t command_process::read_output(std::size_t most) {
    if (skip_) {
        return 0;
    }
    std::string chunk(most, '\0');
    ssize_t got = 0;
    while ((got = ::read(out_.read_end, chunk.data(), most)) < 0 && errno == EINTR) {
    }
    const auto bytes = static_cast<std::size_t>(std::max<ssize_t>(got, 0));
    out_text_.append(chunk.data(), bytes);
    return bytes;
}

run_result command_process::finish() {
    run_result result;
    if (skip_) {
        result.skipped = true;
        result.err = *skip_;
        return result;
    }
    drain(out_, err_, out_text_, err_text_, out_limit_, deadline_, [this] {
        if (child_ > 0 && ::kill(child_, SIGKILL) == 0) {
            timed_out_ = true;
        }
    });
    wait();
    result.timed_out = timed_out_;
    result.out = std::move(out_text_);
    result.err = std::move(err_text_);
    result.peak_kib = peak_kib_;
    if (WIFEXITED(status_)) {
        result.status = WEXITSTATUS(status_);
        result.skipped = !direct_ && result.status == sandbox_unavailable;
        // The namespace's runner reports a signal that ended the command as
        // 128 + its number.
        if (!direct_ && result.status > 128 && result.status < 128 + 65) {
            result.signal = result.status - 128;
            result.status = -1;
        }
    } else if (WIFSIGNALED(status_)) {
        result.signal = WTERMSIG(status_);
    }
    return result;
}

run_result run_command(const run_setup& setup, const std::vector<std::string>& command) {
    command_process process(setup, command);
    return process.finish();
}

sample_system::sample_system() {
    std::filesystem::create_directory(ports());
    std::filesystem::create_directory(pkg());
    write_file(ports() / "INDEX-15", read_source_file("tests/data/INDEX-sample"));
    make_package_db(pkg() / "local.sqlite", read_source_file("tests/data/installed.sql"));
    write_file(release(), "15.1-RELEASE\n");
    open_to_all(dir_.path());
}

run_setup sample_system::setup() const {
    run_setup setup;
    setup.ports = ports();
    setup.pkg = pkg();
    return setup;
}

run_setup sample_system::setup_at_default_paths() const {
    run_setup at_defaults = setup();
    at_defaults.release = release();
    at_defaults.at_default_paths = true;
    return at_defaults;
}

} // namespace fixture
