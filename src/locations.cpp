#include "locations.h"

#include <cstdlib>

#include "release.h"

namespace {

// Where the index says the tree is, and where it is unless PORTSDIR says.
constexpr std::string_view default_ports_tree = "/usr/ports";

} // namespace

std::optional<std::string_view> environment_setting(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    return std::string_view(value);
}

std::optional<std::string> index_path(const setting_reader& setting,
                                      const std::function<std::optional<std::string>()>& release) {
    std::string file;
    if (const auto index_file = setting("INDEXFILE")) {
        file = *index_file;
    } else {
        const std::optional<std::string> running = release();
        if (!running) {
            return std::nullopt;
        }
        file = "INDEX-" + std::string(release_major(*running));
    }
    const std::string_view directory =
        setting("INDEXDIR").value_or(setting("PORTSDIR").value_or(default_ports_tree));
    return join_path(directory, file);
}

std::string package_db_path(const setting_reader& setting) {
    return join_path(setting("PKG_DBDIR").value_or("/var/db/pkg"), "local.sqlite");
}

std::string ports_tree(const setting_reader& setting) {
    return std::string(setting("PORTSDIR").value_or(default_ports_tree));
}

void ports_file_path(std::string_view field, std::string_view ports_tree, std::string& path) {
    path.clear();
    if (field.empty()) {
        return;
    }
    if (field.starts_with('/')) {
        if (!field.starts_with(default_ports_tree)) {
            path.assign(field);
            return;
        }
        const std::string_view rest = field.substr(default_ports_tree.size());
        if (!rest.empty() && !rest.starts_with('/')) {
            path.assign(field); // /usr/portsx/...: another folder
            return;
        }
        field = rest;
    }
    // The tree's trailing slashes dropped ("/" and "//" keep one: the root),
    // the field's leading ones too, and one slash between them.
    if (ports_tree.empty()) {
        ports_tree = default_ports_tree;
    }
    const std::size_t last = ports_tree.find_last_not_of('/');
    path.assign(last == std::string_view::npos ? "/" : ports_tree.substr(0, last + 1));
    const std::size_t first = field.find_first_not_of('/');
    if (first == std::string_view::npos) {
        // /usr/ports itself, or /usr/ports/: the tree, as the field has it.
        if (!field.empty() && !path.ends_with('/')) {
            path.push_back('/');
        }
        return;
    }
    if (!path.ends_with('/')) {
        path.push_back('/');
    }
    path.append(field.substr(first));
}

std::string ports_file_path(std::string_view field, const setting_reader& setting) {
    std::string path;
    ports_file_path(field, ports_tree(setting), path);
    return path;
}

std::string moved_path(const setting_reader& setting) {
    return join_path(ports_tree(setting), "MOVED");
}

std::string join_path(std::string_view folder, std::string_view name) {
    if (folder.empty() || name.starts_with('/')) {
        return std::string(name);
    }
    // "/" and "//" keep one slash: the root.
    const std::size_t last = folder.find_last_not_of('/');
    folder = last == std::string_view::npos ? std::string_view() : folder.substr(0, last + 1);
    std::string path(folder);
    path.append("/").append(name);
    return path;
}
