#include "PdfFixtures.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <cstdio>
#include <map>
#include <regex>
#include <stdexcept>

namespace pdf_fixtures {
namespace {

// A5 in points; the writer's resolution is set so that a unit is a point.
constexpr double kPageHeight = 595, kLeft = 50, kRight = 370;
constexpr double kHeadY = 40, kFootY = 565, kBodyTop = 100;

struct Block {
    int level;  // 0 for a paragraph, else a heading of that outline level
    std::string outlineTitle;
    // A line ending in "=" is a word broken by the line's end: printed with "-", read whole.
    std::vector<std::string> lines;
    bool indent = true;
};

const std::vector<Block>& BookBlocks() {
    static const std::vector<Block> blocks{
        {1, "Chapter One", {"Voices"}},
        {0,
         "",
         {"Every voice on this machine reads the same text in",
          "its own way, and a listener soon hears which of them",
          "suits a long evening of reading best."},
         false},
        {0,
         "",
         {"Some voices sound warm and some sound thin, yet the",
          "difference is rarely nega=", "tive for a listener who only wants the story."}},
        {0,
         "",
         {"A small engine keeps its power-", "performance balance by reading ahead a little, so",
          "that no sentence waits for the one before it."}},
        {1, "Chapter Two", {"Documents"}},
        {0,
         "",
         {"Documents arrive in many shapes: books, letters and",
          "reports that were printed once and kept as files."},
         false},
        {0,
         "",
         {"The reader takes what a file holds and leaves out the",
          "lines that repeat on every page, for a listener does",
          "not want to hear the name of the book again and", "again."}},
        {2, "Two, Part B", {"Broken words"}},
        {0,
         "",
         {"Hyphens that belong to a word, as in well-known, stay",
          "where they are; only a word broken at the end of a",
          "line is made whole again, as in this compre=", "hensive example."},
         false},
        {0,
         "",
         {"That is all there is to it, and the listener hears",
          "one story from the first page to the last."}},
    };
    return blocks;
}

struct OutlineMark {
    std::string title;
    int level, page;
    double top;
};

std::string Escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '(' || c == ')' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

// Appends a cross-reference section for the objects at the offsets given and the trailer.
void AppendXref(std::string& pdf, std::map<int, size_t> offsets, const std::string& trailer,
                bool withFree) {
    const size_t at = pdf.size();
    pdf += "xref\n";
    if (withFree) pdf += "0 1\n0000000000 65535 f \n";
    for (auto it = offsets.begin(); it != offsets.end();) {
        auto end = it;
        int count = 0;
        while (end != offsets.end() && end->first == it->first + count) ++end, ++count;
        pdf += std::to_string(it->first) + " " + std::to_string(count) + "\n";
        for (; it != end; ++it) {
            char entry[24];
            std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", it->second);
            pdf += entry;
        }
    }
    pdf += "trailer\n" + trailer + "\nstartxref\n" + std::to_string(at) + "\n%%EOF\n";
}

int Number(const std::string& text, const std::string& pattern) {
    std::smatch m;
    if (!std::regex_search(text, m, std::regex(pattern))) throw std::runtime_error("no " + pattern);
    return std::stoi(m[1]);
}

std::string ObjectBody(const std::string& pdf, int number) {
    const std::string head = "\n" + std::to_string(number) + " 0 obj";
    const size_t start = pdf.rfind(head);
    const size_t end = pdf.find("endobj", start);
    if (start == std::string::npos || end == std::string::npos)
        throw std::runtime_error("no object " + std::to_string(number));
    return pdf.substr(start + head.size(), end - start - head.size());
}

// Adds an outline, an information dictionary and the catalogue's language to a PDF as
// an incremental update, as an editor saving a change would.
std::string AddOutline(std::string pdf, const std::vector<OutlineMark>& marks,
                       const std::string& title, const std::string& author,
                       const std::string& lang) {
    const std::string trailer = pdf.substr(pdf.rfind("trailer"));
    const int size = Number(trailer, R"(/Size\s+(\d+))");
    const int root = Number(trailer, R"(/Root\s+(\d+)\s+0\s+R)");
    const int previous = Number(pdf.substr(pdf.rfind("startxref")), R"(startxref\s+(\d+))");
    std::string catalog = ObjectBody(pdf, root);
    const int pagesNumber = Number(catalog, R"(/Pages\s+(\d+)\s+0\s+R)");
    std::vector<int> pages;
    const std::string kids = ObjectBody(pdf, pagesNumber);
    const std::regex ref(R"((\d+)\s+0\s+R)");
    const std::string list = kids.substr(kids.find("/Kids"));
    for (auto it = std::sregex_iterator(list.begin(), list.begin() + long(list.find(']')), ref);
         it != std::sregex_iterator(); ++it)
        pages.push_back(std::stoi((*it)[1]));

    const int info = size, outlines = size + 1, first = size + 2;
    // The tree: each mark's parent is the last mark above its level.
    const int n = static_cast<int>(marks.size());
    std::vector<int> parent(n, -1);
    for (int i = 0; i < n; ++i)
        for (int j = i - 1; j >= 0; --j)
            if (marks[j].level < marks[i].level) {
                parent[i] = j;
                break;
            }
    const auto objectOf = [&](int i) { return i < 0 ? outlines : first + i; };
    const auto children = [&](int p) {
        std::vector<int> c;
        for (int i = 0; i < n; ++i)
            if (parent[i] == p) c.push_back(i);
        return c;
    };
    const auto ref_ = [](int number) { return std::to_string(number) + " 0 R"; };
    std::map<int, size_t> offsets;
    const auto add = [&](int number, const std::string& body) {
        offsets[number] = pdf.size() + 1;
        pdf += "\n" + std::to_string(number) + " 0 obj\n" + body + "\nendobj";
    };
    add(info, "<< /Title (" + Escape(title) + ") /Author (" + Escape(author) + ") >>");
    const std::vector<int> top = children(-1);
    add(outlines, "<< /Type /Outlines /First " + ref_(objectOf(top.front())) + " /Last " +
                      ref_(objectOf(top.back())) + " /Count " + std::to_string(n) + " >>");
    for (int i = 0; i < n; ++i) {
        const std::vector<int> mine = children(i), siblings = children(parent[i]);
        const auto at = std::find(siblings.begin(), siblings.end(), i) - siblings.begin();
        std::string body =
            "<< /Title (" + Escape(marks[i].title) + ") /Parent " + ref_(objectOf(parent[i]));
        if (at > 0) body += " /Prev " + ref_(objectOf(siblings[at - 1]));
        if (at + 1 < long(siblings.size())) body += " /Next " + ref_(objectOf(siblings[at + 1]));
        if (!mine.empty())
            body += " /First " + ref_(objectOf(mine.front())) + " /Last " +
                    ref_(objectOf(mine.back())) + " /Count " + std::to_string(mine.size());
        body += " /Dest [" + ref_(pages.at(marks[i].page)) + " /XYZ 0 " +
                std::to_string(static_cast<int>(kPageHeight - marks[i].top)) + " 0] >>";
        add(first + i, body);
    }
    catalog = catalog.substr(catalog.find("<<"));
    catalog.insert(2, " /Outlines " + ref_(outlines) + " /Lang (" + Escape(lang) + ") ");
    add(root, catalog);
    pdf += "\n";
    AppendXref(pdf, offsets,
               "<< /Size " + std::to_string(first + n) + " /Root " + ref_(root) + " /Info " +
                   ref_(info) + " /Prev " + std::to_string(previous) + " >>",
               false);
    return pdf;
}

// Lays out pages on a QPdfWriter: running heads, feet, body lines.
class Printer {
  public:
    Printer() : writer_(&buffer_) {
        buffer_.open(QIODevice::WriteOnly);
        writer_.setResolution(72);
        writer_.setPageSize(QPageSize(QPageSize::A5));
        writer_.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer_.setTitle(QStringLiteral("Printed Title"));
        painter_.begin(&writer_);
        body_.setFamily(QStringLiteral("Liberation Serif"));
        body_.setPointSizeF(12);
        heading_ = body_;
        heading_.setPointSizeF(16);
        heading_.setBold(true);
    }

