// One line of the ports index, split into its fields.
//
// An index line is "|"-separated, each field in its fixed place: name-version,
// port directory, prefix, comment, description file, maintainer, categories,
// build dependencies, run dependencies, web site, and three more fields that
// nothing here uses. Real lines often leave fields empty (a port with no build or run
// dependencies), and an empty field keeps its place.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The record of one index line. Every field but installed_version and
// long_description views the line that was split into it and is valid only while that line is: the
// scan fills, tests and prints the entry within one line, and the next split starts it afresh, so
// no view is read after its line is gone. An absent field is std::nullopt, whether the line left it
// empty or didn't reach it; the only empty string a line can produce is the version of a first
// field that ends in a hyphen.
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
    std::optional<std::string_view> web_site;
    // The text of the long description file, when a search read it; views
    // the reader's buffer, not the line.
    std::optional<std::string_view> long_description;
};

// Sets all fourteen fields absent, dropping the views and the installed version.
void port_entry_reset(port_entry& entry);

// Fills the entry afresh from the line, given without its newline (nothing
// of what the entry held before survives).
//
// The line is cut at every "|". Fields 1 to 10 fill the entry by their place;
// later fields are ignored. An empty field is absent, like one the line is
// too short to have: "a||c|d" has no path, prefix "c" and comment "d". A NUL
// byte ends what is split of the line: the fields after it are absent.
void parse_index_line(port_entry& entry, std::string_view line);

// The first field of the line: up to its first "|" or NUL, or the whole line.
std::string_view first_index_field(std::string_view line);

// A first field split at its last hyphen. Without a hyphen after the first
// byte the name is the whole field and the version absent; a trailing hyphen
// gives an empty version.
struct name_and_version {
    std::string_view name;
    std::optional<std::string_view> version;
};
name_and_version split_name_version(std::string_view full_name);

// A port's origin, category/port: the last two components of its directory,
// trailing slashes dropped; the directory as it is when it has fewer.
std::string_view port_origin(std::string_view path);
