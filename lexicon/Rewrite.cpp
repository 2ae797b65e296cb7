#include "lexicon/Rewrite.h"

#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <unordered_map>

#include "lexicon/Pattern.h"
#include "support/PhonemeMarks.h"
#include "support/Unicode.h"

namespace lexicon {
namespace {

locale_t UnicodeLocale() {
    static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    return unicode;
}

bool IsWordChar(char32_t c) {
    if (c < 0x80) return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    return c < kNotUtf8 && UnicodeLocale() && iswalnum_l(static_cast<wint_t>(c), UnicodeLocale());
}
bool IsJoiner(char32_t c) {
    return c == '\'' || c == 0x2019;
}

struct Token {
    uint32_t begin, end;
};

// Words: runs of letters and digits, an apostrophe inside one ("don't") joining them.
std::vector<Token> Tokens(std::string_view text) {
    std::vector<Token> tokens;
    size_t i = 0;
    bool in = false;
    size_t start = 0, lastEnd = 0;
    while (i < text.size()) {
        const size_t at = i;
        const char32_t c = NextUtf8(text, i);
        if (IsWordChar(c)) {
            if (!in) start = at;
            in = true;
            lastEnd = i;
        } else if (in && IsJoiner(c) && i < text.size()) {
            size_t j = i;
            if (!IsWordChar(NextUtf8(text, j))) {
                tokens.push_back({static_cast<uint32_t>(start), static_cast<uint32_t>(lastEnd)});
                in = false;
            }
        } else if (in) {
            tokens.push_back({static_cast<uint32_t>(start), static_cast<uint32_t>(lastEnd)});
            in = false;
        }
    }
    if (in) tokens.push_back({static_cast<uint32_t>(start), static_cast<uint32_t>(lastEnd)});
    return tokens;
}

void FoldInto(std::string_view text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            out += static_cast<char>(byte >= 'A' && byte <= 'Z' ? byte + 32 : byte);
            ++i;
            continue;
        }
        const size_t at = i;
        const char32_t c = NextUtf8(text, i);
        if (c >= kNotUtf8 || !UnicodeLocale()) {
            out.append(text.substr(at, i - at));
            continue;
        }
        AppendUtf8(out, static_cast<char32_t>(towlower_l(
                            towupper_l(static_cast<wint_t>(c), UnicodeLocale()), UnicodeLocale())));
    }
}

std::string Sanitised(std::string text) {
    for (char& ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) ch = ' ';
    }
    return text;
}

std::string Describe(const Entry& e) {
    return std::string(e.regex ? "the lexicon pattern \"" : "the lexicon entry \"") + e.word + "\"";
}

struct Candidate {
    uint32_t begin, end, rank, entry;
};

}  // namespace

bool HoldsWord(std::string_view text) {
    return !Tokens(text).empty();
}

std::string FoldCase(std::string_view text) {
    std::string out;
    FoldInto(text, out);
    return out;
}

struct Rewriter::Compiled {
    struct Item {
        std::string replacement;
        std::string name;  // for errors
        uint32_t rank;
        bool matchCase = false;
        std::vector<std::string> words;  // folded unless matchCase
        std::unique_ptr<Pattern> pattern;
    };
    std::vector<Item> items;  // in the order they win among equal matches
    std::unordered_map<std::string, std::vector<uint32_t>> byFirstWord;  // folded
    std::vector<uint32_t> patterns;
};

Rewriter::Rewriter(const std::vector<Lexicon>& lexicons, bool espeak)
    : compiled_(std::make_unique<Compiled>()) {
    uint32_t rank = 0;
    for (const Lexicon& lexicon : lexicons) {
        for (const Entry& entry : lexicon.entries) {
            Compiled::Item item;
            if (espeak && entry.HasEspeakPhonemes()) {
                std::string phonemes = entry.phonemes;
                // One run without blanks, so that no piece of text is cut inside it.
                std::replace_if(
                    phonemes.begin(), phonemes.end(),
                    [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }, '_');
                item.replacement = kPhonemesBegin + Sanitised(phonemes) + kPhonemesEnd;
            } else {
                item.replacement = Sanitised(entry.respelling);
            }
            if (item.replacement.empty() || entry.word.empty()) continue;
            // A pattern is checked by compiling it, once.
            if (const std::string problem = entry.regex ? "" : EntryProblem(entry);
                !problem.empty())
                throw LexiconError(Describe(entry) + ": " + problem);
            item.name = Describe(entry);
            item.rank = rank;
            item.matchCase = entry.matchCase;
            const auto index = static_cast<uint32_t>(compiled_->items.size());
            // A word without letters or digits (":-)") is matched as written, anywhere.
            const bool literal = !entry.regex && !HoldsWord(entry.word);
            if (entry.regex || literal) {
                try {
                    item.pattern =
                        std::make_unique<Pattern>(entry.word, entry.matchCase, true, literal);
                } catch (const LexiconError& e) {
                    throw LexiconError(Describe(entry) + ": " + e.Message());
                }
                compiled_->patterns.push_back(index);
            } else {
                for (const Token& t : Tokens(entry.word)) {
                    const std::string_view w =
                        std::string_view(entry.word).substr(t.begin, t.end - t.begin);
                    item.words.push_back(entry.matchCase ? std::string(w) : FoldCase(w));
                }
                if (item.words.empty()) continue;
                compiled_->byFirstWord[FoldCase(item.words.front())].push_back(index);
            }
            compiled_->items.push_back(std::move(item));
        }
        ++rank;
    }
}

