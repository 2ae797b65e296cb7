#pragma once
// Line-break normalisation for text handed to a text box.
#include <string>
#include <string_view>

// Turns every CR LF pair, every lone CR and every lone LF into one CR LF pair, so an LF
// followed by CR becomes two breaks. All other bytes are copied as they are; a text
// without any break comes back unchanged.
std::string NormalizeLineBreaks(std::string_view text);
