#include "app/SpokenTextMap.h"

#include <algorithm>

#include "support/Strings.h"
#include "support/qt/TextCodec.h"

namespace {
bool IsAscii(const std::string& s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// How far ahead a line is looked for when the box and the lines disagree (a line cut
// short by the line list, a character the box stores differently).
constexpr int kResyncWindow = 16384;
}  // namespace

void TSpokenTextMap::Clear() {
    lines_.clear();
    leftOut_.clear();
    text_.clear();
    byteLength_ = 0;
}

void TSpokenTextMap::Append(const std::string& bytes, int charStart, int charCount, bool ascii) {
    Line line{byteLength_, static_cast<uint32_t>(bytes.size()), charStart, charCount, ascii, 0};
    if (!ascii) {
        line.textStart = static_cast<uint32_t>(text_.size());
        text_ += bytes;
    }
    lines_.push_back(line);
    byteLength_ += bytes.size() + 2;
}

void TSpokenTextMap::Build(const TStrings& spokenLines, const QString& boxText,
                           std::vector<std::pair<int, int>> leftOut) {
    Clear();
    int removed = 0;
    for (auto& [start, end] : leftOut) {
        const int length = end - start;
        start -= removed;
        end = length;
        removed += length;
    }
    leftOut_ = std::move(leftOut);
    const int count = spokenLines.LineCount();
    lines_.reserve(static_cast<size_t>(count));
    const QStringView box(boxText);
    int pos = 0;
    for (int i = 0; i < count; ++i) {
        const std::string bytes = spokenLines.LineAt(i);
        const bool ascii = IsAscii(bytes);
        const QString chars =
            ascii ? QString::fromLatin1(bytes.data(), qsizetype(bytes.size())) : DecodeText(bytes);
        const int n = int(chars.size());
        if (box.mid(pos, n) != chars && n > 0) {
            const QStringView window = box.mid(pos, kResyncWindow + n);
            const qsizetype found = window.indexOf(chars);
            if (found >= 0) pos += int(found);
        }
        Append(bytes, pos, n, ascii);
        pos = std::min(pos + n, int(box.size()));
        // A real break of the box follows the line; at a wrap point there is none.
        if (pos < box.size() && box[pos] == u'\n') ++pos;
    }
}

void TSpokenTextMap::BuildStandalone(const TStrings& spokenLines) {
    Clear();
    int pos = 0;
    for (int i = 0; i < spokenLines.LineCount(); ++i) {
        const std::string bytes = spokenLines.LineAt(i);
        const bool ascii = IsAscii(bytes);
        const int n = ascii ? int(bytes.size()) : int(DecodeText(bytes).size());
        Append(bytes, pos, n, ascii);
        pos += n + 2;
    }
}

int TSpokenTextMap::CharPosition(uint32_t byteOffset) const {
    const int position = SpokenPosition(byteOffset);
    if (position < 0) return position;
    // Past every part left out before it, in the whole box.
    int shift = 0;
    for (const auto& [start, length] : leftOut_)
        if (position >= start) shift += length;
    return position + shift;
}

int TSpokenTextMap::SpokenPosition(uint32_t byteOffset) const {
    if (byteOffset >= byteLength_ || lines_.empty()) return -1;
    auto it = std::upper_bound(lines_.begin(), lines_.end(), uint64_t(byteOffset),
                               [](uint64_t off, const Line& l) { return off < l.byteStart; });
    const Line& line = *(it - 1);
    const uint64_t within = byteOffset - line.byteStart;
    if (within >= line.byteCount) return line.charStart + line.charCount;
    if (line.ascii) return line.charStart + int(within);
    // Count the characters of the bytes before the offset; a partial character at the
    // cut decodes as escaped bytes, so step back to the start of that character.
    uint64_t cut = within;
    while (cut > 0 && (static_cast<unsigned char>(text_[line.textStart + cut]) & 0xC0) == 0x80)
        --cut;
    return line.charStart +
           int(DecodeText(std::string_view(text_).substr(line.textStart, cut)).size());
}
