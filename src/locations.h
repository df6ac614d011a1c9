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

// The path of the ports tree's MOVED file.
std::string moved_path(const setting_reader& setting);

// name under folder, with one slash between them; name itself when it is
// absolute or folder is empty.
std::string join_path(std::string_view folder, std::string_view name);
