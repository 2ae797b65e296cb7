#include "support/qt/TextCodec.h"

namespace {

constexpr char32_t kEscapeBase = 0xF700;

bool IsEscape(char32_t cp) {
    return cp >= 0xF780 && cp <= 0xF7FF;
}

// Length of the valid UTF-8 sequence at p (1..4) and its code point, or 0 when invalid.
int ValidSequence(const unsigned char* p, size_t left, char32_t& cp) {
    unsigned char b = p[0];
    if (b < 0x80) {
        cp = b;
        return 1;
    }
    int len;
    char32_t min;
    if ((b & 0xE0) == 0xC0) {
        len = 2, cp = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        len = 3, cp = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        len = 4, cp = b & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (left < static_cast<size_t>(len)) return 0;
    for (int i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

QString DecodeText(std::string_view bytes) {
    QString out;
    out.reserve(static_cast<qsizetype>(bytes.size()));
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t n = bytes.size();
    for (size_t i = 0; i < n;) {
        char32_t cp;
        int len = ValidSequence(p + i, n - i, cp);
        if (len == 1) {
            out += QChar(static_cast<char16_t>(cp));
            i += 1;
            continue;
        }
        if (len > 1 && !IsEscape(cp)) {
            if (cp >= 0x10000) {
                out += QChar(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
                out += QChar(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
            } else {
                out += QChar(static_cast<char16_t>(cp));
            }
            i += static_cast<size_t>(len);
            continue;
        }
        // Invalid byte, or the first of the bytes of a genuine escape code point.
        int count = len > 1 ? len : 1;
        for (int k = 0; k < count; ++k) out += QChar(static_cast<char16_t>(kEscapeBase + p[i + k]));
        i += static_cast<size_t>(count);
    }
    return out;
}

std::string EncodeText(const QString& text) {
    std::string out;
    out.reserve(static_cast<size_t>(text.size()));
    const char16_t* s = reinterpret_cast<const char16_t*>(text.utf16());
    qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        char32_t c = s[i];
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (IsEscape(c)) {
            out += static_cast<char>(c - kEscapeBase);
        } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 &&
                   s[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00));
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            AppendUtf8(out, 0xFFFD);  // a lone surrogate has no UTF-8 form
        } else {
            AppendUtf8(out, c);
        }
    }
    return out;
}
