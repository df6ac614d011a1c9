// The installed version of a port, from the package manager's SQLite database.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Asks the database at database_path for the version of the package called
// name (without its version). The database is opened read-only, queried once
// and closed again; it is never created or changed. Any failure (no file, not
// a database, no packages table, locked by a writer, a NULL version, no row)
// gives std::nullopt, with no message and no wait.
std::optional<std::string> lookup_installed_version(const char* database_path,
                                                    std::optional<std::string_view> name);
