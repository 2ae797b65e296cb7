#include <zip.h>

#include <list>
#include <stdexcept>

#include "documents/DocumentFixturesCommon.h"

namespace fixtures {
using namespace fixtures_detail;

std::string MakeZip(const std::vector<ZipEntry>& entries) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_t* archive = buffer ? zip_open_from_source(buffer, ZIP_TRUNCATE, &error) : nullptr;
    if (!archive) throw std::runtime_error("cannot make a ZIP container in memory");
    zip_source_keep(buffer);
    for (const auto& entry : entries) {
        zip_source_t* data = zip_source_buffer(archive, entry.bytes.data(), entry.bytes.size(), 0);
        const zip_int64_t index = zip_file_add(archive, entry.name.c_str(), data, ZIP_FL_ENC_UTF_8);
        if (index < 0) throw std::runtime_error("cannot add " + entry.name);
        zip_set_file_compression(archive, static_cast<zip_uint64_t>(index),
                                 entry.stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 9);
    }
    if (zip_close(archive) != 0) throw std::runtime_error("cannot write the ZIP container");
    zip_stat_t stat;
    zip_source_open(buffer);
    zip_source_stat(buffer, &stat);
    std::string bytes(stat.size, '\0');
    zip_source_read(buffer, bytes.data(), stat.size);
    zip_source_close(buffer);
    zip_source_free(buffer);
    return bytes;
}

