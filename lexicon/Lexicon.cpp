#include "lexicon/Lexicon.h"

#include "lexicon/Pattern.h"
#include "lexicon/Rewrite.h"
#include "support/Unicode.h"

namespace lexicon {
namespace {
std::string Tag(std::string_view tag) {
    std::string out = FoldCase(tag);
    for (char& c : out)
        if (c == '_') c = '-';
    return out;
}
}  // namespace

std::string EntryProblem(const Entry& entry) {
    if (entry.word.empty()) return "it has no word";
    if (entry.respelling.empty() && entry.phonemes.empty()) return "it has nothing to say instead";
    for (const std::string_view bad : {"[[", "]]"})
        if (entry.phonemes.find(bad) != std::string::npos)
            return "its phonemes hold \"" + std::string(bad) + "\"";
    // espeak-ng reads a run without blanks in parts of some 150 bytes; phonemes stay
    // one run, and must not be cut.
    if (entry.phonemes.size() > kLongestPhonemes)
        return "its phonemes are longer than " + std::to_string(kLongestPhonemes) + " bytes";
    if (entry.regex) {
        try {
            Pattern pattern(entry.word, entry.matchCase, false);
        } catch (const LexiconError& e) {
            return e.Message();
        }
        return {};
    }
    return {};
}

bool AppliesTo(const Lexicon& lexicon, std::string_view voiceName, std::string_view voiceLanguage) {
    switch (lexicon.scope) {
        case Scope::Global:
            return true;
        case Scope::Voice:
            return SameTextIgnoringCase(lexicon.voice, voiceName);
        case Scope::Language: {
            const std::string mine = Tag(lexicon.language), theirs = Tag(voiceLanguage);
            return !mine.empty() && (theirs == mine || theirs.rfind(mine + "-", 0) == 0);
        }
    }
    return false;
}

const char* ScopeName(Scope scope) {
    switch (scope) {
        case Scope::Global:
            return "global";
        case Scope::Language:
            return "language";
        case Scope::Voice:
            return "voice";
    }
    return "global";
}

}  // namespace lexicon
