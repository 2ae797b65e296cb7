// Any bytes handed to a text box come back as their normalised form, cut at the first
// zero byte, and normalising is idempotent.
#include <QApplication>
#include <QPlainTextEdit>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzMemo.h"
#include "support/LineBreaks.h"
#include "support/qt/MemoStrings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string normalized = TextBoxLineBreaks(input);
    if (TextBoxLineBreaks(normalized) != normalized) std::abort();
    for (size_t i = 0; i < normalized.size(); ++i) {
        const bool cr = normalized[i] == '\r', lf = normalized[i] == '\n';
        if (cr && (i + 1 == normalized.size() || normalized[i + 1] != '\n')) std::abort();
        if (lf && (i == 0 || normalized[i - 1] != '\r')) std::abort();
    }
    TMemoStrings lines(&FuzzMemo());
    lines.SplitText(input);
    if (lines.JoinLines() != normalized.substr(0, normalized.find('\0'))) std::abort();
    return 0;
}
