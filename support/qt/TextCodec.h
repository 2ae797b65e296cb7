#pragma once
// Conversion between the program's 8-bit text (bytes, UTF-8 on current systems) and
// QString, used only where text meets a Qt control.
//
// The conversion is lossless. Valid UTF-8 decodes to its characters. Every byte that
// is not part of a valid UTF-8 sequence decodes to the private-use code point
// U+F700 + byte (U+F780..U+F7FF, as such bytes are all >= 0x80). So that a genuine
// U+F780..U+F7FF in the input cannot be confused with an escaped byte, the three
// bytes of its UTF-8 form are escaped one by one as well. Encoding turns each
// U+F780..U+F7FF back into its byte and everything else into UTF-8, so
// EncodeText(DecodeText(b)) == b for every byte string b.
#include <QString>
#include <string>
#include <string_view>

QString DecodeText(std::string_view bytes);
std::string EncodeText(const QString& text);
