#include "documents/TextBuilder.h"

#include <cctype>

#include "support/Unicode.h"

namespace documents {
namespace {

bool IsBlank(char32_t c) {
    return c <= 0x20 || (c >= 0x7F && c <= 0xA0) || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
           c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

bool IsDropped(char32_t c) {
    return c == 0xAD || c == 0xFFFE || c == 0xFEFF || c == 0x200B;
}

// Appends text to out with blanks collapsed: a blank is written only before the next
// character that is kept, and never first.
void AppendCollapsed(std::string_view text, std::string& out, bool& blankPending, bool& started) {
    for (size_t i = 0; i < text.size();) {
        char32_t c = NextUtf8(text, i);
        if (c >= kNotUtf8) c = 0xFFFD;
        if (IsDropped(c)) continue;
        if (IsBlank(c)) {
            blankPending = started;
            continue;
        }
        if (blankPending) out += ' ';
        blankPending = false;
        started = true;
        AppendUtf8(out, c);
    }
}

}  // namespace

void TextBuilder::Append(std::string_view utf8) {
    if (!paragraphOpen_) {
        // A paragraph opens only with something kept, so empty ones never appear.
        std::string piece;
        bool started = false;
        bool blank = false;
        AppendCollapsed(utf8, piece, blank, started);
        if (!started) return;
        if (!text_.empty()) text_ += '\n';
        text_ += piece;
        paragraphOpen_ = true;
        blankPending_ = blank;
        return;
    }
    bool started = true;
    AppendCollapsed(utf8, text_, blankPending_, started);
}

void TextBuilder::EndParagraph() {
    paragraphOpen_ = false;
    blankPending_ = false;
}

void TextBuilder::StartChapter(std::string title, int level, ChapterKind kind) {
    EndParagraph();
    // The next paragraph starts after the "\n" that will separate it.
    const size_t offset = text_.empty() ? 0 : text_.size() + 1;
    chapters_.push_back({CleanLine(title), level < 1 ? 1 : level, offset, kind});
}

Document TextBuilder::Finish(Metadata metadata) {
    EndParagraph();
    Document document;
    for (auto& chapter : chapters_) {
        // A chapter after the last paragraph has no text of its own to start.
        if (!text_.empty() && chapter.offset >= text_.size()) continue;
        if (text_.empty() && chapter.offset > 0) continue;
        document.chapters.push_back(std::move(chapter));
    }
    chapters_.clear();
    document.text = std::move(text_);
    text_.clear();
    metadata.title = CleanLine(metadata.title);
    for (auto& author : metadata.authors) author = CleanLine(author);
    std::erase_if(metadata.authors, [](const std::string& a) { return a.empty(); });
    metadata.language = CleanLine(metadata.language);
    document.metadata = std::move(metadata);
    return document;
}

std::string CleanLine(std::string_view utf8) {
    std::string out;
    bool blank = false;
    bool started = false;
    AppendCollapsed(utf8, out, blank, started);
    return out;
}

size_t CountWords(std::string_view utf8) {
    size_t words = 0;
    bool inWord = false;
    for (size_t i = 0; i < utf8.size();) {
        char32_t c = NextUtf8(utf8, i);
        if (c >= kNotUtf8) c = 0xFFFD;
        // Letters and digits of any script: everything but blanks, ASCII punctuation and
        // the general punctuation block.
        const bool wordy = !IsBlank(c) && !(c < 0x80 && !std::isalnum(static_cast<int>(c))) &&
                           !(c >= 0x2010 && c <= 0x205E) && c != 0xFFFD && !IsDropped(c);
        if (wordy && !inWord) ++words;
        inWord = wordy;
    }
    return words;
}

const char* ChapterKindName(ChapterKind kind) {
    switch (kind) {
        case ChapterKind::FrontMatter:
            return "front";
        case ChapterKind::BackMatter:
            return "back";
        case ChapterKind::Body:
            break;
    }
    return "body";
}

}  // namespace documents
