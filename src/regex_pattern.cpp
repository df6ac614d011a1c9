#include "regex_pattern.h"

#include <cctype>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <algorithm>
#include <array>
#include <cstdint>
#include <pcre2.h>
#include <stdexcept>

namespace {

// One PCRE2 compile error: its code, whose text PCRE2 gives, or a text of
// our own where PCRE2 has none; and where in the expression.
struct translation_error {
    int code = 0;
    const char* text = nullptr;
    std::size_t offset = 0;
};

struct translation {
    std::string pcre2; // the expression in PCRE2's syntax
    // For each byte of pcre2, the offset in the expression it came from.
    std::vector<std::size_t> source;
    std::string literal;
    std::optional<translation_error> error;
};

bool is_ascii_alnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool is_ascii_digit(char c) {
    return c >= '0' && c <= '9';
}

// The character classes of the C locale, the names regex(3) takes.
constexpr std::array<std::string_view, 12> class_names = {"alnum", "alpha", "blank", "cntrl",
                                                          "digit", "graph", "lower", "print",
                                                          "punct", "space", "upper", "xdigit"};

// The largest count in a {} quantifier: RE_DUP_MAX, as regex(3) has it.
constexpr int max_count = 255;

// Reads an ERE and writes the same expression in PCRE2's syntax, keeping
// where each byte came from, and finds the required literal. One pass, no
// recursion: groups are counted, so no nesting can exhaust the stack (PCRE2
// refuses nesting past 250).
class ere_translator {
public:
    explicit ere_translator(std::string_view expression) : expression_(expression) {}

    translation run() {
        while (at_ < expression_.size() && !out_.error) {
            const std::size_t here = at_;
            const char c = expression_[at_++];
            switch (c) {
            case '(':
                end_run();
                emit("(?:", here); // no captures: nothing reads them
                ++open_groups_;
                can_repeat_ = false;
                break;
            case ')':
                if (open_groups_ == 0) {
                    // regex(3)'s choice: POSIX leaves it literal, FreeBSD
                    // (and PCRE2) refuse it.
                    fail(PCRE2_ERROR_UNMATCHED_CLOSING_PARENTHESIS, here);
                    break;
                }
                end_run();
                emit(")", here);
                --open_groups_;
                can_repeat_ = true;
                break;
            case '|':
                end_run();
                if (open_groups_ == 0) {
                    top_level_alternation_ = true;
                }
                emit("|", here);
                can_repeat_ = false;
                break;
            case '^':
            case '$':
                // Zero width: the literal run goes on over it.
                flush_pending();
                emit(std::string_view(&c, 1), here);
                can_repeat_ = false;
                break;
            case '.':
                end_run();
                emit(".", here);
                can_repeat_ = true;
                break;
            case '[':
                end_run();
                bracket(here);
                break;
            case '\\':
                if (at_ == expression_.size()) {
                    fail(PCRE2_ERROR_END_BACKSLASH, here);
                    break;
                }
                // \w, \s, \b, \d, \1: escapes of other syntaxes, which an ERE
                // would read as a plain letter or digit, silently; refused
                // rather than matched otherwise than meant.
                if (std::isalnum(static_cast<unsigned char>(expression_[at_])) != 0) {
                    fail("a backslash before a letter or digit is no escape here", here);
                    break;
                }
                literal(expression_[at_++], here);
                break;
            case '*':
            case '+':
            case '?':
                quantifier(c == '+' ? 1 : 0, here);
                if (!out_.error) {
                    emit(std::string_view(&c, 1), here);
                }
                break;
            case '{':
                if (at_ < expression_.size() && is_ascii_digit(expression_[at_])) {
                    bound(here);
                } else {
                    literal(c, here); // { not before a digit is itself, as in regex(3)
                }
                break;
            default:
                literal(c, here);
                break;
            }
        }
        if (!out_.error && open_groups_ > 0) {
            fail(PCRE2_ERROR_MISSING_CLOSING_PARENTHESIS, expression_.size());
        }
        end_run();
        out_.literal = top_level_alternation_ ? std::string() : std::move(best_);
        return std::move(out_);
    }

private:
    void fail(int code, std::size_t offset) {
        out_.error = translation_error{code, nullptr, offset};
    }
    void fail(const char* text, std::size_t offset) {
        out_.error = translation_error{0, text, offset};
    }

    void emit(std::string_view text, std::size_t from) {
        out_.pcre2 += text;
        out_.source.insert(out_.source.end(), text.size(), from);
    }

