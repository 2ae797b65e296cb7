#pragma once
// Numbers of numbered headings and lists as a word processor shows them.
#include <string>
#include <string_view>

namespace documents {

// n in a format by the name DOCX gives it ("decimal", "upperRoman", "lowerLetter", ...)
// or by ODF's ("1", "I", "i", "A", "a"); "" for a format that shows no number.
std::string FormatListNumber(int n, std::string_view format);

}  // namespace documents
