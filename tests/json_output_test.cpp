// The objects --json writes, byte for byte against a reference: each object
// built as a tree with nlohmann/json's ordered_json and dumped whole, as
// vandrel wrote them before it wrote them as it went.
#include <cstdint>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "fixtures.h"
#include "json_output.h"
#include "words.h"

namespace {

using ordered_json = nlohmann::ordered_json;

std::string dump_line(const ordered_json& object) {
    return object.dump(-1, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

ordered_json text_or_null(const std::optional<std::string_view>& value) {
    return value ? ordered_json(*value) : ordered_json(nullptr);
}

ordered_json text_or_null(const std::optional<std::string>& value) {
    return value ? ordered_json(*value) : ordered_json(nullptr);
}

ordered_json word_list(const std::optional<std::string_view>& value) {
    ordered_json words = ordered_json::array();
    any_word(value.value_or(""), [&words](std::string_view word) {
        words.emplace_back(word);
        return false;
    });
    return words;
}

std::string reference_result(const port_entry& entry, const port_standing_of_entry& found) {
    ordered_json object;
    object["name"] = text_or_null(entry.name);
    object["version"] = text_or_null(entry.version);
    object["full_name"] = text_or_null(entry.full_name);
    object["path"] = text_or_null(entry.path);
    object["origin"] = entry.path ? ordered_json(port_origin(*entry.path)) : ordered_json(nullptr);
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
    object["status"] = found.status ? ordered_json(std::string(1, static_cast<char>(*found.status)))
                                    : ordered_json(nullptr);
    return dump_line(object);
}

std::string reference_status(const installed_package& package, const index_port* port,
                             standing status) {
    ordered_json object;
    object["name"] = package.name;
    object["installed_version"] = text_or_null(package.version);
    object["origin"] = text_or_null(package.origin);
    object["index_version"] = port != nullptr ? text_or_null(port->version) : ordered_json(nullptr);
    object["status"] = std::string(1, static_cast<char>(status));
    return dump_line(object);
}

std::string reference_counts(std::uint64_t results, std::uint64_t matches, std::uint64_t entries) {
    ordered_json object;
    object["results"] = results;
    object["matches"] = matches;
    object["entries"] = entries;
    return dump_line(object);
}

std::vector<std::string> sample_lines() {
    std::ifstream in(VANDREL_SOURCE_DIR "/tests/data/INDEX-sample");
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

// What was found of a port: each standing, and not installed.
std::vector<port_standing_of_entry> standings() {
    return {{std::nullopt, std::nullopt},
            {"1.0", standing::older},
            {"1.0", standing::same},
            {"9.9", standing::newer},
            {"caf\xc3\xa9\xff", standing::unknown}};
}

void expect_result_as_reference(const std::string& line) {
    port_entry entry;
    parse_index_line(entry, std::string_view(line).substr(0, line.find('\n')));
    for (const port_standing_of_entry& found : standings()) {
        fixture::memory_stream out;
        print_json_result(entry, found, out.output());
        ASSERT_EQ(out.text(), reference_result(entry, found)) << line;
    }
}

TEST(json_result, every_sample_line_is_written_as_the_tree_was) {
    const std::vector<std::string> lines = sample_lines();
    ASSERT_GT(lines.size(), 100U);
    for (const std::string& line : lines) {
        expect_result_as_reference(line);
    }
}

// Fields of random bytes (all but the newline and the separator, which would
// only move the fields), absent fields, runs of spaces in the lists, and
// fields longer than a chunk.
TEST(json_result, odd_and_huge_fields_are_written_as_the_tree_was) {
    std::mt19937 random(15); // NOLINT(cert-msc32-c,cert-msc51-cpp): repeatable on purpose
    std::uniform_int_distribution<int> any_byte(0, 255);
    std::uniform_int_distribution<std::size_t> size(0, 40);
    for (int round = 0; round < 500; ++round) {
        std::string line;
        for (int field = 0; field < 13; ++field) {
            if (field > 0) {
                line += '|';
            }
            const std::size_t bytes = round % 5 == 0 && field == 3 ? 150000 : size(random);
            for (std::size_t i = 0; i < bytes; ++i) {
                char byte = static_cast<char>(any_byte(random));
                if (byte == '|' || byte == '\n') {
                    byte = ' ';
                }
                line += byte;
            }
        }
        expect_result_as_reference(line);
    }
    expect_result_as_reference("a-1||||||  x   y  |   |z  |");
    expect_result_as_reference("nohyphen|/usr/ports/misc/x///|p|\"quoted\\\" \t tab");
    expect_result_as_reference("a-|x|" + std::string(300000, '\xc3') + "|" +
                               std::string(200000, '\x01') + "|d|m|c|" + std::string(100000, 'w') +
                               " " + std::string(70000, '\x80'));
}

TEST(json_status, packages_are_written_as_the_tree_was) {
    const index_port port{"zsh", "5.9_5", "shells/zsh"};
    const index_port no_version{"zsh", std::nullopt, "shells/zsh"};
    const std::vector<installed_package> packages = {
        {"zsh", "shells/zsh", "5.9_4"},
        {"odd\"\\\x01\xff", std::nullopt, std::nullopt},
        {"", "caf\xc3\xa9/x\xe2\x82", "1"},
    };
    for (const installed_package& package : packages) {
        for (const index_port* with :
             {&port, &no_version, static_cast<const index_port*>(nullptr)}) {
            for (const standing status :
                 {standing::older, standing::same, standing::newer, standing::unknown}) {
                fixture::memory_stream out;
                print_json_status(package, with, status, out.output());
                ASSERT_EQ(out.text(), reference_status(package, with, status)) << package.name;
            }
        }
    }
}

TEST(json_counts, are_written_as_the_tree_was) {
    constexpr std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
    for (const std::uint64_t n : {std::uint64_t{0}, std::uint64_t{7}, std::uint64_t{36000}, most}) {
        fixture::memory_stream out;
        print_json_counts(n, n / 2, most - n, out.output());
        ASSERT_EQ(out.text(), reference_counts(n, n / 2, most - n));
    }
}

// Objects for two streams in turn each go whole to their own.
TEST(json_result, objects_go_to_the_stream_they_are_printed_to) {
    fixture::memory_stream first;
    fixture::memory_stream second;
    print_json_counts(1, 2, 3, first.output());
    print_json_counts(4, 5, 6, second.output());
    print_json_counts(7, 8, 9, first.output());
    EXPECT_EQ(first.text(), reference_counts(1, 2, 3) + reference_counts(7, 8, 9));
    EXPECT_EQ(second.text(), reference_counts(4, 5, 6));
}

} // namespace
