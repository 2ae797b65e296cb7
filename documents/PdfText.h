#pragma once
// A PDF's pages made into a document's text, on the plain structures the reader gives
// (pdf/PdfEntry.h): no PDF library is needed, so this is tested and fuzzed alone.
#include <vector>

#include "documents/PdfHyphens.h"
#include "documents/TextBuilder.h"
#include "documents/pdf/PdfEntry.h"

namespace documents {

// Which lines are running heads, running feet or page numbers, [page][line]: lines in
// the page's top or bottom band that repeat at the same height on many pages (digits
// made alike, so "Page 3" repeats as "Page 4"; odd and even pages counted apart too,
// for heads and feet that differ between them), and a lone page number at a page's edge.
std::vector<std::vector<bool>> FindRunningLines(const std::vector<pdf_bridge::Page>& pages);

// Writes the pages' text into builder, in the reader's order: running lines left out,
// lines joined into paragraphs (a gap wider than the line spacing, an indented line, a
// change of type size or a short line ending a sentence starts one), a word broken at a
// line's end made whole when judge says so, and each outline item started as a chapter
// at the first line of its destination on its page.
void BuildPdfText(const std::vector<pdf_bridge::Page>& pages,
                  const std::vector<pdf_bridge::OutlineItem>& outline, HyphenJudge& judge,
                  TextBuilder& builder);

}  // namespace documents
