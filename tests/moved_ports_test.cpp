// MOVED's lines split into entries, read from a file whatever it holds, and
// printed as lines and as JSON, byte for byte.
#include <cerrno>
#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <tuple>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "file_descriptor.h"
#include "fixtures.h"
#include "json_output.h"
#include "line_reader.h"
#include "moved_ports.h"
#include "result_output.h"

using namespace std::string_literals;

namespace {

// An entry with its fields owned, to compare and print.
struct owned_entry {
    std::string old_origin;
    std::optional<std::string> new_origin;
    std::string date;
    std::string reason;

    static owned_entry of(const moved_port& port) {
        return {std::string(port.old_origin),
                port.new_origin ? std::optional<std::string>(*port.new_origin) : std::nullopt,
                std::string(port.date), std::string(port.reason)};
    }
    bool operator==(const owned_entry&) const = default;
    friend void PrintTo(const owned_entry& e, std::ostream* os) {
        *os << testing::PrintToString(e.old_origin) << " -> "
            << (e.new_origin ? testing::PrintToString(*e.new_origin) : "(removed)") << " on "
            << testing::PrintToString(e.date) << ": " << testing::PrintToString(e.reason);
    }
};

owned_entry moved(std::string from, std::string to, std::string date, std::string reason) {
    return {std::move(from), std::move(to), std::move(date), std::move(reason)};
}

owned_entry removed(std::string from, std::string date, std::string reason) {
    return {std::move(from), std::nullopt, std::move(date), std::move(reason)};
}

struct parse_case {
    const char* label;
    std::string line;
    std::optional<owned_entry> entry;
    friend void PrintTo(const parse_case& c, std::ostream* os) { *os << c.label; }
};

class parse_moved_line_test : public testing::TestWithParam<parse_case> {};

// The entry's fields view the line itself: nothing is copied.
TEST_P(parse_moved_line_test, takes_the_four_fields_or_nothing) {
    const parse_case& c = GetParam();
    const std::optional<moved_port> port = parse_moved_line(c.line);
    ASSERT_EQ(port.has_value(), c.entry.has_value()) << c.label;
    if (port) {
        EXPECT_EQ(owned_entry::of(*port), *c.entry) << c.label;
        EXPECT_EQ(port->old_origin.data(), c.line.data()) << c.label;
        EXPECT_GE(port->reason.data(), c.line.data()) << c.label;
        EXPECT_LE(port->reason.data() + port->reason.size(), c.line.data() + c.line.size())
            << c.label;
    }
}

const std::string megabyte(std::size_t{1} << 20, 'x');

INSTANTIATE_TEST_SUITE_P(
    lines, parse_moved_line_test,
    testing::Values(
        parse_case{"moved", "x11/xserver14|x11/xserver17|2016-01-01|Renamed",
                   moved("x11/xserver14", "x11/xserver17", "2016-01-01", "Renamed")},
        parse_case{"removed", "lang/python27||2020-12-31|Has expired: Upstream support ended",
                   removed("lang/python27", "2020-12-31", "Has expired: Upstream support ended")},
        parse_case{"flavored origins", "editors/vim-lite|editors/vim@tiny|2022-09-25|Flavor",
                   moved("editors/vim-lite", "editors/vim@tiny", "2022-09-25", "Flavor")},
        parse_case{"comment", "# Port|Moved to|Date|Why", std::nullopt},
        parse_case{"bare comment mark", "#", std::nullopt},
        parse_case{"empty line", "", std::nullopt}, parse_case{"spaces only", "   ", std::nullopt},
        // Only a "#" in the first column makes a comment, as for MOVEDlint.
        parse_case{"space before #", " # x|a/b|2020-01-01|r",
                   moved(" # x", "a/b", "2020-01-01", "r")},
        parse_case{"one field", "x11/xserver14", std::nullopt},
        parse_case{"two fields", "x11/xserver14|x11/xserver17", std::nullopt},
        parse_case{"three fields", "x11/xserver14|x11/xserver17|2016-01-01", std::nullopt},
        parse_case{"empty old origin", "|x11/xserver17|2016-01-01|Renamed", std::nullopt},
        parse_case{"every field empty", "|||", std::nullopt},
        parse_case{"only the old origin", "lang/python27|||", removed("lang/python27", "", "")},
        parse_case{"no date", "lang/python27|||Gone", removed("lang/python27", "", "Gone")},
        parse_case{"no reason", "a/b|c/d|2016-01-01|", moved("a/b", "c/d", "2016-01-01", "")},
        // The reason is the rest of the line: a "|" in it is shown.
        parse_case{"a fifth field", "a/b|c/d|2016-01-01|Renamed|again",
                   moved("a/b", "c/d", "2016-01-01", "Renamed|again")},
        parse_case{"a trailing |", "a/b|c/d|2016-01-01|Renamed|",
                   moved("a/b", "c/d", "2016-01-01", "Renamed|")},
        parse_case{"many |", "a/b||2016-01-01||||", removed("a/b", "2016-01-01", "|||")},
        // A NUL ends what the split sees, as in the index.
        parse_case{"NUL in the reason", "a/b|c/d|2016-01-01|Ren\0amed|x"s,
                   moved("a/b", "c/d", "2016-01-01", "Ren")},
        parse_case{"NUL right after the third |", "a/b|c/d|2016-01-01|\0Renamed"s,
                   moved("a/b", "c/d", "2016-01-01", "")},
        parse_case{"NUL before the third |", "a/b|c/d|2016\0-01-01|Renamed"s, std::nullopt},
        parse_case{"NUL first", "\0a/b|c/d|2016-01-01|Renamed"s, std::nullopt},
        parse_case{"NUL comment", "#\0a/b|c/d|2016-01-01|Renamed"s, std::nullopt},
        // One CR at the end is a line end from elsewhere; any other stays.
        parse_case{"CR at the end", "a/b|c/d|2016-01-01|Renamed\r",
                   moved("a/b", "c/d", "2016-01-01", "Renamed")},
        parse_case{"two CRs at the end", "a/b|c/d|2016-01-01|Renamed\r\r",
                   moved("a/b", "c/d", "2016-01-01", "Renamed\r")},
        parse_case{"CR inside", "a/b|c/d|2016-01-01|Re\rnamed",
                   moved("a/b", "c/d", "2016-01-01", "Re\rnamed")},
        parse_case{"CR ending an empty reason", "a/b|||\r", removed("a/b", "", "")},
        parse_case{"CR before a NUL", "a/b|c/d|2016-01-01|Renamed\r\0junk"s,
                   moved("a/b", "c/d", "2016-01-01", "Renamed")},
        parse_case{"CR alone", "\r", std::nullopt},
        parse_case{"comment with CR", "# Port|Moved to|Date|Why\r", std::nullopt},
        parse_case{"three fields with CR", "a/b|c/d|2016-01-01\r", std::nullopt},
        parse_case{"bytes that aren't UTF-8", "a/\xff|c/\xc3|\x80|\xe2\x82",
                   moved("a/\xff", "c/\xc3", "\x80", "\xe2\x82")},
        parse_case{"a 1 MiB reason", "a/b|c/d|2016-01-01|" + megabyte,
                   moved("a/b", "c/d", "2016-01-01", megabyte)},
        parse_case{"a 1 MiB old origin", megabyte + "|||", removed(megabyte, "", "")},
        parse_case{"a 1 MiB line without |", megabyte, std::nullopt}));

std::vector<owned_entry> read_entries(int fd, std::size_t capacity, int& error) {
    line_reader reader(fd, capacity);
    std::vector<owned_entry> entries;
    error = read_moved_ports(reader, [&entries](const moved_port& port) {
        entries.push_back(owned_entry::of(port));
        return true;
    });
    return entries;
}

// Hostile lines among good ones, with CRLF line ends, and a last line without
// its newline: each bad line is passed over, and the reader goes on after it.
const std::string hostile_file = "# MOVED, hostile\r\n"
                                 "x11/xserver14|x11/xserver17|2016-01-01|Renamed\r\n"
                                 "\r\n"
                                 "\n"
                                 "only|three|fields\n"
                                 "|no/origin|2020-01-01|Nothing\n"
                                 "a/nul\0|b/c|2020-01-01|cut\n"
                                 "a/b|c/d|2020-01-01|before\0after|x\n"
                                 "huge/reason||2020-02-02|"s +
                                 std::string(std::size_t{1} << 20, 'r') + "\n" +
                                 std::string(std::size_t{1} << 20, '|') +
                                 "\n"
                                 "a/b|c/d|2020-03-03|Five|fields\n"
                                 "lang/python27||2020-12-31|Has expired: Upstream support ended";

const std::vector<owned_entry> hostile_entries = {
    moved("x11/xserver14", "x11/xserver17", "2016-01-01", "Renamed"),
    moved("a/b", "c/d", "2020-01-01", "before"),
    removed("huge/reason", "2020-02-02", std::string(std::size_t{1} << 20, 'r')),
    moved("a/b", "c/d", "2020-03-03", "Five|fields"),
    removed("lang/python27", "2020-12-31", "Has expired: Upstream support ended")};

// With buffers far smaller than the lines too, so that they straddle reads.
TEST(read_moved_ports, passes_over_hostile_lines_and_reads_on) {
    for (const std::size_t capacity : {std::size_t{1}, std::size_t{7}, std::size_t{256} * 1024}) {
        const fixture::file_handle file = fixture::stream_with(hostile_file);
        int error = -1;
        EXPECT_EQ(read_entries(fileno(file.get()), capacity, error), hostile_entries)
            << "buffer of " << capacity;
        EXPECT_EQ(error, 0);
    }
}

TEST(read_moved_ports, prints_the_hostile_file_line_by_line) {
    const fixture::file_handle file = fixture::stream_with(hostile_file);
    fixture::memory_stream out;
    EXPECT_EQ(read_moved_ports(fileno(file.get()),
                               [&out](const moved_port& port) {
                                   print_moved_port(port, out.output());
                                   return true;
                               }),
              0);
    EXPECT_EQ(out.text(), "x11/xserver14 moved to x11/xserver17 on 2016-01-01: Renamed\n"
                          "a/b moved to c/d on 2020-01-01: before\n"
                          "huge/reason removed on 2020-02-02: " +
                              std::string(std::size_t{1} << 20, 'r') +
                              "\n"
                              "a/b moved to c/d on 2020-03-03: Five|fields\n"
                              "lang/python27 removed on 2020-12-31: Has expired: Upstream "
                              "support ended\n");
}

TEST(read_moved_ports, reads_the_sample_file) {
    const file_descriptor fd(
        ::open((fixture::source_dir() / "tests/data/MOVED").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_GE(fd.get(), 0);
    int error = -1;
    const std::vector<owned_entry> entries = read_entries(fd.get(), std::size_t{256} * 1024, error);
    EXPECT_EQ(error, 0);
    ASSERT_EQ(entries.size(), 9U);
    EXPECT_EQ(entries.front(), moved("x11/xserver14", "x11/xserver17", "2016-01-01", "Renamed"));
    EXPECT_EQ(entries[1],
              removed("lang/python27", "2020-12-31", "Has expired: Upstream support ended"));
}

TEST(read_moved_ports, reads_nothing_from_an_empty_file) {
    const fixture::file_handle file = fixture::stream_with("");
    int visits = 0;
    EXPECT_EQ(read_moved_ports(fileno(file.get()),
                               [&visits](const moved_port& /*port*/) {
                                   ++visits;
                                   return true;
                               }),
              0);
    EXPECT_EQ(visits, 0);
}

// A visitor stops the reading by returning false (a write failed): it is
// not called again, and stopping is not a read error.
TEST(read_moved_ports, stops_when_the_visitor_says_so) {
    const fixture::file_handle file = fixture::stream_with(hostile_file);
    std::vector<std::string> seen;
    EXPECT_EQ(read_moved_ports(fileno(file.get()),
                               [&seen](const moved_port& port) {
                                   seen.emplace_back(port.old_origin);
                                   return seen.size() < 2;
                               }),
              0);
    EXPECT_EQ(seen, (std::vector<std::string>{"x11/xserver14", "a/b"}));
}

TEST(read_moved_ports, returns_the_errno_of_a_failed_read) {
    const fixture::temp_dir folder;
    fixture::write_file(folder / "MOVED", "a/b|c/d|2020-01-01|r\n");
    // Open for writing only: every read fails with EBADF, here and on FreeBSD.
    const file_descriptor fd(::open((folder / "MOVED").c_str(), O_WRONLY | O_CLOEXEC));
    ASSERT_GE(fd.get(), 0);
    int visits = 0;
    EXPECT_EQ(read_moved_ports(fd.get(),
                               [&visits](const moved_port& /*port*/) {
                                   ++visits;
                                   return true;
                               }),
              EBADF);
    EXPECT_EQ(visits, 0);
}

// Reads that succeed once, then fail with EIO.
struct failing_second_read {
    static inline int reads = 0;
    static ssize_t read(int fd, void* buffer, std::size_t size) {
        if (reads++ > 0) {
            errno = EIO;
            return -1;
        }
        return ::read(fd, buffer, size);
    }
};

// The entries read before the failure have been visited; the one the failed
// read cut short has not.
TEST(read_moved_ports, keeps_what_came_before_a_read_that_fails) {
    const fixture::file_handle file =
        fixture::stream_with("a/b|c/d|2020-01-01|first\ne/f|g/h|2020-01-02|second\n");
    failing_second_read::reads = 0;
    line_reader reader(fileno(file.get()), line_reader::read_call{failing_second_read::read}, 30);
    std::vector<owned_entry> entries;
    EXPECT_EQ(read_moved_ports(reader,
                               [&entries](const moved_port& port) {
                                   entries.push_back(owned_entry::of(port));
                                   return true;
                               }),
              EIO);
    EXPECT_EQ(entries, (std::vector<owned_entry>{moved("a/b", "c/d", "2020-01-01", "first")}));
}

// What nlohmann/json writes for the object built as a tree: the reference
// that the JSON form is held to.
std::string reference_json(const moved_port& port) {
    nlohmann::ordered_json object;
    object["moved_from"] = port.old_origin;
    object["moved_to"] =
        port.new_origin ? nlohmann::ordered_json(*port.new_origin) : nlohmann::ordered_json();
    object["date"] =
        port.date.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(port.date);
    object["reason"] =
        port.reason.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(port.reason);
    return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

struct print_case {
    const char* label;
    std::string line;
    std::string text;
    std::string json;
    friend void PrintTo(const print_case& c, std::ostream* os) { *os << c.label; }
};

class moved_printers_test : public testing::TestWithParam<print_case> {};

TEST_P(moved_printers_test, print_exact_bytes) {
    const print_case& c = GetParam();
    const std::optional<moved_port> port = parse_moved_line(c.line);
    ASSERT_TRUE(port) << c.label;
    fixture::memory_stream text;
    print_moved_port(*port, text.output());
    EXPECT_EQ(text.text(), c.text) << c.label;
    fixture::memory_stream json;
    print_json_moved_port(*port, json.output());
    const std::string written = json.text();
    EXPECT_EQ(written, c.json) << c.label;
    EXPECT_EQ(written, reference_json(*port)) << c.label;
}

INSTANTIATE_TEST_SUITE_P(
    entries, moved_printers_test,
    testing::Values(
        print_case{"moved", "x11/xserver14|x11/xserver17|2016-01-01|Renamed",
                   "x11/xserver14 moved to x11/xserver17 on 2016-01-01: Renamed\n",
                   R"({"moved_from":"x11/xserver14","moved_to":"x11/xserver17",)"
                   R"("date":"2016-01-01","reason":"Renamed"})"
                   "\n"},
        print_case{"removed", "lang/python27||2020-12-31|Has expired: Upstream support ended",
                   "lang/python27 removed on 2020-12-31: Has expired: Upstream support ended\n",
                   R"({"moved_from":"lang/python27","moved_to":null,"date":"2020-12-31",)"
                   R"("reason":"Has expired: Upstream support ended"})"
                   "\n"},
        print_case{"moved without a date", "a/b|c/d||Renamed", "a/b moved to c/d: Renamed\n",
                   R"({"moved_from":"a/b","moved_to":"c/d","date":null,"reason":"Renamed"})"
                   "\n"},
        print_case{"moved without a reason", "a/b|c/d|2016-01-01|",
                   "a/b moved to c/d on 2016-01-01\n",
                   R"({"moved_from":"a/b","moved_to":"c/d","date":"2016-01-01","reason":null})"
                   "\n"},
        print_case{"removed without a date", "a/b|||Gone", "a/b removed: Gone\n",
                   R"({"moved_from":"a/b","moved_to":null,"date":null,"reason":"Gone"})"
                   "\n"},
        print_case{"removed without a reason", "a/b||2016-01-01|", "a/b removed on 2016-01-01\n",
                   R"({"moved_from":"a/b","moved_to":null,"date":"2016-01-01","reason":null})"
                   "\n"},
        print_case{"only the old origin", "a/b|||", "a/b removed\n",
                   R"({"moved_from":"a/b","moved_to":null,"date":null,"reason":null})"
                   "\n"},
        print_case{"a date that isn't one", "a/b|c/d|soon|Later",
                   "a/b moved to c/d on soon: Later\n",
                   R"({"moved_from":"a/b","moved_to":"c/d","date":"soon","reason":"Later"})"
                   "\n"},
        print_case{"quotes, backslash and | in the reason",
                   R"(a/b|c/d|2016-01-01|Use "c/d" \ or|e/f)",
                   R"(a/b moved to c/d on 2016-01-01: Use "c/d" \ or|e/f)"
                   "\n",
                   R"({"moved_from":"a/b","moved_to":"c/d","date":"2016-01-01",)"
                   R"("reason":"Use \"c/d\" \\ or|e/f"})"
                   "\n"},
        print_case{"control characters", "a/\tb|c/d|2016-01-01|Re\rna\x1bmed",
                   "a/\tb moved to c/d on 2016-01-01: Re\rna\x1bmed\n",
                   R"({"moved_from":"a/\tb","moved_to":"c/d","date":"2016-01-01",)"
                   R"("reason":"Re\rna\u001bmed"})"
                   "\n"},
        print_case{"UTF-8", "x11/caf\xc3\xa9|x11/th\xc3\xa9|2016-01-01|D\xc3\xa9plac\xc3\xa9",
                   "x11/caf\xc3\xa9 moved to x11/th\xc3\xa9 on 2016-01-01: D\xc3\xa9plac\xc3\xa9\n",
                   "{\"moved_from\":\"x11/caf\xc3\xa9\",\"moved_to\":\"x11/th\xc3\xa9\","
                   "\"date\":\"2016-01-01\",\"reason\":\"D\xc3\xa9plac\xc3\xa9\"}\n"},
        // Shown as they are; in JSON each becomes U+FFFD, as elsewhere.
        print_case{"bytes that aren't UTF-8", "a/\xff|c/d|2016-01-01|bad \xc3 end \xe2\x82",
                   "a/\xff moved to c/d on 2016-01-01: bad \xc3 end \xe2\x82\n",
                   "{\"moved_from\":\"a/\xef\xbf\xbd\",\"moved_to\":\"c/d\","
                   "\"date\":\"2016-01-01\",\"reason\":\"bad \xef\xbf\xbd end \xef\xbf\xbd\"}\n"},
        print_case{"a reason longer than a JSON chunk",
                   "a/b||2016-01-01|" + std::string(70000, '"'),
                   "a/b removed on 2016-01-01: " + std::string(70000, '"') + "\n",
                   R"({"moved_from":"a/b","moved_to":null,"date":"2016-01-01","reason":")" +
                       [] {
                           std::string escaped;
                           for (int i = 0; i < 70000; ++i) {
                               escaped += "\\\"";
                           }
                           return escaped;
                       }() +
                       "\"}\n"}));

// Every object reads back as what the line said, with null for what it lacks.
TEST(moved_printers, json_parses_back_to_the_fields) {
    for (const auto& [line, from, to, date, reason] : {
             std::tuple{"x11/xserver14|x11/xserver17|2016-01-01|Renamed", "x11/xserver14",
                        nlohmann::json("x11/xserver17"), nlohmann::json("2016-01-01"),
                        nlohmann::json("Renamed")},
             std::tuple{"lang/python27||2020-12-31|Has expired", "lang/python27", nlohmann::json(),
                        nlohmann::json("2020-12-31"), nlohmann::json("Has expired")},
             std::tuple{"a/b|||", "a/b", nlohmann::json(), nlohmann::json(), nlohmann::json()},
             std::tuple{"a/\xff|c/d|2016-01-01|x|y", "a/\xef\xbf\xbd", nlohmann::json("c/d"),
                        nlohmann::json("2016-01-01"), nlohmann::json("x|y")},
         }) {
        const std::optional<moved_port> port = parse_moved_line(line);
        ASSERT_TRUE(port) << line;
        fixture::memory_stream out;
        print_json_moved_port(*port, out.output());
        const std::string text = out.text();
        ASSERT_TRUE(text.ends_with("}\n")) << line;
        ASSERT_EQ(text.find('\n'), text.size() - 1) << line;
        const nlohmann::json object = nlohmann::json::parse(text);
        EXPECT_EQ(object.size(), 4U) << line;
        EXPECT_EQ(object.at("moved_from"), from) << line;
        EXPECT_EQ(object.at("moved_to"), to) << line;
        EXPECT_EQ(object.at("date"), date) << line;
        EXPECT_EQ(object.at("reason"), reason) << line;
    }
}

TEST(moved_printers, the_form_follows_json_output) {
    search_options options;
    EXPECT_EQ(moved_printer_for(options), &print_moved_port);
    options.json_output = true;
    EXPECT_EQ(moved_printer_for(options), &print_json_moved_port);
}

} // namespace
