#pragma once
// Profile (INI) text held in memory: looking up one value and producing the text
// with one value set. Lines end in LF or CR LF; what we add ends in CR LF, and every
// line we do not change is kept byte for byte.
//
// Reading rules for lines this program never writes: blanks (spaces and tabs) around
// section names, keys and values are ignored; a value wholly enclosed in a matching
// pair of double or single quotes loses them; a line whose first non-blank character
// is ";" is a comment; lines before the first section and lines without "=" carry no
// value; of a section that appears twice only the first counts, and likewise of a key.
#include <optional>
#include <string>
#include <string_view>

// The value of key in section (both matched ignoring letter case), or nothing.
std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key);

// The text with key in section set to value: in place when the key exists, after the
// section's last non-blank line when only the section exists, else a new section at
// the end.
std::string SetProfileValue(std::string_view text, std::string_view section, std::string_view key,
                            std::string_view value);
