#include "documents/HtmlText.h"

#include <algorithm>
#include <iterator>

#include "documents/Importers.h"

namespace documents {
namespace {

constexpr std::string_view kBlocks[] = {
    "address", "article",    "blockquote", "body",  "br",    "caption",  "center",     "dd",
    "details", "dialog",     "div",        "dl",    "dt",    "fieldset", "figcaption", "figure",
    "footer",  "form",       "h1",         "h2",    "h3",    "h4",       "h5",         "h6",
    "header",  "hgroup",     "hr",         "li",    "main",  "nav",      "ol",         "p",
    "pre",     "section",    "summary",    "table", "td",    "th",       "tr",         "ul",
    "legend",  "blockquote", "tbody",      "thead", "tfoot", "title"};
bool IsBlock(std::string_view name) {
    return std::find(std::begin(kBlocks), std::end(kBlocks), name) != std::end(kBlocks);
}

constexpr std::string_view kLeftOutElements[] = {"script", "style",  "template", "aside",
                                                 "svg",    "object", "iframe"};
// Notes and page-break markers: said where they belong, they would break the sentence.
constexpr std::string_view kLeftOutTypes[] = {
    "footnote",  "footnotes",    "endnote",     "rearnote",    "noteref",
    "pagebreak", "doc-footnote", "doc-endnote", "doc-noteref", "doc-pagebreak"};
constexpr std::string_view kNoteClasses[] = {"footnote", "footnotes", "footnote-ref",
                                             "footnote-back", "noteref"};
// Navigation that a package marks as such, read as lists of links.
constexpr std::string_view kNavigationTypes[] = {"toc", "landmarks", "page-list", "doc-toc",
                                                 "doc-pagelist"};

constexpr std::string_view kFrontTypes[] = {"cover",
                                            "frontmatter",
                                            "titlepage",
                                            "halftitlepage",
                                            "title-page",
                                            "copyright-page",
                                            "seriespage",
                                            "toc",
                                            "toc-brief",
                                            "landmarks",
                                            "loa",
                                            "loi",
                                            "lot",
                                            "lov",
                                            "dedication",
                                            "epigraph",
                                            "foreword",
                                            "preface",
                                            "abstract",
                                            "acknowledgments",
                                            "acknowledgements",
                                            "imprimatur",
                                            "contributors",
                                            "errata",
                                            "revision-history",
                                            "halftitle",
                                            "doc-cover",
                                            "doc-toc",
                                            "doc-dedication",
                                            "doc-foreword",
                                            "doc-preface",
                                            "doc-epigraph",
                                            "doc-acknowledgments",
                                            "doc-abstract"};
constexpr std::string_view kBackTypes[] = {
    "backmatter",       "appendix",     "index",        "glossary",      "bibliography",
    "colophon",         "endnotes",     "rearnotes",    "afterword",     "credits",
    "other-credits",    "notes",        "doc-appendix", "doc-index",     "doc-glossary",
    "doc-bibliography", "doc-colophon", "doc-endnotes", "doc-afterword", "doc-credits"};

template <size_t N>
bool AnyToken(std::string_view list, const std::string_view (&tokens)[N]) {
    return std::any_of(std::begin(tokens), std::end(tokens),
                       [list](std::string_view t) { return HasToken(list, t); });
}

// The epub:type of an element, and its role, as one list of tokens.
std::string TypesOf(const MarkupAttributes& attributes) {
    std::string types;
    for (const auto& a : attributes) {
        const std::string_view local = LocalName(a.name);
        if ((local == "type" && a.name.size() > local.size()) || a.name == "role") {
            types += a.value;
            types += ' ';
        }
    }
    return types;
}

bool HiddenByStyle(std::string_view style) {
    std::string compact;
    for (char c : style)
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
            compact += c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    return compact.find("display:none") != std::string::npos ||
           compact.find("visibility:hidden") != std::string::npos;
}

}  // namespace

ChapterKind KindOfTypes(std::string_view types) {
    if (HasToken(types, "bodymatter") || HasToken(types, "chapter")) return ChapterKind::Body;
    if (AnyToken(types, kFrontTypes)) return ChapterKind::FrontMatter;
    if (AnyToken(types, kBackTypes)) return ChapterKind::BackMatter;
    return ChapterKind::Body;
}

bool HtmlText::LeftOut(std::string_view name, const MarkupAttributes& attributes) const {
    if (std::find(std::begin(kLeftOutElements), std::end(kLeftOutElements), name) !=
        std::end(kLeftOutElements))
        return true;
    if (attributes.empty()) return false;
    if (HasAttribute(attributes, "hidden") || HiddenByStyle(AttributeValue(attributes, "style")))
        return true;
    if (!skipId.empty() && AttributeValue(attributes, "id") == skipId) return true;
    // Books without structural semantics often mark their notes by class alone.
    if (AnyToken(AttributeValue(attributes, "class"), kNoteClasses)) return true;
    const std::string types = TypesOf(attributes);
    if (types.empty()) return false;
    return AnyToken(types, kLeftOutTypes) || (name == "nav" && AnyToken(types, kNavigationTypes));
}

void HtmlText::StartElement(std::string_view name, const MarkupAttributes& attributes) {
    ++depth_;
    if (skipDepth_ > 0) {
        ++skipDepth_;
        return;
    }
    if (LeftOut(name, attributes)) {
        skipDepth_ = 1;
        return;
    }
    if (name == "html") {
        language_ = AttributeValue(attributes, "lang");
        return;
    }
    if (name == "title" && !sawText_) {
        inTitle_ = true;
        return;
    }
    if (name == "meta") {
        const std::string_view meta = AttributeValue(attributes, "name");
        if (meta == "author" || meta == "dc.creator" || meta == "DC.creator")
            authors_.emplace_back(AttributeValue(attributes, "content"));
        return;
    }
    if (!sawText_ && (name == "body" || name == "section" || name == "article" || name == "div" ||
                      name == "nav" || name == "main")) {
        outerTypes_ += TypesOf(attributes);
    }
    if (listener_) {
        const std::string_view id = AttributeValue(attributes, "id");
        // A chapter starting here ends the paragraph; an anchor alone does not.
        if (!id.empty()) listener_->ElementWithId(id);
    }
    if (heading_ > 0) {
        // Blocks within a heading are part of its one line.
        if (IsBlock(name)) headingText_ += ' ';
        return;
    }
    if (headingsAreChapters && name.size() == 2 && name[0] == 'h' && name[1] >= '1' &&
        name[1] <= '6') {
        builder_.EndParagraph();
        heading_ = name[1] - '0';
        headingDepth_ = depth_;
        headingText_.clear();
        return;
    }
    if (IsBlock(name)) builder_.EndParagraph();
}

void HtmlText::EndElement(std::string_view name) {
    const size_t depth = depth_--;
    if (skipDepth_ > 0) {
        --skipDepth_;
        return;
    }
    if (name == "title" && inTitle_) {
        inTitle_ = false;
        return;
    }
    if (heading_ > 0 && depth == headingDepth_) {
        const std::string line = CleanLine(headingText_);
        if (!line.empty()) {
            if (listener_ && !sawText_) listener_->BeforeText();
            sawText_ = true;
            builder_.StartChapter(line, heading_);
            builder_.Append(line);
        }
        builder_.EndParagraph();
        heading_ = 0;
        return;
    }
    if (heading_ > 0) {
        if (IsBlock(name)) headingText_ += ' ';
        return;
    }
    if (IsBlock(name)) builder_.EndParagraph();
}

void HtmlText::Text(std::string_view text) {
    if (skipDepth_ > 0) return;
    if (inTitle_) {
        title_ += text;
        return;
    }
    if (heading_ > 0) {
        headingText_ += text;
        return;
    }
    if (!sawText_) {
        if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) return;
        if (listener_) listener_->BeforeText();
        sawText_ = true;
    }
    builder_.Append(text);
}

Document ImportHtml(const Source& source) {
    TextBuilder builder;
    HtmlText html(builder);
    try {
        WalkMarkup(source.bytes, MarkupMode::Html, html);
    } catch (const MarkupError& error) {
        source.Refuse(error.what());
    }
    source.Progress(1);
    Metadata metadata;
    metadata.title = html.Title();
    metadata.language = html.Language();
    metadata.authors = html.Authors();
    return builder.Finish(std::move(metadata));
}

}  // namespace documents
