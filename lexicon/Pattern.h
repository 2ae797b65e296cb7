#pragma once
// A regular expression of a lexicon entry, in PCRE2's syntax (the one QRegularExpression
// reads). Matching is bounded: PCRE2's match and depth limits stop a pattern that
// backtracks without end, such as "(a+)+$" on a long run of a's.
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace lexicon {

class Pattern {
  public:
    // Throws LexiconError saying why the pattern does not compile, and where.
    // Without jit, only the interpreter matches: enough to check a pattern. A literal
    // pattern matches its text as written, with no special characters.
    Pattern(std::string_view pattern, bool matchCase, bool jit = true, bool literal = false);
    ~Pattern();
    Pattern(const Pattern&) = delete;
    Pattern& operator=(const Pattern&) = delete;

    enum class Found { Match, None, TooLong };
    // The first match at or after `from`, as [begin, end). TooLong when the limits or
    // the deadline stopped it.
    Found Next(std::string_view text, size_t from, std::chrono::steady_clock::time_point deadline,
               size_t& begin, size_t& end) const;

  private:
    struct Code;
    std::unique_ptr<Code> code_;
};

}  // namespace lexicon
