#pragma once
// Text handling shared by the engines: making text safe to hand to a synthesiser,
// finding word starts, and cutting long text into clause-sized pieces. All offsets
// are byte offsets into the text exactly as the caller handed it over.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct TextPiece {
    size_t begin = 0;
    size_t end = 0;
};

// Replaces every control character other than TAB, CR and LF (and DEL) by a blank,
// byte for byte, so that no embedded engine command survives and offsets stay true.
void SanitiseText(std::string& text);

// True for the bytes that separate words.
bool IsWordBlank(unsigned char c);

// Byte offsets of the word starts within text[piece): a word is a run of non-blank
// bytes.
std::vector<uint32_t> WordStarts(std::string_view text, TextPiece piece);

// The punctuation of the scripts written without blanks (。、，！？；：) whose UTF-8
// form ends at byte i, as the ASCII mark of the same use; 0 for anything else.
char WideStopAsAscii(std::string_view text, size_t i);

// True when text[piece) holds anything but blanks.
bool HoldsText(std::string_view text, TextPiece piece);

// The word start at or before offset among starts (sorted); the first start when
// offset lies before all of them. starts must not be empty.
uint32_t WordStartAtOrBefore(const std::vector<uint32_t>& starts, uint32_t offset);

// End of the piece beginning at begin: the first sentence end (".", "!", "?" before a
// blank, or "。", "！", "？") or paragraph end (a line break followed by a blank line
// or the end of the text); else, past softLimit bytes, the next clause end (",", ";",
// ":" before a blank, or "、", "，", "；", "：") or blank; at hardLimit bytes the last
// clause end or blank seen. A blank-free run (a long word, a URL, a script written
// without blanks) contributes at most runLimit bytes to a piece. Where a piece has to
// end inside a run it ends after punctuation if there is some nearby, else at a
// character boundary that keeps marks with the letter they belong to. Every byte
// lands in a piece.
size_t PieceEnd(std::string_view text, size_t begin, size_t softLimit, size_t hardLimit,
                size_t runLimit = SIZE_MAX);

// How a piece ending at `end` ends: inside a sentence, at a sentence end, or at a
// paragraph end (where a blank line lies).
enum class PieceEndKind { Piece, Sentence, Paragraph };
PieceEndKind KindOfPieceEnd(std::string_view text, size_t end);

// The piece as UTF-8 that a synthesiser can read: bytes that are not part of a valid
// UTF-8 sequence become blanks. codePointStart[i] is the byte offset (relative to the
// piece) of code point i; one extra entry holds the piece's length.
struct Utf8Piece {
    std::string text;
    std::vector<uint32_t> codePointStart;
};
Utf8Piece ToUtf8Piece(std::string_view piece);

// The piece as plain ASCII for an engine that cannot read UTF-8: Latin-1 letters
// lose their accents (or, with latin1, stay as their one ISO-8859-1 byte); any other
// character becomes a hyphen inside a word and a blank elsewhere, so it neither joins
// nor splits words. origin[i] is the byte offset (relative to the piece) of the
// character that output byte i came from.
struct AsciiPiece {
    std::string text;
    std::vector<uint32_t> origin;
};
AsciiPiece ToAsciiPiece(std::string_view piece, bool latin1 = false);