    // A byte that stands for itself, inside brackets or out: letters and
    // digits as they are, other ASCII punctuation after a backslash (always
    // literal in PCRE2), anything else by its code.
    void emit_byte(char c, std::size_t from) {
        const auto byte = static_cast<unsigned char>(c);
        if (is_ascii_alnum(byte)) {
            emit(std::string_view(&c, 1), from);
        } else if (byte > ' ' && byte < 0x7F) {
            const std::array<char, 2> escaped = {'\\', c};
            emit(std::string_view(escaped.data(), escaped.size()), from);
        } else {
            static constexpr std::string_view hex = "0123456789abcdef";
            const std::array<char, 6> code = {'\\', 'x', '{', hex[byte >> 4], hex[byte & 0xF], '}'};
            emit(std::string_view(code.data(), code.size()), from);
        }
    }

    void literal(char c, std::size_t from) {
        flush_pending();
        if (open_groups_ == 0) {
            pending_ = c; // what a group holds may be one branch of several
        }
        emit_byte(c, from);
        can_repeat_ = true;
    }

    // The literal run: a literal character is held until what follows shows
    // whether a quantifier takes it away.
    void flush_pending() {
        if (pending_) {
            run_ += *pending_;
            pending_.reset();
        }
    }
    void end_run() {
        flush_pending();
        if (run_.size() > best_.size()) {
            best_ = run_;
        }
        run_.clear();
    }

    // A quantifier at here whose least count is least: a held literal
    // character is required when least > 0, and the run ends after it.
    void quantifier(int least, std::size_t here) {
        if (!can_repeat_) {
            // Nothing to repeat (the start, after ( or |, an anchor) or a
            // quantifier already: regex(3) refuses both.
            fail(PCRE2_ERROR_QUANTIFIER_INVALID, here);
            return;
        }
        if (least == 0) {
            pending_.reset();
        }
        end_run();
        can_repeat_ = false;
    }

    // {m}, {m,} or {m,n} at here, a digit after the brace.
    void bound(std::size_t here) {
        constexpr int unbounded = -1;
        const int least = count();
        int most = least;
        if (!out_.error && at_ < expression_.size() && expression_[at_] == ',') {
            ++at_;
            most =
                at_ < expression_.size() && is_ascii_digit(expression_[at_]) ? count() : unbounded;
        }
        if (out_.error) {
            return;
        }
        if (at_ == expression_.size() || expression_[at_] != '}') {
            fail("missing } at the end of a {} quantifier", at_);
            return;
        }
        ++at_;
        if (most != unbounded && most < least) {
            fail(PCRE2_ERROR_QUANTIFIER_OUT_OF_ORDER, here);
            return;
        }
        quantifier(least, here);
        if (out_.error) {
            return;
        }
        std::string text = "{";
        text += std::to_string(least);
        if (most != least) {
            text += ',';
            if (most != unbounded) {
                text += std::to_string(most);
            }
        }
        text += '}';
        emit(text, here);
    }

    // The digits at at_, at most max_count (0 after an error).
    int count() {
        const std::size_t digits = at_;
        int value = 0;
        while (at_ < expression_.size() && is_ascii_digit(expression_[at_])) {
            value = std::min(value * 10 + (expression_[at_] - '0'), max_count + 1);
            ++at_;
        }
        if (value > max_count) {
            fail(PCRE2_ERROR_QUANTIFIER_TOO_BIG, digits);
            return 0;
        }
        return value;
    }

    [[nodiscard]] bool sees(std::string_view text) const {
        return expression_.substr(at_).starts_with(text);
    }

    // A bracket expression whose [ is at here (at_ is past it).
    void bracket(std::size_t here) {
        // regex(3)'s word boundaries, atoms of their own.
        if (sees("[:<:]]") || sees("[:>:]]")) {
            emit(expression_[at_ + 2] == '<' ? "\\b(?=\\w)" : "\\b(?<=\\w)", here);
            at_ += 6;
            can_repeat_ = false;
            return;
        }
        emit("[", here);
        if (sees("^")) {
            emit("^", at_++);
        }
        if (sees("]") || sees("-")) {
            emit_byte(expression_[at_], at_); // first, ] and - are themselves
            ++at_;
        }
        while (!out_.error && at_ < expression_.size() && !sees("]") && !sees("-]")) {
            bracket_term();
        }
        if (out_.error) {
            return;
        }
        if (sees("-]")) {
            emit_byte('-', at_++);
        }
        if (at_ == expression_.size()) {
            fail(PCRE2_ERROR_MISSING_SQUARE_BRACKET, at_);
            return;
        }
        emit("]", at_++);
        can_repeat_ = true;
    }

