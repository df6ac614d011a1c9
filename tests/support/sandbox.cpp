#include "sandbox.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <string_view>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fixture {

namespace {

constexpr int sandbox_unavailable = 125;

// Reads both pipes to their end without letting either fill up; standard
// output only up to its limit, after which its pipe is closed as a reader that
// has seen enough would.
void drain(pipe_pair& out, pipe_pair& err, std::string& out_text, std::string& err_text,
           std::optional<std::size_t> out_limit) {
    pollfd fds[2] = {{out.read_end, POLLIN, 0}, {err.read_end, POLLIN, 0}};
    std::string* texts[2] = {&out_text, &err_text};
    int open = (out.read_end >= 0 ? 1 : 0) + (err.read_end >= 0 ? 1 : 0);
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw std::runtime_error("poll failed");
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

std::string counts(std::uint64_t results, std::uint64_t matches, std::uint64_t entries) {
    return "\nResults: " + std::to_string(results) + " / Matches: " + std::to_string(matches) +
           " / Entries: " + std::to_string(entries) + "\n\n";
}

sandbox_process::sandbox_process(const sandbox_setup& setup,
                                 const std::vector<std::string>& command)
    : out_limit_(setup.stdout_limit) {
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
    std::vector<char*> argv = c_strings(args);

    // This environment, without the ports and pkg variables but those given.
    std::vector<std::string> variables;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string_view entry(*variable);
        const std::string_view name = entry.substr(0, entry.find('='));
        if (name != "PORTSDIR" && name != "INDEXDIR" && name != "INDEXFILE" &&
            name != "PKG_DBDIR") {
            variables.emplace_back(entry);
        }
    }
    for (const auto& [name, value] : setup.environment) {
        variables.push_back(name);
        variables.back().append("=").append(value);
    }
    std::vector<char*> envp = c_strings(variables);

    child_ = ::fork();
    if (child_ < 0) {
        throw std::runtime_error("fork failed");
    }
    if (child_ == 0) {
        const int null_in = ::open("/dev/null", O_RDONLY);
        ::dup2(null_in, STDIN_FILENO);
        if (setup.stdout_file) {
            const int file = ::open(setup.stdout_file->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(file, STDOUT_FILENO);
        } else {
            ::dup2(out_.write_end, STDOUT_FILENO);
        }
        ::dup2(err_.write_end, STDERR_FILENO);
        // An ignored SIGPIPE stays ignored across exec, down to the command.
        ::signal(SIGPIPE, setup.ignore_sigpipe ? SIG_IGN : SIG_DFL);
        ::execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    out_.close_write();
    err_.close_write();
}

sandbox_process::~sandbox_process() {
    if (child_ > 0) {
        // Unread output: closing the pipes ends the command by SIGPIPE.
        out_.close_read();
        err_.close_read();
        wait();
    }
}

bool sandbox_process::reap(int options) {
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

void sandbox_process::wait() {
    if (child_ > 0) {
        reap(0);
    }
}

bool sandbox_process::wait_until_output_blocks() {
#if defined(F_GETPIPE_SZ)
    const int capacity = ::fcntl(out_.read_end, F_GETPIPE_SZ);
    if (capacity <= 0) {
        throw std::runtime_error("F_GETPIPE_SZ failed");
    }
#else
    const int capacity = 16384; // the BSDs' pipe size, until a writer makes it grow
#endif
    // stdio writes whole buffers, so a blocked writer may leave less than one
    // buffer's room; the pipe must hold that much and stop growing.
    const int nearly_full = std::max(capacity - 8192, capacity / 2);
    int previous = -1;
    for (int round = 0; round < 60 * 50; ++round) {
        if (child_ < 0 || reap(WNOHANG)) {
            return false;
        }
        int available = 0;
        if (::ioctl(out_.read_end, FIONREAD, &available) != 0) {
            throw std::runtime_error("FIONREAD failed");
        }
        if (available >= nearly_full && available == previous) {
            return true;
        }
        previous = available;
        ::usleep(20000);
    }
    return false;
}

std::size_t sandbox_process::read_output(std::size_t most) {
    std::string chunk(most, '\0');
    ssize_t got = 0;
    while ((got = ::read(out_.read_end, chunk.data(), most)) < 0 && errno == EINTR) {
    }
    const auto bytes = static_cast<std::size_t>(std::max<ssize_t>(got, 0));
    out_text_.append(chunk.data(), bytes);
    return bytes;
}

run_result sandbox_process::finish() {
    run_result result;
    drain(out_, err_, out_text_, err_text_, out_limit_);
    wait();
    result.out = std::move(out_text_);
    result.err = std::move(err_text_);
    result.peak_kib = peak_kib_;
    if (WIFEXITED(status_)) {
        result.status = WEXITSTATUS(status_);
        result.skipped = result.status == sandbox_unavailable;
        // The runner reports a signal that ended the command as 128 + its number.
        if (result.status > 128 && result.status < 128 + 65) {
            result.signal = result.status - 128;
            result.status = -1;
        }
    } else if (WIFSIGNALED(status_)) {
        result.signal = WTERMSIG(status_);
    }
    return result;
}

run_result run_sandboxed(const sandbox_setup& setup, const std::vector<std::string>& command) {
    sandbox_process process(setup, command);
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

sandbox_setup sample_system::setup() const {
    sandbox_setup setup;
    setup.ports = ports();
    setup.pkg = pkg();
    setup.release = release();
    return setup;
}

} // namespace fixture
