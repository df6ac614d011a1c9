// vandrel: search the FreeBSD ports index for a term.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <new>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "checked_output.h"
#include "cli.h"
#include "descr_files.h"
#include "file_descriptor.h"
#include "help_text.h"
#include "index_census.h"
#include "index_scan.h"
#include "json_output.h"
#include "locations.h"
#include "moved_ports.h"
#include "package_db.h"
#include "port_standing.h"
#include "result_output.h"
#include "status_view.h"
#include "system.h"

namespace {

constexpr int exit_ok = 0;
constexpr int exit_failure = 1;

// Flushes standard output; a write that failed, now or earlier, is reported
// and makes the run fail. saved_error is errno from an earlier failure, if any.
int finish_output(checked_output& out, int status, int saved_error = 0) {
    if (!out.flush()) {
        const int error = saved_error != 0 ? saved_error : out.error();
        std::fprintf(stderr, "vandrel: write error: %s\n", std::strerror(error));
        return exit_failure;
    }
    return status;
}

// The index named by --index, or else by the environment and the release.
std::optional<std::string> chosen_index(const command_line& parsed) {
    if (parsed.index_file) {
        return *parsed.index_file;
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

// How long a search that needs the database waits for a writer that holds
// it locked: as long as pkg's own readers wait.
constexpr std::chrono::milliseconds db_lock_wait{5000};

// The ordinary search: every matching port of the index, printed as found.
// Ports are marked installed by name; --installed, --outdated and --json go
// by origin, and where several ports share the origin of an installed
// package, a second read of the index (only a regular file can be read
// twice) tells them apart.
scan_outcome scan_for_ports(int index_fd, bool index_rereadable, package_db& database,
                            const search_options& options, const search_criteria& criteria,
                            scan_counters& counters) {
    const installed_version_lookup by_name = [&database](std::optional<std::string_view> name) {
        return database.lookup_installed_version(name);
    };
    std::optional<index_census> census;
    bool census_taken = false;
    const entry_installed_lookup by_origin =
        [&](const port_entry& entry) -> std::optional<std::string> {
        const installed_packages* table = database.packages();
        if (table == nullptr) {
            return std::nullopt;
        }
        const origin_count count = [&](std::string_view origin) -> std::optional<std::size_t> {
            if (!census_taken && index_rereadable) {
                census_taken = true;
                int error = 0;
                census = index_census::take(index_fd, *table, true, error);
            }
            return census ? std::optional(census->at_origin(origin).size()) : std::nullopt;
        };
        const std::optional<std::string_view> origin =
            entry.path ? std::optional(port_origin(*entry.path)) : std::nullopt;
        const installed_package* package = installed_for_entry(*table, origin, entry.name, count);
        return package != nullptr ? package->version : std::nullopt;
    };
    return scan_index(index_fd, options, criteria, counters, by_name, stdout, by_origin);
}

// --status: the installed packages whose names hold the term, against the
// whole index.
scan_outcome show_status(int index_fd, package_db& database, const search_options& options,
                         const search_criteria& criteria, scan_counters& counters,
                         checked_output& out) {
    const installed_packages* table = database.packages();
    static const installed_packages nothing_installed;
    int error = 0;
    const std::optional<index_census> census =
        index_census::take(index_fd, table != nullptr ? *table : nothing_installed, false, error);
    if (!census) {
        return {scan_status::read_error, error};
    }
    const std::vector<package_status> statuses =
        package_statuses(table != nullptr ? *table : nothing_installed, *census, criteria);
    counters.entries = census->entries();
    counters.results = counters.matches = statuses.size();
    print_package_statuses(statuses, options, out);
    if (out.failed()) {
        return {scan_status::write_error, out.error()};
    }
    return {};
}

// The term and the excluded terms, as the options say to match them; absent
// when one is an invalid expression, which is reported.
std::optional<search_criteria> criteria_for(const command_line& parsed) {
    std::string error;
    std::optional<term_matcher> term =
        term_matcher::make(parsed.search_term, parsed.options, error);
    if (!term) {
        std::fprintf(stderr, "vandrel: %s\n", error.c_str());
        return std::nullopt;
    }
    search_criteria criteria{std::move(*term), {}, {}};
    for (const std::string& excluded : parsed.excluded_terms) {
        std::optional<term_matcher> matcher = term_matcher::make(excluded, parsed.options, error);
        if (!matcher) {
            std::fprintf(stderr, "vandrel: --exclude: %s\n", error.c_str());
            return std::nullopt;
        }
        criteria.excluded.push_back(std::move(*matcher));
    }
    return criteria;
}

// --moved: the entries of the ports tree's MOVED file whose old origin holds
// the term and no excluded term, printed after the results. A file that
// can't be read is said once on standard error, and the run goes on.
void show_moved(const search_options& options, const search_criteria& criteria,
                checked_output& out) {
    const std::string path = moved_path(environment_setting);
    // Non-blocking: a FIFO in the tree's place can't hold the run up.
    const file_descriptor moved(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (moved.get() < 0) {
        std::fprintf(stderr, "vandrel: %s: %s\n", path.c_str(), std::strerror(errno));
        return;
    }
    // A device or FIFO in its place (/dev/zero, /dev/urandom) would be read
    // without end.
    struct stat status {};
    if (fstat(moved.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        std::fprintf(stderr, "vandrel: %s: not a regular file\n", path.c_str());
        return;
    }
    const moved_printer print = moved_printer_for(options);
    const auto holds = [](const term_matcher& term, std::string_view origin) {
        return term.holds(field_shape::path, origin);
    };
    const int error = read_moved_ports(moved.get(), [&](const moved_port& port) {
        if (holds(criteria.term, port.old_origin) &&
            std::ranges::none_of(criteria.excluded, [&](const term_matcher& excluded) {
                return holds(excluded, port.old_origin);
            })) {
            print(port, out);
        }
        return !out.failed();
    });
    if (error != 0) {
        std::fprintf(stderr, "vandrel: %s: %s\n", path.c_str(), std::strerror(error));
    }
}

int search(const command_line& parsed, checked_output& out) {
    const search_options& options = parsed.options;
    // With standard output closed, the next file opened would take its place
    // and results would be written into it.
    if (::fcntl(STDOUT_FILENO, F_GETFD) < 0) {
        std::fputs("vandrel: standard output is closed\n", stderr);
        return exit_failure;
    }
    if (parsed.index_file && parsed.index_file->empty()) {
        std::fputs("vandrel: --index: the file name is empty\n", stderr);
        return exit_failure;
    }
    // An empty excluded term is in every field: it would leave nothing, and
    // is more likely an unset variable than a wish.
    if (std::ranges::any_of(parsed.excluded_terms,
                            [](const std::string& term) { return term.empty(); })) {
        std::fputs("vandrel: --exclude: the term is empty\n", stderr);
        return exit_failure;
    }
    // An invalid expression is found before anything is read.
    std::optional<search_criteria> criteria = criteria_for(parsed);
    if (!criteria) {
        return exit_failure;
    }
    const std::optional<std::string> found_index = chosen_index(parsed);
    if (!found_index) {
        std::fputs("Could not determine release\n", stderr);
        return exit_failure;
    }
    const std::string& index_name = *found_index;

    const file_descriptor index(open_index(index_name));
    struct stat status {};
    // A directory opens on some systems but can't be read as an index.
    if (index.get() < 0 || fstat(index.get(), &status) != 0 || S_ISDIR(status.st_mode)) {
        std::fprintf(stderr, "Could not open %s\n", index_name.c_str());
        return exit_failure;
    }

    // Results appended to the index being read would be read again, without
    // end; cat and grep refuse this too.
    struct stat output {};
    if (fstat(STDOUT_FILENO, &output) == 0 && S_ISREG(output.st_mode) &&
        output.st_dev == status.st_dev && output.st_ino == status.st_ino) {
        std::fprintf(stderr, "vandrel: %s: input file is output file\n", index_name.c_str());
        return exit_failure;
    }

    const std::string db_path = package_db_path(environment_setting);
    // Searches that show only installed ports can't go on without the
    // database, and wait for a writer as pkg's own readers do.
    const bool db_required = options.only_installed || options.only_outdated || options.show_status;
    package_db_timing timing;
    if (db_required) {
        timing.limits.lock_wait = db_lock_wait;
    }
    timing.limits.origins = matches_by_origin(options);
    package_db database(db_path, timing, [&db_path](const std::string& reason) {
        std::fprintf(stderr, "vandrel: %s: %s; installed ports are not marked\n", db_path.c_str(),
                     reason.c_str());
    });
    if (db_required) {
        if (const std::optional<std::string> reason = database.require()) {
            std::fprintf(stderr, "vandrel: %s: %s\n", db_path.c_str(), reason->c_str());
            return exit_failure;
        }
    }
    // --pkg-descr: each entry's long description, read from the ports tree
    // when the line leaves it undecided.
    descr_reader descriptions(ports_tree(environment_setting));
    if (options.search_pkg_descr) {
        criteria->read_field = [&descriptions](const port_entry& entry) {
            return entry.descr_file ? descriptions.read_field(*entry.descr_file) : std::nullopt;
        };
    }
    scan_counters counters;
    const scan_outcome outcome =
        options.show_status ? show_status(index.get(), database, options, *criteria, counters, out)
                            : scan_for_ports(index.get(), S_ISREG(status.st_mode), database,
                                             options, *criteria, counters);
    switch (outcome.status) {
    case scan_status::read_error: {
        // The results printed so far stay, ahead of the message, but no
        // counts: the search is incomplete.
        const int status = finish_output(out, exit_failure);
        std::fprintf(stderr, "Could not read %s: %s\n", index_name.c_str(),
                     std::strerror(outcome.error));
        return status;
    }
    case scan_status::write_error:
        return finish_output(out, exit_failure, outcome.error);
    case scan_status::complete:
        break;
    }
    if (descriptions.tried_any() && !descriptions.found_any()) {
        std::fprintf(stderr, "%s\n", no_descr_files_message(descriptions.ports_tree()).c_str());
    }
    if (options.show_moved) {
        show_moved(options, *criteria, out);
        if (out.failed()) {
            return finish_output(out, exit_failure);
        }
    }
    if (options.show_counts && options.json_output) {
        print_json_counts(counters.results, counters.matches, counters.entries, out);
    } else if (options.show_counts) {
        out.print("\nResults: %" PRIu64 " / Matches: %" PRIu64 " / Entries: %" PRIu64 "\n\n",
                  counters.results, counters.matches, counters.entries);
    }
    return finish_output(out, exit_ok);
}

int run(int argc, char** argv) {
    const command_line parsed = parse_command_line(argc, argv);
    checked_output out(stdout);
    switch (parsed.mode) {
    case run_mode::version:
        print_version_line(out);
        return finish_output(out, exit_ok);
    case run_mode::help:
    case run_mode::help_with_long_options:
        print_usage(argv[0], out);
        if (parsed.mode == run_mode::help_with_long_options) {
            print_long_options(out);
        }
        // Status 0 for the help text, whatever brought it up: the status that
        // users and scripts of this tool know.
        return finish_output(out, exit_ok);
    case run_mode::search:
        break;
    }
    return search(parsed, out);
}

} // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fputs("vandrel: out of memory\n", stderr);
        return exit_failure;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vandrel: %s\n", error.what());
        return exit_failure;
    }
}
