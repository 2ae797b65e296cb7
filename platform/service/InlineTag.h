#pragma once
// Inline control tags that an engine accepts through Inject: "\Pit=N\", "\Spd=N\"
// and "\Vol=N\", keyword letter case ignored, N an unsigned decimal number. A number
// too large for 32 bits saturates at 4294967295; the engine clamps it further.
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
