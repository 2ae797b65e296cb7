#pragma once
// Inline control tags that an engine accepts through Inject: "\Pit=N\", "\Spd=N\"
// and "\Vol=N\", keyword letter case ignored, N an unsigned decimal number that fits
// in 32 bits (the engine clamps it further). A larger number makes the tag malformed:
// the settings are 32-bit values, so such a tag was not written for them.
#include <cstdint>
#include <optional>
#include <string_view>

struct InlineTag {
    enum class Kind { Pitch, Speed, Volume };
    Kind kind;
    uint32_t value;
};

// The tag's meaning, or nothing when the text is not exactly one well-formed tag.
std::optional<InlineTag> ParseInlineTag(std::string_view tag);
