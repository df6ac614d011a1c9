// One line of the ports index, split into its fields.
//
// An index line is "|"-separated: name-version, port directory, prefix,
// comment, description file, maintainer, categories, build dependencies, run
// dependencies, and four more fields that nothing here uses.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The record of one index line. Every field but installed_version views the
// line that was split into it and is valid only while that line is: the scan
// resets, fills, tests, prints and releases the entry within one line. An
// absent field is std::nullopt; the only empty string a line can produce is
// the version of a first field that ends in a hyphen.
struct port_entry {
    std::optional<std::string_view> full_name;    // the first field whole
    std::optional<std::string_view> name;         // up to the last hyphen
    std::optional<std::string_view> version;      // after the last hyphen
    std::optional<std::string> installed_version; // from the package database
    std::optional<std::string_view> path;         // the port's directory
    std::optional<std::string_view> prefix;       // install prefix
    std::optional<std::string_view> comment;      // one-line description
    std::optional<std::string_view> descr_file;   // long description file
    std::optional<std::string_view> maintainer;
    std::optional<std::string_view> categories;
    std::optional<std::string_view> build_depends;
    std::optional<std::string_view> run_depends;
};

// Sets all twelve fields absent.
void port_entry_reset(port_entry& entry);

// Fills a reset entry from one NUL-terminated line (without its newline), so
// that a NUL byte inside the line ends what is split. The line is cut at "|"
// into tokens, a token being a maximal run of other bytes, so that empty
// fields are skipped and later fields move up. Tokens 1 to 9 fill the entry;
// the rest is ignored.
void parse_index_line(port_entry& entry, const char* line);

// Splits a first field at its last hyphen. Without a hyphen after the first
// byte the name is the whole field and the version absent; a trailing hyphen
// gives an empty version. Either destination may be null.
void split_name_version(std::optional<std::string_view> full_name,
                        std::optional<std::string_view>* name,
                        std::optional<std::string_view>* version);

// Drops what the entry holds: the views, and the installed version it owns.
void port_entry_release(port_entry& entry);
