// Sets a value in arbitrary profile text and checks that it reads back and that a
// value in another section is left alone.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "support/ProfileText.h"

namespace {

// Names and values from a plain alphabet, so that they always read back as written.
std::string Plain(std::string_view bytes, size_t n) {
    static const char kAlphabet[] = "abcXYZ09 _-.";
    std::string s;
    for (size_t i = 0; i < n && i < bytes.size(); ++i)
        s += kAlphabet[static_cast<unsigned char>(bytes[i]) % (sizeof kAlphabet - 1)];
    while (!s.empty() && s.back() == ' ') s.pop_back();
    while (!s.empty() && s.front() == ' ') s.erase(0, 1);
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 12) return 0;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string section = Plain(input.substr(0, 4), 4);
    const std::string key = "k" + Plain(input.substr(4, 4), 4);
    const std::string value = Plain(input.substr(8, 4), 4);
    const std::string_view text = input.substr(12);

    const std::optional<std::string> probeBefore = FindProfileValue(text, "Probe=", "p");
    const std::string updated = SetProfileValue(text, section, key, value);
    const std::optional<std::string> read = FindProfileValue(updated, section, key);
    if (!read || *read != value) __builtin_trap();
    if (FindProfileValue(updated, "Probe=", "p") != probeBefore) __builtin_trap();
    // Setting the same value again changes nothing.
    if (SetProfileValue(updated, section, key, value) != updated) __builtin_trap();
    return 0;
}
