// The DOCX, ODT, HTML and Markdown fixtures.
#include "documents/DocumentFixturesCommon.h"

namespace fixtures {

using namespace fixtures_detail;

namespace {

const char kWordNs[] = "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"";

std::string WordParagraph(const std::string& properties, const std::string& runs) {
    return "<w:p><w:pPr>" + properties + "</w:pPr>" + runs + "</w:p>\n";
}
std::string Run(const std::string& text) {
    return "<w:r><w:t xml:space=\"preserve\">" + text + "</w:t></w:r>";
}
std::string Styled(const std::string& style) {
    return "<w:pStyle w:val=\"" + style + "\"/>";
}

}  // namespace

DocumentFixture DocxDocument() {
    Book book;
    book.fixture = {"report.docx", Format::Docx, {}, {}, {}, {}};
    auto heading = [&](const std::string& shown, int level, const std::string& properties,
                       const std::string& text) {
        book.Heading(shown, level);
        book.fixture.heard += shown + "\n";
        book.body += WordParagraph(properties, Run(text));
    };
    auto paragraph = [&](int n) {
        book.fixture.heard += Sentence(n) + "\n";
        book.body += WordParagraph("", Run(Sentence(n)));
    };
    heading("The Test Report", 1, Styled("Title"), "The Test Report");
    // A printed table of contents: a field, its lines in TOC styles.
    book.body +=
        "<w:p><w:r><w:fldChar w:fldCharType=\"begin\"/></w:r><w:r><w:instrText> TOC \\o "
        "\"1-3\" </w:instrText></w:r><w:r><w:fldChar w:fldCharType=\"separate\"/></w:r>"
        "<w:r><w:t>Zanzibar 1</w:t></w:r></w:p>" +
        WordParagraph(Styled("TOC1"), Run("Zanzibar Introduction 2")) +
        "<w:p><w:r><w:t>Zanzibar 3</w:t></w:r><w:r><w:fldChar "
        "w:fldCharType=\"end\"/></w:r></w:p>\n";
    book.body +=
        "<w:sdt><w:sdtPr><w:docPartObj><w:docPartGallery w:val=\"Table of Contents\"/>"
        "</w:docPartObj></w:sdtPr><w:sdtContent>" +
        WordParagraph("", Run("Zanzibar Contents")) + "</w:sdtContent></w:sdt>";
    heading("1 Introduction", 1, Styled("Heading1"), "Introduction");
    for (int i = 0; i < 4; ++i) paragraph(i);
    // Deleted, hidden, a note reference, a field's instruction; tabs and breaks are blanks.
    book.body += WordParagraph(
        "", Run("Kept") +
                "<w:del><w:r><w:delText>Zanzibar</w:delText></w:r></w:del>"
                "<w:r><w:rPr><w:vanish/></w:rPr><w:t>Zanzibar</w:t></w:r><w:r><w:footnoteReference "
                "w:id=\"1\"/></w:r>"
                "<w:r><w:tab/><w:t>text</w:t><w:br/><w:t>on</w:t></w:r><w:r><w:fldChar "
                "w:fldCharType=\"begin\"/>"
                "</w:r><w:r><w:instrText>PAGE Zanzibar</w:instrText></w:r><w:r><w:fldChar "
                "w:fldCharType=\"separate\"/>"
                "</w:r>" +
                Run(" 7") + "<w:r><w:fldChar w:fldCharType=\"end\"/></w:r>");
    book.fixture.heard += "Kept text on 7\n";
    heading("1.1 Background", 2, Styled("Heading2"), "Background");
    for (int i = 4; i < 8; ++i) paragraph(i);
    heading("2 Methods", 1, Styled("Chapter"), "Methods");
    for (int i = 8; i < 10; ++i) paragraph(i);
    heading("Inline Heading", 2, "<w:outlineLvl w:val=\"1\"/>", "Inline Heading");
    paragraph(10);
    heading("2.1 Numbered Here", 2,
            Styled("Heading2") + "<w:numPr><w:ilvl w:val=\"1\"/><w:numId w:val=\"1\"/></w:numPr>",
            "Numbered Here");
    paragraph(11);
    const std::string document = std::string("<?xml version=\"1.0\"?><w:document ") + kWordNs +
                                 "><w:body>" + book.Take() + "<w:sectPr/></w:body></w:document>";
    const std::string styles = std::string("<w:styles ") + kWordNs + R"(>
<w:style w:type="paragraph" w:styleId="Title"><w:name w:val="Title"/></w:style>
<w:style w:type="paragraph" w:styleId="Heading1"><w:name w:val="heading 1"/><w:pPr>
  <w:numPr><w:numId w:val="1"/></w:numPr><w:outlineLvl w:val="0"/></w:pPr></w:style>
<w:style w:type="paragraph" w:styleId="Heading2"><w:name w:val="heading 2"/><w:basedOn w:val="Heading1"/>
  <w:pPr><w:numPr><w:ilvl w:val="1"/><w:numId w:val="1"/></w:numPr><w:outlineLvl w:val="1"/></w:pPr></w:style>
<w:style w:type="paragraph" w:styleId="Chapter"><w:name w:val="Chapter"/><w:basedOn w:val="Heading1"/></w:style>
<w:style w:type="paragraph" w:styleId="TOC1"><w:name w:val="toc 1"/></w:style>
</w:styles>)";
    const std::string numbering = std::string("<w:numbering ") + kWordNs + R"(>
<w:abstractNum w:abstractNumId="7">
  <w:lvl w:ilvl="0"><w:start w:val="1"/><w:numFmt w:val="decimal"/><w:lvlText w:val="%1"/>
    <w:pStyle w:val="Heading1"/></w:lvl>
  <w:lvl w:ilvl="1"><w:start w:val="1"/><w:numFmt w:val="decimal"/><w:lvlText w:val="%1.%2"/></w:lvl>
</w:abstractNum><w:num w:numId="1"><w:abstractNumId w:val="7"/></w:num></w:numbering>)";
    const std::string core =
        R"(<cp:coreProperties xmlns:cp="http://schemas.openxmlformats.org/package/2006/metadata/core-properties" xmlns:dc="http://purl.org/dc/elements/1.1/"><dc:title>The Test Report</dc:title><dc:creator>Di Docx</dc:creator><dc:language>de-DE</dc:language></cp:coreProperties>)";
    book.fixture.bytes = MakeZip({{"word/styles.xml", styles},
                                  {"[Content_Types].xml", "<Types/>"},
                                  {"word/numbering.xml", numbering},
                                  {"docProps/core.xml", core},
                                  {"word/document.xml", document}});
    return book.fixture;
}

