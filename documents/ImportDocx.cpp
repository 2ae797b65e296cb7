// DOCX: the paragraphs of word/document.xml, with headings (by style, outline level and
// numbering) as chapters; deleted runs, hidden runs, fields' instructions, note
// references and printed tables of contents are not read.
#include <algorithm>

#include "documents/DocxStyles.h"
#include "documents/Importers.h"
#include "documents/TextBuilder.h"
#include "documents/Zip.h"

namespace documents {
namespace {

// Elements whose content is never text of the document.
constexpr std::string_view kLeftOut[] = {"del",
                                         "moveFrom",
                                         "delText",
                                         "footnoteReference",
                                         "endnoteReference",
                                         "commentReference",
                                         "pPrChange",
                                         "rPrChange",
                                         "Fallback",
                                         "annotationRef",
                                         "footnoteRef",
                                         "endnoteRef",
                                         "sectPr"};

bool IsOff(std::string_view val) {
    return val == "0" || val == "false" || val == "off";
}

class DocxText : public MarkupHandler {
  public:
    DocxText(TextBuilder& builder, DocxStyles& styles) : builder_(builder), styles_(styles) {}

    void StartElement(std::string_view name, const MarkupAttributes& attributes) override {
        if (skipDepth_ > 0) {
            ++skipDepth_;
            return;
        }
        const std::string_view local = LocalName(name);
        if (std::find(std::begin(kLeftOut), std::end(kLeftOut), local) != std::end(kLeftOut)) {
            skipDepth_ = 1;
            return;
        }
        Paragraph* p = paragraphs_.empty() ? nullptr : &paragraphs_.back();
        if (local == "p") {
            paragraphs_.emplace_back();
        } else if (local == "pPr") {
            if (p) p->inProperties = true;
        } else if (p && p->inProperties) {
            if (local == "pStyle")
                p->style = AttributeValue(attributes, "val");
            else if (local == "outlineLvl")
                p->outline = Int(AttributeValue(attributes, "val"));
            else if (local == "numId")
                p->numId = Int(AttributeValue(attributes, "val"));
            else if (local == "ilvl")
                p->numLevel = Int(AttributeValue(attributes, "val"));
        } else if (local == "r") {
            hiddenRun_ = false;
        } else if (local == "vanish") {
            hiddenRun_ = !IsOff(AttributeValue(attributes, "val"));
        } else if (local == "t") {
            inText_ = true;
        } else if (local == "instrText") {
            inInstruction_ = true;
        } else if (local == "tab" || local == "br" || local == "cr") {
            Write(" ");
        } else if (local == "noBreakHyphen") {
            Write("-");
        } else if (local == "fldChar") {
            const std::string_view type = AttributeValue(attributes, "fldCharType");
            if (type == "begin")
                fields_.push_back({});
            else if (type == "end" && !fields_.empty())
                fields_.pop_back();
        } else if (local == "fldSimple") {
            if (IsTocField(AttributeValue(attributes, "instr"))) skipDepth_ = 1;
        } else if (local == "sdt") {
            sdts_.push_back(false);
        } else if (local == "docPartGallery") {
            if (!sdts_.empty() && AttributeValue(attributes, "val").find("Table of Contents") !=
                                      std::string_view::npos)
                sdts_.back() = true;
        } else if (local == "sdtContent") {
            if (!sdts_.empty() && sdts_.back()) skipDepth_ = 1;
        }
    }

    void EndElement(std::string_view name) override {
        if (skipDepth_ > 0) {
            --skipDepth_;
            return;
        }
        const std::string_view local = LocalName(name);
        if (local == "p" && !paragraphs_.empty()) {
            Paragraph p = std::move(paragraphs_.back());
            paragraphs_.pop_back();
            Emit(p);
        } else if (local == "pPr" && !paragraphs_.empty()) {
            paragraphs_.back().inProperties = false;
        } else if (local == "t") {
            inText_ = false;
        } else if (local == "instrText") {
            inInstruction_ = false;
        } else if (local == "sdt" && !sdts_.empty()) {
            sdts_.pop_back();
        }
    }

    void Text(std::string_view text) override {
        if (skipDepth_ > 0) return;
        // A field's instruction is not text of the document, but tells what the field is.
        if (inInstruction_) {
            if (!fields_.empty()) fields_.back() += text;
        } else if (inText_) {
            Write(text);
        }
    }

  private:
    struct Paragraph {
        std::string style;
        int outline = -1, numId = -1, numLevel = -1;
        bool inProperties = false;
        std::string text;
    };

