// The text group and the converter: speaking with the word highlight, pause, resume
// and stop, and rendering into an audio file with progress and cancel.
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>

#include "app/BookMaker.h"
#include "app/ChapterList.h"
#include "app/ChapterMarker.h"
#include "app/DocumentLoader.h"
#include "app/ErrorGuard.h"
#include "app/FileDialog.h"
#include "app/TextLayoutRunner.h"
#include "app/fmMain.h"
#include "lexicon/Store.h"
#include "speech/mSpeech.h"
#include "support/Errors.h"
#include "support/qt/MemoStrings.h"
#include "support/qt/TextCodec.h"

namespace {
template <class F>
auto Guarded(F f) {
    return [f] { ErrorGuard::Run(f); };
}

// The length of the text form of a line list: every line followed by CR LF.
uint64_t TextFormLength(const TStrings& lines) {
    uint64_t total = 0;
    for (int i = 0; i < lines.LineCount(); ++i) total += lines.LineAt(i).size() + 2;
    return total;
}
}  // namespace

void TFormMain::ConnectConverterHandlers() {
    connect(btTextClear, &QPushButton::clicked, this, Guarded([this] { btTextClearClick(); }));
    connect(btTextLoad, &QPushButton::clicked, this, Guarded([this] { btTextLoadClick(); }));
    connect(btTextSave, &QPushButton::clicked, this, Guarded([this] { btTextSaveClick(); }));
    connect(mmEditText, &QPlainTextEdit::textChanged, this,
            Guarded([this] { mmEditTextChange(); }));
    textLayout_ = new TTextLayoutRunner(mmEditText);
    connect(btConverterSpeak, &QPushButton::clicked, this,
            Guarded([this] { btConverterSpeakClick(); }));
    connect(btConverterPause, &QPushButton::clicked, this,
            Guarded([this] { btConverterPauseClick(); }));
    connect(btConverterStop, &QPushButton::clicked, this,
            Guarded([this] { btConverterStopClick(); }));
    connect(btConverterSave, &QPushButton::clicked, this,
            Guarded([this] { btConverterSaveClick(); }));
    connect(btConverterCancel, &QPushButton::clicked, this,
            Guarded([this] { btConverterCancelClick(); }));

    // The components deliver their events under the notification guard.
    fwMSpeech->OnStart = [this](void*) { fwMSpeechStart(); };
    fwMSpeech->OnStop = [this](void*) { fwMSpeechStop(); };
    fwMSpeech->OnVisual = [this](void*, uint32_t, PTTSMOUTH) { fwMSpeechVisual(); };
    fwMSpeechSave->OnStart = [this](void*) { fwMSpeechSaveStart(); };
    fwMSpeechSave->OnStop = [this](void*) { fwMSpeechSaveStop(); };
    fwMSpeechSave->OnWordTimes = [this](void*, std::span<const ParlenWordTime> words,
                                        uint32_t rate) {
        chapterMarker_->Add(words, rate);
        bookMaker_->Add(words, rate);
        for (const ParlenWordTime& w : words)
            if (!w.sentenceEnd) saveWord_ = w.offset;
    };
    fwMSpeechSave->OnVisual = [this](void*, uint32_t, PTTSMOUTH) { fwMSpeechSaveVisual(); };
}

bool TFormMain::TextLayoutPending() const {
    return textLayout_->Pending();
}

namespace {
// What waits for the text box's layout.
enum { kSpeakWork, kConversionWork };
}  // namespace

void TFormMain::btTextClearClick() {
    documentLoader_->Cancel();
    lexicon::Store::Instance().SetDocumentLexicons({});
    mmEditText->clear();
}

void TFormMain::btTextLoadClick() {
    if (!DlgLoadText->Execute(this)) return;
    LoadTextOrDocument(DlgLoadText->FileName());
}

void TFormMain::btTextSaveClick() {
    if (!DlgSaveText->Execute(this)) return;
    TMemoStrings lines(mmEditText);
    lines.SaveTextFile(EncodeText(DlgSaveText->FileName()));
}

void TFormMain::mmEditTextChange() {
    if (fwMSpeech->Paused()) btConverterStopClick();
}

