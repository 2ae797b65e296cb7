// The window's documents: loading EPUB, PDF, DOCX, ODT, HTML and Markdown files into the
// text box in the background, the chapter list beside the page, and the lines that
// Speak and Save... hand over without the chapters left unticked.
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextDocument>
#include <QTreeWidget>

#include "app/BookMaker.h"
#include "app/ChapterList.h"
#include "app/ChapterMarker.h"
#include "app/DocumentLoader.h"
#include "app/ErrorGuard.h"
#include "app/TextBox.h"
#include "app/fmMain.h"
#include "documents/Import.h"
#include "lexicon/Store.h"
#include "support/Errors.h"
#include "support/StringList.h"
#include "support/qt/MemoStrings.h"
#include "support/qt/TextCodec.h"

namespace {
// The window and its tab widget grow by this much while the chapter list shows.
constexpr int kChapterListWidth = 224;
}  // namespace

void TFormMain::BuildChapterList() {
    gbEditChapters = new TChapterList(tsMainEdit, mmEditText);
    gbEditChapters->setGeometry(664, 8, kChapterListWidth - 7, 385);
    gbEditChapters->hide();
    setTabOrder(btConverterCancel, gbEditChapters->Tree());
    // Shown with the chapters: only a text with chapters can be saved a file per chapter.
    lbConverterSplit = new QLabel("Save... writes:", gbEditChapters);
    lbConverterSplit->setObjectName("lbConverterSplit");
    cbConverterSplit = new QComboBox(gbEditChapters);
    cbConverterSplit->setObjectName("cbConverterSplit");
    cbConverterSplit->addItems({"One file with chapter marks", "One file per chapter"});
    lbConverterSplit->setBuddy(cbConverterSplit);
    gbEditChapters->layout()->addWidget(lbConverterSplit);
    gbEditChapters->layout()->addWidget(cbConverterSplit);
    setTabOrder(gbEditChapters->Tree(), cbConverterSplit);
    documentLoader_ = new TDocumentLoader(mmEditText, sbMain);
    chapterMarker_ = new TChapterMarker(this);
    bookMaker_ = new TBookMaker(this);
}

void TFormMain::ConnectDocumentHandlers() {
    connect(static_cast<TTextBox*>(mmEditText), &TTextBox::DocumentDropped, this,
            [this](const QString& name) { ErrorGuard::Run([&] { LoadTextOrDocument(name); }); });
    connect(
        documentLoader_, &TDocumentLoader::Loaded, this,
        [this](const QString& name, std::shared_ptr<const documents::Document> document) {
            ErrorGuard::Run([&] {
                gbEditChapters->Show(*document);
                const documents::Metadata& m = document->metadata;
                chapterMarker_->SetBook(
                    {m.title, m.authors, m.coverMediaType, m.cover, {}, 0, 0, m.language});
                std::vector<std::string> problems;
                lexicon::Store::Instance().UseDocumentLexicons(document->metadata.lexicons,
                                                               EncodeText(name), problems);
                if (!problems.empty())
                    sbMain->showMessage("A lexicon is left out: " + DecodeText(problems.front()));
            });
        });
    connect(documentLoader_, &TDocumentLoader::Failed, this,
            [](const QString& message) { ErrorGuard::ShowError(EncodeText(message)); });
    connect(chapterMarker_, &TChapterMarker::Finished, this,
            [this](const QString& message, bool failed) {
                if (failed)
                    ErrorGuard::ShowError(EncodeText(message));
                else
                    sbMain->showMessage(message);
            });
    connect(bookMaker_, &TBookMaker::Progress, pbConverter, &QProgressBar::setValue);
    connect(bookMaker_, &TBookMaker::Finished, this, [this](const QString& message, bool failed) {
        ErrorGuard::Run([&] {
            RestConverter();
            if (failed)
                ErrorGuard::ShowError(EncodeText(message));
            else
                sbMain->showMessage(message);
        });
    });
    connect(gbEditChapters, &TChapterList::EmptyChanged, this,
            [this](bool empty) { ShowChapterList(!empty); });
}

