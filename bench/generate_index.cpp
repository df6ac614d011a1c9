// Writes a real-sized, realistic ports index and a package database for the
// benchmarks. Deterministic for a given seed.
//
//   generate_index [--lines N] [--seed S] [--installed K] [--desc-bytes B] --index FILE
//                  [--db FILE --schema SQL] [--descr-tree DIR]
//
// The index has the real 13 fields; names carry the real prefixes (py311-,
// p5-, rubygem-, php83-, kf6-, ...), versions carry _N revisions and ,N
// epochs, flavours of one port share its path, and dependency lists follow a
// heavy tail, so that most lines are a few hundred bytes and some exceed
// 16 KiB. The database holds K of the generated ports as installed packages,
// some at older versions, in the package manager's schema. --descr-tree
// writes a ports tree under DIR with the pkg-descr file of every generated
// port (flavours share their port's), as the index's fifth field names it
// under /usr/ports: DIR/CATEGORY/PORT/pkg-descr, for PORTSDIR=DIR. Their
// sizes are real ones, a few hundred bytes to a few KB, and about 2 in 100
// hold the word "quokka", which nothing else generated does.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <sqlite3.h>

namespace {

struct port {
    std::string name;
    std::string version;
    std::string category;
    std::string directory;
    std::string comment;
    std::string maintainer;
    std::string categories;
    std::string www;
    std::vector<std::size_t> build_depends; // indexes into the port list
    std::vector<std::size_t> run_depends;
    std::string extract_depends;
    std::string patch_depends;
    std::string fetch_depends;
    [[nodiscard]] std::string full_name() const { return name + "-" + version; }
    [[nodiscard]] std::string path() const { return "/usr/ports/" + category + "/" + directory; }
};

constexpr std::string_view categories[] = {
    "accessibility", "archivers",   "astro",      "audio",     "benchmarks", "biology",
    "cad",           "comms",       "converters", "databases", "deskutils",  "devel",
    "dns",           "editors",     "emulators",  "finance",   "ftp",        "games",
    "graphics",      "irc",         "japanese",   "java",      "lang",       "mail",
    "math",          "misc",        "multimedia", "net",       "net-im",     "net-mgmt",
    "net-p2p",       "news",        "print",      "science",   "security",   "shells",
    "sysutils",      "textproc",    "www",        "x11",       "x11-fonts",  "x11-toolkits",
    "x11-wm",        "x11-servers", "ports-mgmt", "polish",    "russian",    "german"};

constexpr std::string_view syllables[] = {
    "lib", "gtk", "net", "ssl", "xml", "tool", "kit", "qt",  "font", "py",   "git",  "web",
    "snd", "vid", "img", "doc", "tex", "db",   "sql", "pg",  "http", "mail", "dns",  "zip",
    "lz",  "x",   "gl",  "cl",  "ev",  "io",   "fs",  "mon", "rpc",  "json", "yaml", "re",
    "ox",  "ar",  "ium", "ic",  "on",  "el",   "ix",  "us",  "or",   "an",   "ra",   "ti",
    "ca",  "mo",  "ne",  "ve",  "sta", "bo",   "lu",  "fi",  "dra",  "go",   "ka",   "pe"};

constexpr std::string_view prefixes[] = {
    "py311-", "py311-", "py311-", "p5-",     "p5-",   "rubygem-",   "rubygem-",
    "php83-", "kf6-",   "kf5-",   "R-cran-", "hs-",   "linux-rl9-", "texlive-",
    "xfce4-", "gnome-", "qt6-",   "lua54-",  "font-", "emacs-"};

constexpr std::string_view words[] = {
    "library",  "for",       "the",       "and",       "tool",           "fast",     "simple",
    "parser",   "server",    "client",    "Python",    "Perl",           "Ruby",     "module",
    "bindings", "to",        "of",        "with",      "support",        "utility",  "X11",
    "GTK",      "Qt",        "framework", "interface", "implementation", "protocol", "data",
    "file",     "files",     "network",   "command",   "line",           "manager",  "viewer",
    "editor",   "extension", "plugin",    "based",     "portable",       "small",    "secure",
    "terminal", "graphics",  "audio",     "video",     "game",           "engine",   "system"};

constexpr std::string_view maintainers[] = {
    "ports@FreeBSD.org",   "python@FreeBSD.org",    "perl@FreeBSD.org",      "ruby@FreeBSD.org",
    "kde@FreeBSD.org",     "gnome@FreeBSD.org",     "desktop@FreeBSD.org",   "x11@FreeBSD.org",
    "sunpoet@FreeBSD.org", "yuri@FreeBSD.org",      "bofh@FreeBSD.org",      "tcberner@FreeBSD.org",
    "jbeich@FreeBSD.org",  "diizzy@FreeBSD.org",    "fluffy@FreeBSD.org",    "tijl@FreeBSD.org",
    "mat@FreeBSD.org",     "bapt@FreeBSD.org",      "amdmi3@FreeBSD.org",    "danfe@FreeBSD.org",
    "someone@example.net", "dev@users.example.com", "j.doe@mail.example.org"};

class generator {
public:
    explicit generator(unsigned seed) : random_(seed) {}

