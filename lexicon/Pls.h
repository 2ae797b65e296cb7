#pragma once
// Lexicon files: the W3C pronunciation lexicon format (PLS 1.0). Each lexeme gives a
// word (or several) with its phonemes and aliases (respellings); phonemes written in
// espeak-ng's own alphabet ("x-espeak") are spoken, others (IPA) are kept as read.
//
// What the format cannot say lives in our own namespace, which other readers skip: the
// lexicon's scope (pm:scope, pm:voice), an entry whose letter case counts
// (pm:match-case on a lexeme), and regular-expression entries (pm:regex elements, whose
// pm:pattern holds the expression).
#include <string>
#include <string_view>

#include "lexicon/Lexicon.h"

namespace lexicon {

inline constexpr std::string_view kOurNamespace = "urn:x-parlenmaker:lexicon";
inline constexpr std::string_view kEspeakAlphabet = "x-espeak";

// Throws LexiconError naming `fileName` and the reason (with line and column when the
// markup is malformed).
Lexicon ReadPls(std::string_view bytes, const std::string& fileName);
std::string WritePls(const Lexicon& lexicon);

// The same, on files.
Lexicon LoadPlsFile(const std::string& path);
// Writes the whole file or nothing; throws LexiconError naming the file and the reason.
void SavePlsFile(const std::string& path, const Lexicon& lexicon);

}  // namespace lexicon
