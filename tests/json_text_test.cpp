#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "fixtures.h"
#include "json_text.h"

using namespace std::string_view_literals;

namespace {

// What the writer must write for a string: nlohmann/json's own dump of it
// whole, with invalid UTF-8 replaced.
std::string library_dump(std::string_view text) {
    return nlohmann::json(std::string(text))
        .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The writer's text for one string, escaped chunk_bytes at a time; also
// checks that it held fewer than chunk_bytes bytes once put_string returned.
std::string written(std::string_view text, std::size_t chunk_bytes) {
    fixture::memory_stream out;
    json_text_writer writer(&out.output(), chunk_bytes);
    writer.put_string(text);
    EXPECT_LT(writer.held(), chunk_bytes) << "held after put_string";
    writer.flush();
    return out.text();
}

// A printable form of a string's bytes, for failure messages.
std::string hex(std::string_view text) {
    std::string shown;
    for (const char byte : text) {
        constexpr const char* digits = "0123456789abcdef";
        const auto b = static_cast<unsigned char>(byte);
        shown += digits[b >> 4];
        shown += digits[b & 15];
        shown += ' ';
    }
    return shown;
}

struct tricky_case {
    const char* label;
    std::string_view text;
    friend void PrintTo(const tricky_case& c, std::ostream* os) { *os << c.label; }
};

class chunked_escaping : public testing::TestWithParam<tricky_case> {};

// Each text after 0 to 7 plain bytes and before a few more, escaped with
// every chunk size from 1 to 12 and the default: every byte of it falls on
// either side of some cut, and each result must be the library's own.
TEST_P(chunked_escaping, writes_what_the_library_writes_for_the_whole_string) {
    const tricky_case& c = GetParam();
    for (std::size_t lead = 0; lead < 8; ++lead) {
        const std::string text = std::string(lead, 'a') + std::string(c.text) + "zz";
        const std::string expected = library_dump(text);
        for (std::size_t chunk = 1; chunk <= 12; ++chunk) {
            ASSERT_EQ(written(text, chunk), expected)
                << c.label << ", " << lead << " bytes before it, chunks of " << chunk << ": "
                << hex(text);
        }
        ASSERT_EQ(written(text, json_chunk_bytes), expected) << c.label << ": " << hex(text);
    }
}

INSTANTIATE_TEST_SUITE_P(
    inputs, chunked_escaping,
    testing::Values(
        tricky_case{"empty", ""sv}, tricky_case{"plain ASCII", "hello, world"sv},
        tricky_case{"two-byte characters", "caf\xc3\xa9 \xc3\xa9\xc3\xa9"sv},
        tricky_case{"three-byte characters", "\xe2\x82\xac\xe2\x82\xac x \xe2\x82\xac"sv},
        tricky_case{"four-byte characters", "\xf0\x9f\x98\x80\xf0\x9f\x98\x80y"sv},
        tricky_case{"a four-byte character cut short by ASCII", "\xf0\x9f\x98z"sv},
        tricky_case{"a three-byte character cut short by a lead byte", "\xe2\x82\xc3\xa9"sv},
        tricky_case{"a two-byte lead at the end", "ab\xc3"sv},
        tricky_case{"a three-byte character cut short at the end", "ab\xe2\x82"sv},
        tricky_case{"a four-byte character cut short at the end", "ab\xf0\x9f\x98"sv},
        tricky_case{"a stray continuation byte", "a\x80z"sv},
        tricky_case{"two stray continuation bytes", "\xbf\x80"sv},
        tricky_case{"a run of continuation bytes longer than a chunk",
                    "\x80\x81\x82\x83\x84\x85\x86\x87\x88\x89\x8a\x8b\x8c\x8d\x8e\x8f"sv},
        tricky_case{"a lead byte, then a long run of continuation bytes",
                    "\xf0\x90\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80"sv},
        tricky_case{"a complete character, then more continuation bytes",
                    "\xe2\x82\xac\xac\xac\xac\xac\xac"sv},
        tricky_case{"overlong lead bytes C0 and C1", "\xc0\x80 \xc1\xbf"sv},
        tricky_case{"lead bytes F5 to FF", "\xf5\x80\x80\x80 \xf8 \xfe \xff\xff"sv},
        tricky_case{"an overlong three-byte form", "\xe0\x80\x80"sv},
        tricky_case{"a surrogate encoded in UTF-8", "\xed\xa0\x80"sv},
        tricky_case{"beyond U+10FFFF", "\xf4\x90\x80\x80"sv},
        tricky_case{"the last character of Unicode", "\xf4\x8f\xbf\xbf"sv},
        tricky_case{"control characters", "\x01\x02\x08\x09\x0a\x0b\x0c\x0d\x1b\x1f\x7f"sv},
        tricky_case{"NUL bytes", "a\0b\0\0"sv},
        tricky_case{"NUL inside a sequence", "\xe2\x82\0\xac"sv},
        tricky_case{"quotes and backslashes", "\"\\\"\\\\\"\"a\\"sv},
        tricky_case{"an escape right after a cut-short sequence", "\xe2\x82\"\xc3\\"sv},
        tricky_case{"a replacement character as it is", "\xef\xbf\xbd\xef\xbf"sv},
        tricky_case{"everything at once",
                    "\xf0\x9f\x98\x80\x80\x80\x80\x80\x80\"\xc3\x01\xe2\x82\xac\\\xff\xf0\x9f"
                    "\0\xc3\xa9"sv}));

// Every byte value alone, and in every place of plain strings of 1 to 17
// bytes (which the writer reads eight bytes at a time, the last eight
// overlapping), with and without chunking.
TEST(json_text, every_byte_in_every_place_is_written_as_the_library_writes_it) {
    for (int value = 0; value < 256; ++value) {
        const char byte = static_cast<char>(value);
        for (std::size_t size = 1; size <= 17; ++size) {
            for (std::size_t at = 0; at < size; ++at) {
                std::string text(size, 'k');
                text[at] = byte;
                const std::string expected = library_dump(text);
                ASSERT_EQ(written(text, json_chunk_bytes), expected) << hex(text);
                ASSERT_EQ(written(text, 3), expected) << hex(text);
            }
        }
    }
}

// Random strings from an alphabet rich in what UTF-8 decoding and JSON
// escaping turn on, with random chunk sizes; the seed is fixed, so a failure
// repeats.
TEST(json_text, random_strings_in_random_chunks_are_written_as_the_library_writes_them) {
    std::mt19937 random(20260804); // NOLINT(cert-msc32-c,cert-msc51-cpp): repeatable on purpose
    constexpr std::string_view alphabet = "aZ \"\\\x01\x1f\x7f\0"
                                          "\x80\x8f\x9f\xa0\xbf\xc0\xc1\xc2\xdf\xe0\xe1\xed\xef"
                                          "\xf0\xf1\xf4\xf5\xf8\xff"sv;
    std::uniform_int_distribution<std::size_t> letter(0, alphabet.size() - 1);
    std::uniform_int_distribution<std::size_t> size(0, 200);
    std::uniform_int_distribution<std::size_t> chunk(1, 40);
    std::uniform_int_distribution<int> any_byte(0, 255);
    for (int round = 0; round < 20000; ++round) {
        std::string text(size(random), ' ');
        // Half the strings from the alphabet, half from any bytes at all.
        const bool from_alphabet = round % 2 == 0;
        for (char& byte : text) {
            byte = from_alphabet ? alphabet[letter(random)] : static_cast<char>(any_byte(random));
        }
        const std::size_t chunk_bytes = chunk(random);
        ASSERT_EQ(written(text, chunk_bytes), library_dump(text))
            << "round " << round << ", chunks of " << chunk_bytes << ": " << hex(text);
    }
}

// Strings of several chunks at the real chunk size: long plain text, text
// with a character of each length every so often, and random bytes.
TEST(json_text, long_strings_in_real_chunks_are_written_as_the_library_writes_them) {
    std::mt19937 random(1523); // NOLINT(cert-msc32-c,cert-msc51-cpp): repeatable on purpose
    std::uniform_int_distribution<int> any_byte(0, 255);
    std::string plain(3 * json_chunk_bytes + 17, 'p');
    std::string characters;
    while (characters.size() < 3 * json_chunk_bytes) {
        characters += "word \xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\t\"";
    }
    std::string bytes(2 * json_chunk_bytes + 5, ' ');
    for (char& byte : bytes) {
        byte = static_cast<char>(any_byte(random));
    }
    // A run of continuation bytes across the first cut, with a lead before it.
    std::string run(json_chunk_bytes - 3, 'r');
    run += "\xf0";
    run += std::string(40, '\x80');
    run += "end";
    for (const std::string* text : {&plain, &characters, &bytes, &run}) {
        ASSERT_EQ(written(*text, json_chunk_bytes), library_dump(*text));
    }
}

TEST(json_text, a_cut_is_exact_before_a_non_continuation_byte_or_after_four_continuations) {
    constexpr std::string_view text = "a\xc3\xa9\x80\x80\x80\x80\x80z"sv;
    //                                  0 1   2   3   4   5   6   7   8
    const std::vector<bool> exact = {false, true, false, false, false, false, true, true, true};
    for (std::size_t at = 1; at < text.size(); ++at) {
        EXPECT_EQ(json_cut_is_exact(text, at), exact[at]) << "at " << at;
    }
}

// The end of a chunk: always after its start and an exact cut; for chunks of
// 5 bytes or more at most the limit and at most 4 bytes before it; for
// smaller ones at most 4 bytes past it. The end of the text only when what
// remains fits, or (small chunks) when no cut in it is exact.
TEST(json_text, chunks_end_at_exact_cuts_near_the_limit) {
    std::mt19937 random(7); // NOLINT(cert-msc32-c,cert-msc51-cpp): repeatable on purpose
    std::uniform_int_distribution<int> byte_kind(0, 3);
    for (int round = 0; round < 500; ++round) {
        std::string text(100, ' ');
        for (char& byte : text) {
            // Mostly continuation bytes, to make the search work.
            byte = byte_kind(random) == 0 ? 'x' : '\x80';
        }
        for (std::size_t chunk = 1; chunk <= 12; ++chunk) {
            for (std::size_t start = 0; start < text.size(); ++start) {
                const std::size_t end = json_chunk_end(text, start, chunk);
                ASSERT_GT(end, start);
                if (end == text.size()) {
                    if (text.size() - start > chunk) {
                        ASSERT_LT(chunk, 5U) << start;
                        for (std::size_t at = start + 1; at < text.size(); ++at) {
                            ASSERT_FALSE(json_cut_is_exact(text, at)) << start << " " << at;
                        }
                    }
                    continue;
                }
                ASSERT_TRUE(json_cut_is_exact(text, end)) << start << " " << chunk;
                if (chunk >= 5) {
                    ASSERT_LE(end, start + chunk);
                    ASSERT_GE(end + 4, start + chunk);
                } else {
                    ASSERT_LE(end, start + chunk + 4);
                }
            }
        }
    }
}

// A string many chunks long is written out as it goes: the stream has most
// of it before the string ends, and the writer never holds the whole.
TEST(json_text, a_long_string_is_written_out_a_chunk_at_a_time) {
    fixture::memory_stream out;
    constexpr std::size_t chunk = 64;
    json_text_writer writer(&out.output(), chunk);
    const std::string text(100 * chunk, '\x01'); // six bytes each once escaped
    writer.put_raw("[");
    writer.put_string(text);
    EXPECT_LT(writer.held(), chunk);
    writer.put_raw("]");
    writer.flush();
    EXPECT_EQ(writer.held(), 0U);
    EXPECT_EQ(out.text(), "[" + library_dump(text) + "]");
}

// Many short strings in a row are written out too, not gathered whole.
TEST(json_text, many_short_strings_are_written_out_as_they_add_up) {
    fixture::memory_stream out;
    constexpr std::size_t chunk = 64;
    json_text_writer writer(&out.output(), chunk);
    std::string expected;
    for (int i = 0; i < 1000; ++i) {
        writer.put_string("word\xc3\xa9");
        expected += library_dump("word\xc3\xa9");
        EXPECT_LT(writer.held(), chunk);
    }
    writer.flush();
    EXPECT_EQ(out.text(), expected);
}

// A string_view with no bytes and no pointer is the empty string.
TEST(json_text, a_null_empty_view_is_the_empty_string) {
    fixture::memory_stream out;
    json_text_writer writer(&out.output());
    writer.put_raw(std::string_view());
    writer.put_string(std::string_view());
    writer.flush();
    EXPECT_EQ(out.text(), "\"\"");
}

// Text goes to the stream it was put for; a new stream gets only what came
// after it was set.
TEST(json_text, set_stream_writes_out_what_was_held_for_the_old_stream) {
    fixture::memory_stream first;
    fixture::memory_stream second;
    json_text_writer writer(&first.output());
    writer.put_raw("{\"a\":");
    writer.put_string("x");
    writer.set_stream(&second.output());
    writer.put_string("y");
    writer.flush();
    EXPECT_EQ(first.text(), "{\"a\":\"x\"");
    EXPECT_EQ(second.text(), "\"y\"");
}

} // namespace
