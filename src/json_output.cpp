#include "json_output.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "words.h"

namespace {

// Keys in the order they are set, not sorted.
using json = nlohmann::ordered_json;

json text_or_null(const std::optional<std::string_view>& value) {
    return value ? json(*value) : json(nullptr);
}

json text_or_null(const std::optional<std::string>& value) {
    return value ? json(*value) : json(nullptr);
}

// The space-separated words of a list field; none when it is absent.
json word_list(const std::optional<std::string_view>& value) {
    json words = json::array();
    any_word(value.value_or(""), [&words](std::string_view word) {
        words.emplace_back(word);
        return false;
    });
    return words;
}

void put_line(const json& object, std::FILE* out) {
    // Bytes that aren't valid UTF-8 become U+FFFD instead of an exception.
    const std::string text = object.dump(-1, ' ', false, json::error_handler_t::replace);
    std::fwrite(text.data(), 1, text.size(), out);
    std::fputc('\n', out);
}

} // namespace

void print_json_result(const port_entry& entry, const port_standing_of_entry& found,
                       std::FILE* out) {
    json object;
    object["name"] = text_or_null(entry.name);
    object["version"] = text_or_null(entry.version);
    object["full_name"] = text_or_null(entry.full_name);
    object["path"] = text_or_null(entry.path);
    object["origin"] = entry.path ? json(port_origin(*entry.path)) : json(nullptr);
    object["prefix"] = text_or_null(entry.prefix);
    object["comment"] = text_or_null(entry.comment);
    object["description_file"] = text_or_null(entry.descr_file);
    object["maintainer"] = text_or_null(entry.maintainer);
    object["categories"] = word_list(entry.categories);
    object["build_depends"] = word_list(entry.build_depends);
    object["run_depends"] = word_list(entry.run_depends);
    object["www"] = text_or_null(entry.web_site);
    object["installed_version"] = text_or_null(found.installed_version);
    object["outdated"] = found.status == standing::older;
    object["status"] =
        found.status ? json(std::string(1, static_cast<char>(*found.status))) : json(nullptr);
    put_line(object, out);
}

void print_json_status(const installed_package& package, const index_port* port, standing status,
                       std::FILE* out) {
    json object;
    object["name"] = package.name;
    object["installed_version"] = text_or_null(package.version);
    object["origin"] = text_or_null(package.origin);
    object["index_version"] = port != nullptr ? text_or_null(port->version) : json(nullptr);
    object["status"] = std::string(1, static_cast<char>(status));
    put_line(object, out);
}

void print_json_counts(std::uint64_t results, std::uint64_t matches, std::uint64_t entries,
                       std::FILE* out) {
    json object;
    object["results"] = results;
    object["matches"] = matches;
    object["entries"] = entries;
    put_line(object, out);
}
