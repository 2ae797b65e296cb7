// A file with CR LF breaks loaded into a text box and saved again comes back byte for
// byte; a file with other breaks or with line or paragraph separators comes back in the
// form the box takes (TextBoxLineBreaks).
#include <unistd.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "FuzzMemo.h"
#include "support/LineBreaks.h"
#include "support/MemoStrings.h"

namespace {

const std::string& Dir() {
    static const std::string dir = [] {
        char pattern[] = "/tmp/fuzz-lines-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        if (!made) std::abort();
        return std::string(made);
    }();
    return dir;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    if (bytes.find('\0') != std::string::npos) bytes.resize(bytes.find('\0'));
    const std::string in = Dir() + "/in.txt", out = Dir() + "/out.txt";
    std::ofstream(in, std::ios::binary | std::ios::trunc) << bytes;
    TMemoStrings lines(&FuzzMemo());
    lines.LoadTextFile(in);
    lines.SaveTextFile(out);
    std::ifstream saved(out, std::ios::binary);
    const std::string back(std::istreambuf_iterator<char>(saved), {});
    if (back != TextBoxLineBreaks(bytes)) std::abort();
    return 0;
}