    template <std::size_t N> std::string_view pick(const std::string_view (&list)[N]) {
        return list[below(N)];
    }
    std::size_t below(std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_);
    }
    bool chance(double p) { return std::bernoulli_distribution(p)(random_); }

    std::string base_name() {
        std::string name;
        const std::size_t parts = 1 + below(3);
        for (std::size_t i = 0; i < parts; ++i) {
            name += pick(syllables);
        }
        if (chance(0.2)) {
            name += std::to_string(below(30));
        }
        if (chance(0.15)) {
            name += "-" + std::string(pick(syllables)) + std::string(pick(syllables));
        }
        return name;
    }

    std::string version() {
        std::string v;
        if (chance(0.05)) {
            v = "20" + std::to_string(10 + below(16)) + two_digits(1 + below(12)) +
                two_digits(1 + below(28));
        } else {
            v = std::to_string(below(12)) + "." + std::to_string(below(40));
            if (chance(0.6)) {
                v += "." + std::to_string(below(30));
            }
        }
        if (chance(0.35)) {
            v += "_" + std::to_string(1 + below(12));
        }
        if (chance(0.08)) {
            v += "," + std::to_string(1 + below(4));
        }
        return v;
    }

    std::string comment() {
        std::string text(pick(words));
        text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
        const std::size_t count = 3 + below(9);
        for (std::size_t i = 0; i < count; ++i) {
            text += " ";
            text += pick(words);
        }
        return text;
    }

    // Heavy tail: most ports have a handful of dependencies, a few hundreds.
    std::size_t dependency_count() {
        const double u = std::uniform_real_distribution<double>(0.0, 1.0)(random_);
        const double pareto = 3.0 / std::pow(1.0 - u, 1.0 / 0.8);
        return std::min<std::size_t>(static_cast<std::size_t>(pareto) - 3, 2000);
    }

    std::mt19937_64& engine() { return random_; }

private:
    static std::string two_digits(std::size_t n) { return (n < 10 ? "0" : "") + std::to_string(n); }
    std::mt19937_64 random_;
};

std::vector<port> make_ports(std::size_t lines, unsigned seed) {
    generator gen(seed);
    std::vector<port> ports;
    std::set<std::string> names;
    // A few real ports, so that a name search for "zsh" finds a handful.
    for (const char* name : {"zsh", "zsh-autosuggestions", "zsh-completions", "oh-my-zsh",
                             "zsh-syntax-highlighting"}) {
        port p;
        p.name = name;
        p.version = gen.version();
        p.category = "shells";
        p.directory = name;
        p.comment = "Z shell " + gen.comment();
        p.maintainer = std::string(gen.pick(maintainers));
        p.categories = "shells";
        p.www = "https://www.zsh.org/";
        names.insert(p.name);
        ports.push_back(p);
    }
    while (ports.size() < lines) {
        port p;
        std::string base = gen.base_name();
        std::string prefix = gen.chance(0.35) ? std::string(gen.pick(prefixes)) : "";
        p.name = prefix + base;
        if (!names.insert(p.name).second) {
            continue;
        }
        p.version = gen.version();
        p.category = std::string(gen.pick(categories));
        p.directory = prefix.rfind("py3", 0) == 0 ? "py-" + base : prefix + base;
        p.comment = gen.comment();
        p.maintainer = std::string(gen.pick(maintainers));
        p.categories = p.category;
        if (gen.chance(0.4)) {
            p.categories += " " + std::string(gen.pick(categories));
        }
        p.www = "https://" + base + ".example.org/";
        if (gen.chance(0.05)) {
            p.extract_depends = gen.chance(0.5) ? "gtar-1.35_1" : "unzip-6.0_8";
        }
        if (gen.chance(0.01)) {
            p.patch_depends = "gpatch-2.7.6_3";
        }
        ports.push_back(p);
        // Flavours: the same port for another Python shares the path.
        if (prefix == "py311-" && gen.chance(0.5) && ports.size() < lines) {
            port flavour = p;
            flavour.name = "py312-" + base;
            if (names.insert(flavour.name).second) {
                ports.push_back(flavour);
            }
        }
    }
    // Dependencies point at other ports of the index by name and version;
    // nothing but its own plugins depends on the shell.
    const std::size_t shells = 5;
    const auto any_other = [&] { return shells + gen.below(ports.size() - shells); };
    for (std::size_t k = 0; k < ports.size(); ++k) {
        port& p = ports[k];
        const std::size_t build = gen.dependency_count();
        const std::size_t run = std::min(build, gen.dependency_count());
        std::set<std::size_t> chosen;
        for (std::size_t i = 0; i < build; ++i) {
            chosen.insert(any_other());
        }
        p.build_depends.assign(chosen.begin(), chosen.end());
        chosen.clear();
        if (k > 0 && k < shells) {
            chosen.insert(0);
        }
        for (std::size_t i = 0; i < run; ++i) {
            chosen.insert(any_other());
        }
        p.run_depends.assign(chosen.begin(), chosen.end());
    }
    return ports;
}