    void ImagePage() {
        QImage image(120, 170, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, qRgb((x * 7 + y * 3) % 200, (x * y) % 180, (y * 5) % 220));
        if (started_) writer_.newPage();
        painter_.drawImage(QRectF(30, 30, 360, 535), image);
        started_ = true;
        ++page_;
        row_ = linesPerPage_;  // the page is full
    }

    // Places a line (a heading when level > 0) and returns its page and top.
    std::pair<int, double> Line(const std::string& text, int level, double indent) {
        if (!started_ || row_ >= linesPerPage_) NewPage();
        if (level > 0 && row_ > 0) ++row_;  // a heading has a blank line above it
        if (row_ >= linesPerPage_) NewPage();
        const double baseline = kBodyTop + row_ * pitch_;
        painter_.setFont(level > 0 ? heading_ : body_);
        painter_.drawText(QPointF(kLeft + indent, baseline), QString::fromStdString(text));
        ++row_;
        return {page_, baseline - (level > 0 ? 16 : 12)};
    }

    void SetLayout(int linesPerPage, double pitch, double fontSize) {
        linesPerPage_ = linesPerPage;
        pitch_ = pitch;
        body_.setPointSizeF(fontSize);
    }

    std::string Finish() {
        painter_.end();
        return buffer_.data().toStdString();
    }

