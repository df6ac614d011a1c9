#include "json_text.h"

#include <algorithm>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>

namespace {

bool is_continuation(char byte) {
    const auto b = static_cast<unsigned char>(byte);
    return b >= 0x80 && b < 0xC0;
}

// Whether every byte of text is ASCII that JSON takes as it is: none is a
// control character (below 0x20), '"' or '\\', or from 0x80 on. Such text is
// what nlohmann/json writes back unchanged (RFC 8259 asks only those three
// kinds to be escaped, an ASCII byte is a whole UTF-8 character, and the
// library escapes nothing else with ensure_ascii off), so it needn't be
// handed to the library, whose decoder takes a few cycles a byte: this looks
// at eight bytes at once. Any text it says no to goes to the library whole;
// the escaping stays the library's.
//
// Eight bytes at a time: each test below is nonzero exactly when some byte
// of the word passes it (the bits it sets may be wrong, through borrows, but
// never all of them zero when a byte passes), so their union is zero exactly
// when every byte is plain.
constexpr std::uint64_t ones = 0x0101010101010101;
constexpr std::uint64_t highs = ones * 0x80;

constexpr std::uint64_t some_byte_zero(std::uint64_t w) {
    return (w - ones) & ~w & highs;
}

constexpr std::uint64_t unplain_bytes(std::uint64_t w) {
    return ((w - ones * 0x20) & ~w & highs) // a byte below 0x20 (of those below 0x80)
           | (w & highs)                    // a byte from 0x80 on
           | some_byte_zero(w ^ (ones * '"')) | some_byte_zero(w ^ (ones * '\\'));
}

std::uint64_t load8(const char* at) {
    std::uint64_t word = 0;
    std::memcpy(&word, at, sizeof word);
    return word;
}

bool is_plain_ascii(std::string_view text) {
    const std::size_t n = text.size();
    const char* const p = text.data();
    if (n < 8) {
        return std::ranges::all_of(text, [](char byte) {
            const auto b = static_cast<unsigned char>(byte);
            return b >= 0x20 && b < 0x80 && b != '"' && b != '\\';
        });
    }
    // The last word overlaps the one before it rather than leave a tail.
    std::uint64_t unplain = unplain_bytes(load8(p + n - 8));
    for (std::size_t at = 0; at + 8 < n; at += 8) {
        unplain |= unplain_bytes(load8(p + at));
    }
    return unplain == 0;
}

} // namespace

// Why these cuts are exact. nlohmann/json's serializer::dump_escaped reads a
// string byte by byte through a UTF-8 decoder (Hoehrmann's DFA) that is
// either between characters (ACCEPT) or inside one, having taken its lead
// byte and fewer than three continuation bytes. A byte that can't go on from
// where the decoder is gets it rejected; with error_handler_t::replace the
// bytes of the sequence in progress are dropped from its buffer, one U+FFFD
// is written in their place, the decoder goes back to ACCEPT and, when a
// sequence was in progress, the rejected byte is read again from there. A
// string that ends inside a sequence gets one U+FFFD for it. Everything
// written is final at ACCEPT: no later byte changes what came before it.
//
// Cut a string at `at`, and escape the two parts one after the other (each
// starting at ACCEPT, as every string does). What escaping it whole would do
// at `at` is one of:
//  - the decoder is at ACCEPT: the first part ends there, having written
//    what the whole did up to `at`, and the second starts where the whole
//    went on from, at ACCEPT.
//  - a sequence is in progress and text[at] is not a continuation byte
//    (below 0x80, or 0xC0 and above, which no state inside a sequence
//    takes): the whole rejects text[at], writes one U+FFFD for the sequence
//    and reads text[at] again from ACCEPT. The first part ends inside the
//    sequence, for which it too writes one U+FFFD, and the second part reads
//    text[at] from ACCEPT.
// So a cut before a byte that is not a continuation byte is always exact. A
// cut after four continuation bytes in a row is too, because the decoder is
// then at ACCEPT: a sequence in progress before them needs at most three
// continuation bytes more (a four-byte character after its lead), so it ends
// (taken or rejected) within the first three of the run, and every
// continuation byte read at ACCEPT is rejected on its own (one U+FFFD, not
// read again), which leaves the decoder at ACCEPT. The same holds when the
// part being escaped starts inside the run: its first bytes are then
// continuation bytes read at ACCEPT. Each chunk ends at an exact cut of what
// remains of the string, so by induction escaping the chunks one after the
// other writes what escaping the string whole writes.
bool json_cut_is_exact(std::string_view text, std::size_t at) {
    if (!is_continuation(text[at])) {
        return true;
    }
    return at >= 4 && is_continuation(text[at - 1]) && is_continuation(text[at - 2]) &&
           is_continuation(text[at - 3]) && is_continuation(text[at - 4]);
}

