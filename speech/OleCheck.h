#pragma once
// The one rule for platform result codes: a code with its top bit set is a failure
// and raises EOleSysError carrying the code and the system's text for it.
#include <string>

#include "speech/speech.h"

// Raises EOleSysError when code is a failure code; success codes (S_FALSE, the
// end-of-list code of Next, included) pass.
void OleCheck(HRESULT code);

// The system's text for a code, at most 255 bytes, with trailing blanks, control
// characters and periods cut; empty when the system knows no text for it.
std::string SysErrorMessage(HRESULT code);

// The message of the EOleSysError raised for code: the system's text, or
// "OLE error XXXXXXXX" (8 upper-case hexadecimal digits) when there is none.
std::string OleErrorMessage(HRESULT code);

// Cuts text to 255 bytes, then trailing blanks, control characters and periods.
std::string TrimSystemText(std::string text);
