#pragma once
// Builds a Document's text as importers walk a file: inline text flows into the current
// paragraph with runs of white space made one blank; a block's end ends the paragraph;
// a chapter starts where the next paragraph will. Soft hyphens (U+00AD), U+FFFE and
// U+FEFF are dropped, control characters become blanks and bytes that are not UTF-8
// become U+FFFD, so whatever a file holds, the text is clean UTF-8.
#include <string>
#include <string_view>

#include "documents/Document.h"

namespace documents {

class TextBuilder {
  public:
    // Inline text, in any pieces: "a" then "b" joins as "ab".
    void Append(std::string_view utf8);
    // Ends the paragraph being built; nothing happens when it is empty.
    void EndParagraph();
    // A chapter whose first byte is the next paragraph's. A chapter started where the
    // previous one starts, with nothing between them, stands after it at the same offset.
    void StartChapter(std::string title, int level, ChapterKind kind = ChapterKind::Body);
    size_t TextSize() const { return text_.size(); }
    bool ParagraphOpen() const { return paragraphOpen_; }

    // The document, with chapters past the text's end dropped and titles made one line.
    Document Finish(Metadata metadata = {});

  private:
    std::string text_;
    std::vector<Chapter> chapters_;
    bool paragraphOpen_ = false;
    bool blankPending_ = false;
};

// UTF-8 made clean as TextBuilder makes it, with white space collapsed and trimmed: for
// titles and metadata.
std::string CleanLine(std::string_view utf8);

}  // namespace documents
