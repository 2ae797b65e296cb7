// Reads values out of arbitrary profile text; the first two lines of the input name
// the section and the key, the rest is the file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "support/ProfileText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    auto take = [&input] {
        const size_t lf = input.find('\n');
        std::string_view line = input.substr(0, lf);
        input = lf == std::string_view::npos ? std::string_view() : input.substr(lf + 1);
        return line;
    };
    const std::string_view section = take();
    const std::string_view key = take();
    const auto value = FindProfileValue(input, section, key);
    if (value && value->size() > input.size()) __builtin_trap();
    FindProfileValue(input, "Voice", "Engine");
    FindProfileValue(input, "", "");
    return 0;
}
