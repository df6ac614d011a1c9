// Micro-benchmarks of the per-line work: the split, the match tests and the
// JSON writer, over the sample index's lines (real-shaped, 13 fields).
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <regex.h>
#include <sstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include "delimiters.h"
#include "index_scan.h"
#include "json_output.h"
#include "json_text.h"
#include "port_entry.h"
#include "regex_pattern.h"
#include "searched_fields.h"
#include "text_search.h"

namespace {

const std::vector<std::string>& sample_lines() {
    static const std::vector<std::string> lines = [] {
        std::ifstream in(VANDREL_SOURCE_DIR "/tests/data/INDEX-sample");
        std::vector<std::string> all;
        std::string line;
        while (std::getline(in, line)) {
            all.push_back(line);
        }
        return all;
    }();
    return lines;
}

std::int64_t bytes_of(const std::vector<std::string>& lines) {
    std::int64_t total = 0;
    for (const std::string& line : lines) {
        total += static_cast<std::int64_t>(line.size()) + 1;
    }
    return total;
}

// The sample index as the scan holds it: the lines one after another.
const std::string& sample_text() {
    static const std::string text = [] {
        std::string all;
        for (const std::string& line : sample_lines()) {
            all += line;
            all += '\n';
        }
        return all;
    }();
    return text;
}

// What the reader and the scan do with the bytes of one read: find each
// line's end, split an entry from the line and reset it after; after_split
// sees each entry.
template <typename AfterSplit>
void split_text(const std::string& text, port_entry& entry, AfterSplit after_split) {
    const char* const end = text.data() + text.size();
    for (const char* begin = text.data(); begin < end;) {
        const char* const line_end = find_line_end(begin, end);
        parse_index_line(entry,
                         std::string_view(begin, static_cast<std::size_t>(line_end - begin)));
        after_split(entry);
        port_entry_reset(entry);
        begin = line_end + 1;
    }
}

void split_lines(benchmark::State& state) {
    const std::string& text = sample_text();
    port_entry entry;
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop
        split_text(text, entry, [](port_entry& e) { benchmark::DoNotOptimize(e); });
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(sample_lines().size()));
}
BENCHMARK(split_lines);

// The same split with every field copied into its own string, as an entry that
// owned its fields would; the strings keep their capacity across lines, so this
// is the cheapest form of copying.
void split_lines_and_copy_fields(benchmark::State& state) {
    const std::string& text = sample_text();
    port_entry entry;
    std::array<std::string, 11> copies;
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop
        split_text(text, entry, [&copies](const port_entry& e) {
            const std::optional<std::string_view> fields[] = {
                e.full_name,  e.name,       e.version,    e.path,          e.prefix,     e.comment,
                e.descr_file, e.maintainer, e.categories, e.build_depends, e.run_depends};
            for (std::size_t i = 0; i < copies.size(); ++i) {
                if (fields[i]) {
                    copies[i].assign(*fields[i]);
                }
            }
            benchmark::DoNotOptimize(copies);
        });
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(sample_lines().size()));
}
BENCHMARK(split_lines_and_copy_fields);

