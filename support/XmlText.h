#pragma once
// Text written into XML (lexicons, read-along books).
#include <string>
#include <string_view>

// Appends text as XML character data or an attribute value: &, <, > and " escaped;
// characters XML 1.0 does not allow (controls other than tab, line feed and carriage
// return) are left out, so that the file stays readable.
void AppendXmlEscaped(std::string_view text, std::string& out);
