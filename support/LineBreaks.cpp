#include "support/LineBreaks.h"

std::string NormalizeLineBreaks(std::string_view text) {
    // Double-byte code pages would need lead bytes copied with their trail byte so that
    // a trail byte is never taken for a break. Text is UTF-8 here, where every byte of a
    // multi-byte sequence is >= 0x80 and can never be CR or LF, so no such rule applies.
    const char* p = text.data();
    const size_t n = text.size();
    size_t breaks = 0;
    for (size_t i = 0; i < n; ++i)
        if (p[i] == '\r' || p[i] == '\n') ++breaks;
    if (breaks == 0) return std::string(text);

    std::string out;
    out.reserve(n + breaks);  // at most one added byte per break byte
    size_t i = 0;
    while (i < n) {
        // Copy the run up to the next break in one go; this is the hot path for long texts.
        size_t j = i;
        while (j < n && p[j] != '\r' && p[j] != '\n') ++j;
        out.append(p + i, j - i);
        if (j == n) break;
        out += "\r\n";
        i = (p[j] == '\r' && j + 1 < n && p[j + 1] == '\n') ? j + 2 : j + 1;
    }
    return out;
}

std::string TextBoxLineBreaks(std::string_view text) {
    // Both separators are E2 80 A8 / E2 80 A9 in UTF-8; E2 is never a trail byte, so
    // these three bytes are always the separator, whatever comes before them.
    if (text.find("\xE2\x80") == std::string_view::npos) return NormalizeLineBreaks(text);
    std::string breaks;
    breaks.reserve(text.size());
    size_t i = 0;
    for (size_t at = text.find("\xE2\x80"); at != std::string_view::npos;
         at = text.find("\xE2\x80", at)) {
        if (at + 2 < text.size() && (text[at + 2] == '\xA8' || text[at + 2] == '\xA9')) {
            breaks.append(text.substr(i, at - i));
            breaks += "\r\n";
            i = at + 3;
            at = i;
        } else {
            at += 2;
        }
    }
    breaks.append(text.substr(i));
    return NormalizeLineBreaks(breaks);
}
