#include "locations.h"

#include <cstdlib>

#include "release.h"

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
        setting("INDEXDIR").value_or(setting("PORTSDIR").value_or("/usr/ports"));
    return join_path(directory, file);
}

std::string package_db_path(const setting_reader& setting) {
    return join_path(setting("PKG_DBDIR").value_or("/var/db/pkg"), "local.sqlite");
}

std::string moved_path(const setting_reader& setting) {
    return join_path(setting("PORTSDIR").value_or("/usr/ports"), "MOVED");
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
