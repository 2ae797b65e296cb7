// ODT: the text of content.xml, with text:h headings as chapters at their outline level,
// numbered as the outline style numbers them; notes, annotations, tracked changes and
// generated tables of contents are not read.
#include <algorithm>
#include <array>

#include "documents/Importers.h"
#include "documents/ListNumbers.h"
#include "documents/MarkupTree.h"
#include "documents/TextBuilder.h"
#include "documents/Zip.h"

namespace documents {
namespace {

constexpr std::string_view kLeftOut[] = {"note",
                                         "annotation",
                                         "tracked-changes",
                                         "table-of-content",
                                         "illustration-index",
                                         "table-index",
                                         "object-index",
                                         "user-index",
                                         "sequence-decls",
                                         "variable-decls",
                                         "user-field-decls",
                                         "forms",
                                         "scripts",
                                         "font-face-decls",
                                         "automatic-styles",
                                         "soft-page-break"};

constexpr int kOutlineLevels = 10;

struct OutlineLevel {
    std::string format, prefix, suffix;
    int displayLevels = 1;
    int start = 1;
};
using Outline = std::array<OutlineLevel, kOutlineLevels>;

int IntOr(std::string_view text, int fallback) {
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9' || v > 100000) return fallback;
        v = v * 10 + (c - '0');
    }
    return text.empty() ? fallback : v;
}

class OdtText : public MarkupHandler {
  public:
    OdtText(TextBuilder& builder, const Outline& outline) : builder_(builder), outline_(outline) {}

    void StartElement(std::string_view name, const MarkupAttributes& attributes) override {
        if (skipDepth_ > 0) {
            ++skipDepth_;
            return;
        }
        const std::string_view local = LocalName(name);
        const bool graphicsText =
            (local == "title" || local == "desc") && name.substr(0, 4) == "svg:";
        if (graphicsText ||
            std::find(std::begin(kLeftOut), std::end(kLeftOut), local) != std::end(kLeftOut)) {
            skipDepth_ = 1;
            return;
        }
        if (local == "p" || local == "h") {
            Paragraph& p = paragraphs_.emplace_back();
            if (local == "h") {
                p.level = std::clamp(IntOr(AttributeValue(attributes, "outline-level"), 1), 1,
                                     kOutlineLevels);
                p.listHeader = AttributeValue(attributes, "is-list-header") == "true";
                if (AttributeValue(attributes, "restart-numbering") == "true")
                    restartAt_ = IntOr(AttributeValue(attributes, "start-value"), 1);
            }
        } else if (local == "number" && !paragraphs_.empty()) {
            inNumber_ = true;
            paragraphs_.back().hasNumber = true;
        } else if (local == "s") {
            Write(std::string(
                static_cast<size_t>(std::clamp(IntOr(AttributeValue(attributes, "c"), 1), 1, 8)),
                ' '));
        } else if (local == "tab" || local == "line-break") {
            Write(" ");
        }
    }

    void EndElement(std::string_view name) override {
        if (skipDepth_ > 0) {
            --skipDepth_;
            return;
        }
        const std::string_view local = LocalName(name);
        if ((local == "p" || local == "h") && !paragraphs_.empty()) {
            Paragraph p = std::move(paragraphs_.back());
            paragraphs_.pop_back();
            Emit(p);
        } else if (local == "number") {
            inNumber_ = false;
        }
    }

    void Text(std::string_view text) override {
        if (skipDepth_ > 0 || paragraphs_.empty()) return;
        if (inNumber_)
            paragraphs_.back().number += text;
        else
            Write(text);
    }

  private:
    struct Paragraph {
        int level = 0;  // 0 for text:p
        bool listHeader = false;
        bool hasNumber = false;
        std::string number, text;
    };

    void Write(std::string_view text) {
        if (!paragraphs_.empty() && !inNumber_) paragraphs_.back().text += text;
    }

