// vandrel: search the FreeBSD ports index for a term.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "help_text.h"
#include "index_scan.h"
#include "platform.h"

namespace {

constexpr int exit_ok = 0;
constexpr int exit_failure = 1;

struct file_closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using file_handle = std::unique_ptr<std::FILE, file_closer>;

struct command_line {
    search_options options;
    int first_operand = 0;
    int operand_count = 0;
};

// POSIX rules: parsing stops at the first operand or after "--", so an option
// after the term is a second operand. A letter not in the list gets getopt's
// own diagnostic and counts as -h.
command_line parse_command_line(int argc, char** argv) {
    static const std::string option_string = std::string(getopt_posix_prefix) + "adpmDrhfvn";
    command_line parsed;
    search_options& o = parsed.options;
    int letter = 0;
    while ((letter = getopt(argc, argv, option_string.c_str())) != -1) {
        switch (letter) {
        case 'a':
            o.search_description = o.search_path = o.search_maintainer = o.search_depends = true;
            break;
        case 'd':
            o.search_description = true;
            break;
        case 'p':
            o.search_path = true;
            break;
        case 'm':
            o.search_maintainer = true;
            break;
        case 'D':
            o.search_depends = true;
            break;
        case 'f':
            o.show_depends = true;
            break;
        case 'n':
            o.long_format = true;
            break;
        case 'r':
            o.show_counts = true;
            break;
        case 'v':
            o.show_version = true;
            break;
        default: // 'h' and '?'
            o.show_help = true;
            break;
        }
    }
    parsed.first_operand = optind;
    parsed.operand_count = argc - optind;
    return parsed;
}

// The kernel's release up to its first dot: "15.1-RELEASE-p2" gives "15", a
// release without a dot is returned whole. Absent when the kernel reports a
// release of length 0.
std::optional<std::string> os_release_major() {
    std::size_t size = 0;
    static_cast<void>(sysctlbyname("kern.osrelease", nullptr, &size, nullptr, 0));
    if (size == 0) {
        return std::nullopt;
    }
    std::string release(size, '\0');
    static_cast<void>(sysctlbyname("kern.osrelease", release.data(), &size, nullptr, 0));
    // Whatever the second call left in the zero-filled buffer is used.
    release.resize(std::strlen(release.c_str()));
    return release.substr(0, release.find('.'));
}

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

int search(const search_options& options, const char* search_term) {
    const std::optional<std::string> major = os_release_major();
    if (!major) {
        std::fputs("Could not determine release\n", stderr);
        return exit_failure;
    }
    const std::string index_path = "/usr/ports/INDEX-" + *major;

    const file_handle index(std::fopen(index_path.c_str(), "r"));
    struct stat status {};
    // A directory opens on some systems but can't be read as an index.
    if (!index || fstat(fileno(index.get()), &status) != 0 || S_ISDIR(status.st_mode)) {
        std::fprintf(stderr, "Could not open %s\n", index_path.c_str());
        return exit_failure;
    }

    scan_counters counters;
    package_db database("/var/db/pkg/local.sqlite");
    const scan_outcome outcome =
        scan_index(index.get(), options, search_term, counters, database, stdout);
    switch (outcome.status) {
    case scan_status::read_error: {
        // The results printed so far stay, ahead of the message, but no
        // counts: the search is incomplete.
        const int status = finish_output(exit_failure);
        std::fprintf(stderr, "Could not read %s\n", index_path.c_str());
        return status;
    }
    case scan_status::write_error:
        return finish_output(exit_failure, outcome.error);
    case scan_status::complete:
        break;
    }
    if (options.show_counts) {
        std::printf("\nResults: %" PRIu64 " / Matches: %" PRIu64 " / Entries: %" PRIu64 "\n\n",
                    counters.results, counters.matches, counters.entries);
    }
    return finish_output(exit_ok);
}

int run(int argc, char** argv) {
    const command_line parsed = parse_command_line(argc, argv);
    if (parsed.options.show_version) {
        print_version_line();
        return finish_output(exit_ok);
    }
    if (parsed.operand_count != 1 || parsed.options.show_help) {
        print_usage(argv[0]);
        return finish_output(exit_ok);
    }
    return search(parsed.options, argv[parsed.first_operand]);
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