// Walking the sample index by one form for every field end, or for every
// line end alone.
void find_field_ends(benchmark::State& state, delimiter_search search) {
    const std::string& text = sample_text();
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop
        benchmark::DoNotOptimize(search.field_ends(text.data(), text.data() + text.size()));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

void find_line_ends(benchmark::State& state, delimiter_search search) {
    const std::string& text = sample_text();
    const char* const end = text.data() + text.size();
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop
        for (const char* at = text.data(); at != end; ++at) {
            at = search.line_end(at, end);
            benchmark::DoNotOptimize(at);
            if (at == end) {
                break;
            }
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

// The C library's memchr, for comparison with the line-end searches.
const char* line_end_by_memchr(const char* begin, const char* end) noexcept {
    const void* const found = std::memchr(begin, '\n', static_cast<std::size_t>(end - begin));
    return found != nullptr ? static_cast<const char*>(found) : end;
}

// One benchmark for each form of the searches this build has, under its name.
const bool searches_registered = [] {
    for (const delimiter_search& search : delimiter_searches()) {
        benchmark::RegisterBenchmark((std::string("field_ends/") + search.name).c_str(),
                                     find_field_ends, search);
        benchmark::RegisterBenchmark((std::string("line_ends/") + search.name).c_str(),
                                     find_line_ends, search);
    }
    benchmark::RegisterBenchmark("line_ends/memchr", find_line_ends,
                                 delimiter_search{"memchr", nullptr, line_end_by_memchr});
    return true;
}();

void match_lines(benchmark::State& state, search_options options, const char* term) {
    const auto& lines = sample_lines();
    std::vector<port_entry> entries(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        parse_index_line(entries[i], lines[i]);
    }
    std::string error;
    const search_criteria criteria{*term_matcher::make(term, options, error), {}, {}};
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop
        int found = 0;
        for (port_entry& entry : entries) {
            found += match_entry(entry, options, criteria);
        }
        benchmark::DoNotOptimize(found);
    }
    state.SetBytesProcessed(state.iterations() * bytes_of(lines));
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(lines.size()));
}
BENCHMARK_CAPTURE(match_lines, name_only, search_options{}, "zsh");
constexpr search_options all_fields{.search_description = true,
                                    .search_path = true,
                                    .search_maintainer = true,
                                    .search_depends = true};
BENCHMARK_CAPTURE(match_lines, all_fields, all_fields, "zsh");
BENCHMARK_CAPTURE(match_lines, all_fields_common_letter, all_fields, "python");

// The search itself against libc's strcasestr, on a long dependency list.
std::string long_field() {
    std::string text;
    for (const std::string& line : sample_lines()) {
        text += line;
    }
    std::replace(text.begin(), text.end(), '|', ' ');
    return text;
}

void search_ours(benchmark::State& state) {
    const std::string haystack = long_field();
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop
        benchmark::DoNotOptimize(contains_ignoring_case(haystack, "no-such-port"));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(haystack.size()));
}
BENCHMARK(search_ours);

void search_strcasestr(benchmark::State& state) {
    const std::string haystack = long_field();
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop
        benchmark::DoNotOptimize(strcasestr(haystack.c_str(), "no-such-port"));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(haystack.size()));
}
BENCHMARK(search_strcasestr);

// --json's objects for every sample line, written to /dev/null: the writer
// and the escaping, without the scan.
void json_lines(benchmark::State& state) {
    const auto& lines = sample_lines();
    std::vector<port_entry> entries(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        parse_index_line(entries[i], lines[i]);
    }
    const port_standing_of_entry found{"1.0", standing::older};
    std::FILE* null = std::fopen("/dev/null", "w");
    checked_output out(null);
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop
        for (const port_entry& entry : entries) {
            print_json_result(entry, found, out);
        }
    }
    std::fclose(null);
    state.SetBytesProcessed(state.iterations() * bytes_of(lines));
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(lines.size()));
}
BENCHMARK(json_lines);

// One long string as JSON, a chunk at a time, written to /dev/null: plain
// ASCII (the sample's quotes made apostrophes), which is copied as it is, and
// the same text with a two-byte character every 64 bytes, which
// nlohmann/json's escaper reads byte by byte.
void json_string(benchmark::State& state, bool non_ascii) {
    std::string text = long_field();
    std::replace(text.begin(), text.end(), '"', '\'');
    std::replace(text.begin(), text.end(), '\\', '/');
    if (non_ascii) {
        for (std::size_t at = 0; at + 1 < text.size(); at += 64) {
            text[at] = '\xC3';
            text[at + 1] = '\xA9';
        }
    }
    std::FILE* null = std::fopen("/dev/null", "w");
    checked_output out(null);
    json_text_writer writer(&out);
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop
        writer.put_string(text);
        writer.flush();
    }
    std::fclose(null);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK_CAPTURE(json_string, ascii, false);
BENCHMARK_CAPTURE(json_string, non_ascii, true);

// --regex: the candidate engines over the searched fields of a real-sized
// index, the one bench/run generates (VANDREL_REGEX_INDEX names it; without
// it, the sample index). Each engine answers "does the expression match
// somewhere in this field", caseless; one iteration is one pass over every
// line's fields. regex(3) is this system's C library: on Debian glibc's
// engine, not FreeBSD's (Henry Spencer's), so its figure here stands for
// neither in particular.
const std::vector<std::string>& regex_index_lines() {
    static const std::vector<std::string> lines = [] {
        const char* const path = std::getenv("VANDREL_REGEX_INDEX");
        if (path == nullptr || *path == '\0') {
            return sample_lines();
        }
        std::ifstream in(path);
        std::vector<std::string> all;
        std::string line;
        while (std::getline(in, line)) {
            all.push_back(line);
        }
        return all;
    }();
    return lines;
}