    // The number the outline style shows before a heading of this level, counting it.
    std::string OutlineNumber(int level) {
        const size_t i = static_cast<size_t>(level - 1);
        if (restartAt_ >= 0) {
            counters_[i] = restartAt_ - 1;
            restartAt_ = -1;
        }
        counters_[i] = counters_[i] == 0 ? outline_[i].start : counters_[i] + 1;
        for (size_t deeper = i + 1; deeper < counters_.size(); ++deeper) counters_[deeper] = 0;
        const OutlineLevel& style = outline_[i];
        if (style.format.empty()) return {};
        std::string out = style.prefix;
        const int shown = std::clamp(style.displayLevels, 1, level);
        for (int l = level - shown; l < level; ++l) {
            const size_t k = static_cast<size_t>(l);
            if (l > level - shown) out += '.';
            out += FormatListNumber(counters_[k] ? counters_[k] : outline_[k].start,
                                    outline_[k].format.empty() ? "1" : outline_[k].format);
        }
        return out + style.suffix;
    }

    void Emit(const Paragraph& p) {
        std::string line = CleanLine(p.text);
        if (p.level > 0 && !p.listHeader) {
            // A number the file wrote beside the heading wins over one computed here.
            std::string number = CleanLine(OutlineNumber(p.level));
            if (p.hasNumber) number = CleanLine(p.number);
            if (!line.empty() && !number.empty()) line = number + " " + line;
        }
        if (line.empty()) return;
        if (p.level > 0) builder_.StartChapter(line, p.level);
        builder_.Append(line);
        builder_.EndParagraph();
    }

    TextBuilder& builder_;
    const Outline& outline_;
    std::vector<Paragraph> paragraphs_;
    std::array<int, kOutlineLevels> counters_{};
    int restartAt_ = -1;
    size_t skipDepth_ = 0;
    bool inNumber_ = false;
};

Outline ReadOutline(const MarkupNode& styles) {
    Outline outline;
    styles.ForEach("outline-style", [&](const MarkupNode& node) {
        node.ForEach("outline-level-style", [&](const MarkupNode& level) {
            const int l = IntOr(level.Attribute("level"), 0);
            if (l < 1 || l > kOutlineLevels) return;
            OutlineLevel& o = outline[static_cast<size_t>(l - 1)];
            o.format = level.Attribute("num-format");
            o.prefix = level.Attribute("num-prefix");
            o.suffix = level.Attribute("num-suffix");
            o.displayLevels = IntOr(level.Attribute("display-levels"), 1);
            o.start = IntOr(level.Attribute("start-value"), 1);
        });
    });
    return outline;
}

}  // namespace

Document ImportOdt(const Source& source) {
    const ZipArchive zip(source);
    const Outline outline = ReadOutline(ReadOptionalPart(zip, source, "styles.xml"));
    source.Progress(0.1);
    const std::string content = zip.Read("content.xml", "its content part", kLargestContent);
    TextBuilder builder;
    OdtText text(builder, outline);
    try {
        WalkMarkup(content, MarkupMode::Xml, text);
    } catch (const MarkupError& error) {
        source.Refuse(std::string("its content part content.xml cannot be read: ") + error.what());
    }
    source.Progress(0.9);

    Metadata metadata;
    const MarkupNode meta = ReadOptionalPart(zip, source, "meta.xml");
    meta.ForEach("title", [&](const MarkupNode& n) { metadata.title = n.AllText(); });
    meta.ForEach("initial-creator",
                 [&](const MarkupNode& n) { metadata.authors.push_back(n.AllText()); });
    meta.ForEach("creator", [&](const MarkupNode& n) {
        const std::string name = n.AllText();
        if (std::find(metadata.authors.begin(), metadata.authors.end(), name) ==
            metadata.authors.end())
            metadata.authors.push_back(name);
    });
    meta.ForEach("language", [&](const MarkupNode& n) { metadata.language = n.AllText(); });
    return builder.Finish(std::move(metadata));
}

}  // namespace documents
