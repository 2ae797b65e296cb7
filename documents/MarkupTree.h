#pragma once
// Small XML files (a package document, a table of contents, styles) read into a tree.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "documents/Markup.h"

namespace documents {

struct MarkupNode {
    std::string name;  // as written; empty for a piece of text
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string text;  // a text node's text
    std::vector<MarkupNode> children;

    // The value of the attribute with this local name (any prefix), or "".
    std::string_view Attribute(std::string_view localName) const;
    bool HasAttribute(std::string_view localName) const;
    // The first child element with this local name, or nullptr.
    const MarkupNode* Child(std::string_view localName) const;
    // All text within, in order.
    std::string AllText() const;
    // Calls f for every element within (not this one) with this local name, in document
    // order, without looking inside those it finds.
    template <class F>
    void ForEach(std::string_view localName, F&& f) const {
        for (const auto& child : children) {
            if (child.name.empty()) continue;
            if (LocalName(child.name) == localName)
                f(child);
            else
                child.ForEach(localName, f);
        }
    }
};

inline constexpr size_t kMostMarkupNodes = 500000;

class ZipArchive;
struct Source;
// A part of a container (a style sheet, metadata) read as a tree; an absent part is an
// empty tree, and one that is not well-formed refuses the document, naming the part.
MarkupNode ReadOptionalPart(const ZipArchive& zip, const Source& source, const std::string& entry);

// The document as a tree whose children are its top elements; throws MarkupError, also
// past kMostMarkupNodes nodes.
MarkupNode ReadMarkupTree(std::string_view bytes, MarkupMode mode);

}  // namespace documents