    static int Int(std::string_view text) {
        int v = 0;
        for (char c : text) {
            if (c < '0' || c > '9' || v > 100000) return -1;
            v = v * 10 + (c - '0');
        }
        return text.empty() ? -1 : v;
    }

    static bool IsTocField(std::string_view instruction) {
        const size_t start = instruction.find_first_not_of(' ');
        return start != std::string_view::npos && instruction.substr(start, 4) == "TOC ";
    }

    void Write(std::string_view text) {
        if (paragraphs_.empty() || hiddenRun_) return;
        for (const auto& field : fields_)
            if (IsTocField(field + " ")) return;
        paragraphs_.back().text += text;
    }

    void Emit(const Paragraph& p) {
        const DocxParagraphStyle style = styles_.Paragraph(p.style);
        if (style.toc) return;
        int level = style.level;
        if (p.outline >= 0) level = p.outline < 9 ? p.outline + 1 : 0;
        // The paragraph's own numbering wins over its style's; numId 0 takes it away.
        const int numId = p.numId >= 0 ? p.numId : style.numId;
        const int numLevel = p.numId >= 0 ? p.numLevel : style.numLevel;
        std::string line = CleanLine(p.text);
        const std::string number =
            numId > 0 ? CleanLine(styles_.Number(numId, numLevel, p.style)) : "";
        if (line.empty()) return;
        if (!number.empty()) line = number + " " + line;
        if (level > 0) builder_.StartChapter(line, level);
        builder_.Append(line);
        builder_.EndParagraph();
    }

    TextBuilder& builder_;
    DocxStyles& styles_;
    std::vector<Paragraph> paragraphs_;
    std::vector<std::string> fields_;  // the instructions of the fields being read
    std::vector<bool> sdts_;           // whether each content control is a table of contents
    size_t skipDepth_ = 0;
    bool inText_ = false;
    bool inInstruction_ = false;
    bool hiddenRun_ = false;
};

// The target of the first relationship of this type ("officeDocument", "styles").
std::string RelationshipTarget(const MarkupNode& rels, std::string_view from,
                               std::string_view type) {
    std::string target;
    rels.ForEach("Relationship", [&](const MarkupNode& r) {
        const std::string_view t = r.Attribute("Type");
        if (target.empty() && t.size() > type.size() && t.substr(t.size() - type.size()) == type &&
            t[t.size() - type.size() - 1] == '/')
            target = ResolveEntryPath(from, r.Attribute("Target"));
    });
    return target;
}

}  // namespace

Document ImportDocx(const Source& source) {
    const ZipArchive zip(source);
    std::string documentPath =
        RelationshipTarget(ReadOptionalPart(zip, source, "_rels/.rels"), "", "officeDocument");
    if (documentPath.empty() || !zip.Has(documentPath)) documentPath = "word/document.xml";
    const size_t slash = documentPath.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : documentPath.substr(0, slash + 1);
    const MarkupNode rels = ReadOptionalPart(
        zip, source, folder + "_rels/" + documentPath.substr(folder.size()) + ".rels");
    std::string stylesPath = RelationshipTarget(rels, documentPath, "styles");
    std::string numberingPath = RelationshipTarget(rels, documentPath, "numbering");
    if (stylesPath.empty()) stylesPath = folder + "styles.xml";
    if (numberingPath.empty()) numberingPath = folder + "numbering.xml";
    DocxStyles styles(ReadOptionalPart(zip, source, stylesPath),
                      ReadOptionalPart(zip, source, numberingPath));
    source.Progress(0.1);

    const std::string bytes = zip.Read(documentPath, "its main part", kLargestContent);
    TextBuilder builder;
    DocxText text(builder, styles);
    try {
        WalkMarkup(bytes, MarkupMode::Xml, text);
    } catch (const MarkupError& error) {
        source.Refuse("its main part " + documentPath + " cannot be read: " + error.what());
    }
    source.Progress(0.9);

    Metadata metadata;
    const MarkupNode core = ReadOptionalPart(zip, source, "docProps/core.xml");
    core.ForEach("title", [&](const MarkupNode& n) { metadata.title = n.AllText(); });
    core.ForEach("creator", [&](const MarkupNode& n) { metadata.authors.push_back(n.AllText()); });
    core.ForEach("language", [&](const MarkupNode& n) { metadata.language = n.AllText(); });
    return builder.Finish(std::move(metadata));
}

}  // namespace documents
