#pragma once
// Maps the engine's word offsets back onto the text box.
//
// The engine reports byte offsets into the text it was handed: the box's laid-out
// lines, each followed by CR LF, in UTF-8. The box has no break where it wraps a
// line, and a character may take several bytes. The map is built from a snapshot of
// the lines as they were handed over (the live box may be edited meanwhile) and
// turns an offset into a character position of the box as it was then.
#include <QString>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class TStrings;

class TSpokenTextMap {
  public:
    // Aligns the handed-over lines with the box's text at the moment of handing over.
    // Parts of the box left out of the spoken text (unticked chapters) are given as
    // [start, end) positions of the whole box, in order; boxText is then the box
    // without them.
    void Build(const TStrings& spokenLines, const QString& boxText,
               std::vector<std::pair<int, int>> leftOut = {});
    // For a text that did not come from the box (the test phrase): positions are the
    // characters of the spoken text itself.
    void BuildStandalone(const TStrings& spokenLines);
    void Clear();

    // Box position of the character at byteOffset; an offset inside a line break maps
    // to the end of that line. -1 when the offset lies beyond the spoken text.
    int CharPosition(uint32_t byteOffset) const;
    // Length in bytes of the spoken text.
    uint64_t ByteLength() const { return byteLength_; }

  private:
    struct Line {
        uint64_t byteStart;  // first byte of the line in the spoken text
        uint32_t byteCount;  // its bytes without the CR LF
        int charStart;       // box position of its first character
        int charCount;       // its length in box positions (UTF-16 units)
        bool ascii;          // bytes and positions coincide
        uint32_t textStart;  // where its bytes are kept in text_ (non-ASCII lines only)
    };
    // The position in the box text without the parts left out.
    int SpokenPosition(uint32_t byteOffset) const;
    void Append(const std::string& bytes, int charStart, int charCount, bool ascii);

    // Where each left-out part starts in the text without them, and its length.
    std::vector<std::pair<int, int>> leftOut_;
    std::vector<Line> lines_;
    std::string text_;  // the bytes of the non-ASCII lines
    uint64_t byteLength_ = 0;
};