void TFormMain::btConverterSpeakClick() {
    mmEditText->setFocus(Qt::OtherFocusReason);
    if (fwMSpeech->Paused()) {
        fwMSpeech->Resume();
        return;
    }
    fwMSpeech->Text().ClearLines();
    // A long text still being laid out is spoken as soon as it is.
    textLayout_->WhenLaidOut(kSpeakWork, [this] { SpeakTheText(); });
}

void TFormMain::SpeakTheText() {
    if (DocumentLoading()) {
        sbMain->showMessage("The document is still loading.");
        return;
    }
    if (chapterMarker_->Busy()) {
        sbMain->showMessage("The chapter marks of the last file are still being written.");
        return;
    }
    if (mmEditText->document()->isEmpty()) {
        btVoiceTestClick();
        return;
    }
    // Keep how the handed-over text lies in the box, for the word highlight.
    QString box;
    ChosenLines(fwMSpeech->Text(), &box);
    if (fwMSpeech->Text().LineCount() == 0) {
        sbMain->showMessage("Every chapter is unticked: there is nothing to speak.");
        return;
    }
    fwMSpeech->Speak();
}

void TFormMain::btConverterPauseClick() {
    fwMSpeech->Pause();
    btConverterSpeak->show();
    btConverterPause->hide();
    btConverterSave->setEnabled(true);
}

void TFormMain::btConverterStopClick() {
    fwMSpeech->Stop();
}

void TFormMain::btConverterSaveClick() {
    if (!DlgSaveAudio->Execute(this)) return;
    // A long text still being laid out is rendered as soon as it is.
    textLayout_->WhenLaidOut(kConversionWork, [this] { StartConversion(); });
}

void TFormMain::StartConversion() {
    if (DocumentLoading()) {
        sbMain->showMessage("The document is still loading.");
        return;
    }
    if (chapterMarker_->Busy()) {
        sbMain->showMessage("The chapter marks of the last file are still being written.");
        return;
    }
    TBookMaker::Kind kind = TBookMaker::Kind::None;
    try {
        fwMSpeechSave->SetFilename(DlgSaveAudio->FileName().toStdU16String());
        fwMSpeechSave->SelectEngine(EncodeText(cbVoiceEngines->currentText()));
        if (!fwMSpeechSave->Selected() || !fwMSpeech->Selected()) return;
        fwMSpeechSave->SetPitch(fwMSpeech->GetPitch());
        fwMSpeechSave->SetSpeed(fwMSpeech->GetSpeed());
        fwMSpeechSave->SetVolume(fwMSpeech->GetVolume());
        ChosenLines(fwMSpeechSave->Text(), nullptr);
        if (fwMSpeechSave->Text().LineCount() == 0 && !mmEditText->document()->isEmpty()) {
            sbMain->showMessage("Every chapter is unticked: there is nothing to save.");
            return;
        }
        saveChapters_ = ChosenChapters(fwMSpeechSave->Text());
        kind = TBookMaker::KindFor(DlgSaveAudio->FileName(), cbConverterSplit->currentIndex() == 1,
                                   !saveChapters_.empty());
        // A render made into other files takes no marks of its own.
        chapterMarker_->Begin(kind == TBookMaker::Kind::None
                                  ? saveChapters_
                                  : std::vector<containers::ChapterStart>{},
                              DlgSaveAudio->FileName());
    } catch (...) {
        // Nothing to report before the engine starts: no conversion happens.
        return;
    }
    if (kind != TBookMaker::Kind::None) {
        // Rendered whole into a hidden file beside the chosen one, and made from it; a
        // folder that takes no file is told here.
        const QString hidden = bookMaker_->Begin(
            kind, DlgSaveAudio->FileName(),
            kind == TBookMaker::Kind::ReadAlong ? fwMSpeechSave->Text().JoinLines() : "",
            saveChapters_,
            gbEditChapters->Empty() ? containers::BookTags{} : chapterMarker_->Book());
        fwMSpeechSave->SetFilename(hidden.toStdU16String());
    }
    // Of Speak's refusals, an audio file that cannot be created is the one the user
    // must see.
    try {
        fwMSpeechSave->Speak();
    } catch (const EMSpeechCreateFileError&) {
        bookMaker_->Finish(true);
        throw;
    } catch (...) {
    }
}

void TFormMain::btConverterCancelClick() {
    // While the files are made from the render, Cancel stops the making.
    if (!bookMaker_->Cancel()) fwMSpeechSave->Stop();
}

