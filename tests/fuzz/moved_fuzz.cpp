// Arbitrary bytes as a ports tree's MOVED file, through the real reading,
// split and both printers. Besides crashes it checks what must hold whatever
// the input: the reader visits exactly what splitting each line on its own
// takes, an entry put back together gives its line (up to its first NUL,
// one CR at its end dropped), the text form is one line an entry, and every
// JSON object parses, with its four members.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "checked_output.h"
#include "json_output.h"
#include "moved_ports.h"
#include "result_output.h"

namespace {

void require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

struct owned_entry {
    std::string old_origin;
    std::optional<std::string> new_origin;
    std::string date;
    std::string reason;
    bool operator==(const owned_entry&) const = default;
};

owned_entry owned(const moved_port& port) {
    return {std::string(port.old_origin),
            port.new_origin ? std::optional<std::string>(*port.new_origin) : std::nullopt,
            std::string(port.date), std::string(port.reason)};
}

// What a line holds for the split: up to its first NUL, without one CR at
// its end.
std::string_view seen_part(std::string_view line) {
    line = line.substr(0, line.find('\0'));
    if (line.ends_with('\r')) {
        line.remove_suffix(1);
    }
    return line;
}

// Each line split on its own, its entry checked against the line.
std::vector<owned_entry> entries_line_by_line(std::string_view file) {
    std::vector<owned_entry> entries;
    while (!file.empty()) {
        const std::size_t newline = file.find('\n');
        const std::string_view line = file.substr(0, newline);
        const std::string_view seen = seen_part(line);
        const std::optional<moved_port> port = parse_moved_line(line);
        if (port) {
            require(!port->old_origin.empty());
            require(!port->new_origin || !port->new_origin->empty());
            for (const std::string_view field :
                 {port->old_origin, port->new_origin.value_or(""), port->date}) {
                require(field.find_first_of(std::string_view("|\0\n", 3)) ==
                        std::string_view::npos);
            }
            require(port->reason.find_first_of(std::string_view("\0\n", 2)) ==
                    std::string_view::npos);
            require(std::string(port->old_origin) + "|" +
                        std::string(port->new_origin.value_or("")) + "|" + std::string(port->date) +
                        "|" + std::string(port->reason) ==
                    seen);
            entries.push_back(owned(*port));
        } else {
            const std::size_t bars =
                static_cast<std::size_t>(std::count(seen.begin(), seen.end(), '|'));
            require(seen.empty() || seen.starts_with('#') || seen.starts_with('|') || bars < 3);
        }
        file.remove_prefix(newline == std::string_view::npos ? file.size() : newline + 1);
    }
    return entries;
}

// A stream into memory, for one input.
struct memory_output {
    char* data = nullptr;
    std::size_t size = 0;
    std::FILE* file = open_memstream(&data, &size);
    memory_output() { require(file != nullptr); }
    ~memory_output() {
        std::fclose(file);
        std::free(data);
    }
    memory_output(const memory_output&) = delete;
    memory_output& operator=(const memory_output&) = delete;
    [[nodiscard]] std::string_view text() const {
        require(std::fflush(file) == 0);
        return {data, size};
    }
};

bool plain_ascii(std::string_view text) {
    return std::ranges::all_of(text, [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::FILE* const moved = std::tmpfile();
    const std::string_view file(reinterpret_cast<const char*>(data), size);
    const int fd = fileno(moved);
    require(ftruncate(fd, 0) == 0);
    require(pwrite(fd, file.data(), file.size(), 0) == static_cast<ssize_t>(file.size()));
    require(lseek(fd, 0, SEEK_SET) == 0);

    const std::vector<owned_entry> expected = entries_line_by_line(file);
    std::vector<owned_entry> read;
    memory_output text;
    checked_output text_out(text.file);
    std::size_t json_objects = 0;
    require(read_moved_ports(fd, [&](const moved_port& port) {
                read.push_back(owned(port));
                print_moved_port(port, text_out);
                memory_output json;
                checked_output json_out(json.file);
                print_json_moved_port(port, json_out);
                const std::string_view object_text = json.text();
                require(object_text.ends_with("}\n"));
                require(object_text.find('\n') == object_text.size() - 1);
                const nlohmann::json object = nlohmann::json::parse(object_text, nullptr, false);
                require(object.is_object() && object.size() == 4);
                require(object.at("moved_from").is_string());
                if (plain_ascii(port.old_origin)) {
                    require(object.at("moved_from") == std::string(port.old_origin));
                }
                require(object.at("moved_to").is_null() == !port.new_origin);
                require(object.at("date").is_null() == port.date.empty());
                require(object.at("reason").is_null() == port.reason.empty());
                ++json_objects;
                return true;
            }) == 0);
    require(read == expected);
    require(json_objects == expected.size());
    const std::string_view lines = text.text();
    require(static_cast<std::size_t>(std::count(lines.begin(), lines.end(), '\n')) ==
            expected.size());
    require(!text_out.failed());
    return 0;
}
