#include "platform/voices/TextScan.h"

#include <algorithm>
#include <cstring>

namespace {
bool IsSentenceEnd(unsigned char c) {
    return c == '.' || c == '!' || c == '?';
}
bool IsClauseEnd(unsigned char c) {
    return c == ',' || c == ';' || c == ':';
}
bool IsAsciiPunctuation(unsigned char c) {
    return (c >= '!' && c <= '/') || (c >= ':' && c <= '@') || (c >= '[' && c <= '`') ||
           (c >= '{' && c <= '~');
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

// Punctuation of the scripts written without blanks whose UTF-8 form ends at i, as
// its ASCII counterpart; 0 for anything else.
char WideStopAsAscii(std::string_view text, size_t i) {
    if (i < 2 || i >= text.size()) return 0;
    const auto a = static_cast<unsigned char>(text[i - 2]);
    const auto b = static_cast<unsigned char>(text[i - 1]);
    const auto c = static_cast<unsigned char>(text[i]);
    if (a == 0xE3 && b == 0x80) return c == 0x82 ? '.' : c == 0x81 ? ',' : 0;  // 。、
    if (a != 0xEF || b != 0xBC) return 0;
    switch (c) {
        case 0x81:
            return '!';  // ！
        case 0x9F:
            return '?';  // ？
        case 0x8C:
            return ',';  // ，
        case 0x9B:
            return ';';  // ；
        case 0x9A:
            return ':';  // ：
        default:
            return 0;
    }
}

namespace {
// 1 when a sentence-ending wide stop ends at i, 2 for a clause-ending one, else 0.
int WideStopEndingAt(std::string_view text, size_t i) {
    const char c = WideStopAsAscii(text, i);
    if (c == 0) return 0;
    return IsSentenceEnd(static_cast<unsigned char>(c)) ? 1 : 2;
}

// True when the code point starting at i is pronounced together with the one before
// it: combining accents, Thai vowel and tone marks, kana voicing marks.
bool JoinsPrevious(std::string_view text, size_t i) {
    if (i + 1 >= text.size()) return false;
    const auto a = static_cast<unsigned char>(text[i]);
    const auto b = static_cast<unsigned char>(text[i + 1]);
    if (a == 0xCC || (a == 0xCD && b <= 0xAF)) return true;  // U+0300..U+036F
    if (i + 2 >= text.size()) return false;
    const auto c = static_cast<unsigned char>(text[i + 2]);
    if (a == 0xE0 && b == 0xB8) return c == 0xB1 || (c >= 0xB4 && c <= 0xBA);
    if (a == 0xE0 && b == 0xB9) return c >= 0x87 && c <= 0x8E;
    if (a == 0xE3 && b == 0x82) return c == 0x99 || c == 0x9A;
    return false;
}

// True when the code point ending just before i is a Thai vowel written before the
// consonant it follows in speech (เ แ โ ใ ไ).
bool LeadsNext(std::string_view text, size_t i) {
    if (i < 3) return false;
    return static_cast<unsigned char>(text[i - 3]) == 0xE0 &&
           static_cast<unsigned char>(text[i - 2]) == 0xB9 &&
           static_cast<unsigned char>(text[i - 1]) >= 0x80 &&
           static_cast<unsigned char>(text[i - 1]) <= 0x84;
}

// Where to end a piece inside a blank-free run that reaches limit: after the last
// punctuation in the later half (a URL's "/", a "-", "。"), else at the last
// character boundary that splits no syllable. Always past begin.
size_t CutInsideRun(std::string_view text, size_t begin, size_t limit) {
    for (size_t i = limit; i > begin + (limit - begin) / 2; --i) {
        const auto c = static_cast<unsigned char>(text[i - 1]);
        if (IsAsciiPunctuation(c) || WideStopEndingAt(text, i - 1)) return i;
    }
    size_t cut = limit;
    while (cut > begin + 1 && (IsContinuation(static_cast<unsigned char>(text[cut])) ||
                               JoinsPrevious(text, cut) || LeadsNext(text, cut)))
        --cut;
    if (cut == begin + 1) {  // nothing better: any character boundary
        cut = limit;
        while (cut > begin + 1 && IsContinuation(static_cast<unsigned char>(text[cut]))) --cut;
    }
    return cut;
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

bool HoldsText(std::string_view text, TextPiece piece) {
    const size_t end = std::min(piece.end, text.size());
    for (size_t i = piece.begin; i < end; ++i)
        if (!IsWordBlank(static_cast<unsigned char>(text[i]))) return true;
    return false;
}

uint32_t WordStartAtOrBefore(const std::vector<uint32_t>& starts, uint32_t offset) {
    auto it = std::upper_bound(starts.begin(), starts.end(), offset);
    if (it == starts.begin()) return starts.front();
    return *(it - 1);
}

size_t PieceEnd(std::string_view text, size_t begin, size_t softLimit, size_t hardLimit,
                size_t runLimit) {
    const size_t n = text.size();
    const size_t limit = std::min(n, begin + hardLimit);
    size_t clause = 0;
    size_t blank = 0;
    size_t runStart = begin;  // where the blank-free run at i starts within the piece
    for (size_t i = begin; i < limit; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (i > begin && !IsWordBlank(c) && i - runStart >= runLimit) {
            // The run goes on past what the synthesiser reads as one word: end the
            // piece before the run, or inside it when the piece holds nothing else.
            return runStart > begin ? runStart : CutInsideRun(text, begin, i);
        }
        const bool nextBlank = i + 1 >= n || IsWordBlank(static_cast<unsigned char>(text[i + 1]));
        const int wide = WideStopEndingAt(text, i);
        if ((IsSentenceEnd(c) && nextBlank) || wide == 1) return i + 1;
        if (c == '\n' && ParagraphEndsAt(text, i)) return i + 1;
        const bool pastSoft = i - begin >= softLimit;
        const bool clauseEnd = (IsClauseEnd(c) && nextBlank) || wide == 2;
        if (pastSoft && clauseEnd) return i + 1;
        if (clauseEnd) clause = i + 1;
        if (IsWordBlank(c)) {
            if (pastSoft) return i + 1;
            blank = i + 1;
            runStart = i + 1;
        }
    }
    if (limit == n) return n;
    if (clause > begin) return clause;
    if (blank > begin) return blank;
    return CutInsideRun(text, begin, limit);
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

AsciiPiece ToAsciiPiece(std::string_view piece, bool latin1) {
    AsciiPiece out;
    out.text.reserve(piece.size());
    out.origin.reserve(piece.size());
    for (size_t i = 0; i < piece.size();) {
        uint32_t cp = 0;
        size_t len = SequenceLength(piece, i, &cp);
        if (len == 0) len = 1, cp = 0xFFFD;
        const auto at = static_cast<uint32_t>(i);
        if (cp < 0x80 || (latin1 && cp >= 0xA0 && cp <= 0xFF)) {
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

PieceEndKind KindOfPieceEnd(std::string_view text, size_t end) {
    size_t last = end;
    int breaks = 0;
    while (last > 0 && IsWordBlank(static_cast<unsigned char>(text[last - 1]))) {
        if (text[last - 1] == '\n') ++breaks;
        --last;
    }
    for (size_t i = end; i < text.size() && IsWordBlank(static_cast<unsigned char>(text[i])); ++i)
        if (text[i] == '\n') ++breaks;
    if (breaks >= 2) return PieceEndKind::Paragraph;
    if (last == 0) return PieceEndKind::Piece;
    const char wide = WideStopAsAscii(text, last - 1);
    const char c = wide ? wide : text[last - 1];
    return c != '\0' && std::strchr(".!?", c) ? PieceEndKind::Sentence : PieceEndKind::Piece;
}