DocumentFixture Epub2Book() {
    Book book;
    book.fixture = {"book2.epub", Format::Epub, {}, {}, {}, {}};
    std::vector<ZipEntry> files;
    book.Heading("Cover", 1, ChapterKind::FrontMatter);
    book.Heard("The Lantern Keeper", "<p id=\"top\">", "</p>");
    files.push_back({"OEBPS/cover.html", Xhtml("Cover", book.Take())});
    book.Unheard("<h1>Contents Zanzibar</h1><p><a href=\"ch1.html\">Zanzibar One</a></p>");
    files.push_back({"OEBPS/contents.html", Xhtml("Contents", book.Take())});
    // Not well-formed: unclosed paragraphs, a bare <br>, upper case, a stray end tag.
    book.Heading("Chapter One", 1);
    book.Heard("Chapter One", "<H1>", "</H1>");
    for (int i = 0; i < 6; ++i)
        book.Heard(Sentence(i) + " and so on", "<P class=x>", "&nbsp;&mdash;");
    book.Unheard("<br></span><p>Broken & open <i>tail");
    book.fixture.heard += "Broken & open tail\n";
    files.push_back({"OEBPS/ch1.html", "<html><head><title>One</title></head><body>" + book.Take() +
                                           "</body></html>"});
    book.Heading("Chapter Two", 1);
    book.Heard("Chapter Two", "<h1>", "</h1>");
    for (int i = 10; i < 16; ++i) book.Heard(Sentence(i));
    HiddenParts(book, 1);
    book.Heard("A note marked by class alone", "<p>",
               "<a class=\"footnote-ref\" href=\"#f\"><sup>Zanzibar</sup></a></p>");
    book.Unheard("<div class=\"footnotes\"><ol><li id=\"f\">Zanzibar</li></ol></div>");
    files.push_back({"OEBPS/ch2.html", Xhtml("Two", book.Take())});
    // No entry in the NCX: it continues chapter two.
    for (int i = 20; i < 26; ++i) book.Heard(Sentence(i));
    files.push_back({"OEBPS\\ch2b.html", Xhtml("Two, continued", book.Take())});  // as on Windows
    book.Heading("Colophon", 1, ChapterKind::BackMatter);
    book.Heard("Set in a quiet typeface.");
    files.push_back({"OEBPS/colophon.html", Xhtml("Colophon", book.Take())});

    const std::string opf = R"(<?xml version="1.0"?>
<package xmlns="http://www.idpf.org/2007/opf" version="2.0" unique-identifier="id">
<metadata xmlns:dc="http://purl.org/dc/elements/1.1/" xmlns:opf="http://www.idpf.org/2007/opf">
  <dc:title>The Lantern Keeper</dc:title><dc:creator>Ann Author</dc:creator>
  <dc:creator>Bo Second</dc:creator><dc:language>en-GB</dc:language>
  <meta name="cover" content="cover-image"/>
</metadata>
<manifest>
  <item id="ncx" href="toc.ncx" media-type="application/x-dtbncx+xml"/>
  <item id="cover-image" href="images/cover.png" media-type="image/png"/>
  <item id="cover" href="cover.html" media-type="application/xhtml+xml"/>
  <item id="contents" href="contents.html" media-type="application/xhtml+xml"/>
  <item id="c1" href="ch1.html" media-type="application/xhtml+xml"/>
  <item id="c2" href="ch2.html" media-type="application/xhtml+xml"/>
  <item id="c2b" href="ch2b.html" media-type="application/xhtml+xml"/>
  <item id="colophon" href="colophon.html" media-type="application/xhtml+xml"/>
</manifest>
<spine toc="ncx"><itemref idref="cover-image"/><itemref idref="cover"/><itemref idref="contents"/><itemref idref="c1"/>
  <itemref idref="c2"/><itemref idref="c2b"/><itemref idref="colophon"/></spine>
<guide><reference type="cover" href="cover.html" title="Cover"/>
  <reference type="toc" href="contents.html" title="Contents"/>
  <reference type="colophon" href="colophon.html" title="Colophon"/></guide>
</package>)";
    // Every navPoint has the same id, as some tools write them.
    std::string points;
    const char* const targets[][2] = {{"Cover", "cover.html#top"},
                                      {"Chapter One", "ch1.html"},
                                      {"Chapter Two", "ch2.html"},
                                      {"Colophon", "colophon.html"}};
    for (const auto& t : targets)
        points += std::string("<navPoint id=\"np\" playOrder=\"1\"><navLabel><text>") + t[0] +
                  "</text></navLabel><content src=\"" + t[1] + "\"/></navPoint>\n";
    const std::string ncx =
        "<?xml version=\"1.0\"?>\n<ncx xmlns=\"http://www.daisy.org/z3986/2005/ncx/\" "
        "version=\"2005-1\"><head/><docTitle><text>The Lantern Keeper</text></docTitle>"
        "<navMap>" +
        points + "</navMap></ncx>";
    std::vector<ZipEntry> entries = {{"mimetype", "application/epub+zip", true},
                                     {"META-INF/container.xml", kContainer},
                                     {"OEBPS/content.opf", opf},
                                     {"OEBPS/toc.ncx", ncx},
                                     {"OEBPS/images/cover.png", "\x89PNG\r\n\x1a\n fixture"}};
    entries.insert(entries.end(), files.begin(), files.end());
    book.fixture.bytes = MakeZip(entries);
    return book.fixture;
}

