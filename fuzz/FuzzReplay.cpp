// Runs a fuzz target over saved inputs without the fuzzing engine: every file named,
// and every file in every folder named, goes through LLVMFuzzerTestOneInput once, in
// name order. A target reports a fault by aborting, so a clean exit means every input
// passed. The inputs run with TMPDIR pointing at a fresh folder of this run, which
// must be empty again afterwards: a target may not leave temporary files behind.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

namespace {

// The files a command-line argument stands for; false when it names nothing readable.
bool Collect(const fs::path& arg, std::vector<fs::path>& files) {
    std::error_code ec;
    if (fs::is_regular_file(arg, ec)) {
        files.push_back(arg);
        return true;
    }
    if (!fs::is_directory(arg, ec)) return false;
    std::vector<fs::path> found;
    for (const fs::directory_entry& entry : fs::directory_iterator(arg, ec))
        if (entry.is_regular_file(ec)) found.push_back(entry.path());
    if (ec) return false;
    std::sort(found.begin(), found.end());
    files.insert(files.end(), found.begin(), found.end());
    return true;
}

// A fresh private folder under the system's temporary folder.
fs::path MakeScratch(const char* pattern_name) {
    std::string pattern = (fs::temp_directory_path() / pattern_name).string();
    if (!::mkdtemp(pattern.data())) {
        std::perror("cannot create a temporary folder");
        std::exit(2);
    }
    return pattern;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE-OR-FOLDER...\n", argv[0]);
        return 2;
    }
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        if (!Collect(argv[i], files)) {
            std::fprintf(stderr, "%s: no such file or folder\n", argv[i]);
            return 2;
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "no inputs found\n");
        return 2;
    }
    std::vector<std::pair<fs::path, std::string>> inputs;
    for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "%s: cannot be read\n", file.c_str());
            return 2;
        }
        inputs.emplace_back(file, std::string(std::istreambuf_iterator<char>(in), {}));
    }

    // Without a session's runtime folder Qt makes one in the temporary folder; it gets
    // its own, so that what is left in the temporary folder is the target's.
    std::error_code ec;
    fs::path runtime;
    if (!std::getenv("XDG_RUNTIME_DIR")) {
        runtime = MakeScratch("fuzz-runtime-XXXXXX");
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
    const fs::path scratch = MakeScratch("fuzz-replay-XXXXXX");
    ::setenv("TMPDIR", scratch.c_str(), 1);
    for (const auto& [file, bytes] : inputs) {
        // Named before it runs, so that an input that aborts the target is the last
        // name printed.
        std::fprintf(stderr, "%s (%zu bytes)\n", file.c_str(), bytes.size());
        std::fflush(stderr);
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }

    std::vector<std::string> left;
    for (const fs::directory_entry& entry : fs::directory_iterator(scratch, ec))
        left.push_back(entry.path().filename().string());
    fs::remove_all(scratch, ec);
    if (!runtime.empty()) fs::remove_all(runtime, ec);
    if (!left.empty()) {
        for (const std::string& name : left)
            std::fprintf(stderr, "left behind in the temporary folder: %s\n", name.c_str());
        return 1;
    }
    std::printf("%zu inputs passed\n", inputs.size());
    return 0;
}
