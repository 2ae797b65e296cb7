#pragma once
// Conversion of settings values to integers.
#include <cstdint>
#include <string>

// Reads text as a 32-bit signed integer: leading blanks (code 32 only) skipped, then
// an optional sign and decimal digits in the int32 range, or - without a sign - a "$",
// "x", "X", "0x" or "0X" prefix and hexadecimal digits fitting in 32 bits unsigned
// (taken as the signed result). Nothing may follow. Anything else raises
// EConvertError "'<text>' is not a valid integer value".
int32_t StrToInt(const std::string& text);

// The shortest decimal form: "-" for negatives, no leading zeros, no blanks.
std::string IntToStr(int64_t value);
