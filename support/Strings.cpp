#include "support/Strings.h"

#include "support/Errors.h"
#include "support/Unicode.h"

namespace {
bool IsAscii(const std::string& s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}
}  // namespace

bool SameTextLocale(const std::string& a, const std::string& b) {
    if (IsAscii(a) && IsAscii(b)) {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); ++i) {
            unsigned char x = a[i], y = b[i];
            if (x >= 'A' && x <= 'Z') x += 32;
            if (y >= 'A' && y <= 'Z') y += 32;
            if (x != y) return false;
        }
        return true;
    }
    return SameTextIgnoringCase(a, b);
}

int TStrings::AppendLine(const std::string&) {
    throw EInvalidOperation("Operation not supported by this line list");
}

void TStrings::ClearLines() {
    throw EInvalidOperation("Operation not supported by this line list");
}

void TStrings::SplitText(const std::string&) {
    throw EInvalidOperation("Operation not supported by this line list");
}

void TStrings::CopyLines(const TStrings& source) {
    TLinesUpdate outer(*this);
    ClearLines();
    TLinesUpdate inner(*this);
    const int count = source.LineCount();
    for (int i = 0; i < count; ++i) AppendLine(source.LineAt(i));
}

int TStrings::FindLine(const std::string& text) const {
    const int count = LineCount();
    for (int i = 0; i < count; ++i)
        if (SameTextLocale(LineAt(i), text)) return i;
    return -1;
}

std::string TStrings::JoinLines() const {
    std::string result;
    const int count = LineCount();
    for (int i = 0; i < count; ++i) {
        result += LineAt(i);
        result += "\r\n";
    }
    return result;
}

void TStrings::BeginLinesUpdate() {
    if (updateCount_++ == 0) SetUpdateState(true);
}

void TStrings::EndLinesUpdate() {
    if (--updateCount_ == 0) SetUpdateState(false);
}