std::string depends_text(const std::vector<port>& ports, const std::vector<std::size_t>& list) {
    std::vector<std::string> names;
    names.reserve(list.size());
    for (const std::size_t i : list) {
        names.push_back(ports[i].full_name());
    }
    std::sort(names.begin(), names.end());
    std::string text;
    for (const std::string& name : names) {
        if (!text.empty()) {
            text += ' ';
        }
        text += name;
    }
    return text;
}

void write_index(const std::vector<port>& ports, const std::string& file) {
    std::vector<std::size_t> order(ports.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return ports[a].path() < ports[b].path();
    });
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    for (const std::size_t i : order) {
        const port& p = ports[i];
        out << p.full_name() << '|' << p.path() << "|/usr/local|" << p.comment << '|' << p.path()
            << "/pkg-descr|" << p.maintainer << '|' << p.categories << '|'
            << depends_text(ports, p.build_depends) << '|' << depends_text(ports, p.run_depends)
            << '|' << p.www << '|' << p.extract_depends << '|' << p.patch_depends << '|'
            << p.fetch_depends << '\n';
    }
    if (!out) {
        std::cerr << "generate_index: cannot write " << file << "\n";
        std::exit(1);
    }
}

// A port's long description: paragraphs of the generated words, wrapped at
// 72 columns like real pkg-descr files. Sizes as in the real tree, log-normal:
// a median of 600 bytes, one in twenty under 200 bytes and one over 1.9 KB,
// the largest of 36,000 about 8 KB.
std::string descr_text(generator& gen, const port& p) {
    const double size = std::lognormal_distribution<double>(std::log(600.0), 0.7)(gen.engine());
    const auto bytes = static_cast<std::size_t>(std::clamp(size, 80.0, 16000.0));
    std::string text = p.comment + ".";
    std::size_t column = text.size();
    const bool quokka = gen.chance(0.02);
    while (text.size() < bytes) {
        std::string word(gen.pick(words));
        if (quokka && text.size() > bytes / 2 && text.find("quokka") == std::string::npos) {
            word = "quokka";
        }
        if (gen.chance(0.04)) {
            text += ".\n\n";
            column = 0;
            word[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
        } else if (column + 1 + word.size() > 72) {
            text += '\n';
            column = 0;
        } else {
            text += ' ';
            ++column;
        }
        text += word;
        column += word.size();
    }
    text += ".\n";
    return text;
}

void write_descr_tree(const std::vector<port>& ports, const std::string& folder, unsigned seed) {
    generator gen(seed + 2);
    std::set<std::string> written;
    for (const port& p : ports) {
        const std::filesystem::path directory =
            std::filesystem::path(folder) / p.category / p.directory;
        if (!written.insert(directory.string()).second) {
            continue; // a flavour: its port's file is written
        }
        std::error_code error;
        std::filesystem::create_directories(directory, error);
        std::ofstream out(directory / "pkg-descr", std::ios::binary | std::ios::trunc);
        out << descr_text(gen, p);
        if (error || !out) {
            std::cerr << "generate_index: cannot write " << (directory / "pkg-descr").string()
                      << "\n";
            std::exit(1);
        }
    }
}

struct db_closer {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};

void exec(sqlite3* db, const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::cerr << "generate_index: " << (error != nullptr ? error : "sqlite error") << "\n";
        std::exit(1);
    }
}

