// A file with CR LF breaks loaded into a text box and saved again comes back byte for
// byte; a file with other breaks or with line or paragraph separators comes back in the
// form the box takes (TextBoxLineBreaks).
#include <unistd.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "FuzzMemo.h"
#include "support/LineBreaks.h"
#include "support/qt/MemoStrings.h"

namespace {

namespace fs = std::filesystem;

// A folder of one input's files, removed with them when the input is done. One per
// input rather than per process: a process ends by exit() or a signal, and nothing
// after its last input would remove it.
class ScratchFolder {
  public:
    ScratchFolder() {
        std::string pattern = (fs::temp_directory_path() / "fuzz-lines-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    std::string File(const char* name) const { return (path_ / name).string(); }

  private:
    fs::path path_;
};

// What the text box holds after loading the bytes from a file and saving it again.
std::string RoundTrip(const std::string& bytes) {
    const ScratchFolder dir;
    const std::string in = dir.File("in.txt"), out = dir.File("out.txt");
    std::ofstream(in, std::ios::binary | std::ios::trunc) << bytes;
    TMemoStrings lines(&FuzzMemo());
    lines.LoadTextFile(in);
    lines.SaveTextFile(out);
    std::ifstream saved(out, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(saved), {});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    if (bytes.find('\0') != std::string::npos) bytes.resize(bytes.find('\0'));
    if (RoundTrip(bytes) != TextBoxLineBreaks(bytes)) std::abort();
    return 0;
}
