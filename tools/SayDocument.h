#pragma once
// parlen-say's documents: an input whose name is a document's (EPUB, PDF, DOCX, ODT,
// HTML, Markdown) is imported, and its chapters can be listed or chosen.
#include <optional>
#include <string>
#include <vector>

#include "containers/ChapterTags.h"
#include "documents/Document.h"

// What the command line asks of the input besides speaking it.
struct DocumentRequest {
    bool listChapters = false;  // --chapters
    bool printText = false;     // --print-text
    std::string only;           // --only, e.g. "3-7,9"; empty: every chapter
    bool perChapter = false;    // --per-chapter
};

// The chapters "3-7,9" names among count of them (numbered from 1), as a flag per
// chapter; EUsageError naming what is wrong (a number out of range, a reversed range,
// something that is no number).
std::vector<bool> ParseChapterList(const std::string& list, size_t count);

// The text of the chosen chapters, each from its start to the next chapter's, and where
// each begins in it.
std::string ChosenText(const documents::Document& document, const std::vector<bool>& chosen,
                       std::vector<containers::ChapterStart>* starts = nullptr);

// "number<TAB>level<TAB>kind<TAB>words<TAB>title", a line per chapter.
std::string ChapterLines(const documents::Document& document);

// What a document tells of the text it gave: its chapters there and its tags.
struct SayBook {
    std::vector<containers::ChapterStart> chapters;
    containers::BookTags tags;
};

// The input as the voices take it: a document imported and cut to the chosen chapters,
// else the text as read; lines ended by CR LF, outputs refused as ReadSayText does. With
// --chapters or --print-text, what to print instead, in printed. A document's chapters
// within the text and its tags go to book.
std::string ReadSayInput(const std::string& input, const std::vector<std::string>& outputs,
                         const DocumentRequest& request, std::optional<std::string>& printed,
                         SayBook& book);
