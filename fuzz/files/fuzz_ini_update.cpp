// Sets a value in arbitrary profile text and checks that it reads back, that a value
// in another section is left alone, and that every other line stays byte for byte:
// the change is one line's value, or new lines (the key, or a heading and the key)
// inserted in one place.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// Lines with their line ends.
std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        size_t lf = text.find('\n');
        size_t n = lf == std::string_view::npos ? text.size() : lf + 1;
        lines.push_back(text.substr(0, n));
        text.remove_prefix(n);
    }
    return lines;
}

std::string_view LineEnd(std::string_view line) {
    if (line.ends_with("\r\n")) return line.substr(line.size() - 2);
    if (line.ends_with("\n")) return line.substr(line.size() - 1);
    return {};
}

// True when `after` differs from `before` only as an update of one key may make it.
bool OnlyTheKeyChanged(std::string_view before, std::string_view after, std::string_view section,
                       std::string_view key, std::string_view value) {
    const std::vector<std::string_view> old = Lines(before);
    const std::vector<std::string_view> now = Lines(after);
    size_t head = 0;
    while (head < old.size() && head < now.size() && old[head] == now[head]) ++head;
    size_t tail = 0;
    while (tail < old.size() - head && tail < now.size() - head &&
           old[old.size() - 1 - tail] == now[now.size() - 1 - tail])
        ++tail;
    const std::vector<std::string_view> gone(old.begin() + long(head), old.end() - long(tail));
    std::vector<std::string_view> added(now.begin() + long(head), now.end() - long(tail));
    if (gone.empty() && added.empty()) return true;  // the value was there already

    // In place: the same line up to its "=" and with the same line end, the new value
    // just before that end.
    if (gone.size() == 1 && added.size() == 1) {
        const std::string_view was = gone[0], is = added[0];
        const size_t eq = was.find('=');
        const std::string_view end = LineEnd(was);
        return eq != std::string_view::npos && is.substr(0, eq + 1) == was.substr(0, eq + 1) &&
               LineEnd(is) == end &&
               is.substr(0, is.size() - end.size()).ends_with(std::string(value));
    }
    // Inserted lines; a last line without a line end gets one first.
    if (gone.size() == 1) {
        if (!LineEnd(gone[0]).empty() || added.empty() ||
            added.front() != std::string(gone[0]) + "\r\n")
            return false;
        added.erase(added.begin());
    } else if (!gone.empty()) {
        return false;
    }
    const std::string keyLine = std::string(key) + "=" + std::string(value) + "\r\n";
    const std::string heading = "[" + std::string(section) + "]\r\n";
    return (added.size() == 1 && added[0] == keyLine) ||
           (added.size() == 2 && added[0] == heading && added[1] == keyLine);
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
    if (!OnlyTheKeyChanged(text, updated, section, key, value)) __builtin_trap();
    // Setting the same value again changes nothing.
    if (SetProfileValue(updated, section, key, value) != updated) __builtin_trap();
    return 0;
}
