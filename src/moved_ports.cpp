#include "moved_ports.h"

#include "line_reader.h"

std::optional<moved_port> parse_moved_line(std::string_view line) {
    line = line.substr(0, line.find('\0'));
    if (line.ends_with('\r')) {
        line.remove_suffix(1);
    }
    if (line.empty() || line.starts_with('#')) {
        return std::nullopt;
    }
    const std::size_t first = line.find('|');
    if (first == 0 || first == std::string_view::npos) {
        return std::nullopt;
    }
    const std::size_t second = line.find('|', first + 1);
    if (second == std::string_view::npos) {
        return std::nullopt;
    }
    const std::size_t third = line.find('|', second + 1);
    if (third == std::string_view::npos) {
        return std::nullopt;
    }
    moved_port port;
    port.old_origin = line.substr(0, first);
    if (second > first + 1) {
        port.new_origin = line.substr(first + 1, second - first - 1);
    }
    port.date = line.substr(second + 1, third - second - 1);
    port.reason = line.substr(third + 1);
    return port;
}

int read_moved_ports(line_reader& reader, const moved_port_visitor& visit) {
    while (const std::optional<std::string_view> line = reader.next()) {
        const std::optional<moved_port> port = parse_moved_line(*line);
        if (port && !visit(*port)) {
            return 0;
        }
    }
    return reader.error();
}

int read_moved_ports(int fd, const moved_port_visitor& visit) {
    line_reader reader(fd);
    return read_moved_ports(reader, visit);
}