  private:
    void NewPage() {
        if (started_) writer_.newPage();
        started_ = true;
        ++page_;
        row_ = linesPerPage_;  // the page is full
        row_ = 0;
        painter_.setFont(body_);
        const QFontMetricsF metrics(body_);
        const auto right = [&](const QString& s, double y) {
            painter_.drawText(QPointF(kRight - metrics.horizontalAdvance(s), y), s);
        };
        const QString number = QString::number(page_ + 1);
        if (page_ % 2 == 0) {
            painter_.drawText(QPointF(kLeft, kHeadY), number);
            right(QStringLiteral("The Parlen Book"), kHeadY);
            painter_.drawText(QPointF(kLeft, kFootY), QStringLiteral("Page ") + number);
        } else {
            right(QStringLiteral("A Tale of Two Voices"), kHeadY);
            right(QStringLiteral("Page ") + number, kFootY);
        }
    }

    QBuffer buffer_;
    QPdfWriter writer_;
    QPainter painter_;
    QFont body_, heading_;
    bool started_ = false;
    int page_ = -1, row_ = 0, linesPerPage_ = 6;
    double pitch_ = 18;
};

}  // namespace

void EnsureGuiApplication() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "pdf-fixtures";
    static char* argv[] = {name, nullptr};
    new QGuiApplication(argc, argv);  // lives as long as the process
}

Book MakeBook() {
    EnsureGuiApplication();
    Book book;
    Printer printer;
    printer.ImagePage();
    std::vector<OutlineMark> marks;
    for (const Block& block : BookBlocks()) {
        std::string paragraph;
        for (size_t i = 0; i < block.lines.size(); ++i) {
            std::string line = block.lines[i];
            const bool broken = line.back() == '=';
            if (broken) line.back() = '-';
            const auto [page, top] =
                printer.Line(line, block.level, i == 0 && block.indent ? 20 : 0);
            if (block.level > 0) {
                marks.push_back({block.outlineTitle, block.level, page, top - 4});
                book.chapters.push_back({block.outlineTitle, block.level, line});
            }
            if (broken) line.pop_back();
            paragraph += line;
            if (!broken && line.back() != '-' && i + 1 < block.lines.size()) paragraph += ' ';
        }
        book.text += (book.text.empty() ? "" : "\n") + paragraph;
    }
    book.running = {"The Parlen Book", "A Tale of Two Voices", "Page"};
    book.title = "The Parlen Book";
    book.author = "Ada Reader";
    book.language = "en-GB";
    book.bytes = AddOutline(printer.Finish(), marks, book.title, book.author, book.language);
    return book;
}

