#include "sandbox.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fixture {

namespace {

constexpr int sandbox_unavailable = 125;

struct pipe_pair {
    int read_end = -1;
    int write_end = -1;
    pipe_pair() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe2 failed");
        }
        read_end = fds[0];
        write_end = fds[1];
    }
    ~pipe_pair() {
        close_read();
        close_write();
    }
    pipe_pair(const pipe_pair&) = delete;
    pipe_pair& operator=(const pipe_pair&) = delete;
    void close_read() {
        if (read_end >= 0) {
            ::close(read_end);
        }
        read_end = -1;
    }
    void close_write() {
        if (write_end >= 0) {
            ::close(write_end);
        }
        write_end = -1;
    }
};

// Reads both pipes to their end without letting either fill up; standard
// output only up to its limit, after which its pipe is closed as a reader that
// has seen enough would.
void drain(pipe_pair& out, pipe_pair& err, std::string& out_text, std::string& err_text,
           std::optional<std::size_t> out_limit) {
    pollfd fds[2] = {{out.read_end, POLLIN, 0}, {err.read_end, POLLIN, 0}};
    std::string* texts[2] = {&out_text, &err_text};
    int open = 2;
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

std::string vandrel_binary() {
    return VANDREL_BINARY;
}

run_result run_sandboxed(const sandbox_setup& setup, const std::vector<std::string>& command) {
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
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    pipe_pair out;
    pipe_pair err;
    const pid_t child = ::fork();
    if (child < 0) {
        throw std::runtime_error("fork failed");
    }
    if (child == 0) {
        const int null_in = ::open("/dev/null", O_RDONLY);
        ::dup2(null_in, STDIN_FILENO);
        if (setup.stdout_file) {
            const int file = ::open(setup.stdout_file->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(file, STDOUT_FILENO);
        } else {
            ::dup2(out.write_end, STDOUT_FILENO);
        }
        ::dup2(err.write_end, STDERR_FILENO);
        // An ignored SIGPIPE stays ignored across exec, down to the command.
        ::signal(SIGPIPE, setup.ignore_sigpipe ? SIG_IGN : SIG_DFL);
        ::execv(argv[0], argv.data());
        _exit(127);
    }
    out.close_write();
    err.close_write();
    run_result result;
    drain(out, err, result.out, result.err, setup.stdout_limit);
    int status = 0;
    rusage usage{};
    while (::wait4(child, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    result.peak_kib = usage.ru_maxrss;
    if (WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
        result.skipped = result.status == sandbox_unavailable;
        // The runner reports a signal that ended the command as 128 + its number.
        if (result.status > 128 && result.status < 128 + 65) {
            result.signal = result.status - 128;
            result.status = -1;
        }
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
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