Rewriter::~Rewriter() = default;

bool Rewriter::Empty() const {
    return compiled_->items.empty();
}

std::chrono::milliseconds Rewriter::Budget(size_t textSize) {
    // Half a second, and two more per megabyte of text: a runaway pattern is told within
    // a second on a page, and a long book with many patterns still gets through.
    return std::chrono::milliseconds(500 + textSize / 500);
}

Rewritten Rewriter::Apply(std::string_view text) const {
    const Compiled& c = *compiled_;
    std::vector<Candidate> candidates;
    if (!c.byFirstWord.empty()) {
        const std::vector<Token> tokens = Tokens(text);
        std::string folded, other;
        for (size_t i = 0; i < tokens.size(); ++i) {
            const auto word = [&](size_t k) {
                return text.substr(tokens[k].begin, tokens[k].end - tokens[k].begin);
            };
            FoldInto(word(i), folded);
            const auto it = c.byFirstWord.find(folded);
            if (it == c.byFirstWord.end()) continue;
            for (const uint32_t index : it->second) {
                const Compiled::Item& item = c.items[index];
                if (i + item.words.size() > tokens.size()) continue;
                bool same = true;
                for (size_t k = 0; k < item.words.size() && same; ++k) {
                    if (item.matchCase) {
                        same = word(i + k) == item.words[k];
                    } else {
                        FoldInto(word(i + k), other);
                        same = other == item.words[k];
                    }
                }
                if (same)
                    candidates.push_back(
                        {tokens[i].begin, tokens[i + item.words.size() - 1].end, item.rank, index});
            }
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + Budget(text.size());
    for (const uint32_t index : c.patterns) {
        const Compiled::Item& item = c.items[index];
        size_t from = 0, begin = 0, end = 0;
        while (true) {
            const Pattern::Found found = item.pattern->Next(text, from, deadline, begin, end);
            if (found == Pattern::Found::None) break;
            if (found == Pattern::Found::TooLong)
                throw LexiconError(item.name +
                                   " takes too long to match this text; change or "
                                   "delete it in the lexicon");
            candidates.push_back(
                {static_cast<uint32_t>(begin), static_cast<uint32_t>(end), item.rank, index});
            from = end;
        }
    }

    Rewritten out;
    if (candidates.empty()) {
        out.text.assign(text);
        return out;
    }
    // The lexicon that wins first; within it the longest match, then the first.
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        if (a.rank != b.rank) return a.rank < b.rank;
        if (a.end - a.begin != b.end - b.begin) return a.end - a.begin > b.end - b.begin;
        if (a.begin != b.begin) return a.begin < b.begin;
        return a.entry < b.entry;
    });
    std::vector<bool> taken(text.size(), false);
    std::vector<Candidate> chosen;
    for (const Candidate& m : candidates) {
        if (std::any_of(taken.begin() + m.begin, taken.begin() + m.end, [](bool t) { return t; }))
            continue;
        std::fill(taken.begin() + m.begin, taken.begin() + m.end, true);
        chosen.push_back(m);
    }
    std::sort(chosen.begin(), chosen.end(),
              [](const Candidate& a, const Candidate& b) { return a.begin < b.begin; });
    out.text.reserve(text.size() + text.size() / 8);
    size_t at = 0;
    for (const Candidate& m : chosen) {
        if (m.begin > at) {
            out.map.Copied(out.text.size(), at);
            out.text.append(text.substr(at, m.begin - at));
        }
        out.map.Replaced(out.text.size(), m.begin);
        out.text += c.items[m.entry].replacement;
        at = m.end;
    }
    if (at < text.size()) {
        out.map.Copied(out.text.size(), at);
        out.text.append(text.substr(at));
    }
    out.map.End(out.text.size(), text.size());
    out.replacements = chosen.size();
    return out;
}

uint32_t OffsetMap::ToOriginal(size_t at) const {
    if (segments_.empty()) return static_cast<uint32_t>(at);
    if (at >= end_.to) return static_cast<uint32_t>(end_.from);
    auto it = std::upper_bound(segments_.begin(), segments_.end(), at,
                               [](size_t value, const Segment& s) { return value < s.to; });
    if (it == segments_.begin()) return static_cast<uint32_t>(at);
    --it;
    return static_cast<uint32_t>(it->whole ? it->from : it->from + (at - it->to));
}

}  // namespace lexicon
