#pragma once
// Pronunciation lexicons: entries that say how a word, or whatever a regular expression
// matches, is to be spoken. An entry gives a respelling (plain text, which every voice
// can say) and, for espeak-ng voices, espeak-ng phonemes; where it has both, espeak-ng
// voices use the phonemes and the others the respelling. A respelling is always said
// as text: tags, "[[" or markup inside it are words like any other.
//
// A lexicon has one scope: everything, one language, or one voice. A voice's entries
// win over its language's, which win over the global ones.
//
// Lives in its own room on support/ alone (and the markup walker of documents/), so
// that parlen-say and the speech service use it without Qt.
#include <string>
#include <string_view>
#include <vector>

#include "support/Errors.h"

namespace lexicon {

// A lexicon file or an entry that cannot be used; the message names the file (or the
// entry) and the reason, with line and column for malformed markup.
class LexiconError : public Exception {
  public:
    using Exception::Exception;
};

enum class Scope { Global, Language, Voice };

struct Entry {
    std::string word;        // a word or words, or a regular expression
    bool regex = false;      // word is a regular expression (PCRE2 syntax)
    bool matchCase = false;  // letter case counts
    std::string respelling;  // may be empty when phonemes are given
    std::string phonemes;    // espeak-ng phonemes; may be empty
    // Kept as read from a file so that an export gives back what was imported: phonemes
    // in another alphabet (IPA) are never spoken.
    std::string alphabet;  // empty: espeak-ng's

    bool HasEspeakPhonemes() const { return !phonemes.empty() && alphabet.empty(); }
    friend bool operator==(const Entry&, const Entry&) = default;
};

struct Lexicon {
    Scope scope = Scope::Global;
    std::string language;  // a language tag ("en", "en-US"): its scope, or just its language
    std::string voice;     // the voice's name, for Scope::Voice
    std::vector<Entry> entries;
    friend bool operator==(const Lexicon&, const Lexicon&) = default;
};

inline constexpr size_t kLongestPhonemes = 100;

// Why an entry cannot be used, or "" when it can: an empty word, nothing to say, a
// regular expression that does not compile, phonemes that could leave the phoneme
// input. A word entry without a letter or digit (":-)") matches as written, anywhere.
std::string EntryProblem(const Entry& entry);

// Whether a lexicon of this scope applies to the voice.
bool AppliesTo(const Lexicon& lexicon, std::string_view voiceName, std::string_view voiceLanguage);

const char* ScopeName(Scope scope);  // "global", "language", "voice"

}  // namespace lexicon
