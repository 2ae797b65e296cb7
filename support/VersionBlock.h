#pragma once
// A version block in the published Windows binary format (VS_VERSIONINFO): a tree of
// nodes, each with a length, a value length, a type (0 binary, 1 text), a UTF-16 key
// and a value, children following the value on 32-bit boundaries. The root holds the
// fixed part, its children the StringFileInfo tables and the VarFileInfo Translation.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/Unicode.h"

struct TFixedFileInfo {
    static constexpr uint32_t kSignature = 0xFEEF04BD;
    static constexpr size_t kSize = 52;
    uint32_t dwSignature = 0;
    uint32_t dwStrucVersion = 0;
    uint32_t dwFileVersionMS = 0;
    uint32_t dwFileVersionLS = 0;
    uint32_t dwProductVersionMS = 0;
    uint32_t dwProductVersionLS = 0;
    uint32_t dwFileFlagsMask = 0;
    uint32_t dwFileFlags = 0;
    uint32_t dwFileOS = 0;
    uint32_t dwFileType = 0;
    uint32_t dwFileSubtype = 0;
    uint32_t dwFileDateMS = 0;
    uint32_t dwFileDateLS = 0;
};

class TVersionBlock {
  public:
    // The value found under a path: its bytes within the block, and whether it is text.
    struct Value {
        std::string_view bytes;
        bool text = false;
    };

    // Copies the bytes; a block whose root is not a well-formed "VS_VERSION_INFO" node
    // is not valid and answers no query.
    explicit TVersionBlock(std::string_view bytes);

    bool IsValid() const { return valid_; }

    // Looks a value up the way the platform's query does: "\" is the root's value,
    // otherwise the keys of nested nodes separated by backslashes (a leading backslash
    // is optional), each matched ignoring ASCII letter case. Nothing when a key is
    // missing or the node has no value.
    std::optional<Value> Query(std::string_view path) const;

    // The root's fixed part, when present with its signature.
    std::optional<TFixedFileInfo> FixedInfo() const;
    // The translation table: language in the low, code page in the high 16 bits.
    std::optional<std::vector<uint32_t>> Translations() const;
    // A text value converted to UTF-8, up to its terminating zero. Nothing when
    // missing or when it reports a length of zero.
    std::optional<std::string> Text(std::string_view path) const;

  private:
    struct Node {
        size_t start = 0;
        size_t end = 0;  // exclusive, within the parent
        uint16_t valueLength = 0;
        uint16_t type = 0;
        std::u16string key;
        size_t valueStart = 0;
        size_t valueSize = 0;
        size_t childrenStart = 0;
    };
    std::optional<Node> ParseNode(size_t start, size_t limit) const;
    uint16_t Word(size_t offset) const;

    std::string bytes_;
    std::optional<Node> root_;
    bool valid_ = false;
};