// desc_bytes pads each description to about that size, as pkg stores the
// port's whole pkg-descr (about 1.1 KB on average); 0 keeps it one line.
void write_db(const std::vector<port>& ports, std::size_t installed, std::size_t desc_bytes,
              const std::string& file, const std::string& schema_file, unsigned seed) {
    std::ifstream schema_in(schema_file);
    std::stringstream schema;
    schema << schema_in.rdbuf();
    std::remove(file.c_str());
    sqlite3* raw = nullptr;
    if (sqlite3_open(file.c_str(), &raw) != SQLITE_OK) {
        std::cerr << "generate_index: cannot create " << file << "\n";
        std::exit(1);
    }
    const std::unique_ptr<sqlite3, db_closer> db(raw);
    exec(db.get(), schema.str());
    generator gen(seed + 1);
    std::vector<std::size_t> order(ports.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::shuffle(order.begin(), order.end(), gen.engine());
    order.resize(std::min(installed, order.size()));
    sqlite3_stmt* raw_statement = nullptr;
    sqlite3_prepare_v2(db.get(),
                       "INSERT INTO packages (origin, name, version, comment, desc, arch, "
                       "maintainer, www, prefix, flatsize, automatic, licenselogic, time) "
                       "VALUES (?, ?, ?, ?, ?, 'FreeBSD:15:amd64', ?, ?, '/usr/local', ?, ?, 1, ?)",
                       -1, &raw_statement, nullptr);
    exec(db.get(), "BEGIN");
    for (const std::size_t i : order) {
        const port& p = ports[i];
        // Some installed packages lag behind the index.
        const std::string version = gen.chance(0.2) ? gen.version() : p.version;
        const std::string origin = p.category + "/" + p.directory;
        sqlite3_bind_text(raw_statement, 1, origin.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(raw_statement, 2, p.name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(raw_statement, 3, version.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(raw_statement, 4, p.comment.c_str(), -1, SQLITE_TRANSIENT);
        std::string desc = p.comment + ".";
        while (desc.size() < desc_bytes) {
            desc += "\n" + p.comment + ", as the port's description says at length.";
        }
        sqlite3_bind_text(raw_statement, 5, desc.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(raw_statement, 6, p.maintainer.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(raw_statement, 7, p.www.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(raw_statement, 8, static_cast<sqlite3_int64>(gen.below(5000000)) + 1000);
        sqlite3_bind_int(raw_statement, 9, gen.chance(0.7) ? 1 : 0);
        sqlite3_bind_int64(raw_statement, 10,
                           static_cast<sqlite3_int64>(gen.below(80000000)) + 1700000000);
        if (sqlite3_step(raw_statement) != SQLITE_DONE) {
            std::cerr << "generate_index: insert failed: " << sqlite3_errmsg(db.get()) << "\n";
            std::exit(1);
        }
        sqlite3_reset(raw_statement);
    }
    sqlite3_finalize(raw_statement);
    exec(db.get(), "COMMIT");
}

[[noreturn]] void usage() {
    std::cerr << "usage: generate_index [--lines N] [--seed S] [--installed K] [--desc-bytes B] "
                 "--index FILE "
                 "[--db FILE --schema SQL] [--descr-tree DIR]\n";
    std::exit(2);
}

} // namespace

int main(int argc, char** argv) {
    std::size_t lines = 36000;
    std::size_t installed = 1500;
    std::size_t desc_bytes = 0;
    unsigned seed = 1;
    std::string index;
    std::string db;
    std::string schema;
    std::string descr_tree;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (i + 1 >= argc) {
            usage();
        }
        const char* value = argv[++i];
        if (arg == "--lines") {
            lines = std::strtoull(value, nullptr, 10);
        } else if (arg == "--seed") {
            seed = static_cast<unsigned>(std::strtoul(value, nullptr, 10));
        } else if (arg == "--installed") {
            installed = std::strtoull(value, nullptr, 10);
        } else if (arg == "--desc-bytes") {
            desc_bytes = std::strtoull(value, nullptr, 10);
        } else if (arg == "--index") {
            index = value;
        } else if (arg == "--db") {
            db = value;
        } else if (arg == "--schema") {
            schema = value;
        } else if (arg == "--descr-tree") {
            descr_tree = value;
        } else {
            usage();
        }
    }
    if (index.empty() || lines < 5 || (!db.empty() && schema.empty())) {
        usage();
    }
    const std::vector<port> ports = make_ports(lines, seed);
    write_index(ports, index);
    if (!db.empty()) {
        write_db(ports, installed, desc_bytes, db, schema, seed);
    }
    if (!descr_tree.empty()) {
        write_descr_tree(ports, descr_tree, seed);
    }
    return 0;
}
