// Where the ports index and the package database are. The ports framework
// reads its locations from make variables that the environment may set, and
// pkg(8) reads PKG_DBDIR from the environment; vandrel follows both:
//
//   index:    ${INDEXDIR}/${INDEXFILE}
//             PORTSDIR defaults to /usr/ports, INDEXDIR to ${PORTSDIR},
//             INDEXFILE to INDEX-<major> of the running release
//   database: ${PKG_DBDIR}/local.sqlite, PKG_DBDIR defaulting to /var/db/pkg
//   MOVED:    ${PORTSDIR}/MOVED, the tree's list of moved and removed ports
//             (INDEXDIR and INDEXFILE name the index alone, not the tree)
//
// A variable set but empty counts as unset. An absolute INDEXFILE is used as
// it is; a folder's trailing slashes are dropped when a name is joined to it.
//
// The index names each port's files as `make index` writes them, under
// /usr/ports whatever the tree's real place; they are read under PORTSDIR.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The value of a variable, absent when unset (or empty).
using setting_reader = std::function<std::optional<std::string_view>(const char* name)>;

// The process environment, as a setting_reader.
std::optional<std::string_view> environment_setting(const char* name);

// The index's path. release is asked only when INDEXFILE isn't set; absent
// when it is asked and has no answer.
std::optional<std::string> index_path(const setting_reader& setting,
                                      const std::function<std::optional<std::string>()>& release);

// The package database's path.
std::string package_db_path(const setting_reader& setting);

// The ports tree: PORTSDIR as it is set, or /usr/ports.
std::string ports_tree(const setting_reader& setting);

// Where a file the index names (the description file, the fifth field) is
// read, with the tree at ports_tree, into path (its room reused, so a scan
// allocates nothing per entry):
//   /usr/ports, or a path under it (the whole component: /usr/portsx is
//   not), moves under ports_tree: /usr/ports/shells/zsh/pkg-descr with
//   ports_tree /home/me/ports/ reads /home/me/ports/shells/zsh/pkg-descr;
//   a relative path is taken under ports_tree, as a relative INDEXFILE is
//   under INDEXDIR, never under the working folder;
//   any other absolute path is used as it is;
//   an empty field gives an empty path, which names no file.
// An empty ports_tree is /usr/ports.
void ports_file_path(std::string_view field, std::string_view ports_tree, std::string& path);

// The same, the tree from PORTSDIR, as a new string.
std::string ports_file_path(std::string_view field, const setting_reader& setting);

// The path of the ports tree's MOVED file.
std::string moved_path(const setting_reader& setting);

// name under folder, with one slash between them; name itself when it is
// absolute or folder is empty.
std::string join_path(std::string_view folder, std::string_view name);
