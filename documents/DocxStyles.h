#pragma once
// What a DOCX's styles and numbering say of its paragraphs: which are headings and at
// which level, which belong to a printed table of contents, and the numbers the word
// processor shows before them.
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "documents/MarkupTree.h"

namespace documents {

struct DocxParagraphStyle {
    int level = 0;      // heading level, 0 for body text
    bool toc = false;   // a line of a printed table of contents
    int numId = -1;     // numbering the style gives, -1 for none
    int numLevel = -1;  // its level, -1 when the style does not say
};

class DocxStyles {
  public:
    DocxStyles() = default;
    // styles.xml and numbering.xml as trees (either may be empty).
    DocxStyles(const MarkupNode& styles, const MarkupNode& numbering);

    DocxParagraphStyle Paragraph(std::string_view styleId) const;

    // The number shown before the next paragraph numbered (numId, level), counting it;
    // "" for bullets and unnumbered levels.
    std::string Number(int numId, int level, std::string_view styleId);

  private:
    struct Style {
        std::string name, basedOn;
        int outline = -1;
        int numId = -1, numLevel = -1;
    };
    struct Level {
        int start = 1;
        std::string format = "decimal", text;
        std::string style;  // the paragraph style this level belongs to
    };
    struct List {
        std::string abstractId;
        std::map<int, int> startOverride;
        bool overrideApplied = false;
    };
    std::map<std::string, Style, std::less<>> styles_;
    std::map<std::string, std::vector<Level>> abstract_;
    std::map<int, List> lists_;
    std::map<std::string, std::vector<int>> counters_;  // by abstract numbering, 0 = unset
};

}  // namespace documents
