#include "fixtures.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include <sqlite3.h>

#include "getopt_restart.h"

namespace fixture {

std::filesystem::path source_dir() {
    return VANDREL_SOURCE_DIR;
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string read_source_file(std::string_view relative) {
    return read_file(source_dir() / relative);
}

void write_file(const std::filesystem::path& path, std::string_view content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

temp_dir::temp_dir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vandrel-test.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    }
    path_ = pattern;
}

temp_dir::~temp_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

memory_stream::memory_stream() : file_(open_memstream(&data_, &size_)), output_(file_) {
    if (file_ == nullptr) {
        throw std::system_error(errno, std::generic_category(), "open_memstream");
    }
}

memory_stream::~memory_stream() {
    std::fclose(file_);
    std::free(data_);
}

std::string memory_stream::text() {
    std::fflush(file_);
    return {data_, size_};
}

file_handle stream_with(std::string_view content) {
    file_handle file(std::tmpfile());
    if (!file) {
        throw std::system_error(errno, std::generic_category(), "tmpfile");
    }
    std::fwrite(content.data(), 1, content.size(), file.get());
    std::fflush(file.get());
    std::rewind(file.get());
    return file;
}

void connection_closer::operator()(sqlite3* db) const {
    sqlite3_close(db);
}

void exec(sqlite3* db, const std::string& sql) {
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    const std::string message = error != nullptr ? error : sqlite3_errstr(rc);
    sqlite3_free(error);
    if (rc != SQLITE_OK) {
        throw std::runtime_error("SQL failed (" + message + "): " + sql.substr(0, 200));
    }
}

connection open_for_writing(const std::filesystem::path& database) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open(database.c_str(), &raw);
    connection db(raw);
    if (rc != SQLITE_OK) {
        throw std::runtime_error("cannot open " + database.string() + ": " + sqlite3_errstr(rc));
    }
    return db;
}

void run_sql(const std::filesystem::path& database, const std::string& sql) {
    exec(open_for_writing(database).get(), sql);
}

connection begin_exclusive_write(const std::filesystem::path& database,
                                 std::string_view new_version) {
    connection writer = open_for_writing(database);
    exec(writer.get(),
         "BEGIN EXCLUSIVE; UPDATE packages SET version = '" + std::string(new_version) + "';");
    return writer;
}

void make_package_db(const std::filesystem::path& database, const std::string& inserts) {
    run_sql(database, read_source_file("tests/data/pkg-schema.sql") + inserts);
}

std::string package_insert(std::string_view name, std::string_view version,
                           std::string_view origin) {
    const auto quoted = [](std::string_view text) {
        std::string out = "'";
        for (const char c : text) {
            out += c;
            if (c == '\'') {
                out += '\'';
            }
        }
        return out + "'";
    };
    return "INSERT INTO packages (origin, name, version, comment, desc, arch, maintainer, prefix, "
           "flatsize, automatic, licenselogic) VALUES (" +
           quoted(origin.empty() ? "misc/" + std::string(name) : std::string(origin)) + ", " +
           quoted(name) + ", " + quoted(version) +
           ", 'c', 'd', 'FreeBSD:15:amd64', 'ports@FreeBSD.org', '/usr/local', 1, 0, 1);\n";
}

std::vector<char*> c_strings(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (std::string& string : strings) {
        pointers.push_back(string.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

command_line parse_arguments(std::vector<std::string> args) {
    args.insert(args.begin(), "vandrel");
    std::vector<char*> argv = c_strings(args);
    restart_getopt();
    return parse_command_line(static_cast<int>(args.size()), argv.data());
}

search_options options_with(std::string_view letters) {
    if (letters.empty()) {
        return parse_arguments({}).options;
    }
    return parse_arguments({"-" + std::string(letters)}).options;
}

search_criteria criteria_for(std::string term, const search_options& options,
                             const std::vector<std::string>& excluded) {
    std::string error;
    std::optional<term_matcher> matcher = term_matcher::make(std::move(term), options, error);
    if (!matcher) {
        throw std::invalid_argument(error);
    }
    search_criteria criteria{std::move(*matcher), {}, {}};
    for (const std::string& other : excluded) {
        std::optional<term_matcher> excluded_matcher = term_matcher::make(other, options, error);
        if (!excluded_matcher) {
            throw std::invalid_argument(error);
        }
        criteria.excluded.push_back(std::move(*excluded_matcher));
    }
    return criteria;
}

void open_to_all(const std::filesystem::path& path) {
    namespace fs = std::filesystem;
    const auto add = [](const fs::path& p, fs::perms perms) {
        fs::permissions(p, perms, fs::perm_options::add);
    };
    add(path, fs::perms::others_read | fs::perms::others_exec | fs::perms::group_read |
                  fs::perms::group_exec);
    if (fs::is_directory(path)) {
        for (const auto& entry : fs::recursive_directory_iterator(path)) {
            add(entry.path(), entry.is_directory() ? fs::perms::others_read | fs::perms::others_exec
                                                   : fs::perms::others_read);
        }
    }
}

std::string expected_version_line() {
    return "vandrel " VANDREL_VERSION " by The vandrel project (vandrel@example.org) at The "
           "vandrel project on " VANDREL_RELEASE_DATE " (first release 2010-08-30)\n";
}

std::string expected_help(std::string_view invocation_name) {
    return "\n" + expected_version_line() + std::string(91, '=') +
           "\n\nUsage: " + std::string(invocation_name) +
           " [options] search\n\n"
           "Options:\n"
           "----------\n"
           "\n"
           "\tWithout options the search only matches the name of the ports\n"
           "\t-a\t- Search in all fields\n"
           "\t-d\t- Search in name and in description\n"
           "\t-p\t- Search in name and in path\n"
           "\t-m\t- Search in name and maintainer\n"
           "\t-D\t- Search in name and dependencies\n"
           "\t-f\t- Show result with dependencies\n"
           "\t-n\t- Show normal version of results (short version is default)\n"
           "\t-r\t- Show result count\n"
           "\t-h\t- Print this help text\n"
           "\t-v\t- Print version number\n"
           "\n"
           "Please be sure you have an actual index file or do\n"
           "\n"
           "\t# cd /usr/ports && sudo make index\n"
           "\n";
}

} // namespace fixture
