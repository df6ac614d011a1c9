#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include <gtest/gtest.h>

#include "locations.h"

namespace {

struct location_case {
    std::map<std::string, std::string> settings;
    std::optional<std::string> release;
    std::optional<std::string> index;
    std::string database;
    bool release_asked;
};

TEST(locations, follow_the_ports_and_pkg_variables) {
    for (const location_case& c : {
             location_case{
                 {}, "15.1-RELEASE-p2", "/usr/ports/INDEX-15", "/var/db/pkg/local.sqlite", true},
             location_case{{}, std::nullopt, std::nullopt, "/var/db/pkg/local.sqlite", true},
             location_case{{{"PORTSDIR", "/home/me/ports"}},
                           "14.3-STABLE",
                           "/home/me/ports/INDEX-14",
                           "/var/db/pkg/local.sqlite",
                           true},
             location_case{{{"PORTSDIR", "/home/me/ports"}, {"INDEXDIR", "/tmp/idx"}},
                           "14.3-STABLE",
                           "/tmp/idx/INDEX-14",
                           "/var/db/pkg/local.sqlite",
                           true},
             location_case{{{"INDEXFILE", "INDEX-my"}, {"PKG_DBDIR", "/jail/var/db/pkg"}},
                           std::nullopt,
                           "/usr/ports/INDEX-my",
                           "/jail/var/db/pkg/local.sqlite",
                           false},
             location_case{{{"INDEXDIR", ""}, {"INDEXFILE", ""}, {"PKG_DBDIR", ""}},
                           "16.0-CURRENT",
                           "/usr/ports/INDEX-16",
                           "/var/db/pkg/local.sqlite",
                           true},
             location_case{{{"INDEXDIR", "/x/"}, {"INDEXFILE", "y"}, {"PKG_DBDIR", "/jail/pkg//"}},
                           std::nullopt,
                           "/x/y",
                           "/jail/pkg/local.sqlite",
                           false},
             location_case{{{"PORTSDIR", "/usr/ports"}, {"INDEXFILE", "/tmp/INDEX-11"}},
                           std::nullopt,
                           "/tmp/INDEX-11",
                           "/var/db/pkg/local.sqlite",
                           false},
         }) {
        const setting_reader setting = [&c](const char* name) -> std::optional<std::string_view> {
            const auto found = c.settings.find(name);
            if (found == c.settings.end() || found->second.empty()) {
                return std::nullopt;
            }
            return found->second;
        };
        bool asked = false;
        const auto release = [&] {
            asked = true;
            return c.release;
        };
        const std::string label = testing::PrintToString(c.settings);
        EXPECT_EQ(index_path(setting, release), c.index) << label;
        EXPECT_EQ(asked, c.release_asked) << label;
        EXPECT_EQ(package_db_path(setting), c.database) << label;
    }
}

TEST(ports_tree, is_portsdir_or_usr_ports) {
    const auto with = [](std::optional<std::string_view> portsdir) -> setting_reader {
        return [portsdir](const char* name) -> std::optional<std::string_view> {
            return std::string_view(name) == "PORTSDIR" ? portsdir : std::nullopt;
        };
    };
    EXPECT_EQ(ports_tree(with(std::nullopt)), "/usr/ports");
    EXPECT_EQ(ports_tree(with("/home/me/ports/")), "/home/me/ports/");
}

// The index names files under /usr/ports wherever the tree is; they are read
// under PORTSDIR. Only /usr/ports as a whole component moves; a relative path
// is the tree's, never the working folder's.
TEST(ports_file_path, moves_usr_ports_under_portsdir) {
    struct mapping_case {
        const char* portsdir; // nullptr: unset
        const char* field;
        const char* path;
    };
    for (const mapping_case& c : {
             mapping_case{nullptr, "/usr/ports/shells/zsh/pkg-descr",
                          "/usr/ports/shells/zsh/pkg-descr"},
             mapping_case{"", "/usr/ports/shells/zsh/pkg-descr", "/usr/ports/shells/zsh/pkg-descr"},
             mapping_case{"/usr/ports", "/usr/ports/shells/zsh/pkg-descr",
                          "/usr/ports/shells/zsh/pkg-descr"},
             mapping_case{"/home/me/ports", "/usr/ports/shells/zsh/pkg-descr",
                          "/home/me/ports/shells/zsh/pkg-descr"},
             mapping_case{"/home/me/ports/", "/usr/ports/shells/zsh/pkg-descr",
                          "/home/me/ports/shells/zsh/pkg-descr"},
             mapping_case{"/home/me/ports///", "/usr/ports/shells/zsh/pkg-descr",
                          "/home/me/ports/shells/zsh/pkg-descr"},
             mapping_case{"/home/me/ports", "/usr/ports//shells/zsh/pkg-descr",
                          "/home/me/ports/shells/zsh/pkg-descr"},
             mapping_case{"/", "/usr/ports/shells/zsh/pkg-descr", "/shells/zsh/pkg-descr"},
             mapping_case{"//", "/usr/ports/shells/zsh/pkg-descr", "/shells/zsh/pkg-descr"},
             mapping_case{"ports", "/usr/ports/shells/zsh/pkg-descr", "ports/shells/zsh/pkg-descr"},
             mapping_case{"/home/me/ports", "/usr/ports", "/home/me/ports"},
             mapping_case{"/home/me/ports/", "/usr/ports/", "/home/me/ports/"},
             // Not under /usr/ports: as it is.
             mapping_case{"/home/me/ports", "/usr/portsx/shells/zsh/pkg-descr",
                          "/usr/portsx/shells/zsh/pkg-descr"},
             mapping_case{"/home/me/ports", "/usr/port/x", "/usr/port/x"},
             mapping_case{"/home/me/ports", "/usr", "/usr"},
             mapping_case{"/home/me/ports", "/usr/local/share/doc/zsh/pkg-descr",
                          "/usr/local/share/doc/zsh/pkg-descr"},
             mapping_case{"/home/me/ports", "/home/me/ports/shells/zsh/pkg-descr",
                          "/home/me/ports/shells/zsh/pkg-descr"},
             mapping_case{"/home/me/ports", "//usr/ports/shells/zsh/pkg-descr",
                          "//usr/ports/shells/zsh/pkg-descr"},
             // Relative: under the tree.
             mapping_case{nullptr, "shells/zsh/pkg-descr", "/usr/ports/shells/zsh/pkg-descr"},
             mapping_case{"/home/me/ports/", "shells/zsh/pkg-descr",
                          "/home/me/ports/shells/zsh/pkg-descr"},
             mapping_case{"/home/me/ports", "usr/ports/x", "/home/me/ports/usr/ports/x"},
             // Empty: no file.
             mapping_case{"/home/me/ports", "", ""},
             mapping_case{nullptr, "", ""},
         }) {
        const setting_reader setting = [&c](const char* name) -> std::optional<std::string_view> {
            if (std::string_view(name) != "PORTSDIR" || c.portsdir == nullptr ||
                *c.portsdir == '\0') {
                return std::nullopt;
            }
            return c.portsdir;
        };
        const std::string label =
            std::string(c.portsdir == nullptr ? "(unset)" : c.portsdir) + " + " + c.field;
        EXPECT_EQ(ports_file_path(c.field, setting), c.path) << label;
        // The form a scan calls, its string reused from a longer path.
        std::string path(300, 'x');
        ports_file_path(c.field, c.portsdir == nullptr ? "" : c.portsdir, path);
        EXPECT_EQ(path, c.path) << label;
    }
}

// MOVED belongs to the ports tree, not to the index: INDEXDIR and INDEXFILE,
// which may put the index elsewhere, leave it where PORTSDIR says.
TEST(locations, moved_file_is_in_the_ports_tree) {
    using settings = std::map<std::string, std::string>;
    for (const auto& [given, path] : {
             std::pair<settings, std::string>{{}, "/usr/ports/MOVED"},
             {{{"PORTSDIR", ""}}, "/usr/ports/MOVED"},
             {{{"PORTSDIR", "/home/me/ports/"}}, "/home/me/ports/MOVED"},
             {{{"INDEXDIR", "/tmp/idx"}, {"INDEXFILE", "/tmp/INDEX-15"}}, "/usr/ports/MOVED"},
             {{{"PORTSDIR", "ports"}, {"INDEXDIR", "/tmp/idx"}}, "ports/MOVED"},
         }) {
        // clang before 16 lets no lambda capture a structured binding.
        const settings& values = given;
        const setting_reader setting = [&values](const char* name) {
            const auto found = values.find(name);
            return found == values.end() || found->second.empty()
                       ? std::nullopt
                       : std::optional<std::string_view>(found->second);
        };
        EXPECT_EQ(moved_path(setting), path) << testing::PrintToString(given);
    }
}

TEST(join_path, puts_one_slash_between_folder_and_name) {
    for (const auto& [folder, name, path] : {
             std::tuple{"/usr/ports", "INDEX-15", "/usr/ports/INDEX-15"},
             std::tuple{"/usr/ports/", "INDEX-15", "/usr/ports/INDEX-15"},
             std::tuple{"/usr/ports///", "INDEX-15", "/usr/ports/INDEX-15"},
             std::tuple{"/", "INDEX", "/INDEX"},
             std::tuple{"//", "INDEX", "/INDEX"},
             std::tuple{"ports", "INDEX", "ports/INDEX"},
             std::tuple{"/usr/ports", "/elsewhere/INDEX", "/elsewhere/INDEX"},
             std::tuple{"", "INDEX", "INDEX"},
             std::tuple{"//var/db/pkg", "local.sqlite", "//var/db/pkg/local.sqlite"},
         }) {
        EXPECT_EQ(join_path(folder, name), path) << folder << " + " << name;
    }
}

} // namespace
