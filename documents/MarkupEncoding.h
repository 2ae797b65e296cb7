#pragma once
// The encodings the markup walker reads besides UTF-8.
#include <optional>
#include <string>
#include <string_view>

#include "documents/Markup.h"

namespace documents {

// The bytes as UTF-8 when they are in another encoding: UTF-16 with its byte order mark,
// or a Western single-byte one (declared so, or a web page that is not UTF-8, read as
// Windows-1252). Nothing when they are to be read as they are.
std::optional<std::string> MarkupToUtf8(std::string_view bytes, MarkupMode mode);

}  // namespace documents
