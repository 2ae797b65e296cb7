#include "documents/ListNumbers.h"

namespace documents {
namespace {

std::string Roman(int n, bool upper) {
    static constexpr struct {
        int value;
        const char* digits;
    } kDigits[] = {{1000, "m"}, {900, "cm"}, {500, "d"}, {400, "cd"}, {100, "c"},
                   {90, "xc"},  {50, "l"},   {40, "xl"}, {10, "x"},   {9, "ix"},
                   {5, "v"},    {4, "iv"},   {1, "i"}};
    if (n <= 0 || n >= 4000) return std::to_string(n);
    std::string out;
    for (const auto& d : kDigits)
        for (; n >= d.value; n -= d.value) out += d.digits;
    if (upper)
        for (char& c : out) c = static_cast<char>(c - 32);
    return out;
}

// a, b, ..., z, aa, bb, ... as word processors count with letters.
std::string Letters(int n, bool upper) {
    if (n <= 0) return std::to_string(n);
    const char letter = static_cast<char>((upper ? 'A' : 'a') + (n - 1) % 26);
    return std::string(static_cast<size_t>((n - 1) / 26 + 1), letter);
}

}  // namespace

std::string FormatListNumber(int n, std::string_view format) {
    if (format == "decimal" || format == "1" || format.empty()) return std::to_string(n);
    if (format == "decimalZero") {
        std::string number = std::to_string(n);
        if (n < 10 && n >= 0) number.insert(number.begin(), '0');
        return number;
    }
    if (format == "upperRoman" || format == "I") return Roman(n, true);
    if (format == "lowerRoman" || format == "i") return Roman(n, false);
    if (format == "upperLetter" || format == "A") return Letters(n, true);
    if (format == "lowerLetter" || format == "a") return Letters(n, false);
    if (format == "none" || format == "bullet") return {};
    return std::to_string(n);
}

}  // namespace documents
