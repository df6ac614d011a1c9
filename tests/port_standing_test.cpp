#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unistd.h>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "fixtures.h"
#include "index_census.h"
#include "package_table.h"
#include "port_standing.h"

using namespace std::string_literals;
using namespace std::string_view_literals;

namespace {

using text = std::optional<std::string_view>;

std::string index_line(std::string_view name_version, std::string_view origin) {
    const std::string path = "/usr/ports/" + std::string(origin);
    return std::string(name_version) + "|" + path + "|/usr/local|c|" + path +
           "/pkg-descr|ports@FreeBSD.org|misc|||https://example.org/|||\n";
}

// The index the cases below meet: two ports called ruby at two origins, two
// flavors at one origin, a port renamed since its package was built, and a
// port nothing was installed from.
const std::string index_text =
    index_line("ruby-2.2.10,1", "lang/ruby22") + index_line("ruby-2.3.8,1", "lang/ruby23") +
    index_line("py311-foo-1.0", "devel/py-foo") + index_line("py312-foo-1.0", "devel/py-foo") +
    index_line("newname-1.1", "misc/thing") + index_line("zsh-5.9", "shells/zsh") +
    index_line("bash-5.2", "shells/bash");

installed_packages installed_table(bool with_origins) {
    const auto row = [with_origins](const char* name, const char* origin, const char* version) {
        return installed_package{
            name, with_origins ? std::optional<std::string>(origin) : std::nullopt, version};
    };
    return installed_packages(
        {row("ruby", "lang/ruby23", "2.3.8,1"), row("py311-foo", "devel/py-foo", "1.0"),
         row("oldname", "misc/thing", "1.0"), row("zsh", "shells/zsh", "5.9"),
         row("py39-foo", "devel/py-foo", "0.9"), row("gone", "misc/gone", "1.0")},
        with_origins);
}

// The index in a file, open for reading.
class index_file {
public:
    explicit index_file(const std::string& content) {
        fixture::write_file(path_, content);
        fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    }
    ~index_file() { ::close(fd_); }
    index_file(const index_file&) = delete;
    index_file& operator=(const index_file&) = delete;
    [[nodiscard]] int fd() const { return fd_; }

private:
    fixture::temp_dir dir_;
    std::filesystem::path path_ = dir_ / "INDEX-15";
    int fd_ = -1;
};

index_census census_of(const installed_packages& installed) {
    const index_file index(index_text);
    int error = 0;
    std::optional<index_census> census = index_census::take(index.fd(), installed, true, error);
    if (!census) {
        throw std::runtime_error("census failed: " + std::to_string(error));
    }
    return std::move(*census);
}

struct entry_case {
    const char* label;
    bool with_origins;
    text origin;
    text name;
    bool count_known; // false: the index was a pipe, read once
    const char* installed;
    int counts_asked;
};

// An index entry stands for the package installed from its origin under its
// name; failing that, for the one installed from its origin if the index has
// no other port there. Where that count can't be had, the name decides.
TEST(installed_for_entry, finds_the_package_by_origin_then_by_the_ports_at_it) {
    const std::vector<entry_case> cases = {
        {"one name, two origins: the other origin", true, "lang/ruby22"sv, "ruby"sv, true, nullptr,
         0},
        {"one name, two origins: its own", true, "lang/ruby23"sv, "ruby"sv, true, "ruby", 0},
        {"flavor installed", true, "devel/py-foo"sv, "py311-foo"sv, true, "py311-foo", 0},
        {"flavor not installed", true, "devel/py-foo"sv, "py312-foo"sv, true, nullptr, 1},
        {"renamed: the only port at the origin", true, "misc/thing"sv, "newname"sv, true, "oldname",
         1},
        {"renamed, ports at the origin unknown", true, "misc/thing"sv, "newname"sv, false, nullptr,
         1},
        {"flavor installed, ports at the origin unknown", true, "devel/py-foo"sv, "py311-foo"sv,
         false, "py311-foo", 0},
        {"nothing from the origin", true, "shells/bash"sv, "bash"sv, true, nullptr, 0},
        {"name installed from elsewhere", true, "shells/other"sv, "zsh"sv, true, nullptr, 0},
        {"no origin", true, std::nullopt, "zsh"sv, true, nullptr, 0},
        {"no name", true, "shells/zsh"sv, std::nullopt, true, nullptr, 0},
        {"no origins kept: by name", false, "shells/other"sv, "zsh"sv, true, "zsh", 0},
        {"no origins kept: the other ruby", false, "lang/ruby22"sv, "ruby"sv, true, "ruby", 0},
        {"no origins kept: renamed", false, "misc/thing"sv, "newname"sv, true, nullptr, 0},
        {"no origins kept, no origin", false, std::nullopt, "zsh"sv, true, "zsh", 0},
        {"no origins kept, no name", false, "shells/zsh"sv, std::nullopt, true, nullptr, 0},
    };
    for (const entry_case& c : cases) {
        const installed_packages installed = installed_table(c.with_origins);
        const index_census census = census_of(installed);
        int asked = 0;
        const origin_count count = [&](std::string_view origin) -> std::optional<std::size_t> {
            ++asked;
            return c.count_known ? std::optional(census.at_origin(origin).size()) : std::nullopt;
        };
        const installed_package* found = installed_for_entry(installed, c.origin, c.name, count);
        EXPECT_EQ(found != nullptr ? found->name : "(none)"s,
                  c.installed != nullptr ? c.installed : "(none)")
            << c.label;
        EXPECT_EQ(asked, c.counts_asked) << c.label;
    }
}

// The other way round: the index port an installed package belongs to.
TEST(index_port_for, finds_the_port_a_package_belongs_to) {
    struct port_case {
        const char* package;
        bool by_origin;
        const char* port; // name and origin, or nullptr for none
    };
    const std::vector<port_case> cases = {
        {"ruby", true, "ruby lang/ruby23"},
        {"py311-foo", true, "py311-foo devel/py-foo"},
        {"oldname", true, "newname misc/thing"},
        {"zsh", true, "zsh shells/zsh"},
        {"py39-foo", true, nullptr},
        {"gone", true, nullptr},
        {"ruby", false, "ruby lang/ruby22"},
        {"oldname", false, nullptr},
        {"zsh", false, "zsh shells/zsh"},
    };
    for (const port_case& c : cases) {
        const installed_packages installed = installed_table(c.by_origin);
        const index_census census = census_of(installed);
        const installed_package* package = installed.find_name(c.package);
        ASSERT_NE(package, nullptr) << c.package;
        const index_port* port = index_port_for(*package, census, c.by_origin);
        EXPECT_EQ(port != nullptr ? port->name + " " + port->origin : "(none)"s,
                  c.port != nullptr ? c.port : "(none)")
            << c.package << (c.by_origin ? ", by origin" : ", by name");
    }
}

TEST(standing_of, compares_as_pkg_version_does) {
    struct standing_case {
        std::optional<std::string> installed;
        std::optional<std::string_view> available;
        std::optional<standing> expected;
    };
    const std::vector<standing_case> cases = {
        {"1.0", "1.1"sv, standing::older},      {"1.1", "1.1"sv, standing::same},
        {"1.1", "1.1.0"sv, standing::same},     {"1.10", "1.9"sv, standing::newer},
        {"5.9_4", "5.9_10"sv, standing::older}, {"1.0,1", "2.0"sv, standing::newer},
        {"1.0", std::nullopt, std::nullopt},    {std::nullopt, "1.0"sv, std::nullopt},
    };
    for (const standing_case& c : cases) {
        EXPECT_EQ(standing_of(c.installed, c.available), c.expected)
            << c.installed.value_or("(none)") << " against " << c.available.value_or("(none)");
    }
    EXPECT_EQ(static_cast<char>(standing::older), '<');
    EXPECT_EQ(static_cast<char>(standing::same), '=');
    EXPECT_EQ(static_cast<char>(standing::newer), '>');
}

// The census keeps the ports at installed origins (or, for a table without
// origins, under installed names), in the index's order. Taken by offset it
// reads the file from its start and leaves the descriptor where it was, for
// the scan that goes on with it.
TEST(index_census, takes_the_ports_of_installed_origins_leaving_the_offset) {
    const installed_packages installed = installed_table(true);
    const index_file index(index_text);
    ASSERT_EQ(::lseek(index.fd(), 17, SEEK_SET), 17);
    int error = -1;
    const std::optional<index_census> census =
        index_census::take(index.fd(), installed, true, error);
    ASSERT_TRUE(census) << error;
    EXPECT_EQ(error, 0);
    EXPECT_EQ(::lseek(index.fd(), 0, SEEK_CUR), 17);
    EXPECT_EQ(census->entries(), 7U);
    const auto names = [](const std::vector<const index_port*>& ports) {
        std::string out;
        for (const index_port* port : ports) {
            out += (out.empty() ? "" : " ") + port->name + "-" + port->version.value_or("?") + "@" +
                   port->origin;
        }
        return out;
    };
    EXPECT_EQ(names(census->at_origin("devel/py-foo")),
              "py311-foo-1.0@devel/py-foo py312-foo-1.0@devel/py-foo");
    EXPECT_EQ(names(census->at_origin("lang/ruby23")), "ruby-2.3.8,1@lang/ruby23");
    EXPECT_EQ(names(census->at_origin("lang/ruby22")), "") << "nothing installed from it";
    EXPECT_EQ(names(census->at_origin("shells/bash")), "");
    EXPECT_EQ(names(census->named("newname")), "newname-1.1@misc/thing");

    const installed_packages by_name = installed_table(false);
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    ASSERT_EQ(write(pipe_ends[1], index_text.data(), index_text.size()),
              static_cast<ssize_t>(index_text.size()));
    close(pipe_ends[1]);
    const std::optional<index_census> from_pipe =
        index_census::take(pipe_ends[0], by_name, false, error);
    close(pipe_ends[0]);
    ASSERT_TRUE(from_pipe) << error;
    EXPECT_EQ(from_pipe->entries(), 7U);
    EXPECT_EQ(names(from_pipe->named("ruby")),
              "ruby-2.2.10,1@lang/ruby22 ruby-2.3.8,1@lang/ruby23");
    EXPECT_EQ(names(from_pipe->named("bash")), "");
    EXPECT_EQ(names(from_pipe->at_origin("misc/thing")), "") << "newname isn't installed";

    const fixture::temp_dir dir;
    const int folder = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    EXPECT_FALSE(index_census::take(folder, installed, false, error));
    EXPECT_EQ(error, EISDIR);
    ::close(folder);
}

} // namespace
