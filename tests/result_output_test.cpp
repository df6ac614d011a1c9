#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "fixtures.h"
#include "result_output.h"

using namespace std::string_view_literals;

namespace {

struct print_case {
    const char* label;
    std::string_view line;
    const char* installed; // nullptr: not installed
    bool show_details;
    std::string_view short_form;
    std::string_view long_form;
    friend void PrintTo(const print_case& c, std::ostream* os) { *os << c.label; }
};

class printers_test : public testing::TestWithParam<print_case> {};

TEST_P(printers_test, print_exact_bytes) {
    const print_case& c = GetParam();
    port_entry entry;
    const std::string line_text(c.line);
    parse_index_line(entry, line_text);
    if (c.installed != nullptr) {
        entry.installed_version = c.installed;
    }
    fixture::memory_stream short_out;
    print_short_result(entry, c.show_details, short_out.output());
    EXPECT_EQ(short_out.text(), c.short_form) << c.label;
    fixture::memory_stream long_out;
    print_long_result(entry, c.show_details, long_out.output());
    EXPECT_EQ(long_out.text(), c.long_form) << c.label;
}

constexpr std::string_view zsh =
    "zsh-5.9_5|/usr/ports/shells/zsh|/usr/local|Z shell|/usr/ports/shells/zsh/pkg-descr|"
    "bapt@FreeBSD.org|shells|autoconf-2.72 gmake-4.4.1|pcre2-10.44|https://www.zsh.org/|||";

INSTANTIATE_TEST_SUITE_P(
    entries, printers_test,
    testing::Values(
        print_case{"installed, without -f", zsh, "5.9_4", false,
                   "+ zsh-5.9_5 (/usr/ports/shells/zsh)\n",
                   "\nzsh-5.9_5 (bapt@FreeBSD.org)\n"
                   "============================\n"
                   "\n"
                   "Z shell\n"
                   "\n"
                   "        Port name: zsh\n"
                   "     Port version: 5.9_5\n"
                   "Installed version: 5.9_4\n"
                   "             Port: shells\n"
                   "        Port path: /usr/ports/shells/zsh\n"
                   "     Install path: /usr/local\n"
                   "\n"},
        print_case{"not installed, with -f", zsh, nullptr, true,
                   "- zsh-5.9_5 (/usr/ports/shells/zsh, Version: n/a [bapt@FreeBSD.org, "
                   "/usr/local])\n",
                   "\nzsh-5.9_5 (bapt@FreeBSD.org)\n"
                   "============================\n"
                   "\n"
                   "Z shell\n"
                   "\n"
                   "        Port name: zsh\n"
                   "     Port version: 5.9_5\n"
                   "Installed version: Not installed\n"
                   "             Port: shells\n"
                   "        Port path: /usr/ports/shells/zsh\n"
                   "     Install path: /usr/local\n"
                   "     Dependencies: autoconf-2.72 gmake-4.4.1\n"
                   "   R-Dependencies: pcre2-10.44\n"
                   "\n"},
        print_case{"a 7-byte name and a 10-byte maintainer make a 20-byte rule",
                   "foo-1.0|p|/usr/local|c|d|0123456789|misc", nullptr, false, "- foo-1.0 (p)\n",
                   "\nfoo-1.0 (0123456789)\n"
                   "====================\n"
                   "\nc\n\n"
                   "        Port name: foo\n"
                   "     Port version: 1.0\n"
                   "Installed version: Not installed\n"
                   "             Port: misc\n"
                   "        Port path: p\n"
                   "     Install path: /usr/local\n"
                   "\n"},
        print_case{"one field: every other value falls back", "foo", nullptr, true,
                   "- foo (n/a, Version: n/a [n/a, n/a])\n",
                   "\nfoo\n"
                   "===\n"
                   "\nNo description avaiable\n\n"
                   "        Port name: foo\n"
                   "     Port version: Unkown port version\n"
                   "Installed version: Not installed\n"
                   "             Port: Not avaiable\n"
                   "        Port path: No port path avaiable\n"
                   "     Install path: No install path avaiable\n"
                   "     Dependencies: No dependencies avaiable\n"
                   "   R-Dependencies: No r-dependencies avaiable\n"
                   "\n"},
        print_case{"a first field ending in a hyphen has an empty version", "foo-|p", "1", false,
                   "+ foo- (p)\n",
                   "\nfoo-\n"
                   "====\n"
                   "\nNo description avaiable\n\n"
                   "        Port name: foo\n"
                   "     Port version: \n"
                   "Installed version: 1\n"
                   "             Port: Not avaiable\n"
                   "        Port path: p\n"
                   "     Install path: No install path avaiable\n"
                   "\n"},
        print_case{"the rule counts a multi-byte maintainer in bytes",
                   "a-1|p|/usr/local|c|d|J\xc3\xb6rg", nullptr, false, "- a-1 (p)\n",
                   "\na-1 (J\xc3\xb6rg)\n"
                   "===========\n"
                   "\nc\n\n"
                   "        Port name: a\n"
                   "     Port version: 1\n"
                   "Installed version: Not installed\n"
                   "             Port: Not avaiable\n"
                   "        Port path: p\n"
                   "     Install path: /usr/local\n"
                   "\n"},
        print_case{"an empty line prints every fallback", "", nullptr, true,
                   "- n/a (n/a, Version: n/a [n/a, n/a])\n",
                   "\n\n\n"
                   "\nNo description avaiable\n\n"
                   "        Port name: No name avaiable\n"
                   "     Port version: Unkown port version\n"
                   "Installed version: Not installed\n"
                   "             Port: Not avaiable\n"
                   "        Port path: No port path avaiable\n"
                   "     Install path: No install path avaiable\n"
                   "     Dependencies: No dependencies avaiable\n"
                   "   R-Dependencies: No r-dependencies avaiable\n"
                   "\n"}));

TEST(print_long_result, two_blocks_are_separated_by_two_empty_lines) {
    port_entry entry;
    parse_index_line(entry, "a-1|p");
    fixture::memory_stream out;
    print_long_result(entry, false, out.output());
    print_long_result(entry, false, out.output());
    const std::string block = "\na-1\n===\n\nNo description avaiable\n\n"
                              "        Port name: a\n"
                              "     Port version: 1\n"
                              "Installed version: Not installed\n"
                              "             Port: Not avaiable\n"
                              "        Port path: p\n"
                              "     Install path: No install path avaiable\n"
                              "\n";
    EXPECT_EQ(out.text(), block + block);
}

} // namespace
