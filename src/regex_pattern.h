// --regex: a POSIX extended regular expression (ERE, the syntax of grep -E
// and of the ports framework's make search), compiled once by PCRE2 and
// matched against fields as bytes, ASCII letters without regard to case.
//
// The expression is read as an ERE by regex_pattern itself and written out in
// PCRE2's syntax, so that what it means is ERE's on every PCRE2 version (a
// backslash in brackets is a literal backslash, (?...) and (*...) are
// errors) and PCRE2 never sees its own extensions. Besides POSIX's ERE it
// accepts what FreeBSD's regex(3) does: [[:<:]] and [[:>:]] (the start and
// end of a word), and a backslash makes the punctuation after it literal;
// before a letter or digit (\d, \w, \1: other syntaxes' escapes) it is an
// error. See doc/design.md, "Regular expressions".
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct pcre2_real_code_8;
struct pcre2_real_match_data_8;
struct pcre2_real_match_context_8;

struct regex_compile_result;

class regex_pattern {
public:
    // The expression as an ERE, ASCII letters without regard to case. The
    // empty expression is valid and matches every text.
    static regex_compile_result compile(std::string_view expression);

    // Whether the expression matches somewhere in text. Any bytes, NUL and
    // bytes that aren't UTF-8 included: each is one character, . matches any
    // of them. An expression whose backtracking runs past a million steps
    // ((a|a)*b on a run of a's) is answered by PCRE2's DFA matcher instead,
    // in one pass over the text whatever the expression; should that fail
    // too (a workspace past 64 MiB), std::runtime_error says so.
    [[nodiscard]] bool found_in(std::string_view text) const;

    // Whether the expression matches the whole of text, as ^(expression)$
    // would: for whole-word matching.
    [[nodiscard]] bool matches_whole(std::string_view text) const;

    // Bytes that every text the expression matches holds, ASCII letters
    // without regard to case (contains_ignoring_case); possibly empty. Derived
    // conservatively: the longest run of literal characters outside groups and
    // brackets, none under ?, * or {0,...}; empty when the expression has an
    // alternation outside groups.
    [[nodiscard]] std::string_view required_literal() const { return required_literal_; }

    // The expression as given to PCRE2 (for the tests and the curious).
    [[nodiscard]] const std::string& translated() const { return translated_; }

    // Whether PCRE2 compiled it to machine code (false where its JIT is
    // missing or refused, e.g. no executable memory): then it is interpreted.
    [[nodiscard]] bool uses_jit() const { return jit_; }

private:
    struct code_deleter {
        void operator()(pcre2_real_code_8* code) const noexcept;
    };
    struct match_data_deleter {
        void operator()(pcre2_real_match_data_8* data) const noexcept;
    };
    struct match_context_deleter {
        void operator()(pcre2_real_match_context_8* context) const noexcept;
    };
    using code_ptr = std::unique_ptr<pcre2_real_code_8, code_deleter>;
    using match_data_ptr = std::unique_ptr<pcre2_real_match_data_8, match_data_deleter>;
    using match_context_ptr = std::unique_ptr<pcre2_real_match_context_8, match_context_deleter>;

    regex_pattern() = default;
    // code, and dfa_code, anchored, for the DFA matcher once backtracking
    // runs past its limit.
    [[nodiscard]] bool matches(const pcre2_real_code_8* code, const pcre2_real_code_8* dfa_code,
                               std::string_view text) const;

    code_ptr anywhere_;
    code_ptr whole_;
    // The expression after (?s:.*), matched anchored by the DFA matcher: one
    // pass finds a match anywhere, where the unanchored form starts over at
    // every byte.
    code_ptr dfa_anywhere_;
    match_context_ptr limits_; // the backtracking limit
    // Reused by every match; mutable since matching doesn't change the
    // pattern (one thread).
    mutable match_data_ptr match_data_;
    mutable std::vector<int> dfa_workspace_;
    std::string required_literal_;
    std::string translated_;
    bool jit_ = false;
};

// What compiling gives: the pattern, or why there is none.
struct regex_compile_result {
    std::optional<regex_pattern> pattern;
    // Empty when pattern is set; otherwise one line that reads after
    // "vandrel: ", e.g. "invalid regular expression: missing closing
    // parenthesis at offset 4" (the offset is the expression's, counted in
    // bytes from 0, where the trouble was found).
    std::string error;
};
