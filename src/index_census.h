// The ports an index holds at the origins (or under the names) of installed
// packages: what it takes to tell which index entry an installed package
// belongs to, found in one pass over the index.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "package_table.h"

// One index entry, as an installed package is compared with it.
struct index_port {
    std::string name;
    std::optional<std::string> version;
    std::string origin;
};

class index_census {
public:
    // The ports of the index at fd whose origin is that of an installed
    // package, or, for a table without origins, whose name is installed.
    // With by_offset the file is read from its start with pread and the
    // descriptor's offset stays where it was. Absent on a read error, with
    // its errno in error.
    static std::optional<index_census> take(int fd, const installed_packages& installed,
                                            bool by_offset, int& error);

    // The index's ports at origin, in the index's order.
    [[nodiscard]] const std::vector<const index_port*>& at_origin(std::string_view origin) const;

    // The index's ports called name, in the index's order.
    [[nodiscard]] const std::vector<const index_port*>& named(std::string_view name) const;

    // Index lines read.
    [[nodiscard]] std::size_t entries() const { return entries_; }

private:
    using port_list = std::vector<const index_port*>;
    std::vector<std::unique_ptr<index_port>> ports_;
    std::unordered_map<std::string_view, port_list, string_hash, std::equal_to<>> by_origin_;
    std::unordered_map<std::string_view, port_list, string_hash, std::equal_to<>> by_name_;
    std::size_t entries_ = 0;
};
