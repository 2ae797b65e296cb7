#pragma once
// The text of (X)HTML as a listener hears it, written into a TextBuilder: hidden
// elements, scripts, styles, asides, notes, note references and page-break markers are
// left out; block elements end paragraphs; h1 to h6 start chapters when asked.
#include <string>
#include <string_view>
#include <vector>

#include "documents/Markup.h"
#include "documents/TextBuilder.h"

namespace documents {

// Told where a content file's places are, for chapters that start at them.
class HtmlTextListener {
  public:
    virtual ~HtmlTextListener() = default;
    // An element with this id starts; its text follows.
    virtual void ElementWithId(std::string_view /*id*/) {}
    // Text of the file is about to be written.
    virtual void BeforeText() {}
};

class HtmlText : public MarkupHandler {
  public:
    explicit HtmlText(TextBuilder& builder, HtmlTextListener* listener = nullptr)
        : builder_(builder), listener_(listener) {}

    bool headingsAreChapters = true;
    // An element with this id, and all within it, is left out (a printed table of contents).
    std::string skipId;

    // What the file says of itself.
    const std::string& Title() const { return title_; }
    const std::string& Language() const { return language_; }
    const std::vector<std::string>& Authors() const { return authors_; }
    // The epub:type values of the elements around the file's first text (body, section).
    const std::string& OuterTypes() const { return outerTypes_; }

    void StartElement(std::string_view name, const MarkupAttributes& attributes) override;
    void EndElement(std::string_view name) override;
    void Text(std::string_view text) override;

  private:
    bool LeftOut(std::string_view name, const MarkupAttributes& attributes) const;

    TextBuilder& builder_;
    HtmlTextListener* listener_;
    size_t skipDepth_ = 0;  // > 0 inside an element left out
    int heading_ = 0;       // the level of the heading being read, 0 outside one
    size_t headingDepth_ = 0;
    size_t depth_ = 0;
    std::string headingText_;
    bool inTitle_ = false;
    bool sawText_ = false;
    std::string title_, language_, outerTypes_;
    std::vector<std::string> authors_;
};

// Whether an epub:type value or a role marks the front or back matter; Body otherwise.
ChapterKind KindOfTypes(std::string_view types);

}  // namespace documents
