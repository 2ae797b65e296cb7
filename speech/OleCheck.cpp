#include "speech/OleCheck.h"

#include <cstdio>

#include "support/Errors.h"

namespace {
struct CodeText {
    HRESULT code;
    const char* text;
};

// The texts the platform gives for the codes this program meets. They are written
// the platform's way, with a closing period; TrimSystemText takes it off again.
constexpr CodeText kTexts[] = {
    {E_NOTIMPL, "Not implemented."},
    {E_NOINTERFACE, "No such interface supported."},
    {E_POINTER, "Invalid pointer."},
    {E_FAIL, "Unspecified error."},
    {E_UNEXPECTED, "Catastrophic failure."},
    {E_OUTOFMEMORY, "Not enough memory resources are available to complete this operation."},
    {E_INVALIDARG, "The parameter is incorrect."},
    {E_ACCESSDENIED, "Access is denied."},
    {REGDB_E_CLASSNOTREG, "Class not registered."},
    {CO_E_NOTINITIALIZED, "CoInitialize has not been called."},
    {TTSERR_INVALIDCHAR, "The text holds a malformed control tag."},
    {TTSERR_NOSOUNDSERVER, "No sound server can be reached."},
    {AUDERR_CANNOTOPENFILE, "The audio file cannot be created or opened."},
    {AUDERR_WRITEFAILED, "The audio data cannot be written."},
};

constexpr size_t kMaxText = 255;

bool IsCut(unsigned char c) {
    return c <= ' ' || c == '.' || c == 127;
}
}  // namespace

std::string TrimSystemText(std::string text) {
    if (text.size() > kMaxText) text.resize(kMaxText);
    while (!text.empty() && IsCut(static_cast<unsigned char>(text.back()))) text.pop_back();
    return text;
}

std::string SysErrorMessage(HRESULT code) {
    for (const CodeText& entry : kTexts)
        if (entry.code == code) return TrimSystemText(entry.text);
    return {};
}

std::string OleErrorMessage(HRESULT code) {
    std::string text = SysErrorMessage(code);
    if (!text.empty()) return text;
    char buf[24];
    std::snprintf(buf, sizeof buf, "OLE error %.8X", static_cast<unsigned>(code));
    return buf;
}

void OleCheck(HRESULT code) {
    if (FAILED(code)) throw EOleSysError(OleErrorMessage(code), code);
}
