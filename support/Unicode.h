#pragma once
// Text conversions that need no Qt: parlen-say and the speech service use them.
#include <string>
#include <string_view>

// The code point starting at text[i], advancing i; kNotUtf8 + byte for a byte that
// does not start a well-formed sequence (overlong forms and surrogates included).
inline constexpr char32_t kNotUtf8 = 0x110000;  // above every code point
char32_t NextUtf8(std::string_view text, size_t& i);
// Appends a code point (below kNotUtf8) as UTF-8.
void AppendUtf8(std::string& out, char32_t c);

// File names are bytes; the speech component takes them as UTF-16. Bytes that are not
// UTF-8 travel as lone surrogates U+DC80..U+DCFF and come back as the same bytes, so a
// name in any encoding names the same file.
std::u16string FileNameToUtf16(std::string_view bytes);
std::string FileNameFromUtf16(std::u16string_view name);

// UTF-16 (host order code units) to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// UTF-8 text as Latin-1 (tags of formats that hold nothing else); a character outside
// Latin-1, or a byte that is not UTF-8, becomes '?'.
std::string Utf8ToLatin1(std::string_view text);

// Whether two UTF-8 texts are equal ignoring letter case, in every script; bytes that
// are not UTF-8 must be equal as they are.
bool SameTextIgnoringCase(std::string_view a, std::string_view b);
