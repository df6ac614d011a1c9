// The ports tree's MOVED file: the ports that were moved or removed, one a
// line, four fields separated by "|":
//
//   old-origin|new-origin|date|reason
//   x11/xserver14|x11/xserver17|2016-01-01|Renamed
//   lang/python27||2020-12-31|Has expired: Upstream support ended
//
// An empty new origin means the port was removed; a line starting with "#"
// is a comment. The tree's own lint (Tools/scripts/MOVEDlint.awk) refuses a
// line that hasn't exactly four fields, so a reason never holds a "|" there;
// here the reason is the rest of the line after the third "|", so a file
// edited by hand that has one anyway shows its reason whole rather than
// losing the entry. The first three fields never hold a "|".
//
// The file is bytes, like the index. A NUL byte ends what the split sees of
// its line, as in the index (the bytes after it are not shown); one CR at the
// end of a line, the end of a line written on another system, is not part of
// the reason. Every other byte is shown as it is.
#pragma once

#include <functional>
#include <optional>
#include <string_view>

class line_reader;

// One line of MOVED, its fields viewing the line.
struct moved_port {
    std::string_view old_origin;                // never empty
    std::optional<std::string_view> new_origin; // absent when the port was removed
    std::string_view date;                      // empty when the line has none
    std::string_view reason;                    // empty when the line has none
};

// The line's entry; absent for a comment, an empty line, a line with fewer
// than four fields (three "|"s) before its first NUL, or one whose old
// origin is empty. The line is as line_reader hands it over: without its
// newline.
std::optional<moved_port> parse_moved_line(std::string_view line);

// Called with each entry in the file's order, valid only during the call;
// returns whether to read on (false stops, e.g. once a write has failed).
using moved_port_visitor = std::function<bool(const moved_port& port)>;

// Reads MOVED from the descriptor to its end (or until visit returns false)
// and calls visit with every line that parse_moved_line takes. Returns 0, or
// the errno of the read that failed: the entries before it have been
// visited. Lines of any length are read whole; the descriptor stays open for
// the caller to close.
int read_moved_ports(int fd, const moved_port_visitor& visit);

// The same, from a reader the caller made (a test's, with its own reads).
int read_moved_ports(line_reader& reader, const moved_port_visitor& visit);
