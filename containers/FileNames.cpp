#include "containers/FileNames.h"

#include <algorithm>
#include <cstring>

namespace containers {

std::string ChapterFileName(size_t number, size_t count, const std::string& title,
                            const std::string& ext) {
    constexpr size_t kMaxName = 255;
    std::string digits = std::to_string(number);
    const size_t width = std::max<size_t>(2, std::to_string(count).size());
    if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
    std::string name;
    for (const char c : title) {
        const auto byte = static_cast<unsigned char>(c);
        const bool blank = byte <= ' ' || byte == 0x7F;
        if (blank) {
            if (!name.empty() && name.back() != ' ') name += ' ';
        } else {
            name += std::strchr("<>:\"/\\|?*", c) ? '_' : c;
        }
    }
    const auto trim = [&] {
        while (!name.empty() && (name.back() == ' ' || name.back() == '.')) name.pop_back();
    };
    trim();
    if (name.empty()) name = "Chapter";
    const std::string suffix = "." + ext;
    const size_t room = kMaxName - digits.size() - 1 - suffix.size();
    if (name.size() > room) {
        size_t cut = room;
        // Back to the first byte of a character.
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
        name.resize(cut);
        trim();
        if (name.empty()) name = "Chapter";
    }
    return digits + " " + name + suffix;
}

}  // namespace containers
