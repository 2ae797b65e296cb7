#include "support/VersionBlock.h"

#include <cstring>

namespace {

size_t Align4(size_t n) {
    return (n + 3) & ~size_t{3};
}

char16_t FoldAscii(char16_t c) {
    return c >= u'a' && c <= u'z' ? c - 32 : c;
}

bool SameKey(std::u16string_view key, std::string_view part) {
    if (key.size() != part.size()) return false;
    for (size_t i = 0; i < key.size(); ++i) {
        const auto c = static_cast<unsigned char>(part[i]);
        if (FoldAscii(key[i]) != FoldAscii(static_cast<char16_t>(c))) return false;
    }
    return true;
}

}  // namespace

TVersionBlock::TVersionBlock(std::string_view bytes) : bytes_(bytes) {
    root_ = ParseNode(0, bytes_.size());
    valid_ = root_ && root_->key == u"VS_VERSION_INFO";
}

// The block is little-endian whatever the host.
uint16_t TVersionBlock::Word(size_t offset) const {
    return static_cast<uint16_t>(static_cast<unsigned char>(bytes_[offset]) |
                                 static_cast<unsigned char>(bytes_[offset + 1]) << 8);
}

std::optional<TVersionBlock::Node> TVersionBlock::ParseNode(size_t start, size_t limit) const {
    if (start + 6 > limit) return std::nullopt;
    const uint16_t length = Word(start);
    if (length < 6) return std::nullopt;
    Node node;
    node.start = start;
    // Some tools count a node's trailing padding, some not; stay within the parent.
    node.end = std::min(limit, start + length);
    node.valueLength = Word(start + 2);
    node.type = Word(start + 4);
    size_t pos = start + 6;
    for (;; pos += 2) {
        if (pos + 2 > node.end) return std::nullopt;  // key without its terminating zero
        const char16_t c = Word(pos);
        if (c == 0) break;
        node.key += c;
    }
    node.valueStart = std::min(Align4(pos + 2), node.end);
    // Text lengths count UTF-16 units, binary ones bytes.
    const size_t wanted = node.type == 1 ? size_t{node.valueLength} * 2 : node.valueLength;
    node.valueSize = std::min(wanted, node.end - node.valueStart);
    node.childrenStart = std::min(Align4(node.valueStart + node.valueSize), node.end);
    return node;
}

std::optional<TVersionBlock::Value> TVersionBlock::Query(std::string_view path) const {
    if (!valid_) return std::nullopt;
    Node node = *root_;
    while (!path.empty() && path.front() == '\\') path.remove_prefix(1);
    while (!path.empty()) {
        const size_t sep = path.find('\\');
        const std::string_view part = path.substr(0, sep);
        path = sep == std::string_view::npos ? std::string_view() : path.substr(sep + 1);
        if (part.empty()) continue;
        std::optional<Node> found;
        for (size_t child = node.childrenStart; child + 6 <= node.end;) {
            std::optional<Node> next = ParseNode(child, node.end);
            if (!next) break;
            if (SameKey(next->key, part)) {
                found = next;
                break;
            }
            child = Align4(next->end);
            if (child <= next->start) break;
        }
        if (!found) return std::nullopt;
        node = *found;
    }
    if (node.valueSize == 0 && node.valueLength == 0) return std::nullopt;
    return Value{std::string_view(bytes_).substr(node.valueStart, node.valueSize), node.type == 1};
}

std::optional<TFixedFileInfo> TVersionBlock::FixedInfo() const {
    const std::optional<Value> v = Query("\\");
    if (!v || v->bytes.size() < TFixedFileInfo::kSize) return std::nullopt;
    uint32_t words[13];
    for (size_t i = 0; i < 13; ++i) {
        const auto* p = reinterpret_cast<const unsigned char*>(v->bytes.data()) + i * 4;
        words[i] = p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
    }
    if (words[0] != TFixedFileInfo::kSignature) return std::nullopt;
    TFixedFileInfo info;
    static_assert(sizeof(TFixedFileInfo) == TFixedFileInfo::kSize);
    std::memcpy(&info, words, sizeof info);
    return info;
}

std::optional<std::vector<uint32_t>> TVersionBlock::Translations() const {
    const std::optional<Value> v = Query("\\VarFileInfo\\Translation");
    if (!v || v->bytes.size() < 4) return std::nullopt;
    std::vector<uint32_t> table;
    const auto* p = reinterpret_cast<const unsigned char*>(v->bytes.data());
    for (size_t i = 0; i + 4 <= v->bytes.size(); i += 4) {
        // Each entry is two words: language, then code page.
        const uint32_t language = p[i] | p[i + 1] << 8;
        const uint32_t codePage = p[i + 2] | p[i + 3] << 8;
        table.push_back(language | codePage << 16);
    }
    return table;
}

std::optional<std::string> TVersionBlock::Text(std::string_view path) const {
    const std::optional<Value> v = Query(path);
    if (!v || v->bytes.empty()) return std::nullopt;
    std::u16string units;
    for (size_t i = 0; i + 2 <= v->bytes.size(); i += 2) {
        const auto* p = reinterpret_cast<const unsigned char*>(v->bytes.data()) + i;
        const char16_t c = static_cast<char16_t>(p[0] | p[1] << 8);
        if (c == 0) break;
        units += c;
    }
    return Utf16ToUtf8(units);
}
