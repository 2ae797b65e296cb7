#pragma once
#include <functional>
#include <string>
#include <string_view>

#include "speech/speech.h"

// The registry form: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case hex.
HRESULT StringFromCLSID(const CLSID& id, std::string& text);
std::string GuidToString(const GUID& id);
bool GuidFromString(std::string_view text, GUID& id);
// Stable name-based identifier: the same name gives the same GUID on every machine.
GUID GuidFromName(std::string_view name);

// Tests replace the conversion to make it fail; an empty function restores it.
void SetStringFromCLSIDHook(std::function<HRESULT(const CLSID&, std::string&)> hook);
