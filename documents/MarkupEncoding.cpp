#include "documents/MarkupEncoding.h"

#include "support/Unicode.h"

namespace documents {
namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}
bool IsNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == ':';
}
char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

size_t FindIgnoringCase(std::string_view text, std::string_view what) {
    for (size_t i = 0; i + what.size() <= text.size(); ++i) {
        size_t k = 0;
        while (k < what.size() && Lower(text[i + k]) == what[k]) ++k;
        if (k == what.size()) return i;
    }
    return std::string_view::npos;
}

bool IsUtf8(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size();) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            ++i;
            continue;
        }
        if (NextUtf8(bytes, i) >= kNotUtf8) return false;
    }
    return true;
}

// The encoding the file declares near its start (XML declaration or HTML meta), lower case.
std::string DeclaredEncoding(std::string_view bytes) {
    const std::string_view head = bytes.substr(0, 2048);
    for (std::string_view key : {"encoding=", "charset="}) {
        const size_t at = FindIgnoringCase(head, key);
        if (at == std::string_view::npos) continue;
        size_t i = at + key.size();
        while (i < head.size() && (head[i] == '"' || head[i] == '\'' || IsSpace(head[i]))) ++i;
        std::string name;
        while (i < head.size() && (IsNameChar(head[i]) || head[i] == '_')) name += Lower(head[i++]);
        return name;
    }
    return {};
}

// Windows-1252's characters for 0x80 to 0x9F; Latin-1 is the same elsewhere.
constexpr char16_t kWindows1252[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

std::string FromWindows1252(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        AppendUtf8(out, b >= 0x80 && b < 0xA0 ? kWindows1252[b - 0x80] : b);
    }
    return out;
}

}  // namespace

std::optional<std::string> MarkupToUtf8(std::string_view bytes, MarkupMode mode) {
    if (bytes.size() >= 2 &&
        (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF")) {
        const bool little = bytes[0] == '\xFF';
        std::u16string units;
        units.reserve(bytes.size() / 2);
        for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
            const auto a = static_cast<unsigned char>(bytes[i]);
            const auto b = static_cast<unsigned char>(bytes[i + 1]);
            units.push_back(static_cast<char16_t>(little ? a | b << 8 : b | a << 8));
        }
        return Utf16ToUtf8(units);
    }
    // Older files in a Western single-byte encoding: declared so, or (a web page) simply
    // not UTF-8. A file declared so that is UTF-8 after all is read as UTF-8.
    if (!IsUtf8(bytes)) {
        const std::string encoding = DeclaredEncoding(bytes);
        const bool western = encoding == "iso-8859-1" || encoding == "latin1" ||
                             encoding == "windows-1252" || encoding == "cp1252" ||
                             encoding == "iso-8859-15" || encoding == "us-ascii" ||
                             (encoding.empty() && mode == MarkupMode::Html);
        if (western) return FromWindows1252(bytes);
    }
    return std::nullopt;
}

}  // namespace documents
