// What a search looks at and how it shows it: the yes/no flags of the command
// line. An option only ever sets a flag.
#pragma once

struct search_options {
    bool search_description = false; // -d, -a: the comment too
    bool search_path = false;        // -p, -a: the port path too
    bool search_maintainer = false;  // -m, -a: the maintainer too
    bool search_depends = false;     // -D, -a: both dependency lists too
    bool search_categories = false;  // --categories: the categories too
    bool search_web_site = false;    // --www: the web site too
    bool search_pkg_descr = false;   // --pkg-descr: the long description file too
    bool regular_expression = false; // --regex: terms are extended regular expressions
    bool whole_word = false;         // --word: whole words, not any part of a field
    bool only_installed = false;     // --installed: only ports that are installed
    bool only_outdated = false;      // --outdated: only ports installed at an older version
    bool show_status = false;        // --status: installed packages against the index
    bool show_details = false;       // -f: more in each result
    bool long_format = false;        // -n: a block per result
    bool json_output = false;        // --json: a JSON object per result
    bool show_counts = false;        // -r: the counts line at the end
    bool show_moved = false;         // --moved: the ports MOVED says went away, after the results
};

// Whether the search matches ports to installed packages by origin: what
// --installed, --outdated and --json show, and all that --status does.
inline bool matches_by_origin(const search_options& options) {
    return options.only_installed || options.only_outdated || options.json_output ||
           options.show_status;
}