// The fields the pass looks in: the name alone, or the seven of -a
// --categories. regex(3) wants NUL-terminated strings, so every field is
// kept as its own string, for every engine alike.
std::vector<std::string> regex_fields(bool all_fields) {
    std::vector<std::string> fields;
    port_entry entry;
    for (const std::string& line : regex_index_lines()) {
        parse_index_line(entry, line);
        for (const searched_field& field : searched_fields) {
            const std::optional<std::string_view>& text = entry.*field.field;
            if (text && (all_fields || field.option == nullptr)) {
                fields.emplace_back(*text);
            }
        }
        port_entry_reset(entry);
    }
    return fields;
}

enum class regex_engine { libc, pcre2_interpreted, pcre2_jit, vandrel };

void regex_pass(benchmark::State& state, regex_engine engine, const char* expression,
                bool all_fields) {
    const std::vector<std::string> fields = regex_fields(all_fields);
    std::int64_t bytes = 0;
    for (const std::string& field : fields) {
        bytes += static_cast<std::int64_t>(field.size());
    }
    std::int64_t found = 0;
    if (engine == regex_engine::libc) {
        regex_t compiled;
        if (regcomp(&compiled, expression, REG_EXTENDED | REG_ICASE | REG_NOSUB) != 0) {
            state.SkipWithError("regcomp failed");
            return;
        }
        for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop
            found = 0;
            for (const std::string& field : fields) {
                found += regexec(&compiled, field.c_str(), 0, nullptr, 0) == 0 ? 1 : 0;
            }
            benchmark::DoNotOptimize(found);
        }
        regfree(&compiled);
    } else if (engine == regex_engine::vandrel) {
        const regex_compile_result compiled = regex_pattern::compile(expression);
        if (!compiled.pattern) {
            state.SkipWithError(compiled.error.c_str());
            return;
        }
        for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop
            found = 0;
            for (const std::string& field : fields) {
                found += compiled.pattern->found_in(field) ? 1 : 0;
            }
            benchmark::DoNotOptimize(found);
        }
    } else {
        // PCRE2 on the expression as vandrel hands it over, with or without
        // its JIT; pcre2_match either way, as a program calling it plainly would.
        const regex_compile_result translated = regex_pattern::compile(expression);
        int error = 0;
        PCRE2_SIZE offset = 0;
        const std::string& text = translated.pattern->translated();
        pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(),
                                         PCRE2_CASELESS | PCRE2_DOTALL | PCRE2_DOLLAR_ENDONLY,
                                         &error, &offset, nullptr);
        if (engine == regex_engine::pcre2_jit) {
            pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
        }
        pcre2_match_data* data = pcre2_match_data_create(1, nullptr);
        for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop
            found = 0;
            for (const std::string& field : fields) {
                found += pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(field.data()), field.size(),
                                     0, engine == regex_engine::pcre2_jit ? 0 : PCRE2_NO_JIT, data,
                                     nullptr) >= 0
                             ? 1
                             : 0;
            }
            benchmark::DoNotOptimize(found);
        }
        pcre2_match_data_free(data);
        pcre2_code_free(code);
    }
    state.counters["fields"] = static_cast<double>(fields.size());
    state.counters["found"] = static_cast<double>(found);
    state.counters["ns_per_field"] = benchmark::Counter(
        static_cast<double>(fields.size()),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetBytesProcessed(state.iterations() * bytes);
}

const bool regex_registered = [] {
    struct search {
        const char* name;
        const char* expression;
        bool all_fields;
    };
    constexpr std::array<search, 5> searches = {{
        {"word_names", "zsh", false},
        {"py3_names", "^py3[0-9]+-", false},
        {"alternation_names", "(vim|emacs)", false},
        {"word_all_fields", "zsh", true},
        {"py3_all_fields", "^py3[0-9]+-", true},
    }};
    constexpr std::array<std::pair<const char*, regex_engine>, 4> engines = {{
        {"regex3", regex_engine::libc},
        {"pcre2_interpreted", regex_engine::pcre2_interpreted},
        {"pcre2_jit", regex_engine::pcre2_jit},
        {"regex_pattern", regex_engine::vandrel},
    }};
    for (const search& s : searches) {
        for (const auto& [engine_name, engine] : engines) {
            benchmark::RegisterBenchmark(
                (std::string("regex/") + s.name + "/" + engine_name).c_str(), regex_pass, engine,
                s.expression, s.all_fields)
                ->Unit(benchmark::kMillisecond);
        }
    }
    return true;
}();

} // namespace

BENCHMARK_MAIN();
