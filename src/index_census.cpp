#include "index_census.h"

#include <memory>
#include <unordered_set>

#include "line_reader.h"
#include "port_entry.h"

std::optional<index_census> index_census::take(int fd, const installed_packages& installed,
                                               bool by_offset, int& error) {
    std::unordered_set<std::string_view, string_hash, std::equal_to<>> wanted;
    for (const installed_package& package : installed.all()) {
        if (installed.has_origins()) {
            if (package.origin) {
                wanted.insert(*package.origin);
            }
        } else {
            wanted.insert(package.name);
        }
    }
    index_census census;
    line_reader reader = by_offset ? line_reader(fd, line_reader::from_offset{0}) : line_reader(fd);
    port_entry entry;
    while (const std::optional<std::string_view> line = reader.next()) {
        ++census.entries_;
        parse_index_line(entry, *line);
        if (!entry.name || !entry.path) {
            continue;
        }
        const std::string_view origin = port_origin(*entry.path);
        if (!wanted.contains(installed.has_origins() ? origin : *entry.name)) {
            continue;
        }
        auto port = std::make_unique<index_port>(
            index_port{std::string(*entry.name),
                       entry.version ? std::optional<std::string>(*entry.version) : std::nullopt,
                       std::string(origin)});
        census.by_origin_[port->origin].push_back(port.get());
        census.by_name_[port->name].push_back(port.get());
        census.ports_.push_back(std::move(port));
    }
    error = reader.error();
    if (error != 0) {
        return std::nullopt;
    }
    return census;
}

const std::vector<const index_port*>& index_census::at_origin(std::string_view origin) const {
    static const port_list none;
    const auto found = by_origin_.find(origin);
    return found != by_origin_.end() ? found->second : none;
}

const std::vector<const index_port*>& index_census::named(std::string_view name) const {
    static const port_list none;
    const auto found = by_name_.find(name);
    return found != by_name_.end() ? found->second : none;
}
