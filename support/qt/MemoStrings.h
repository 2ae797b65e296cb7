#pragma once
// Line list viewing the text of a multi-line text box (QPlainTextEdit). It holds no
// copy of the lines: every call reads the control.
//
// Lines are the lines as the control lays them out: a paragraph that the control wraps
// counts as one line per wrapped piece (each piece keeps its trailing blanks); the
// control only wraps once it has been shown, before that every paragraph is one line.
// The control "has a window" once its top-level window has a platform window, i.e.
// after that window was first shown or created; until then LineCount() is 0. Text
// transfer (JoinLines, SplitText and thus LoadTextFile/SaveTextFile) works regardless,
// as boxes on pages that have not been shown yet must still take and give text.
//
// The text form is the control's text with CR LF between paragraphs and no break after
// the last one; bytes that are not valid UTF-8 survive the round trip (support/qt/TextCodec.h).
// Text handed to the control has its breaks normalised, line and paragraph separators
// included (TextBoxLineBreaks), so that every line shown is a line of the text form.
#include <QFont>
#include <QPointer>
#include <cstddef>
#include <string>
#include <vector>

#include "support/Strings.h"

class QPlainTextEdit;

class TMemoStrings : public TStrings {
  public:
    // Largest text, in bytes, that the control accepts by default. Beyond this a text
    // box is no longer usable (laying out alone takes minutes), so it is refused.
    static constexpr size_t kDefaultCapacity = size_t{64} << 20;
    // A line read through LineAt is cut to this many bytes.
    static constexpr size_t kLineBufferSize = 4096;

    explicit TMemoStrings(QPlainTextEdit* memo);
    ~TMemoStrings() override = default;

    int LineCount() const override;
    std::string LineAt(int index) const override;
    std::string JoinLines() const override;
    void SplitText(const std::string& text) override;

    // The number of the first laid-out line of paragraph `block` (the line count for the
    // paragraph past the last).
    int FirstLineOfBlock(int block) const;

    // The control also refuses texts with more paragraphs than its maximumBlockCount().
    void SetCapacity(size_t bytes) { capacity_ = bytes; }
    size_t Capacity() const { return capacity_; }

  protected:
    void SetUpdateState(bool updating) override;

  private:
    bool HasWindow() const;
    // Laid-out line count of every paragraph, rebuilt when text or layout width changed.
    void EnsureIndex() const;

    QPointer<QPlainTextEdit> memo_;
    size_t capacity_ = kDefaultCapacity;
    bool wasHidden_ = false;

    // Index of the laid-out lines: firstLine_[b] is the number of the first line of
    // paragraph b; the last entry is the total. Valid for the key below.
    mutable std::vector<int> firstLine_;
    mutable int indexRevision_ = -1;
    mutable double indexWidth_ = -1;
    mutable const void* indexDocument_ = nullptr;
    mutable QFont indexFont_;
};
