// vandrel: search the FreeBSD ports index for a term.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "cli.h"
#include "help_text.h"
#include "index_scan.h"
#include "json_output.h"
#include "locations.h"
#include "package_db.h"
#include "system.h"

namespace {

constexpr int exit_ok = 0;
constexpr int exit_failure = 1;

// An open file descriptor, closed when it goes.
class file_descriptor {
public:
    explicit file_descriptor(int fd) noexcept : fd_(fd) {}
    ~file_descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    file_descriptor(const file_descriptor&) = delete;
    file_descriptor& operator=(const file_descriptor&) = delete;
    file_descriptor(file_descriptor&&) = delete;
    file_descriptor& operator=(file_descriptor&&) = delete;
    [[nodiscard]] int get() const noexcept { return fd_; }

private:
    int fd_;
};

// Flushes standard output; a write that failed, now or earlier, is reported
// and makes the run fail. saved_error is errno from an earlier failure, if any.
int finish_output(int status, int saved_error = 0) {
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        const int error = saved_error != 0 ? saved_error : errno;
        std::fprintf(stderr, "vandrel: write error: %s\n",
                     error != 0 ? std::strerror(error) : "unknown error");
        return exit_failure;
    }
    return status;
}

// The index named by --index, or else by the environment and the release.
std::optional<std::string> chosen_index(const command_line& parsed) {
    if (parsed.index_file) {
        return std::string(*parsed.index_file);
    }
    return index_path(environment_setting, kernel_release);
}

// Opens the index; "-" is standard input, as a descriptor of its own that
// can be closed like any other.
int open_index(const std::string& path) {
    if (path == "-") {
        return ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
    }
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

int search(const command_line& parsed, const char* search_term) {
    const search_options& options = parsed.options;
    const std::optional<std::string> found_index = chosen_index(parsed);
    if (!found_index) {
        std::fputs("Could not determine release\n", stderr);
        return exit_failure;
    }
    const std::string& index_path = *found_index;

    const file_descriptor index(open_index(index_path));
    struct stat status {};
    // A directory opens on some systems but can't be read as an index.
    if (index.get() < 0 || fstat(index.get(), &status) != 0 || S_ISDIR(status.st_mode)) {
        std::fprintf(stderr, "Could not open %s\n", index_path.c_str());
        return exit_failure;
    }

    // Results appended to the index being read would be read again, without
    // end; cat and grep refuse this too.
    struct stat output {};
    if (fstat(STDOUT_FILENO, &output) == 0 && S_ISREG(output.st_mode) &&
        output.st_dev == status.st_dev && output.st_ino == status.st_ino) {
        std::fprintf(stderr, "vandrel: %s: input file is output file\n", index_path.c_str());
        return exit_failure;
    }

    package_db database(package_db_path(environment_setting));
    const installed_version_lookup lookup = [&database](std::optional<std::string_view> name) {
        return database.lookup_installed_version(name);
    };
    scan_counters counters;
    const scan_outcome outcome =
        scan_index(index.get(), options, search_term, counters, lookup, stdout);
    switch (outcome.status) {
    case scan_status::read_error: {
        // The results printed so far stay, ahead of the message, but no
        // counts: the search is incomplete.
        const int status = finish_output(exit_failure);
        std::fprintf(stderr, "Could not read %s: %s\n", index_path.c_str(),
                     std::strerror(outcome.error));
        return status;
    }
    case scan_status::write_error:
        return finish_output(exit_failure, outcome.error);
    case scan_status::complete:
        break;
    }
    if (options.show_counts && options.json_output) {
        print_json_counts(counters.results, counters.matches, counters.entries, stdout);
    } else if (options.show_counts) {
        std::printf("\nResults: %" PRIu64 " / Matches: %" PRIu64 " / Entries: %" PRIu64 "\n\n",
                    counters.results, counters.matches, counters.entries);
    }
    return finish_output(exit_ok);
}

int run(int argc, char** argv) {
    const command_line parsed = parse_command_line(argc, argv);
    if (parsed.options.show_version) {
        print_version_line(stdout);
        return finish_output(exit_ok);
    }
    if (parsed.operand_count != 1 || parsed.options.show_help) {
        print_usage(argv[0], stdout);
        if (parsed.options.show_long_options) {
            print_long_options(stdout);
        }
        // Status 0 for the help text, whatever brought it up: the status that
        // users and scripts of this tool know.
        return finish_output(exit_ok);
    }
    return search(parsed, argv[parsed.first_operand]);
}

} // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fputs("vandrel: out of memory\n", stderr);
        return exit_failure;
    }
}
