// Splitting one line on its own, as the tests, fuzz targets and benchmarks
// do: the program only splits the lines a line_reader hands over.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "delimiters.h"
#include "port_entry.h"

namespace fixture {

// Fills the entry from the line, which its first newline (if any) ends; the
// entry views the caller's text.
inline void parse_line(port_entry& entry, std::string_view line) {
    line = line.substr(0, line.find('\n'));
    std::vector<std::uint64_t> masks(delimiter_masks_for(line.size()));
    best_delimiter_finder().find(line.data(), line.size(), masks.data());
    delimited_line delimited;
    take_line(line.data(), masks.data(), 0, line.size(), parsed_delimiters, true, delimited);
    parse_index_line(entry, delimited);
}

} // namespace fixture