    // [:class:], or a character ([.c.] and [=c=] being one) maybe starting a
    // range. A backslash is itself here.
    void bracket_term() {
        const std::size_t here = at_;
        if (sees("[:")) {
            const std::size_t end = expression_.find(":]", at_ + 2);
            if (end == std::string_view::npos) {
                fail(PCRE2_ERROR_MISSING_SQUARE_BRACKET, expression_.size());
                return;
            }
            const std::string_view name = expression_.substr(at_ + 2, end - at_ - 2);
            if (std::find(class_names.begin(), class_names.end(), name) == class_names.end()) {
                fail(PCRE2_ERROR_UNKNOWN_POSIX_CLASS, here);
                return;
            }
            emit(expression_.substr(at_, end + 2 - at_), here);
            at_ = end + 2;
            return;
        }
        const std::optional<char> first = bracket_character();
        if (!first) {
            return;
        }
        if (sees("-") && !sees("-]") && at_ + 1 < expression_.size()) {
            ++at_;
            const std::size_t last_at = at_;
            const std::optional<char> last = bracket_character();
            if (!last) {
                return;
            }
            if (static_cast<unsigned char>(*last) < static_cast<unsigned char>(*first)) {
                fail(PCRE2_ERROR_CLASS_RANGE_ORDER, last_at);
                return;
            }
            emit_byte(*first, here);
            emit("-", last_at - 1);
            emit_byte(*last, last_at);
            return;
        }
        emit_byte(*first, here);
    }

    // One character of a bracket expression: itself, or [.c.] or [=c=]
    // naming one byte (the C locale has no other collating elements, and
    // vandrel doesn't know their names, such as [.hyphen.]).
    std::optional<char> bracket_character() {
        if (sees("[.") || sees("[=")) {
            const std::size_t here = at_;
            const std::array<char, 2> close = {expression_[at_ + 1], ']'};
            const std::size_t end =
                expression_.find(std::string_view(close.data(), close.size()), at_ + 2);
            if (end == std::string_view::npos) {
                fail(PCRE2_ERROR_MISSING_SQUARE_BRACKET, expression_.size());
                return std::nullopt;
            }
            if (end != at_ + 3) {
                fail(PCRE2_ERROR_POSIX_NO_SUPPORT_COLLATING, here);
                return std::nullopt;
            }
            const char c = expression_[at_ + 2];
            at_ = end + 2;
            return c;
        }
        return expression_[at_++];
    }

    std::string_view expression_;
    std::size_t at_ = 0;
    translation out_;
    std::size_t open_groups_ = 0;
    bool can_repeat_ = false;
    bool top_level_alternation_ = false;
    std::optional<char> pending_;
    std::string run_;
    std::string best_;
};

constexpr std::uint32_t compile_options = PCRE2_CASELESS | PCRE2_DOTALL | PCRE2_DOLLAR_ENDONLY |
                                          PCRE2_NEVER_UTF | PCRE2_NEVER_UCP |
                                          PCRE2_NEVER_BACKSLASH_C;

std::string error_text(int code) {
    std::array<PCRE2_UCHAR, 256> buffer{};
    const int length = pcre2_get_error_message(code, buffer.data(), buffer.size());
    if (length < 0) {
        return "PCRE2 error " + std::to_string(code);
    }
    return {reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(length)};
}

std::string invalid(const std::string& reason, std::size_t offset) {
    return "invalid regular expression: " + reason + " at offset " + std::to_string(offset);
}

// A text PCRE2 can take: 10.42 refuses a null pointer even with length 0.
PCRE2_SPTR subject_of(std::string_view text) {
    static constexpr char empty[1] = {};
    return reinterpret_cast<PCRE2_SPTR>(text.data() != nullptr ? text.data() : empty);
}

constexpr std::size_t initial_workspace = 1024;
// Backtracking steps a match may take before the DFA matcher answers instead:
// far past what any real field and expression need, and a few milliseconds.
constexpr std::uint32_t backtracking_limit = 1'000'000;
constexpr std::size_t largest_workspace = std::size_t{16} << 20; // ints: 64 MiB

} // namespace

void regex_pattern::code_deleter::operator()(pcre2_real_code_8* code) const noexcept {
    pcre2_code_free(code);
}

void regex_pattern::match_data_deleter::operator()(pcre2_real_match_data_8* data) const noexcept {
    pcre2_match_data_free(data);
}

void regex_pattern::match_context_deleter::operator()(
    pcre2_real_match_context_8* context) const noexcept {
    pcre2_match_context_free(context);
}