void TFormMain::fwMSpeechStart() {
    btConverterSpeak->hide();
    btConverterPause->show();
    btConverterStop->setEnabled(true);
    btConverterSave->setEnabled(false);
    gbEditVoice->setEnabled(false);
}

void TFormMain::fwMSpeechStop() {
    btConverterSpeak->show();
    btConverterPause->hide();
    btConverterStop->setEnabled(false);
    btConverterSave->setEnabled(true);
    gbEditVoice->setEnabled(true);
}

void TFormMain::fwMSpeechVisual() {
    QTextCursor cursor(mmEditText->document());
    const int end = mmEditText->document()->characterCount() - 1;
    const int start = spokenMap_.CharPosition(fwMSpeech->WordPosition());
    if (start < 0 || start >= end) {
        cursor.setPosition(end);
    } else {
        cursor.setPosition(start);
        cursor.setPosition(std::min(start + 5, end), QTextCursor::KeepAnchor);
    }
    // The cursor's position is the selection's end, which is brought into view.
    mmEditText->setTextCursor(cursor);
    mmEditText->ensureCursorVisible();
}

void TFormMain::fwMSpeechSaveStart() {
    const uint64_t length = TextFormLength(fwMSpeechSave->Text());
    pbConverter->setRange(0, int(std::min<uint64_t>(length, INT32_MAX)));
    pbConverter->setValue(0);
    pbConverter->show();
    lbConverterPos->setText("0 / " + QString::number(pbConverter->maximum()));
    lbConverterPos->adjustSize();
    lbConverterPos->show();
    saveWord_ = 0;
    saveBegun_ = std::chrono::steady_clock::now();
    lbConverterChapter->clear();
    lbConverterChapter->setVisible(!saveChapters_.empty());
    btConverterSave->hide();
    btConverterCancel->show();
    btConverterSpeak->setEnabled(false);
    gbEditText->setEnabled(false);
    gbEditVoice->setEnabled(false);
    cbConverterSplit->setEnabled(false);
}

void TFormMain::fwMSpeechSaveStop() {
    chapterMarker_->Finish();
    if (bookMaker_->Finish(fwMSpeechSave->Failing())) {
        // The converter stays busy, with Cancel, while the files are made.
        const QString making = bookMaker_->Making() == TBookMaker::Kind::ReadAlong
                                   ? "Making the read-along book..."
                                   : "Making chapter files...";
        pbConverter->setRange(0, 100);
        pbConverter->setValue(0);
        lbConverterPos->hide();
        lbConverterChapter->setText(making);
        lbConverterChapter->show();
        sbMain->showMessage(making);
        return;
    }
    RestConverter();
}

void TFormMain::RestConverter() {
    pbConverter->hide();
    lbConverterPos->hide();
    lbConverterChapter->hide();
    btConverterSave->show();
    btConverterCancel->hide();
    btConverterSpeak->setEnabled(true);
    gbEditText->setEnabled(true);
    gbEditVoice->setEnabled(true);
    cbConverterSplit->setEnabled(true);
}

void TFormMain::fwMSpeechSaveVisual() {
    const uint32_t position = fwMSpeechSave->WordPosition();
    const int max = pbConverter->maximum();
    pbConverter->setValue(int(std::min<uint64_t>(position, uint64_t(max))));
    lbConverterPos->setText(QString::number(position) + " / " + QString::number(max));
    lbConverterPos->adjustSize();
    if (saveChapters_.empty() || position == 0 || max <= 0) return;
    size_t chapter = 0;
    while (chapter + 1 < saveChapters_.size() && saveChapters_[chapter + 1].offset <= saveWord_)
        ++chapter;
    const double done = std::min(1.0, double(position) / max);
    const double spent =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - saveBegun_).count();
    const auto left = static_cast<long long>(spent * (1 - done) / done + 0.5);
    lbConverterChapter->setText(QString("Chapter %1 of %2: %3\n%4:%5 left")
                                    .arg(chapter + 1)
                                    .arg(saveChapters_.size())
                                    .arg(QString::fromStdString(saveChapters_[chapter].title))
                                    .arg(left / 60)
                                    .arg(left % 60, 2, 10, QChar('0')));
}