DocumentFixture Epub3Book() {
    Book book;
    book.fixture = {"book3.epub", Format::Epub, {}, {}, {}, {}};
    std::vector<ZipEntry> files;
    book.Heading("Cover", 1, ChapterKind::FrontMatter);
    book.Heard("A Harbour in Winter", "<p class=\"title\">", "</p>");
    files.push_back({"cover.xhtml", Xhtml("Cover", book.Take())});
    book.Heading("Chapter One", 1);
    book.Heard("Chapter One", "<section id=\"one\"><h1>", "</h1>");
    for (int i = 0; i < 8; ++i) book.Heard(Sentence(i));
    HiddenParts(book, 1);
    book.Heading("The Second Part", 2);
    book.Heard("The Second Part", "</section><section id=\"part2\"><h2>", "</h2>");
    for (int i = 8; i < 14; ++i) book.Heard(Sentence(i));
    book.Unheard("</section>");
    files.push_back({"text/ch1.xhtml", Xhtml("One", book.Take())});
    book.Heading("Chapter Two", 1);
    book.Heard("Chapter Two &amp; the &ldquo;Sea&rdquo;", "<h1>", "</h1>");
    book.fixture.heard.replace(book.fixture.heard.rfind("Chapter Two"), std::string::npos,
                               "Chapter Two & the \u201cSea\u201d\n");
    book.fixture.chapters.back().first = "Chapter Two & the \u201cSea\u201d";
    for (int i = 14; i < 22; ++i) book.Heard(Sentence(i));
    book.Heard("An anchor within", "<p>", " <a id=\"anchor\"/>its paragraph</p>");
    book.fixture.heard.insert(book.fixture.heard.size() - 1, " its paragraph");
    HiddenParts(book, 2);
    files.push_back({"text/ch2.xhtml", Xhtml("Two", book.Take())});
    book.Heading("Appendix", 1, ChapterKind::BackMatter);
    book.Heard("Appendix", "<h1>", "</h1>");
    book.Heard(Sentence(30));
    files.push_back(
        {"text/appendix.xhtml", Xhtml("Appendix", book.Take(), " epub:type=\"appendix\"")});

    const std::string nav = Xhtml("Contents", R"(<nav epub:type="toc" id="toc"><h1>Zanzibar</h1><ol>
  <li><a href="cover.xhtml">Cover</a></li><li><a href="nav.xhtml#toc">Zanzibar</a></li>
  <li><a href="text/ch1.xhtml"><span>Chapter</span> One</a><ol>
    <li><a href="text/ch1.xhtml#part2">The Second Part</a></li></ol></li>
  <li><a href="text/ch2.xhtml">Chapter Two &amp; the &#x201C;Sea&#8221;</a></li>
  <li><a href="text/appendix.xhtml">Appendix</a></li></ol></nav>
<nav epub:type="landmarks" hidden=""><ol>
  <li><a epub:type="cover" href="cover.xhtml">Cover</a></li>
  <li><a epub:type="toc" href="nav.xhtml#toc">Zanzibar</a></li>
  <li><a epub:type="bodymatter" href="text/ch1.xhtml">Start</a></li></ol></nav>)");
    const std::string opf = R"(<?xml version="1.0" encoding="UTF-8"?>
<package xmlns="http://www.idpf.org/2007/opf" version="3.0" unique-identifier="id">
<metadata xmlns:dc="http://purl.org/dc/elements/1.1/">
  <dc:identifier id="id">urn:uuid:1</dc:identifier><dc:title>A Harbour in Winter</dc:title>
  <dc:creator>Cy Writer</dc:creator><dc:language>fr</dc:language>
</metadata>
<manifest>
  <item id="nav" href="nav.xhtml" properties="nav" media-type="application/xhtml+xml"/>
  <item id="img" href="images/cover.jpg" properties="cover-image" media-type="image/jpeg"/>
  <item id="font" href="fonts/serif.otf" media-type="font/otf"/>
  <item id="names" href="names.pls" media-type="application/pls+xml"/>
  <item id="cover" href="cover.xhtml" media-type="application/xhtml+xml"/>
  <item id="c1" href="text/ch1.xhtml" media-type="application/xhtml+xml"/>
  <item id="c1b" href="text/ch1.xhtml#part2" media-type="application/xhtml+xml"/>
  <item id="c2" href="text/ch2.xhtml" media-type="application/xhtml+xml"/>
  <item id="app" href="text/appendix.xhtml" media-type="application/xhtml+xml"/>
</manifest>
<spine><itemref idref="cover"/><itemref idref="nav"/><itemref idref="c1"/><itemref idref="c1b"/>
  <itemref idref="c2"/><itemref idref="app" linear="yes"/></spine>
</package>)";
    const std::string encryption =
        R"(<encryption xmlns="urn:oasis:names:tc:opendocument:xmlns:container"
  xmlns:enc="http://www.w3.org/2001/04/xmlenc#"><enc:EncryptedData>
  <enc:EncryptionMethod Algorithm="http://www.idpf.org/2008/embedding"/>
  <enc:CipherData><enc:CipherReference URI="OEBPS/fonts/serif.otf"/></enc:CipherData>
