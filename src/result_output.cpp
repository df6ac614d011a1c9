#include "result_output.h"

#include <string>
#include <string_view>

#include "json_output.h"

namespace {

void put(checked_output& out, std::string_view text) {
    out.write(text);
}

std::string_view or_text(const std::optional<std::string_view>& value, std::string_view fallback) {
    return value ? *value : fallback;
}

std::string_view or_text(const std::optional<std::string>& value, std::string_view fallback) {
    return value ? std::string_view(*value) : fallback;
}

void put_labelled(checked_output& out, std::string_view label, std::string_view value) {
    put(out, label);
    put(out, value);
    put(out, "\n");
}

} // namespace

void print_short_result(const port_entry& entry, bool show_details, checked_output& out) {
    put(out, entry.installed_version ? "+ " : "- ");
    put(out, or_text(entry.full_name, "n/a"));
    put(out, " (");
    put(out, or_text(entry.path, "n/a"));
    if (show_details) {
        put(out, ", Version: ");
        put(out, or_text(entry.installed_version, "n/a"));
        put(out, " [");
        put(out, or_text(entry.maintainer, "n/a"));
        put(out, ", ");
        put(out, or_text(entry.prefix, "n/a"));
        put(out, "]");
    }
    put(out, ")\n");
}

// The fallback texts keep their misspellings ("avaiable", "Unkown"): they are
// the texts that users and scripts of this tool know.
void print_long_result(const port_entry& entry, bool show_details, checked_output& out) {
    // The title: the full name, and the maintainer in parentheses when known.
    const std::string_view full_name = or_text(entry.full_name, "");
    std::size_t title_width = full_name.size();
    put(out, "\n");
    put(out, full_name);
    if (entry.maintainer) {
        put(out, " (");
        put(out, *entry.maintainer);
        put(out, ")\n");
        title_width += entry.maintainer->size() + 3;
    } else {
        put(out, "\n");
    }
    // The rule under it is as wide as the title in bytes, not in characters.
    put(out, std::string(title_width, '='));

    put(out, "\n\n");
    put(out, or_text(entry.comment, "No description avaiable"));
    put(out, "\n\n");

    put_labelled(out, "        Port name: ", or_text(entry.name, "No name avaiable"));
    put_labelled(out, "     Port version: ", or_text(entry.version, "Unkown port version"));
    put_labelled(out, "Installed version: ", or_text(entry.installed_version, "Not installed"));
    put_labelled(out, "             Port: ", or_text(entry.categories, "Not avaiable"));
    put_labelled(out, "        Port path: ", or_text(entry.path, "No port path avaiable"));
    put_labelled(out, "     Install path: ", or_text(entry.prefix, "No install path avaiable"));
    if (show_details) {
        put_labelled(
            out, "     Dependencies: ", or_text(entry.build_depends, "No dependencies avaiable"));
        put_labelled(
            out, "   R-Dependencies: ", or_text(entry.run_depends, "No r-dependencies avaiable"));
    }
    put(out, "\n");
}

void print_moved_port(const moved_port& port, checked_output& out) {
    put(out, port.old_origin);
    if (port.new_origin) {
        put(out, " moved to ");
        put(out, *port.new_origin);
    } else {
        put(out, " removed");
    }
    if (!port.date.empty()) {
        put(out, " on ");
        put(out, port.date);
    }
    if (!port.reason.empty()) {
        put(out, ": ");
        put(out, port.reason);
    }
    put(out, "\n");
}

namespace {

// The two forms with -f's details or without, as printers: they show what the
// entry holds, its version by name included, not what stands by origin.
template <bool Details>
void print_short(const port_entry& entry, const port_standing_of_entry& /*found*/,
                 checked_output& out) {
    print_short_result(entry, Details, out);
}

template <bool Details>
void print_long(const port_entry& entry, const port_standing_of_entry& /*found*/,
                checked_output& out) {
    print_long_result(entry, Details, out);
}

} // namespace

result_printer result_printer_for(const search_options& options) {
    if (options.json_output) {
        return {print_json_result, false};
    }
    if (options.long_format) {
        return {options.show_details ? print_long<true> : print_long<false>, true};
    }
    return {options.show_details ? print_short<true> : print_short<false>, true};
}

moved_printer moved_printer_for(const search_options& options) {
    return options.json_output ? print_json_moved_port : print_moved_port;
}
