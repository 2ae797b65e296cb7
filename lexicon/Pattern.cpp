#include "lexicon/Pattern.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include "lexicon/Lexicon.h"

namespace lexicon {
namespace {
// Enough for any sane pattern over a paragraph; a backtracking one meets it within a
// few milliseconds per call.
constexpr uint32_t kMatchLimit = 2'000'000;
constexpr uint32_t kDepthLimit = 10'000;
}  // namespace

struct Pattern::Code {
    pcre2_code* code = nullptr;
    pcre2_match_context* context = nullptr;
    pcre2_match_data* data = nullptr;
    ~Code() {
        pcre2_match_data_free(data);
        pcre2_match_context_free(context);
        pcre2_code_free(code);
    }
};

Pattern::Pattern(std::string_view pattern, bool matchCase, bool jit, bool literal)
    : code_(std::make_unique<Code>()) {
    int error = 0;
    PCRE2_SIZE at = 0;
    // A literal takes no Unicode classes, having none.
    const uint32_t options = PCRE2_UTF | PCRE2_MATCH_INVALID_UTF |
                             (matchCase ? 0 : PCRE2_CASELESS) |
                             (literal ? PCRE2_LITERAL : PCRE2_UCP);
    code_->code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                                options, &error, &at, nullptr);
    if (!code_->code) {
        PCRE2_UCHAR message[256];
        pcre2_get_error_message(error, message, sizeof message);
        throw LexiconError("the regular expression \"" + std::string(pattern) + "\" " +
                           reinterpret_cast<const char*>(message) + " at character " +
                           std::to_string(at + 1));
    }
    // The compiled machine code is several times faster; without it (no JIT on this
    // processor) the interpreter gives the same matches.
    if (jit) pcre2_jit_compile(code_->code, PCRE2_JIT_COMPLETE);
    code_->context = pcre2_match_context_create(nullptr);
    code_->data = pcre2_match_data_create_from_pattern(code_->code, nullptr);
    if (!code_->context || !code_->data) throw std::bad_alloc();
    pcre2_set_match_limit(code_->context, kMatchLimit);
    pcre2_set_depth_limit(code_->context, kDepthLimit);
}

Pattern::~Pattern() = default;

Pattern::Found Pattern::Next(std::string_view text, size_t from,
                             std::chrono::steady_clock::time_point deadline, size_t& begin,
                             size_t& end) const {
    while (from <= text.size()) {
        if (std::chrono::steady_clock::now() > deadline) return Found::TooLong;
        const int rc = pcre2_match(code_->code, reinterpret_cast<PCRE2_SPTR>(text.data()),
                                   text.size(), from, 0, code_->data, code_->context);
        if (rc == PCRE2_ERROR_NOMATCH) return Found::None;
        if (rc < 0) {
            // The limits, or a match too deep for the stack: the pattern backtracks
            // without end on this text.
            if (rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT ||
                rc == PCRE2_ERROR_HEAPLIMIT || rc == PCRE2_ERROR_JIT_STACKLIMIT ||
                rc == PCRE2_ERROR_NOMEMORY)
                return Found::TooLong;
            return Found::None;
        }
        const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(code_->data);
        begin = ovector[0];
        end = ovector[1];
        if (end > begin) return Found::Match;
        // An empty match replaces nothing: look on from the next character.
        from = begin + 1;
        while (from < text.size() && (static_cast<unsigned char>(text[from]) & 0xC0) == 0x80)
            ++from;
    }
    return Found::None;
}

}  // namespace lexicon
