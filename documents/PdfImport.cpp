// PDF files: the reader of libparlen_pdf.so (poppler) gives each page's lines, the
// outline and the metadata; PdfText makes them a document's text.
#include <algorithm>
#include <memory>
#include <mutex>

#include "documents/Importers.h"
#include "documents/PdfPages.h"
#include "documents/PdfText.h"
#include "documents/pdf/PdfEntry.h"
#include "support/BridgeLibrary.h"

namespace documents {
namespace {

// A PDF starts with its header within its first kilobyte and ends with an end marker
// within its last; a file cut short (a broken download) has none at its end.
constexpr size_t kEdge = 1024;

bool StartsAsPdf(std::string_view bytes) {
    return bytes.substr(0, kEdge).find("%PDF-") != std::string_view::npos;
}

bool EndsAsPdf(std::string_view bytes) {
    return bytes.substr(bytes.size() - std::min(bytes.size(), kEdge)).find("%%EOF") !=
           std::string_view::npos;
}

// Mapped once, when the first PDF is opened; imports may run on several threads.
const pdf_bridge::Entry* Reader(std::string& why) {
    static std::mutex mutex;
    static const pdf_bridge::Entry* entry = nullptr;
    const std::lock_guard lock(mutex);
    using EntryFunction = const pdf_bridge::Entry* (*)();
    if (!entry)
        if (auto function = reinterpret_cast<EntryFunction>(
                MapBridgeLibrary(kPdfLibraryName, kPdfEntrySymbol, why)))
            entry = function();
    return entry;
}

// The catalogue's language (/Lang), which poppler's binding does not give: the last
// one written, as an incremental update would have changed it. Only a language tag is
// taken; anything else is ignored.
std::string CatalogLanguage(std::string_view bytes) {
    const size_t at = bytes.rfind("/Lang");
    if (at == std::string_view::npos) return {};
    std::string_view rest = bytes.substr(at + 5, 200);
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\r' || rest.front() == '\n'))
        rest.remove_prefix(1);
    std::string tag;
    if (rest.starts_with("(")) {
        tag = rest.substr(1, rest.find(')') == std::string_view::npos ? 0 : rest.find(')') - 1);
    } else if (rest.starts_with("<")) {
        const std::string_view hex = rest.substr(1, rest.find('>') - 1);
        for (size_t i = 0; i + 1 < hex.size(); i += 2) {
            const auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
            const char c = static_cast<char>(nibble(hex[i]) * 16 + nibble(hex[i + 1]));
            if (c != 0 && c != '\xFE' && c != '\xFF') tag += c;
        }
    }
    const bool isTag =
        !tag.empty() && tag.size() <= 35 && std::all_of(tag.begin(), tag.end(), [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                   c == '-';
        });
    return isTag ? tag : std::string();
}

struct Closer {
    const pdf_bridge::Entry* reader;
    void operator()(pdf_bridge::Document* document) const {
        WithPdfReader([&] { reader->close(document); });
    }
};

std::vector<std::string> Authors(const std::string& author) {
    std::vector<std::string> authors;
    size_t start = 0;
    for (size_t end; (end = author.find(';', start)) != std::string::npos; start = end + 1)
        authors.push_back(author.substr(start, end - start));
    authors.push_back(author.substr(start));
    return authors;
}

}  // namespace

Document ImportPdf(const Source& source) {
    const std::string_view bytes = source.bytes;
    if (!StartsAsPdf(bytes)) source.Refuse("it is not a PDF");
    if (!EndsAsPdf(bytes)) source.Refuse("it is truncated: the end of the PDF is missing");
    std::string why;
    const pdf_bridge::Entry* reader = Reader(why);
    if (!reader) source.Refuse("PDF files cannot be read, since the PDF reader is missing: " + why);

    pdf_bridge::Opened opened = pdf_bridge::Opened::Damaged;
    const std::unique_ptr<pdf_bridge::Document, Closer> document(
        WithPdfReader([&] { return reader->open(bytes.data(), bytes.size(), opened, why); }),
        Closer{reader});
    if (opened == pdf_bridge::Opened::Locked) source.Refuse("it is protected by a password");
    if (!document) source.Refuse("it is damaged: " + why);
    const int count = WithPdfReader([&] { return reader->pageCount(document.get()); });
    if (count <= 0) source.Refuse("it is damaged: it has no pages");

    const pdf_bridge::Info info = WithPdfReader([&] { return reader->info(document.get()); });
    Metadata metadata;
    metadata.title = info.title;
    metadata.authors = Authors(info.author);
    metadata.language = info.language.empty() ? CatalogLanguage(bytes) : info.language;
    HyphenJudge judge(metadata.language);
    // A word broken at a line's end among the first pages: the dictionary will be
    // needed, and loads while the rest are read.
    const auto loadDictionary = [&judge](const std::vector<pdf_bridge::Page>& pages, int read) {
        for (int i = 0; i < read; ++i)
            for (const pdf_bridge::Line& line : pages[static_cast<size_t>(i)].lines)
                if (line.text.ends_with('-')) return static_cast<void>(judge.Dictionary());
    };
    const std::vector<pdf_bridge::Page> pages =
        ReadPdfPages(*reader, document.get(), count, source, loadDictionary);
    const bool anyText =
        std::any_of(pages.begin(), pages.end(), [](const auto& p) { return !p.lines.empty(); });
    if (!anyText) {
        for (int i = 0; i < count; ++i)
            if (WithPdfReader([&] { return reader->pageHasImages(document.get(), i); }))
                source.Refuse(
                    "it holds only scanned pages, images without a text layer, so there is no text "
                    "to read");
        source.Refuse("it holds no text");
    }

    TextBuilder builder;
    const auto outline = WithPdfReader([&] { return reader->outline(document.get()); });
    BuildPdfText(pages, outline, judge, builder);
    source.Progress(1);
    return builder.Finish(std::move(metadata));
}

}  // namespace documents
