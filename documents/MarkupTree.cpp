#include "documents/MarkupTree.h"

#include "documents/Importers.h"
#include "documents/Zip.h"

namespace documents {
namespace {

class TreeBuilder : public MarkupHandler {
  public:
    explicit TreeBuilder(MarkupNode& root) : path_{&root} {}

    void StartElement(std::string_view name, const MarkupAttributes& attributes) override {
        Count();
        MarkupNode& node = path_.back()->children.emplace_back();
        node.name = name;
        for (const auto& a : attributes) node.attributes.emplace_back(a.name, a.value);
        path_.push_back(&node);
    }
    void EndElement(std::string_view) override { path_.pop_back(); }
    void Text(std::string_view text) override {
        auto& children = path_.back()->children;
        if (!children.empty() && children.back().name.empty())
            children.back().text += text;
        else
            children.emplace_back().text = text;
    }

  private:
    // A tree takes a few hundred bytes a node: small parts with many nodes are refused
    // rather than let grow.
    void Count() {
        if (++nodes_ > kMostMarkupNodes)
            throw MarkupError("it holds more than " + std::to_string(kMostMarkupNodes) +
                              " elements and texts");
    }

    size_t nodes_ = 0;
    // Pointers stay valid: a node's children grow only while it is the last in the path.
    std::vector<MarkupNode*> path_;
};

void AppendText(const MarkupNode& node, std::string& out) {
    if (node.name.empty()) out += node.text;
    for (const auto& child : node.children) AppendText(child, out);
}

}  // namespace

std::string_view MarkupNode::Attribute(std::string_view localName) const {
    for (const auto& [name, value] : attributes)
        if (LocalName(name) == localName) return value;
    return {};
}

bool MarkupNode::HasAttribute(std::string_view localName) const {
    for (const auto& attribute : attributes)
        if (LocalName(attribute.first) == localName) return true;
    return false;
}

const MarkupNode* MarkupNode::Child(std::string_view localName) const {
    for (const auto& child : children)
        if (!child.name.empty() && LocalName(child.name) == localName) return &child;
    return nullptr;
}

std::string MarkupNode::AllText() const {
    std::string out;
    AppendText(*this, out);
    return out;
}

MarkupNode ReadMarkupTree(std::string_view bytes, MarkupMode mode) {
    MarkupNode root;
    TreeBuilder builder(root);
    WalkMarkup(bytes, mode, builder);
    return root;
}

MarkupNode ReadOptionalPart(const ZipArchive& zip, const Source& source, const std::string& entry) {
    const auto bytes = zip.ReadIfPresent(entry, kLargestPart);
    if (!bytes) return {};
    try {
        return ReadMarkupTree(*bytes, MarkupMode::Xml);
    } catch (const MarkupError& error) {
        source.Refuse("its part " + entry + " cannot be read: " + error.what());
    }
}

}  // namespace documents
