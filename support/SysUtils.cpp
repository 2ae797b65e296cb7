#include "support/SysUtils.h"

#include <cstdio>

#include "support/Errors.h"

namespace {
[[noreturn]] void Invalid(const std::string& text) {
    throw EConvertError("'" + text + "' is not a valid integer value");
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

int32_t StrToInt(const std::string& text) {
    size_t i = 0;
    const size_t n = text.size();
    while (i < n && text[i] == ' ') ++i;
    if (i == n) Invalid(text);

    bool hex = false;
    if (text[i] == '$' || text[i] == 'x' || text[i] == 'X') {
        hex = true;
        ++i;
    } else if (text[i] == '0' && i + 1 < n && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (hex) {
        if (i == n) Invalid(text);
        uint64_t value = 0;
        for (; i < n; ++i) {
            int d = HexDigit(text[i]);
            if (d < 0) Invalid(text);
            value = value * 16 + static_cast<uint64_t>(d);
            if (value > 0xFFFFFFFFull) Invalid(text);
        }
        return static_cast<int32_t>(static_cast<uint32_t>(value));
    }

    bool negative = false;
    if (text[i] == '+' || text[i] == '-') {
        negative = text[i] == '-';
        ++i;
    }
    if (i == n) Invalid(text);
    const uint64_t limit = negative ? 2147483648ull : 2147483647ull;
    uint64_t value = 0;
    for (; i < n; ++i) {
        char c = text[i];
        if (c < '0' || c > '9') Invalid(text);
        value = value * 10 + static_cast<uint64_t>(c - '0');
        if (value > limit) Invalid(text);
    }
    return negative ? static_cast<int32_t>(-static_cast<int64_t>(value))
                    : static_cast<int32_t>(value);
}

std::string IntToStr(int64_t value) {
    return std::to_string(value);
}