bool TFormMain::DocumentLoading() const {
    return documentLoader_->Busy();
}

void TFormMain::LoadTextOrDocument(const QString& fileName) {
    const std::string name = EncodeText(fileName);
    if (documents::FormatOfName(name) != documents::Format::PlainText) {
        documentLoader_->Start(fileName);
        return;
    }
    documentLoader_->Cancel();
    TMemoStrings lines(mmEditText);
    lines.LoadTextFile(name);
    gbEditChapters->Clear();
    lexicon::Store::Instance().SetDocumentLexicons({});
}

void TFormMain::ShowChapterList(bool show) {
    if (show == gbEditChapters->isVisible()) return;
    const int extra = show ? kChapterListWidth : 0;
    setFixedSize(688 + extra, 466);
    pcMain->resize(673 + extra, 433);
    sbMain->resize(688 + extra, 19);
    gbEditChapters->setVisible(show);
}

void TFormMain::ChosenLines(TStrings& into, QString* boxText) {
    TMemoStrings lines(mmEditText);
    const std::vector<std::pair<int, int>> skipped = gbEditChapters->SkippedParagraphs();
    into.ClearLines();
    if (skipped.empty()) {
        into.CopyLines(lines);
    } else {
        into.BeginLinesUpdate();
        int block = 0;
        for (size_t i = 0; i <= skipped.size(); ++i) {
            const int end =
                i < skipped.size() ? skipped[i].first : mmEditText->document()->blockCount();
            const int last = std::min(lines.FirstLineOfBlock(end), lines.LineCount());
            for (int line = lines.FirstLineOfBlock(block); line < last; ++line)
                into.AppendLine(lines.LineAt(line));
            if (i < skipped.size()) block = skipped[i].second;
        }
        into.EndLinesUpdate();
    }
    if (!boxText) return;
    // The box's text as the map aligns it: raw (no-break spaces kept), without the
    // paragraphs left out, whose places in the whole box the map is told.
    QString box = mmEditText->document()->toRawText();
    box.replace(QChar::ParagraphSeparator, u'\n');
    std::vector<std::pair<int, int>> leftOut;
    QString kept;
    int from = 0;
    QTextDocument* doc = mmEditText->document();
    for (const auto& [first, end] : skipped) {
        const int start = doc->findBlockByNumber(first).position();
        const QTextBlock after = doc->findBlockByNumber(end);
        const int stop = after.isValid() ? after.position() : int(box.size());
        kept += QStringView(box).mid(from, start - from);
        leftOut.emplace_back(start, stop);
        from = stop;
    }
    kept += QStringView(box).mid(from);
    *boxText = kept;
    spokenMap_.Build(into, kept, std::move(leftOut));
}

std::vector<containers::ChapterStart> TFormMain::ChosenChapters(const TStrings& spoken) {
    std::vector<containers::ChapterStart> starts;
    if (gbEditChapters->Empty()) return starts;
    TMemoStrings lines(mmEditText);
    const std::vector<std::pair<int, int>> skipped = gbEditChapters->SkippedParagraphs();
    uint64_t offset = 0;  // of line in the text handed over: each line ends with CR LF
    int line = 0;
    for (const auto& [title, block] : gbEditChapters->TickedChapters()) {
        int target = lines.FirstLineOfBlock(block);
        for (const auto& [first, end] : skipped)
            if (end <= block) target -= lines.FirstLineOfBlock(end) - lines.FirstLineOfBlock(first);
        for (; line < target && line < spoken.LineCount(); ++line)
            offset += spoken.LineAt(line).size() + 2;
        if (offset > UINT32_MAX) break;
        starts.push_back({title.toStdString(), static_cast<uint32_t>(offset)});
    }
    return starts;
}
