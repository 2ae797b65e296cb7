#pragma once
// How the importer reaches the PDF reader of libparlen_pdf.so, which it maps only when a
// PDF is opened: one C symbol, parlen_pdf_entry, gives a table of plain functions. The
// library holds poppler's Qt binding, so that the programs load no Qt library; nothing
// of Qt crosses this table. Both sides are built together from this header.
#include <cstddef>
#include <string>
#include <vector>

#define PARLEN_PDF_API __attribute__((visibility("default")))

namespace pdf_bridge {

// Points, from the page's top left corner, y growing downwards.
struct Box {
    double left = 0, top = 0, right = 0, bottom = 0;
};

// One line of text as the reader found it, its words joined with the blanks between them.
struct Line {
    std::string text;  // UTF-8
    Box box;
    double fontSize = 0;  // the line's height when the reader gives no font size
};

struct Page {
    double width = 0, height = 0;
    std::vector<Line> lines;  // in reading order
};

struct OutlineItem {
    std::string title;  // UTF-8
    int level = 1;      // 1 is the top of the outline
    int page = -1;      // 0-based; -1 when the item leads to no page of this file
    double top = -1;    // points from the page's top, -1 when the item gives none
};

struct Info {
    std::string title, author, language;  // UTF-8, as the file gives them; may be empty
};

enum class Opened { Yes, Damaged, Locked };

struct Document;  // the reader's, opaque

struct Entry {
    // bytes must outlive the document; why says what went wrong when it is not Yes.
    Document* (*open)(const char* bytes, size_t size, Opened& opened, std::string& why);
    void (*close)(Document* document);
    int (*pageCount)(Document* document);
    // False when the page cannot be read.
    bool (*readPage)(Document* document, int index, Page& page);
    // Whether the page shows anything drawn (an image, a scan): for pages without text.
    bool (*pageHasImages)(Document* document, int index);
    std::vector<OutlineItem> (*outline)(Document* document);
    Info (*info)(Document* document);
};

}  // namespace pdf_bridge

extern "C" PARLEN_PDF_API const pdf_bridge::Entry* parlen_pdf_entry();
inline constexpr const char* kPdfEntrySymbol = "parlen_pdf_entry";
inline constexpr const char* kPdfLibraryName = "libparlen_pdf.so";