DocumentFixture OdtDocument() {
    Book book;
    book.fixture = {"notes.odt", Format::Odt, {}, {}, {}, {}};
    auto heading = [&](const std::string& shown, int level, const std::string& markup) {
        book.Heading(shown, level);
        book.fixture.heard += shown + "\n";
        book.body += markup + "\n";
    };
    heading("1 Opening", 1, "<text:h text:outline-level=\"1\">Opening</text:h>");
    book.Unheard(
        "<text:table-of-content><text:index-body><text:p>Zanzibar 1</text:p></text:index-body>"
        "</text:table-of-content>");
    for (int i = 0; i < 4; ++i) book.Heard(Sentence(i), "<text:p>", "</text:p>");
    book.Unheard(
        "<text:p>Spaced<text:s text:c=\"3\"/>out<text:tab/>and<text:line-break/>broken"
        "<text:note><text:note-citation>Zanzibar</text:note-citation><text:note-body><text:p>"
        "Zanzibar</text:p></text:note-body></text:note><office:annotation><text:p>Zanzibar"
        "</text:p></office:annotation><text:span> here</text:span></text:p>");
    book.fixture.heard += "Spaced out and broken here\n";
    heading("1.1 Details", 2, "<text:h text:outline-level=\"2\">Details</text:h>");
    book.Unheard("<text:list><text:list-item><text:p>" + Sentence(4) +
                 "</text:p></text:list-item>"
                 "<text:list-item><text:p>" +
                 Sentence(5) + "</text:p></text:list-item></text:list>");
    book.fixture.heard += Sentence(4) + "\n" + Sentence(5) + "\n";
    book.Unheard("<table:table><table:table-row><table:table-cell><text:p>" + Sentence(6) +
                 "</text:p></table:table-cell></table:table-row></table:table>");
    book.fixture.heard += Sentence(6) + "\n";
    heading("9. Closing", 1,
            "<text:h text:outline-level=\"1\"><text:number>9.</text:number>Closing</text:h>");
    book.Heard(Sentence(7), "<text:p>", "</text:p>");
    const char ns[] =
        "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
        "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
        "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
        "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\"";
    const std::string content =
        std::string("<?xml version=\"1.0\"?><office:document-content ") + ns +
        "><office:body><office:text><text:tracked-changes><text:changed-region><text:deletion><"
        "text:p>"
        "Zanzibar</text:p></text:deletion></text:changed-region></text:tracked-changes>" +
        book.Take() + "</office:text></office:body></office:document-content>";
    const std::string styles = std::string("<office:document-styles ") + ns + R"(><office:styles>
<text:outline-style style:name="Outline">
  <text:outline-level-style text:level="1" style:num-format="1"/>
  <text:outline-level-style text:level="2" style:num-format="1" text:display-levels="2"/>
</text:outline-style></office:styles></office:document-styles>)";
    const std::string meta =
        R"(<office:document-meta xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:dc="http://purl.org/dc/elements/1.1/"><office:meta><dc:title>Field Notes</dc:title><dc:creator>Ed Odt</dc:creator></office:meta></office:document-meta>)";
    book.fixture.bytes = MakeZip({{"mimetype", "application/vnd.oasis.opendocument.text", true},
                                  {"content.xml", content},
                                  {"styles.xml", styles},
                                  {"meta.xml", meta}});
    return book.fixture;
}

