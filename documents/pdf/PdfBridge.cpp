// The PDF reader: poppler's Qt binding behind the plain table of PdfEntry.h. It works
// without a QCoreApplication (the programs that map it may have none) and on one
// document per call from one thread at a time.
#include <poppler/qt6/poppler-qt6.h>

#include <QByteArray>
#include <QImage>
#include <QRegularExpression>
#include <QString>
#include <algorithm>
#include <limits>
#include <memory>

#include "documents/pdf/PdfEntry.h"

struct pdf_bridge::Document {
    std::unique_ptr<Poppler::Document> poppler;
};

namespace {
using namespace pdf_bridge;

// poppler writes what it repairs in a damaged file to stderr; the importer reports what
// matters itself.
void Quiet(const QString&, const QVariant&) {}

Document* Open(const char* bytes, size_t size, Opened& opened, std::string& why) {
    Poppler::setDebugErrorFunction(&Quiet, QVariant());
    opened = Opened::Damaged;
    if (size > static_cast<size_t>(std::numeric_limits<qsizetype>::max())) {
        why = "it is too large";
        return nullptr;
    }
    // No copy: the bytes stay the caller's for the document's life.
    const QByteArray data = QByteArray::fromRawData(bytes, static_cast<qsizetype>(size));
    std::unique_ptr<Poppler::Document> poppler = Poppler::Document::loadFromData(data);
    if (!poppler) {
        why = "its structure cannot be read";
        return nullptr;
    }
    if (poppler->isLocked()) {
        opened = Opened::Locked;
        return nullptr;
    }
    opened = Opened::Yes;
    return new Document{std::move(poppler)};
}

void Close(Document* document) {
    delete document;
}

int PageCount(Document* document) {
    return document->poppler->numPages();
}

bool ReadPage(Document* document, int index, Page& out) {
    out = Page{};
    const std::unique_ptr<Poppler::Page> page = document->poppler->page(index);
    if (!page) return false;
    const QSizeF size = page->pageSizeF();
    out.width = size.width();
    out.height = size.height();
    const std::vector<std::unique_ptr<Poppler::TextBox>> words = page->textList();
    Line line;
    QString text;
    for (size_t i = 0; i < words.size(); ++i) {
        const Poppler::TextBox& word = *words[i];
        const QRectF r = word.boundingBox();
        if (text.isEmpty()) {
            line.box = {r.left(), r.top(), r.right(), r.bottom()};
        } else {
            line.box.left = std::min(line.box.left, r.left());
            line.box.top = std::min(line.box.top, r.top());
            line.box.right = std::max(line.box.right, r.right());
            line.box.bottom = std::max(line.box.bottom, r.bottom());
        }
        text += word.text();
        // A line's words are chained; the next box starts another line when the chain
        // does not lead to it.
        const bool lineGoesOn = i + 1 < words.size() && word.nextWord() == words[i + 1].get();
        if (lineGoesOn) {
            if (word.hasSpaceAfter()) text += QLatin1Char(' ');
            continue;
        }
        line.text = text.toStdString();
        line.fontSize = line.box.bottom - line.box.top;
        out.lines.push_back(std::move(line));
        line = Line{};
        text.clear();
    }
    return true;
}

bool PageHasImages(Document* document, int index) {
    const std::unique_ptr<Poppler::Page> page = document->poppler->page(index);
    if (!page) return false;
    // A thumbnail is enough to see whether anything is drawn on a page without text.
    const QImage image = page->renderToImage(9, 9).convertToFormat(QImage::Format_Grayscale8);
    for (int y = 0; y < image.height(); ++y) {
        const uchar* row = image.constScanLine(y);
        for (int x = 0; x < image.width(); ++x)
            if (row[x] < 240) return true;
    }
    return false;
}

void AddItems(Poppler::Document& poppler, const QVector<Poppler::OutlineItem>& items, int level,
              std::vector<OutlineItem>& out) {
    for (const Poppler::OutlineItem& item : items) {
        OutlineItem entry;
        entry.title = item.name().toStdString();
        entry.level = level;
        if (const auto destination = item.destination();
            destination && item.externalFileName().isEmpty()) {
            entry.page = destination->pageNumber() - 1;
            if (entry.page >= 0 && destination->isChangeTop()) {
                // The binding gives the top as a share of the page's height.
                if (const std::unique_ptr<Poppler::Page> page = poppler.page(entry.page))
                    entry.top =
                        std::clamp(destination->top(), 0.0, 1.0) * page->pageSizeF().height();
            }
        }
        out.push_back(std::move(entry));
        // Outlines may nest deep in a hostile file; the deeper levels add nothing to read.
        if (item.hasChildren() && level < 64) AddItems(poppler, item.children(), level + 1, out);
    }
}

std::vector<OutlineItem> Outline(Document* document) {
    std::vector<OutlineItem> out;
    AddItems(*document->poppler, document->poppler->outline(), 1, out);
    return out;
}

Info ReadInfo(Document* document) {
    Poppler::Document& poppler = *document->poppler;
    Info info;
    info.title = poppler.info(QStringLiteral("Title")).toStdString();
    info.author = poppler.info(QStringLiteral("Author")).toStdString();
    // The binding does not give the catalogue's language; the XMP metadata may.
    static const QRegularExpression language(
        QStringLiteral("<dc:language>\\s*(?:<rdf:Bag>\\s*)?<rdf:li[^>]*>([^<]+)</rdf:li>"));
    if (const auto match = language.match(poppler.metadata()); match.hasMatch())
        info.language = match.captured(1).trimmed().toStdString();
    return info;
}

}  // namespace

const pdf_bridge::Entry* parlen_pdf_entry() {
    static const pdf_bridge::Entry entry{&Open,          &Close,   &PageCount, &ReadPage,
                                         &PageHasImages, &Outline, &ReadInfo};
    return &entry;
}
