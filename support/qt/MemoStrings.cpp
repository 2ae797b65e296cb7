#include "support/qt/MemoStrings.h"

#include <QAbstractTextDocumentLayout>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QWindow>
#include <algorithm>
#include <string_view>

#include "support/Errors.h"
#include "support/LineBreaks.h"
#include "support/qt/TextCodec.h"

namespace {

constexpr char16_t kEscapeBase = 0xF700;

// Length of a UTF-8 sequence at p that the document would not keep as a character:
// U+FDD0/U+FDD1 mark frames. 0 for anything else. (The separators U+2028 and U+2029
// are line breaks by the time the text gets here.)
size_t UnsafeSequence(const unsigned char* p, size_t left) {
    if (left < 3) return 0;
    if (p[0] == 0xEF && p[1] == 0xB7 && (p[2] == 0x90 || p[2] == 0x91)) return 3;
    return 0;
}

// Decodes one line for the document. The characters that the document would turn into
// structure are kept as escaped bytes, which EncodeText turns back into the same bytes.
void AppendLineText(QString& out, std::string_view line) {
    const auto* p = reinterpret_cast<const unsigned char*>(line.data());
    size_t start = 0;
    for (size_t i = 0; i < line.size();) {
        if (p[i] < 0xEF) {
            ++i;
            continue;
        }
        size_t len = UnsafeSequence(p + i, line.size() - i);
        if (len == 0) {
            ++i;
            continue;
        }
        out += DecodeText(line.substr(start, i - start));
        for (size_t k = 0; k < len; ++k)
            out += QChar(static_cast<char16_t>(kEscapeBase + p[i + k]));
        i += len;
        start = i;
    }
    out += DecodeText(line.substr(start));
}

// The text in CR LF form, as the document takes it: one paragraph per line.
QString ToDocumentText(std::string_view text) {
    QString out;
    out.reserve(static_cast<qsizetype>(text.size()));
    for (;;) {
        size_t brk = text.find("\r\n");
        if (brk == std::string_view::npos) break;
        AppendLineText(out, text.substr(0, brk));
        out += QChar(u'\n');
        text.remove_prefix(brk + 2);
    }
    AppendLineText(out, text);
    return out;
}

// Makes sure the paragraph is laid out and returns its layout.
QTextLayout* LaidOut(QTextDocument* doc, const QTextBlock& block) {
    doc->documentLayout()->blockBoundingRect(block);
    return block.layout();
}

// The width the paragraphs are wrapped to; it follows the viewport unless wrapping is off.
double LayoutWidth(const QPlainTextEdit* memo) {
    return memo->lineWrapMode() == QPlainTextEdit::NoWrap ? -1.0 : memo->viewport()->width();
}

}  // namespace

TMemoStrings::TMemoStrings(QPlainTextEdit* memo) : memo_(memo) {}

bool TMemoStrings::HasWindow() const {
    if (!memo_) return false;
    const QWidget* top = memo_->window();
    return top->windowHandle() != nullptr && top->testAttribute(Qt::WA_WState_Created);
}

void TMemoStrings::EnsureIndex() const {
    QTextDocument* doc = memo_->document();
    const double width = LayoutWidth(memo_);
    if (indexDocument_ == doc && indexRevision_ == doc->revision() && indexWidth_ == width &&
        indexFont_ == doc->defaultFont() && !firstLine_.empty())
        return;
    firstLine_.clear();
    firstLine_.reserve(static_cast<size_t>(doc->blockCount()) + 1);
    int total = 0;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        firstLine_.push_back(total);
        QTextLayout* layout = LaidOut(doc, block);
        total += layout ? std::max(1, layout->lineCount()) : 1;
    }
    firstLine_.push_back(total);
    indexDocument_ = doc;
    indexRevision_ = doc->revision();
    indexWidth_ = width;
    indexFont_ = doc->defaultFont();
}