</enc:EncryptedData></encryption>)";
    std::vector<ZipEntry> entries = {{"META-INF/container.xml", kContainer},
                                     {"OEBPS/content.opf", opf},
                                     {"mimetype", "application/epub+zip", true},
                                     {"META-INF/encryption.xml", encryption},
                                     {"OEBPS/nav.xhtml", nav},
                                     {"OEBPS/fonts/serif.otf", "obfuscated font"},
                                     {"OEBPS/images/cover.jpg", "\xFF\xD8\xFF\xE0 fixture"},
                                     {"OEBPS/names.pls", kHarbourLexicon}};
    for (auto& file : files) entries.push_back({"OEBPS/" + file.name, file.bytes});
    book.fixture.bytes = MakeZip(entries);
    return book.fixture;
}

namespace {

// A book of one content file, text.xhtml, with any other entries.
std::string SmallEpub(const std::string& content, std::vector<ZipEntry> extra = {},
                      bool withContent = true, std::string opf = {}) {
    if (opf.empty())
        opf = R"(<package xmlns="http://www.idpf.org/2007/opf" version="3.0">
<metadata xmlns:dc="http://purl.org/dc/elements/1.1/"><dc:title>Small</dc:title></metadata>
<manifest><item id="t" href="text.xhtml" media-type="application/xhtml+xml"/></manifest>
<spine><itemref idref="t"/></spine></package>)";
    std::vector<ZipEntry> entries = {{"mimetype", "application/epub+zip", true},
                                     {"META-INF/container.xml", kContainer},
                                     {"OEBPS/content.opf", opf}};
    if (withContent) entries.push_back({"OEBPS/text.xhtml", content});
    entries.insert(entries.end(), extra.begin(), extra.end());
    return MakeZip(entries);
}

std::string Encryption(const std::string& algorithm, const std::string& uri) {
    return "<encryption xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\" "
           "xmlns:enc=\"http://www.w3.org/2001/04/"
           "xmlenc#\"><enc:EncryptedData><enc:EncryptionMethod "
           "Algorithm=\"" +
           algorithm + "\"/><enc:CipherData><enc:CipherReference URI=\"" + uri +
           "\"/></enc:CipherData></enc:EncryptedData></encryption>";
}

}  // namespace