DocumentFixture HtmlPage() {
    Book book;
    book.fixture = {"page.html", Format::Html, {}, {}, {}, {}};
    book.Heading("Welcome", 1);
    book.Heard("Welcome", "<h1>", "</h1>");
    book.Heard(Sentence(1), "<p>", "");
    book.Unheard("<p>Caf&eacute; &mdash; open<img src=x alt=Zanzibar>");
    book.fixture.heard += "Caf\u00e9 \u2014 open\n";
    HiddenParts(book, 3);
    book.Heading("Second Section", 2);
    book.Heard("Second Section", "<H2 class=big>", "</h2>");
    book.Heard(Sentence(2), "<ul><li>", "");
    book.Heard(Sentence(3), "<li>", "</ul>");
    book.fixture.bytes =
        "<!doctype html><html lang=en><head><title>Page</title><meta name=author "
        "content=\"Fay Html\"></head><body>" +
        book.Take() + "</body></html>";
    return book.fixture;
}

DocumentFixture MarkdownText() {
    Book book;
    book.fixture = {"readme.md", Format::Markdown, {}, {}, {}, {}};
    book.Heading("Getting Started", 1);
    book.fixture.heard = "Getting Started\nRead the guide and the code carefully.\n";
    book.Heading("Next Steps", 2);
    book.fixture.heard +=
        "Next Steps\nOne item\nTwo item still two\nsome code here\n# indented code\nname "
        "value\nAfter the break\n";
    // A heading right under its paragraph's last line ends the paragraph.
    book.Heading("Tail", 3);
    book.fixture.heard += "Tail\nThe end.\n";
    book.fixture.bytes =
        "---\ntitle: \"Guide\"\n---\n# Getting *Started* #\n\nRead the [guide](http://x/y) "
        "and ![Zanzibar](z.png) the `code`[^n]\n**carefully**.<!-- Zanzibar\n-->\n\n"
        "Next Steps\n----------\n- One item\n1. Two item\n    still two\n\n```cpp\nsome code "
        "here\n```\n\n"
        "    # indented code\n"
        "| name | value |\n|---|---|\n\n***\n<span>After</span> the break\n### Tail\nThe end.\n"
        "[Zanzibar]: http://example.com\n[^n]: Zanzibar\n";
    return book.fixture;
}

}  // namespace fixtures
