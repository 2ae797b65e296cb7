#include "containers/ReadAlong.h"

#include <zip.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>

#include "support/Errors.h"
#include "support/FileReplace.h"
#include "support/XmlText.h"

namespace containers {
namespace {

std::string Escaped(const std::string& s) {
    std::string out;
    AppendXmlEscaped(s, out);
    return out;
}

std::string Seconds(uint64_t ms) {
    char text[40];
    std::snprintf(text, sizeof text, "%llu.%03llus", static_cast<unsigned long long>(ms / 1000),
                  static_cast<unsigned long long>(ms % 1000));
    return text;
}

std::string Name(const char* kind, size_t chapter, const char* ext) {
    char text[40];
    std::snprintf(text, sizeof text, "%s%03zu.%s", kind, chapter + 1, ext);
    return text;
}

// The id of a chapter's section in its page, which its overlay refers to.
std::string SectionId(size_t chapter) {
    return "ch" + std::to_string(chapter + 1);
}

std::string Uuid() {
    std::random_device device;
    std::mt19937_64 random(device());
    const uint64_t a = random(), b = random();
    char text[40];
    std::snprintf(text, sizeof text, "%08x-%04x-4%03x-%04x-%012llx", unsigned(a >> 32),
                  unsigned(a >> 16 & 0xFFFF), unsigned(a & 0xFFF),
                  unsigned(0x8000 | (b >> 48 & 0x3FFF)),
                  static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFULL));
    return text;
}

// An XHTML page of the book.
std::string Page(const std::string& language, const std::string& title, const std::string& head,
                 const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html>\n<html "
           "xmlns=\"http://www.w3.org/1999/xhtml\" xmlns:epub=\"http://www.idpf.org/2007/ops\" "
           "xml:lang=\"" +
           Escaped(language) + "\" lang=\"" + Escaped(language) + "\">\n<head><title>" +
           Escaped(title) + "</title>" + head + "</head>\n<body>" + body + "</body>\n</html>\n";
}

std::string Chapter(const ReadAlongChapter& c, const std::string& language, size_t index) {
    std::string body;
    bool open = false;
    for (size_t k = 0; k < c.sentences.size(); ++k) {
        if (!open || c.sentences[k].paragraphStart) {
            if (open) body += "</p>\n";
            body += "<p>";
            open = true;
        } else {
            body += " ";
        }
        body += "<span id=\"s" + std::to_string(k + 1) + "\">" + Escaped(c.sentences[k].text) +
                "</span>";
    }
    if (open) body += "</p>\n";
    return Page(
        language, c.title, "<link rel=\"stylesheet\" type=\"text/css\" href=\"book.css\"/>",
        "<section epub:type=\"chapter\" id=\"" + SectionId(index) + "\">\n" + body + "</section>");
}

std::string Overlay(const ReadAlongChapter& c, size_t index) {
    const std::string page = Name("c", index, "xhtml"), audio = Name("a", index, "mp3");
    std::string pars;
    for (size_t k = 0; k < c.sentences.size(); ++k) {
        const ReadAlongSentence& s = c.sentences[k];
        pars += "<par id=\"p" + std::to_string(k + 1) + "\"><text src=\"" + page + "#s" +
                std::to_string(k + 1) + "\"/><audio src=\"" + audio + "\" clipBegin=\"" +
                Seconds(s.beginMs) + "\" clipEnd=\"" + Seconds(std::max(s.endMs, s.beginMs)) +
                "\"/></par>\n";
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<smil xmlns=\"http://www.w3.org/ns/SMIL\" xmlns:epub=\"http://www.idpf.org/2007/ops\""
           " version=\"3.0\">\n<body>\n<seq id=\"seq1\" epub:textref=\"" +
           page + "#" + SectionId(index) + "\" epub:type=\"chapter\">\n" + pars +
           "</seq>\n</body>\n</smil>\n";
}

std::string Navigation(const std::vector<ReadAlongChapter>& chapters, const std::string& title,
                       const std::string& language) {
    std::string items;
    for (size_t i = 0; i < chapters.size(); ++i)
        items += "<li><a href=\"" + Name("c", i, "xhtml") + "\">" + Escaped(chapters[i].title) +
                 "</a></li>\n";
    return Page(language, title, "",
                "\n<nav epub:type=\"toc\" id=\"toc\"><h1>" + Escaped(title) + "</h1>\n<ol>\n" +
                    items + "</ol></nav>\n");
}

std::string Package(const std::vector<ReadAlongChapter>& chapters, const BookTags& tags,
                    const std::string& title, const std::string& language) {
    char modified[32];
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    std::strftime(modified, sizeof modified, "%Y-%m-%dT%H:%M:%SZ", &utc);
    std::string meta = "<dc:identifier id=\"id\">urn:uuid:" + Uuid() +
                       "</dc:identifier>\n"
                       "<dc:title>" +
                       Escaped(title) +
                       "</dc:title>\n"
                       "<dc:language>" +
                       Escaped(language) +
                       "</dc:language>\n"
                       "<meta property=\"dcterms:modified\">" +
                       modified + "</meta>\n";
    for (const std::string& author : tags.authors)
        meta += "<dc:creator>" + Escaped(author) + "</dc:creator>\n";
    std::string manifest =
        "<item id=\"nav\" href=\"nav.xhtml\" media-type=\"application/xhtml+xml\" "
        "properties=\"nav\"/>\n<item id=\"css\" href=\"book.css\" "
        "media-type=\"text/css\"/>\n";
    std::string spine;
    uint64_t total = 0;
    for (size_t i = 0; i < chapters.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        total += chapters[i].durationMs;
        meta += "<meta property=\"media:duration\" refines=\"#mo" + n + "\">" +
                ClockTime(chapters[i].durationMs) + "</meta>\n";
        manifest += "<item id=\"c" + n + "\" href=\"" + Name("c", i, "xhtml") +
                    "\" media-type=\"application/xhtml+xml\" media-overlay=\"mo" + n +
                    "\"/>\n"
                    "<item id=\"mo" +
                    n + "\" href=\"" + Name("c", i, "smil") +
                    "\" media-type=\"application/smil+xml\"/>\n"
                    "<item id=\"a" +
                    n + "\" href=\"" + Name("a", i, "mp3") + "\" media-type=\"audio/mpeg\"/>\n";
        spine += "<itemref idref=\"c" + n + "\"/>\n";
    }
    meta += "<meta property=\"media:duration\">" + ClockTime(total) +
            "</meta>\n"
            "<meta property=\"media:active-class\">-epub-media-overlay-active</meta>\n";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\" "
           "unique-identifier=\"id\" xml:lang=\"" +
           Escaped(language) +
           "\">\n"
           "<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n" +
           meta + "</metadata>\n<manifest>\n" + manifest + "</manifest>\n<spine>\n" + spine +
           "</spine>\n</package>\n";
}

// The container's bytes: the mimetype first and stored, as EPUB asks.
std::string Zipped(const std::vector<std::pair<std::string, std::string>>& entries) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_t* archive = buffer ? zip_open_from_source(buffer, ZIP_TRUNCATE, &error) : nullptr;
    if (!archive) {
        if (buffer) zip_source_free(buffer);
        throw EWriteError("the book cannot be put together: " +
                          std::string(zip_error_strerror(&error)));
    }
    zip_source_keep(buffer);
    for (const auto& [name, bytes] : entries) {
        zip_source_t* data = zip_source_buffer(archive, bytes.data(), bytes.size(), 0);
        const zip_int64_t index =
            data ? zip_file_add(archive, name.c_str(), data, ZIP_FL_ENC_UTF_8) : -1;
        if (index < 0) {
            if (data) zip_source_free(data);
            zip_discard(archive);
            zip_source_free(buffer);
            throw EWriteError("the book cannot be put together: " + name);
        }
        // Audio is compressed already; text shrinks.
        const bool store = name == "mimetype" || name.ends_with(".mp3");
        zip_set_file_compression(archive, static_cast<zip_uint64_t>(index),
                                 store ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 6);
    }
    if (zip_close(archive) != 0) {
        zip_discard(archive);
        zip_source_free(buffer);
        throw EWriteError("the book cannot be put together");
    }
    zip_stat_t stat;
    zip_stat_init(&stat);
    std::string bytes;
    if (zip_source_open(buffer) == 0) {
        zip_source_stat(buffer, &stat);
        bytes.resize(stat.size);
        const zip_int64_t got = zip_source_read(buffer, bytes.data(), stat.size);
        zip_source_close(buffer);
        if (got != static_cast<zip_int64_t>(stat.size)) bytes.clear();
    }
    zip_source_free(buffer);
    if (bytes.empty()) throw EWriteError("the book cannot be put together");
    return bytes;
}
}  // namespace

