#include "platform/service/TextScan.h"

#include <algorithm>

namespace {
bool IsSentenceEnd(unsigned char c) {
    return c == '.' || c == '!' || c == '?';
}
bool IsClauseEnd(unsigned char c) {
    return c == ',' || c == ';' || c == ':';
}
bool IsContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// A line break ends a paragraph when only blanks follow up to the next line break or
// the end; a single line break inside a paragraph is a blank, as the synthesisers
// read it too.
bool ParagraphEndsAt(std::string_view text, size_t lineBreak) {
    for (size_t i = lineBreak + 1; i < text.size(); ++i) {
        if (text[i] == '\n') return true;
        if (text[i] != '\r' && text[i] != ' ' && text[i] != '\t') return false;
    }
    return true;
}

// Length of a valid UTF-8 sequence at s[i], or 0 when the byte does not start one.
size_t SequenceLength(std::string_view s, size_t i, uint32_t* codePoint) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
        *codePoint = b;
        return 1;
    }
    size_t len = 0;
    uint32_t cp = 0;
    if (b >= 0xC2 && b <= 0xDF) {
        len = 2;
        cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        cp = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        cp = b & 0x07;
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        const auto c = static_cast<unsigned char>(s[i + k]);
        if (!IsContinuation(c)) return 0;
        cp = (cp << 6) | (c & 0x3F);
    }
    // Overlong forms, surrogates and values past the Unicode range are invalid.
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    *codePoint = cp;
    return len;
}

// Accent-free ASCII for the Latin-1 letters; 0 where there is none.
const char* LatinFold(uint32_t cp) {
    static const char* const kTable[64] = {
        "A", "A", "A", "A", "A", "A", "AE", "C",     "E", "E", "E", "E", "I", "I", "I",  "I",
        "D", "N", "O", "O", "O", "O", "O",  nullptr, "O", "U", "U", "U", "U", "Y", "TH", "ss",
        "a", "a", "a", "a", "a", "a", "ae", "c",     "e", "e", "e", "e", "i", "i", "i",  "i",
        "d", "n", "o", "o", "o", "o", "o",  nullptr, "o", "u", "u", "u", "u", "y", "th", "y"};
    if (cp >= 0xC0 && cp <= 0xFF) return kTable[cp - 0xC0];
    if (cp == 0x2019 || cp == 0x2018) return "'";
    return nullptr;
}
}  // namespace

void SanitiseText(std::string& text) {
    for (char& ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7F) ch = ' ';
    }
}

bool IsWordBlank(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

std::vector<uint32_t> WordStarts(std::string_view text, TextPiece piece) {
    std::vector<uint32_t> starts;
    // A piece cut inside a word does not start a new one.
    bool inWord = piece.begin > 0 && piece.begin <= text.size() &&
                  !IsWordBlank(static_cast<unsigned char>(text[piece.begin - 1]));
    for (size_t i = piece.begin; i < piece.end && i < text.size(); ++i) {
        const bool blank = IsWordBlank(static_cast<unsigned char>(text[i]));
        if (!blank && !inWord) starts.push_back(static_cast<uint32_t>(i));
        inWord = !blank;
    }
    return starts;
}

uint32_t WordStartAtOrBefore(const std::vector<uint32_t>& starts, uint32_t offset) {
    auto it = std::upper_bound(starts.begin(), starts.end(), offset);
    if (it == starts.begin()) return starts.front();
    return *(it - 1);
}

size_t PieceEnd(std::string_view text, size_t begin, size_t softLimit, size_t hardLimit) {
    const size_t n = text.size();
    const size_t limit = std::min(n, begin + hardLimit);
    size_t clause = 0;
    size_t blank = 0;
    for (size_t i = begin; i < limit; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool nextBlank = i + 1 >= n || IsWordBlank(static_cast<unsigned char>(text[i + 1]));
        if (IsSentenceEnd(c) && nextBlank) return i + 1;
        if (c == '\n' && ParagraphEndsAt(text, i)) return i + 1;
        const bool pastSoft = i - begin >= softLimit;
        if (pastSoft && IsClauseEnd(c) && nextBlank) return i + 1;
        if (IsClauseEnd(c) && nextBlank) clause = i + 1;
        if (IsWordBlank(c)) {
            if (pastSoft) return i + 1;
            blank = i + 1;
        }
    }
    if (limit == n) return n;
    if (clause > begin) return clause;
    if (blank > begin) return blank;
    size_t cut = limit;
    while (cut > begin + 1 && IsContinuation(static_cast<unsigned char>(text[cut]))) --cut;
    return cut;
}

Utf8Piece ToUtf8Piece(std::string_view piece) {
    Utf8Piece out;
    out.text.reserve(piece.size());
    out.codePointStart.reserve(piece.size() + 1);
    for (size_t i = 0; i < piece.size();) {
        uint32_t cp = 0;
        size_t len = SequenceLength(piece, i, &cp);
        out.codePointStart.push_back(static_cast<uint32_t>(i));
        if (len == 0) {
            out.text.push_back(' ');
            len = 1;
        } else {
            out.text.append(piece.substr(i, len));
        }
        i += len;
    }
    out.codePointStart.push_back(static_cast<uint32_t>(piece.size()));
    return out;
}

AsciiPiece ToAsciiPiece(std::string_view piece) {
    AsciiPiece out;
    out.text.reserve(piece.size());
    out.origin.reserve(piece.size());
    for (size_t i = 0; i < piece.size();) {
        uint32_t cp = 0;
        size_t len = SequenceLength(piece, i, &cp);
        if (len == 0) len = 1, cp = 0xFFFD;
        const auto at = static_cast<uint32_t>(i);
        if (cp < 0x80) {
            out.text.push_back(static_cast<char>(cp));
            out.origin.push_back(at);
        } else if (const char* fold = LatinFold(cp)) {
            for (const char* p = fold; *p; ++p) {
                out.text.push_back(*p);
                out.origin.push_back(at);
            }
        } else {
            // Unknown characters must not split or join the words around them.
            out.text.push_back(
                out.text.empty() || IsWordBlank(static_cast<unsigned char>(out.text.back())) ? ' '
                                                                                             : '-');
            out.origin.push_back(at);
        }
        i += len;
    }
    return out;
}
