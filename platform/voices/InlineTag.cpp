#include "platform/voices/InlineTag.h"

#include <cctype>

namespace {
bool KeywordIs(std::string_view text, std::string_view keyword) {
    if (text.size() != keyword.size()) return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != keyword[i]) return false;
    return true;
}
}  // namespace

std::optional<InlineTag> ParseInlineTag(std::string_view tag) {
    // Backslash, three-letter keyword, '=', at least one digit, backslash.
    if (tag.size() < 7 || tag.front() != '\\' || tag.back() != '\\' || tag[4] != '=')
        return std::nullopt;
    const std::string_view keyword = tag.substr(1, 3);
    InlineTag result{InlineTag::Kind::Pitch, 0};
    if (KeywordIs(keyword, "pit")) {
        result.kind = InlineTag::Kind::Pitch;
    } else if (KeywordIs(keyword, "spd")) {
        result.kind = InlineTag::Kind::Speed;
    } else if (KeywordIs(keyword, "vol")) {
        result.kind = InlineTag::Kind::Volume;
    } else {
        return std::nullopt;
    }
    const std::string_view digits = tag.substr(5, tag.size() - 6);
    uint64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
        // No 32-bit setting is written like this: a malformed tag, not a large one.
        if (value > UINT32_MAX) return std::nullopt;
    }
    result.value = static_cast<uint32_t>(value);
    return result;
}
