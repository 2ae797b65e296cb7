#pragma once
// Line-break normalisation for text handed to a text box.
#include <string>
#include <string_view>

// Turns every CR LF pair, every lone CR and every lone LF into one CR LF pair, so an LF
// followed by CR becomes two breaks. All other bytes are copied as they are; a text
// without any break comes back unchanged.
std::string NormalizeLineBreaks(std::string_view text);

// The text as a text box takes it: every break normalised as above, and every line
// separator (U+2028) and paragraph separator (U+2029) a CR LF break as well, so that
// what the box shows on separate lines is what the engine gets and a file holds.
std::string TextBoxLineBreaks(std::string_view text);
