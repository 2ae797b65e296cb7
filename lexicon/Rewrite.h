#pragma once
// Applying lexicons to a text: every match is replaced by its entry's respelling (or,
// for espeak-ng voices, by its phonemes between the marks of support/PhonemeMarks.h),
// with a map from each byte of the new text back to the text as the user wrote it, so
// that word positions and timings point at the user's own words.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "lexicon/Lexicon.h"

namespace lexicon {

class OffsetMap {
  public:
    // The original byte that rewritten byte `at` comes from: a replacement's bytes all
    // map to the start of the text it replaced, so the whole word is highlighted. The
    // end of the rewritten text maps to the end of the original.
    uint32_t ToOriginal(size_t at) const;

    void Copied(size_t to, size_t from) { segments_.push_back({to, from, false}); }
    void Replaced(size_t to, size_t from) { segments_.push_back({to, from, true}); }
    void End(size_t to, size_t from) { end_ = {to, from, true}; }
    bool Empty() const { return segments_.empty(); }

  private:
    struct Segment {
        size_t to, from;
        bool whole;
    };
    std::vector<Segment> segments_;
    Segment end_{0, 0, true};
};

struct Rewritten {
    std::string text;
    OffsetMap map;
    size_t replacements = 0;
};

class Rewriter {
  public:
    // Lexicons in the order they win (the voice's, then its language's, then the global
    // ones); within one, the longest match wins, then the first. Entries that cannot be
    // used here (phonemes only, for a voice that is not espeak-ng's) are left out.
    // Throws LexiconError for an entry that does not compile, naming it.
    Rewriter(const std::vector<Lexicon>& lexicons, bool espeak);
    ~Rewriter();

    bool Empty() const;
    // Throws LexiconError naming the entry whose pattern ran out of time on this text.
    Rewritten Apply(std::string_view text) const;
    // How long the patterns may run over a text this long, in all.
    static std::chrono::milliseconds Budget(size_t textSize);

  private:
    struct Compiled;
    std::unique_ptr<Compiled> compiled_;
};

// Whether the text holds a word: a letter or digit.
bool HoldsWord(std::string_view text);

// Letter case folded for matching (every script); bytes that are not UTF-8 stay.
std::string FoldCase(std::string_view text);

}  // namespace lexicon
