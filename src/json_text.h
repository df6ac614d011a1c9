// JSON text written out as it is made: punctuation as given, and strings
// escaped by nlohmann/json a bounded chunk at a time, so that a field of any
// size costs a fixed amount of memory on top of the line that holds it.
//
// The escaping is nlohmann/json's with invalid UTF-8 replaced, exactly what
// json(text).dump(-1, ' ', false, error_handler_t::replace) writes: valid
// UTF-8 as it is, '"', '\\' and the control characters escaped, and each
// byte, or incomplete sequence, that isn't valid UTF-8 written as U+FFFD.
//
// Cutting a string into chunks doesn't change what is written, as long as
// every cut is one that json_cut_is_exact accepts; json_chunk_end makes only
// such cuts. Why they are exact is explained beside json_cut_is_exact in
// json_text.cpp. A string, or chunk, of plain ASCII (no control character,
// '"' or '\\') is copied as it is rather than handed to the library, since
// the library writes it unchanged; the tests hold both to the library's
// output for every byte value.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

#include "checked_output.h"

// How many bytes of a string are escaped at a time unless a writer is told
// otherwise.
inline constexpr std::size_t json_chunk_bytes = std::size_t{64} * 1024;

// Whether text may be cut before position at, its two parts escaped one
// after the other, with the same output as escaping it whole. True when
// text[at] is not a UTF-8 continuation byte (below 0x80 or from 0xC0 on), or
// when the four bytes before it are all continuation bytes (0x80 to 0xBF).
// at must be inside text: 0 < at < text.size().
bool json_cut_is_exact(std::string_view text, std::size_t at);

// The end of the chunk of text that starts at start: text.size() when at most
// chunk_bytes remain; otherwise the last exact cut (json_cut_is_exact) at most
// chunk_bytes after start, which for a chunk_bytes of 5 or more is one of the
// five positions ending at start + chunk_bytes; and where none is that far
// back (chunk_bytes under 5), the first exact cut after start + chunk_bytes.
// Always after start, so that every chunk holds at least one byte. chunk_bytes
// must be at least 1 and start below text.size().
std::size_t json_chunk_end(std::string_view text, std::size_t start, std::size_t chunk_bytes);

// Builds JSON text in a buffer and writes it to a stream: whenever the
// buffer holds chunk_bytes or more after a string or a chunk of one, and at
// flush(). So once put_string returns, fewer than chunk_bytes bytes are held,
// and while it runs at most that plus one escaped chunk (six bytes a byte at
// most, for control characters as \u00XX): memory doesn't grow with the
// size of a string, nor with the number of strings on a line. Neither
// copied nor moved: the escaper it holds points back at it.
class json_text_writer {
public:
    // Writes to out (which may be nullptr until set_stream names one: then
    // nothing may be written out), escaping chunk_bytes (at least 1) of a
    // string at a time.
    explicit json_text_writer(checked_output* out, std::size_t chunk_bytes = json_chunk_bytes);
    ~json_text_writer();
    json_text_writer(const json_text_writer&) = delete;
    json_text_writer& operator=(const json_text_writer&) = delete;
    json_text_writer(json_text_writer&&) = delete;
    json_text_writer& operator=(json_text_writer&&) = delete;

    // Writes what is held to the current stream (see flush), then makes out
    // the stream that later text goes to.
    void set_stream(checked_output* out);

    // Appends text as it is: keys, punctuation, numbers, literals, all of
    // which the caller makes valid JSON.
    void put_raw(std::string_view text) {
        if (!text.empty()) { // memcpy wants pointers even for no bytes
            std::memcpy(room(text.size()), text.data(), text.size());
            size_ += text.size();
        }
    }

    // Appends text as a JSON string, in quotes, escaped by nlohmann/json as
    // the file comment says, a chunk at a time (json_chunk_end) when it is
    // longer than chunk_bytes, writing out what is held between chunks and
    // at the end once it reaches chunk_bytes.
    void put_string(std::string_view text);

    // Writes everything held to the stream with one write. Write errors are
    // kept by the stream, for its owner to check.
    void flush();

    // How many bytes are held, not yet written out.
    [[nodiscard]] std::size_t held() const { return size_; }

private:
    struct escaper; // nlohmann/json's serializer, kept out of this header

    // Where the next n bytes go, at data_ + size_, with room made for them.
    char* room(std::size_t n) { return capacity_ - size_ >= n ? data_.get() + size_ : grow(n); }
    char* grow(std::size_t n);

    void put_chunk(std::string_view chunk, bool opening, bool closing);

    checked_output* out_;
    std::size_t chunk_bytes_;
    // What is held: a buffer that grows and is reused (a std::string's
    // appends cost more than the copies of the short strings of a line).
    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    std::unique_ptr<escaper> escaper_;
};