std::size_t json_chunk_end(std::string_view text, std::size_t start, std::size_t chunk_bytes) {
    if (text.size() - start <= chunk_bytes) {
        return text.size();
    }
    const std::size_t limit = start + chunk_bytes;
    // One of any five positions in a row is exact: if the last is a
    // continuation byte and the four before it too, the last is.
    for (std::size_t at = limit; at > start && limit - at < 5; --at) {
        if (json_cut_is_exact(text, at)) {
            return at;
        }
    }
    for (std::size_t at = limit + 1; at < text.size(); ++at) {
        if (json_cut_is_exact(text, at)) {
            return at;
        }
    }
    return text.size();
}

// nlohmann/json escapes a string only as part of dumping a value, and
// basic_json::dump makes a new serializer (two allocations and a localeconv
// call) and a new std::string each time. nlohmann::detail::serializer, which
// dump uses, can be kept and given an output adapter of our own: then one
// serializer and one string value, whose buffer is reused, serve every string
// of the run, and the escaped text goes straight into the writer's buffer.
// This struct is the only use of nlohmann::detail in vandrel.
struct json_text_writer::escaper {
    using json = nlohmann::json;

    // Appends to the writer's buffer, dropping the first byte written while
    // skip_first is set (the opening quote of a chunk that continues a string).
    class appender final : public nlohmann::detail::output_adapter_protocol<char> {
    public:
        explicit appender(json_text_writer& writer) : writer_(writer) {}
        void write_character(char c) override {
            if (skip_first) {
                skip_first = false;
                return;
            }
            *writer_.room(1) = c;
            ++writer_.size_;
        }
        void write_characters(const char* s, std::size_t length) override {
            if (skip_first && length > 0) {
                skip_first = false;
                ++s;
                --length;
            }
            writer_.put_raw(std::string_view(s, length));
        }
        bool skip_first = false;

    private:
        json_text_writer& writer_;
    };

    explicit escaper(json_text_writer& writer)
        : output(std::make_shared<appender>(writer)),
          serializer(output, ' ', nlohmann::detail::error_handler_t::replace) {}

    // Appends the chunk as the library writes it as a JSON string: '"', the
    // escaped text and '"', without the opening quote unless opening. Kept
    // out of line, so that the plain strings' path stays small.
    [[gnu::noinline]] void put(std::string_view chunk, bool opening) {
        value.get_ref<std::string&>().assign(chunk);
        output->skip_first = !opening;
        // A string value is dumped as '"', its escaped text and '"'.
        serializer.dump(value, false, false, 0);
    }

    std::shared_ptr<appender> output;
    nlohmann::detail::serializer<json> serializer;
    json value = std::string();
};

json_text_writer::json_text_writer(checked_output* out, std::size_t chunk_bytes)
    : out_(out), chunk_bytes_(chunk_bytes), escaper_(std::make_unique<escaper>(*this)) {}

json_text_writer::~json_text_writer() = default;

char* json_text_writer::grow(std::size_t n) {
    const std::size_t capacity = std::max({std::size_t{4096}, size_ + n, capacity_ * 2});
    auto data = std::make_unique_for_overwrite<char[]>(capacity);
    if (size_ > 0) {
        std::memcpy(data.get(), data_.get(), size_);
    }
    data_ = std::move(data);
    capacity_ = capacity;
    return data_.get() + size_;
}

void json_text_writer::set_stream(checked_output* out) {
    flush();
    out_ = out;
}

// A chunk of a string, or all of it: the opening quote only for the first,
// the closing one only for the last.
void json_text_writer::put_chunk(std::string_view chunk, bool opening, bool closing) {
    if (is_plain_ascii(chunk)) {
        char* to = room(chunk.size() + 2);
        if (opening) {
            *to++ = '"';
        }
        if (!chunk.empty()) {
            std::memcpy(to, chunk.data(), chunk.size());
            to += chunk.size();
        }
        if (closing) {
            *to++ = '"';
        }
        size_ = static_cast<std::size_t>(to - data_.get());
        return;
    }
    escaper_->put(chunk, opening);
    if (!closing) {
        --size_; // the library's closing quote
    }
}

void json_text_writer::put_string(std::string_view text) {
    if (text.size() <= chunk_bytes_) {
        put_chunk(text, true, true);
    } else {
        for (std::size_t start = 0; start < text.size();) {
            const std::size_t end = json_chunk_end(text, start, chunk_bytes_);
            put_chunk(text.substr(start, end - start), start == 0, end == text.size());
            if (end < text.size() && size_ >= chunk_bytes_) {
                flush();
            }
            start = end;
        }
    }
    if (size_ >= chunk_bytes_) {
        flush();
    }
}

void json_text_writer::flush() {
    if (size_ > 0) {
        out_->write(std::string_view(data_.get(), size_));
        size_ = 0;
    }
}
