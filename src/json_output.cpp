#include "json_output.h"

#include <charconv>
#include <optional>
#include <string>
#include <string_view>

#include "json_text.h"
#include "words.h"

// Each object is written as it is read off the entry: its keys and
// punctuation as they are, its strings through json_text_writer, which has
// nlohmann/json escape them, and the line goes out with one write (more for
// a line whose strings are longer than a chunk). No tree is built, and
// nothing is allocated once the writer's buffers have grown.

namespace {

// The one writer of the run, pointed at the stream of each object. Everything
// is written out at the end of each object, so it holds nothing between them.
json_text_writer& writer_to(checked_output& out) {
    static json_text_writer writer(nullptr);
    writer.set_stream(&out);
    return writer;
}

// Appends a member: the key with the punctuation before it and its colon,
// spelled out by the caller (,"key": or {"key": for the first; plain ASCII,
// nothing to escape), then the value, or null when it is absent.
void put_text_or_null(json_text_writer& w, std::string_view key_with_punctuation,
                      const std::optional<std::string_view>& value) {
    w.put_raw(key_with_punctuation);
    if (value) {
        w.put_string(*value);
    } else {
        w.put_raw("null");
    }
}

// An owned text as a view of it, without a copy.
std::optional<std::string_view> view_of(const std::optional<std::string>& text) {
    return text ? std::optional<std::string_view>(*text) : std::nullopt;
}

// A text that may be empty, absent when it is: JSON's null for an empty field.
std::optional<std::string_view> non_empty(std::string_view text) {
    return text.empty() ? std::nullopt : std::optional(text);
}

// Appends a member whose value is the space-separated words of a list field
// as an array, empty when the field is absent.
void put_word_list(json_text_writer& w, std::string_view key_with_punctuation,
                   const std::optional<std::string_view>& value) {
    w.put_raw(key_with_punctuation);
    w.put_raw("[");
    bool first = true;
    any_word(value.value_or(""), [&w, &first](std::string_view word) {
        if (!first) {
            w.put_raw(",");
        }
        first = false;
        w.put_string(word);
        return false;
    });
    w.put_raw("]");
}

// A standing as its one-character string, "<", "=", ">" or "?".
void put_standing(json_text_writer& w, standing status) {
    const char mark = static_cast<char>(status);
    w.put_string(std::string_view(&mark, 1));
}

void put_number(json_text_writer& w, std::string_view key_with_punctuation, std::uint64_t value) {
    char digits[20]; // 2^64 - 1 has 20 digits
    const char* const end = std::to_chars(std::begin(digits), std::end(digits), value).ptr;
    w.put_raw(key_with_punctuation);
    w.put_raw(std::string_view(digits, static_cast<std::size_t>(end - std::begin(digits))));
}

void end_object(json_text_writer& w) {
    w.put_raw("}\n");
    w.flush();
}

} // namespace

void print_json_result(const port_entry& entry, const port_standing_of_entry& found,
                       checked_output& out) {
    json_text_writer& w = writer_to(out);
    put_text_or_null(w, "{\"name\":", entry.name);
    put_text_or_null(w, ",\"version\":", entry.version);
    put_text_or_null(w, ",\"full_name\":", entry.full_name);
    put_text_or_null(w, ",\"path\":", entry.path);
    put_text_or_null(
        w, ",\"origin\":", entry.path ? std::optional(port_origin(*entry.path)) : std::nullopt);
    put_text_or_null(w, ",\"prefix\":", entry.prefix);
    put_text_or_null(w, ",\"comment\":", entry.comment);
    put_text_or_null(w, ",\"description_file\":", entry.descr_file);
    put_text_or_null(w, ",\"maintainer\":", entry.maintainer);
    put_word_list(w, ",\"categories\":", entry.categories);
    put_word_list(w, ",\"build_depends\":", entry.build_depends);
    put_word_list(w, ",\"run_depends\":", entry.run_depends);
    put_text_or_null(w, ",\"www\":", entry.web_site);
    put_text_or_null(w, ",\"installed_version\":", view_of(found.installed_version));
    w.put_raw(found.status == standing::older ? ",\"outdated\":true" : ",\"outdated\":false");
    w.put_raw(",\"status\":");
    if (found.status) {
        put_standing(w, *found.status);
    } else {
        w.put_raw("null");
    }
    end_object(w);
}

void print_json_status(const installed_package& package, const index_port* port, standing status,
                       checked_output& out) {
    json_text_writer& w = writer_to(out);
    w.put_raw("{\"name\":");
    w.put_string(package.name);
    put_text_or_null(w, ",\"installed_version\":", view_of(package.version));
    put_text_or_null(w, ",\"origin\":", view_of(package.origin));
    put_text_or_null(
        w, ",\"index_version\":", port != nullptr ? view_of(port->version) : std::nullopt);
    w.put_raw(",\"status\":");
    put_standing(w, status);
    end_object(w);
}

void print_json_moved_port(const moved_port& port, checked_output& out) {
    json_text_writer& w = writer_to(out);
    w.put_raw("{\"moved_from\":");
    w.put_string(port.old_origin);
    put_text_or_null(w, ",\"moved_to\":", port.new_origin);
    put_text_or_null(w, ",\"date\":", non_empty(port.date));
    put_text_or_null(w, ",\"reason\":", non_empty(port.reason));
    end_object(w);
}

void print_json_counts(std::uint64_t results, std::uint64_t matches, std::uint64_t entries,
                       checked_output& out) {
    json_text_writer& w = writer_to(out);
    put_number(w, "{\"results\":", results);
    put_number(w, ",\"matches\":", matches);
    put_number(w, ",\"entries\":", entries);
    end_object(w);
}