int TMemoStrings::FirstLineOfBlock(int block) const {
    if (!HasWindow()) return 0;
    EnsureIndex();
    const int last = static_cast<int>(firstLine_.size()) - 1;
    return firstLine_[static_cast<size_t>(std::clamp(block, 0, last))];
}

int TMemoStrings::LineCount() const {
    if (!HasWindow()) return 0;
    EnsureIndex();
    int count = firstLine_.back();
    // A last paragraph without text is the empty line after a final break (or the
    // empty control), which does not count.
    if (memo_->document()->lastBlock().length() <= 1) --count;
    return count;
}

std::string TMemoStrings::LineAt(int index) const {
    if (!memo_ || index < 0) return {};
    QTextDocument* doc = memo_->document();
    for (int attempt = 0; attempt < 2; ++attempt) {
        EnsureIndex();
        if (index >= firstLine_.back()) return {};
        auto it = std::upper_bound(firstLine_.begin(), firstLine_.end(), index) - 1;
        const int blockNumber = static_cast<int>(it - firstLine_.begin());
        QTextBlock block = doc->findBlockByNumber(blockNumber);
        QTextLayout* layout = LaidOut(doc, block);
        const int lines = layout ? std::max(1, layout->lineCount()) : 1;
        if (lines != *(it + 1) - *it) {
            firstLine_.clear();  // laid out anew since the index was built
            continue;
        }
        const QString text = block.text();
        QString piece = text;
        if (layout && layout->lineCount() > 0) {
            QTextLine line = layout->lineAt(index - *it);
            piece = text.mid(line.textStart(), line.textLength());
        }
        std::string bytes = EncodeText(piece);
        if (bytes.size() > kLineBufferSize) bytes.resize(kLineBufferSize);
        return bytes;
    }
    return {};
}

std::string TMemoStrings::JoinLines() const {
    if (!memo_) return {};
    // The raw text separates paragraphs by U+2029 and keeps every other character as it
    // is (toPlainText would turn no-break spaces into blanks).
    const QString raw = memo_->document()->toRawText();
    std::string out;
    out.reserve(static_cast<size_t>(raw.size()) + 16);
    qsizetype start = 0;
    for (;;) {
        qsizetype sep = raw.indexOf(QChar::ParagraphSeparator, start);
        const qsizetype end = sep < 0 ? raw.size() : sep;
        out += EncodeText(raw.mid(start, end - start));
        if (sep < 0) break;
        out += "\r\n";
        start = sep + 1;
    }
    return out;
}

void TMemoStrings::SplitText(const std::string& text) {
    if (!memo_) throw EInvalidOperation("The text box no longer exists");
    const std::string normalized = TextBoxLineBreaks(text);
    const std::string current = JoinLines();
    if (normalized.size() == current.size() && normalized == current) return;

    // The control takes the text up to its first zero byte.
    std::string_view taken = normalized;
    if (size_t nul = taken.find('\0'); nul != std::string_view::npos) taken = taken.substr(0, nul);

    bool refused = taken.size() > capacity_;
    if (!refused && memo_->maximumBlockCount() > 0) {
        size_t paragraphs = 1;
        for (size_t pos = taken.find("\r\n"); pos != std::string_view::npos;
             pos = taken.find("\r\n", pos + 2))
            ++paragraphs;
        refused = paragraphs > static_cast<size_t>(memo_->maximumBlockCount());
    }
    if (refused) throw EInvalidOperation("Text exceeds memo capacity");

    // setPlainText fires the control's textChanged exactly once.
    memo_->setPlainText(ToDocumentText(taken));
}

void TMemoStrings::SetUpdateState(bool updating) {
    if (!memo_) return;
    if (updating) {
        wasHidden_ = memo_->isHidden();
        memo_->setUpdatesEnabled(false);
        return;
    }
    memo_->setUpdatesEnabled(true);
    // The batch must not leave the control shown or hidden other than it was before.
    if (memo_->isHidden() != wasHidden_) memo_->setVisible(!wasHidden_);
    if (memo_->isVisible()) memo_->viewport()->repaint();
}
