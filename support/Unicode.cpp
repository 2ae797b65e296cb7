#include "support/Unicode.h"

#include <locale.h>
#include <wctype.h>

char32_t NextUtf8(std::string_view text, size_t& i) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = b(i);
    size_t length = lead < 0x80                   ? 1
                    : lead >= 0xC2 && lead < 0xE0 ? 2
                    : lead >= 0xE0 && lead < 0xF0 ? 3
                    : lead >= 0xF0 && lead < 0xF5 ? 4
                                                  : 0;
    if (length == 1) return text[i++] & 0x7F;
    char32_t c = length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
    bool ok = length != 0 && i + length <= text.size();
    for (size_t k = 1; ok && k < length; ++k) {
        ok = (b(i + k) & 0xC0) == 0x80;
        c = c << 6 | (b(i + k) & 0x3F);
    }
    if (ok && ((length == 3 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) ||
               (length == 4 && (c < 0x10000 || c > 0x10FFFF))))
        ok = false;
    if (!ok) return kNotUtf8 + static_cast<unsigned char>(text[i++]);
    i += length;
    return c;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

namespace {

// Letter case from the C library's Unicode tables; the C locale would know only ASCII.
char32_t Fold(char32_t c) {
    static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    if (c >= kNotUtf8 || !unicode) return c;
    return static_cast<char32_t>(towlower_l(towupper_l(static_cast<wint_t>(c), unicode), unicode));
}

// A lone surrogate that stands for a byte becomes that byte where bytes are asked for;
// any other becomes U+FFFD.
std::string FromUtf16(std::u16string_view text, bool bytes) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (bytes && c >= 0xDC80 && c <= 0xDCFF) {
            out += static_cast<char>(c - 0xDC00);  // a byte that was not UTF-8
            continue;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        AppendUtf8(out, c);
    }
    return out;
}
}  // namespace

std::u16string FileNameToUtf16(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        const char32_t c = NextUtf8(bytes, i);
        if (c >= kNotUtf8) {
            out += static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(c - kNotUtf8));
        } else if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

std::string FileNameFromUtf16(std::u16string_view name) {
    return FromUtf16(name, true);
}

std::string Utf16ToUtf8(std::u16string_view text) {
    return FromUtf16(text, false);
}

std::string Utf8ToLatin1(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const char32_t c = NextUtf8(text, i);
        out += c <= 0xFF ? static_cast<char>(c) : '?';
    }
    return out;
}

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size())
        if (Fold(NextUtf8(a, i)) != Fold(NextUtf8(b, j))) return false;
    return i == a.size() && j == b.size();
}
