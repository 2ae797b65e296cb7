// Any pages and outline made into a document's text: the document is well formed
// (paragraphs neither empty nor holding a line break, chapters in order within the
// text), and no word is invented or lost but for the running lines left out and words
// made whole across a line's end.
//
// The input is read as commands, a byte each with its arguments after it:
//   0 W H: a page;  1..4 X Y W H N TEXT[N]: a line;  5 L P Y N TEXT[N]: an outline item;
//   6 D: the last line again on a page of its own, D points lower, its digits changed.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "documents/PdfText.h"

namespace {

class Reader {
  public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool More() const { return at_ < size_; }
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    // Text, with a few bytes standing for what line ends and running lines hold.
    std::string Text() {
        std::string text;
        for (int n = Byte() % 40; n > 0 && More(); --n) {
            const uint8_t c = Byte();
            if (c == 0xF0)
                text += "-";
            else if (c == 0xF1)
                text += "\u00AD";
            else if (c == 0xF2)
                text += "\u2010";
            else if (c == 0xF3)
                text += " ";
            else
                text += static_cast<char>(c);
        }
        return text;
    }

  private:
    const uint8_t* data_;
    size_t size_, at_ = 0;
};

size_t KeptWords(const std::vector<pdf_bridge::Page>& pages, size_t& lines) {
    const auto running = documents::FindRunningLines(pages);
    if (running.size() != pages.size()) std::abort();
    size_t words = 0;
    for (size_t p = 0; p < pages.size(); ++p) {
        if (running[p].size() != pages[p].lines.size()) std::abort();
        for (size_t l = 0; l < pages[p].lines.size(); ++l)
            if (!running[p][l]) {
                const size_t count =
                    documents::CountWords(documents::CleanLine(pages[p].lines[l].text));
                words += count;
                lines += count > 0;
            }
    }
    return words;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in(data, size);
    std::vector<pdf_bridge::Page> pages;
    std::vector<pdf_bridge::OutlineItem> outline;
    while (in.More()) {
        const uint8_t command = in.Byte() % 7;
        if (command == 0 || pages.empty()) {
            pages.push_back({100.0 + in.Byte() * 4, 100.0 + in.Byte() * 4, {}});
            if (command == 0) continue;
        }
        if (command <= 4) {
            pdf_bridge::Line line;
            line.box.left = in.Byte() * 2;
            line.box.top = in.Byte() * 4;
            line.box.right = line.box.left + in.Byte() * 2;
            line.fontSize = 1 + in.Byte() % 24;
            line.box.bottom = line.box.top + line.fontSize;
            line.text = in.Text();
            pages.back().lines.push_back(std::move(line));
        } else if (command == 5) {
            const int level = in.Byte() % 5;
            const int page = in.Byte() % 16 - 1;
            const double top = in.Byte() * 4 - 4;
            outline.push_back({in.Text(), level, page, top});
        } else if (!pages.back().lines.empty()) {
            pdf_bridge::Line line = pages.back().lines.back();
            const double down = in.Byte() % 8;
            line.box.top += down;
            line.box.bottom += down;
            for (char& c : line.text)
                if (c >= '0' && c <= '8') ++c;
            pages.push_back({pages.back().width, pages.back().height, {std::move(line)}});
        }
    }
    static documents::HyphenJudge judge("en-US");
    documents::TextBuilder builder;
    documents::BuildPdfText(pages, outline, judge, builder);
    const documents::Document doc = builder.Finish();

    const std::string& text = doc.text;
    if (text.find("\n\n") != std::string::npos || text.starts_with('\n') || text.ends_with('\n'))
        std::abort();
    size_t previous = 0;
    for (const auto& chapter : doc.chapters) {
        if (chapter.offset < previous || (!text.empty() && chapter.offset >= text.size()))
            std::abort();
        if (chapter.offset > 0 && text[chapter.offset - 1] != '\n') std::abort();
        previous = chapter.offset;
    }
    size_t lines = 0;
    const size_t kept = KeptWords(pages, lines), words = documents::CountWords(text);
    if (words > kept || words + lines < kept) std::abort();
    return 0;
}