std::vector<HostileFixture> HostileFixtures() {
    const std::string text = Xhtml("Text", "<p>" + Sentence(1) + "</p>");
    // Blanks inflate about a thousand times: the bound stops them long before the end.
    const std::string bomb = "<html><body><p>" + std::string(size_t{16} << 20, ' ');
    const std::string entities =
        "<?xml version=\"1.0\"?><!DOCTYPE html [<!ENTITY a \"aaaaaaaa\">"
        "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">]><html><body><p>&b;</p></body></html>";
    std::string deep;
    for (int i = 0; i < 5000; ++i) deep += "<div>";
    const std::string epub3 = Epub3Book().bytes;
    // A stored content file whose bytes no longer match its checksum.
    std::string corrupt = SmallEpub("", {{"OEBPS/text.xhtml", text, true}}, false);
    corrupt[corrupt.find("Paragraph 1")] = 'p';
    // A package document of more nodes than any real one, stored: no bomb, only many.
    std::string manyNodes = "<package><metadata>";
    for (int i = 0; i < 510000; ++i) manyNodes += "<meta/>";
    manyNodes +=
        "</metadata><manifest><item id=\"t\" href=\"text.xhtml\" "
        "media-type=\"application/xhtml+xml\"/></manifest><spine><itemref idref=\"t\"/>"
        "</spine></package>";
    return {
        {"bomb.epub", Format::Epub, SmallEpub(bomb)},
        {"bomb.docx", Format::Docx, MakeZip({{"word/document.xml", bomb}})},
        {"entities.epub", Format::Epub, SmallEpub(entities)},
        {"entities.odt", Format::Odt, MakeZip({{"content.xml", entities}})},
        {"encrypted.epub", Format::Epub,
         SmallEpub(text, {{"META-INF/encryption.xml",
                           Encryption("http://www.w3.org/2001/04/xmlenc#aes256-cbc",
                                      "OEBPS/text.xhtml")}})},
        {"obfuscated-text.epub", Format::Epub,
         SmallEpub(text, {{"META-INF/encryption.xml",
                           Encryption("http://www.idpf.org/2008/embedding", "OEBPS/text.xhtml")}})},
        {"rights.epub", Format::Epub,
         SmallEpub(text,
                   {{"META-INF/rights.xml",
                     "<adept:rights xmlns:adept=\"http://ns.adobe.com/adept\"><adept:licenseToken>"
                     "<adept:user>u</adept:user></adept:licenseToken></adept:rights>"}})},
        {"truncated.epub", Format::Epub, epub3.substr(0, epub3.size() * 3 / 5)},
        {"missing-spine.epub", Format::Epub, SmallEpub(text, {}, false)},
        {"no-container.epub", Format::Epub, MakeZip({{"mimetype", "application/epub+zip", true}})},
        {"no-document.docx", Format::Docx, MakeZip({{"word/styles.xml", "<w:styles/>"}})},
        {"no-content.odt", Format::Odt, MakeZip({{"meta.xml", "<office:document-meta/>"}})},
        {"deep.html", Format::Html, deep},
        {"deep.epub", Format::Epub, SmallEpub(deep)},
        {"not-a-zip.epub", Format::Epub, "This is plain text and no container at all."},
        {"corrupt.epub", Format::Epub, corrupt},
        {"many-nodes.epub", Format::Epub,
         MakeZip({{"META-INF/container.xml", kContainer},
                  {"OEBPS/content.opf", manyNodes, true},
                  {"OEBPS/text.xhtml", text}})},
        {"broken-package.epub", Format::Epub, SmallEpub(text, {}, true, "<package><x></package>")},
    };
}

std::string LargeEpub(size_t textBytes) {
    std::vector<ZipEntry> entries = {{"mimetype", "application/epub+zip", true},
                                     {"META-INF/container.xml", kContainer}};
    std::string manifest, spine, nav;
    size_t written = 0;
    for (int chapter = 0; written < textBytes; ++chapter) {
        const std::string id = "c" + std::to_string(chapter);
        std::string body =
            "<section epub:type=\"chapter\"><h1>Chapter " + std::to_string(chapter) + "</h1>\n";
        for (int n = 0; n < 150 && written < textBytes; ++n) {
            const std::string sentence = Sentence(chapter * 150 + n);
            body += "<p class=\"body\">" + sentence + " <em>" + kWords[n % 12] + "</em> " +
                    sentence + "<span epub:type=\"pagebreak\" id=\"p" + std::to_string(n) +
                    "\"/></p>\n";
            written += 2 * sentence.size() + 10;
        }
        entries.push_back({"OEBPS/" + id + ".xhtml", Xhtml(id, body + "</section>")});
        manifest += "<item id=\"" + id + "\" href=\"" + id +
                    ".xhtml\" media-type=\"application/xhtml+xml\"/>";
        spine += "<itemref idref=\"" + id + "\"/>";
        nav += "<li><a href=\"" + id + ".xhtml\">Chapter " + std::to_string(chapter) + "</a></li>";
    }
    entries.push_back({"OEBPS/nav.xhtml",
                       Xhtml("Contents", "<nav epub:type=\"toc\"><ol>" + nav + "</ol></nav>")});
    entries.push_back({"OEBPS/content.opf",
                       "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\"><metadata/>"
                       "<manifest><item id=\"nav\" href=\"nav.xhtml\" properties=\"nav\" "
                       "media-type=\"application/xhtml+xml\"/>" +
                           manifest + "</manifest><spine>" + spine + "</spine></package>"});
    return MakeZip(entries);
}

}  // namespace fixtures