regex_compile_result regex_pattern::compile(std::string_view expression) {
    translation translated = ere_translator(expression).run();
    if (translated.error) {
        const translation_error& error = *translated.error;
        return {std::nullopt,
                invalid(error.text != nullptr ? std::string(error.text) : error_text(error.code),
                        error.offset)};
    }
    regex_pattern pattern;
    // Both forms from the same text: anywhere, and the whole text.
    const std::string whole = "\\A(?:" + translated.pcre2 + ")\\z";
    constexpr std::size_t whole_prefix = 5;
    for (const bool is_whole : {false, true}) {
        const std::string& text = is_whole ? whole : translated.pcre2;
        int code = 0;
        PCRE2_SIZE offset = 0;
        code_ptr compiled(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(),
                                        compile_options, &code, &offset, nullptr));
        if (!compiled) {
            // Found by PCRE2 (parentheses nested too deep, a pattern too
            // large): the offset back in the expression.
            std::size_t at =
                is_whole ? (offset >= whole_prefix ? offset - whole_prefix : 0) : offset;
            at = at < translated.source.size() ? translated.source[at] : expression.size();
            return {std::nullopt, invalid(error_text(code), at)};
        }
        // Without a JIT (a platform it lacks, memory that can't be made
        // executable) PCRE2 interprets the pattern: slower, the same answers.
        const bool jit = pcre2_jit_compile(compiled.get(), PCRE2_JIT_COMPLETE) == 0;
        (is_whole ? pattern.whole_ : pattern.anywhere_) = std::move(compiled);
        pattern.jit_ = is_whole ? pattern.jit_ && jit : jit;
    }
    // Only ever matched by the DFA matcher, which needs no machine code.
    const std::string dfa_anywhere = ".*(?:" + translated.pcre2 + ")";
    int dfa_code = 0;
    PCRE2_SIZE dfa_offset = 0;
    pattern.dfa_anywhere_.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(dfa_anywhere.data()),
                                              dfa_anywhere.size(), compile_options, &dfa_code,
                                              &dfa_offset, nullptr));
    pattern.match_data_.reset(pcre2_match_data_create(1, nullptr));
    pattern.limits_.reset(pcre2_match_context_create(nullptr));
    if (!pattern.match_data_ || !pattern.limits_) {
        throw std::bad_alloc();
    }
    pcre2_set_match_limit(pattern.limits_.get(), backtracking_limit);
    pattern.required_literal_ = std::move(translated.literal);
    pattern.translated_ = std::move(translated.pcre2);
    return {std::move(pattern), {}};
}

bool regex_pattern::found_in(std::string_view text) const {
    return matches(anywhere_.get(), dfa_anywhere_ ? dfa_anywhere_.get() : anywhere_.get(), text);
}

bool regex_pattern::matches_whole(std::string_view text) const {
    return matches(whole_.get(), whole_.get(), text);
}

bool regex_pattern::matches(const pcre2_real_code_8* code, const pcre2_real_code_8* dfa_code,
                            std::string_view text) const {
    const PCRE2_SPTR subject = subject_of(text);
    const int result =
        jit_ ? pcre2_jit_match(code, subject, text.size(), 0, 0, match_data_.get(), limits_.get())
             : pcre2_match(code, subject, text.size(), 0, 0, match_data_.get(), limits_.get());
    if (result >= 0) {
        return true; // 0: a match the one-pair vector can't hold the groups of
    }
    if (result == PCRE2_ERROR_NOMATCH) {
        return false;
    }
    // Backtracking past PCRE2's limits ((a|a)*x on a long run of a): the DFA
    // matcher tries every path at once, and no expression makes it backtrack.
    int dfa = PCRE2_ERROR_DFA_WSSIZE;
    while (dfa == PCRE2_ERROR_DFA_WSSIZE) {
        if (dfa_workspace_.empty()) {
            dfa_workspace_.resize(initial_workspace);
        }
        dfa = pcre2_dfa_match(dfa_code, subject, text.size(), 0, PCRE2_ANCHORED, match_data_.get(),
                              limits_.get(), dfa_workspace_.data(), dfa_workspace_.size());
        if (dfa == PCRE2_ERROR_DFA_WSSIZE) {
            if (dfa_workspace_.size() >= largest_workspace) {
                break;
            }
            dfa_workspace_.resize(dfa_workspace_.size() * 4);
        }
    }
    if (dfa >= 0) {
        return true;
    }
    if (dfa == PCRE2_ERROR_NOMATCH) {
        return false;
    }
    throw std::runtime_error("regular expression too costly to match: " + error_text(dfa));
}