void WriteReadAlong(const std::string& path, const BookTags& tags,
                    const std::vector<ReadAlongChapter>& chapters) {
    const std::string language = tags.language.empty() ? "en" : tags.language;
    const std::string title = tags.title.empty() ? "Untitled" : tags.title;
    std::vector<std::pair<std::string, std::string>> entries = {
        {"mimetype", "application/epub+zip"},
        {"META-INF/container.xml",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<container version=\"1.0\" "
         "xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">\n<rootfiles><rootfile "
         "full-path=\"OEBPS/book.opf\" media-type=\"application/oebps-package+xml\"/>"
         "</rootfiles>\n</container>\n"},
        {"OEBPS/book.opf", Package(chapters, tags, title, language)},
        {"OEBPS/nav.xhtml", Navigation(chapters, title, language)},
        {"OEBPS/book.css", ".-epub-media-overlay-active { background-color: #fff3a0; }\n"},
    };
    for (size_t i = 0; i < chapters.size(); ++i) {
        entries.emplace_back("OEBPS/" + Name("c", i, "xhtml"), Chapter(chapters[i], language, i));
        entries.emplace_back("OEBPS/" + Name("c", i, "smil"), Overlay(chapters[i], i));
        entries.emplace_back("OEBPS/" + Name("a", i, "mp3"), chapters[i].mp3);
    }
    const std::string book = Zipped(entries);
    errno = 0;
    if (!ReplaceFileContents(path, [&](const std::string*) { return book; }))
        throw EWriteError("'" + path +
                          "': " + (errno ? std::strerror(errno) : "cannot be written"));
}

}  // namespace containers
