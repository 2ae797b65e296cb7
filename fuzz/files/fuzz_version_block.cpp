// Parses arbitrary bytes as a version block and, through a file, as an executable
// that may carry one.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "support/VersionBlock.h"
#include "support/VersionSource.h"

namespace {

void Exercise(const TVersionBlock& block) {
    if (!block.IsValid()) return;
    block.FixedInfo();
    if (const auto table = block.Translations()) {
        char prefix[40];
        std::snprintf(prefix, sizeof prefix, "StringFileInfo\\%.4X%.4X\\", table->front() & 0xFFFF,
                      table->front() >> 16);
        block.Text(std::string(prefix) + "ProductName");
    }
    block.Text("StringFileInfo\\040904E4\\ProductVersion");
    block.Query("\\");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    Exercise(TVersionBlock(bytes));
    // Behind a well-formed root key, the rest of the input is the fixed part and the
    // child nodes, which the fuzzer would hardly reach from scratch.
    if (size >= 4) {
        std::string rooted(bytes.substr(0, 4));
        rooted += std::string(2, '\0');
        for (char c : std::string_view("VS_VERSION_INFO")) rooted += std::string{c, '\0'};
        rooted += std::string(4, '\0');
        rooted += bytes.substr(4);
        Exercise(TVersionBlock(rooted));
    }

    // Executable headers: the same bytes as a file, with a known header in front of
    // a third of the inputs so that the ELF and PE readers get deep.
    static const std::string path =
        (std::filesystem::temp_directory_path() / "fuzz_version_block.").string() +
        std::to_string(::getpid());
    std::string file(bytes);
    if (size > 0 && data[0] % 3 == 1)
        file.replace(0, 4,
                     "\x7f"
                     "ELF");
    if (size > 0 && data[0] % 3 == 2) file.replace(0, 2, "MZ");
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(file.data(), 1, file.size(), f);
        std::fclose(f);
        std::string block;
        if (ReadVersionBlock(path, block) == TBlockSearch::kFound) Exercise(TVersionBlock(block));
        std::remove(path.c_str());
    }
    return 0;
}