std::string MakeLongBook(int pages) {
    EnsureGuiApplication();
    static const char* const words[] = {
        "the",      "voice",   "reads",  "a",     "long",    "evening", "of",   "stories", "and",
        "listener", "hears",   "every",  "page",  "quietly", "with",    "care", "while",   "rain",
        "falls",    "outside", "window", "small", "engine",  "keeps",   "time"};
    Printer printer;
    printer.SetLayout(30, 14.5, 10);
    unsigned seed = 12345;
    std::vector<OutlineMark> marks;
    for (int line = 0; line < pages * 30; ++line) {
        std::string text;
        while (text.size() < 58) {
            seed = seed * 1103515245u + 12345u;
            text += std::string(text.empty() ? "" : " ") + words[(seed >> 16) % std::size(words)];
        }
        // A paragraph's last line now and then, and a word broken at a line's end.
        if ((seed >> 8) % 7 == 0)
            text = text.substr(0, 30) + ".";
        else if (line % 9 == 4)
            text += " compre-";
        if (line % 9 == 5) text = "hensive " + text;
        const auto [page, top] = printer.Line(text, 0, 0);
        if (line % 300 == 0)
            marks.push_back({"Part " + std::to_string(line / 300 + 1), 1, page, top});
    }
    return AddOutline(printer.Finish(), marks, "A Long Book", "Ada Reader", "en-US");
}

std::string MakeScannedPdf() {
    EnsureGuiApplication();
    Printer printer;
    printer.ImagePage();
    return printer.Finish();
}

std::string MakeLockedPdf() {
    // The standard security handler with a user password: neither password is empty, so
    // nothing of the file can be read without one.
    std::string pdf = "%PDF-1.4\n%\xe2\xe3\xcf\xd3\n";
    const char* const objects[] = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 420 595] /Contents 4 0 R >>",
        "<< /Length 32 >>\nstream\n\x8a\x11\x5c\x90\x02\x7e\x31\xc4\x9d\x0f\x66\x52\xae\x13\x48\xf1"
        "\x07\x9b\x2d\xe6\x70\x44\xb9\x1c\x83\x5f\x26\xda\x3e\x91\x0c\x77\nendstream",
        "<< /Filter /Standard /V 1 /R 2 /P -44"
        " /O <6D1F0E3A9C4B7E25D08A61F3B5C29E47D36A0B1F8E2C5D9A4B7061E3F2D8C5A9>"
        " /U <2B8E4F71C05A9D36E81B7F24A6D3095C1E7B48F2D60A39C5E8174B2F6D0A93C1> >>",
    };
    std::map<int, size_t> offsets;
    for (int i = 0; i < 5; ++i) {
        offsets[i + 1] = pdf.size();
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    AppendXref(pdf, offsets,
               "<< /Size 6 /Root 1 0 R /Encrypt 5 0 R /ID [<0123456789ABCDEF0123456789ABCDEF>"
               " <0123456789ABCDEF0123456789ABCDEF>] >>",
               true);
    return pdf;
}

std::string MakeTruncatedPdf() {
    const std::string whole = MakeBook().bytes;
    return whole.substr(0, whole.size() / 2);
}

std::string MakeNotAPdf() {
    return "Dear reader,\nthis letter was saved with the wrong name; it holds no PDF at all.\n";
}

}  // namespace pdf_fixtures
