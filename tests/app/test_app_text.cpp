// The text group and the word highlight over the recording speech service: loading
// and saving text files with their errors, and where each reported word is selected.
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QMimeData>
#include <QScrollBar>
#include <QStatusBar>
#include <QTextBlock>
#include <QTreeWidget>
#include <QUrl>

#include "ConverterFixture.h"
#include "app/ChapterList.h"
#include "books/ChapterFiles.h"
#include "documents/DocumentFixtures.h"
#include "support/qt/MemoStrings.h"
#include "support/qt/TextCodec.h"

namespace {

TEST_F(Converter, LoadingTheSameTextFiresNoChange) {
    const QString file = ScratchDir() + "/same.txt";
    WriteFileBytes(file, "alpha\r\nbeta");
    SetText("alpha\nbeta");
    form->btConverterSpeak->click();
    speaker->FireAudioStart();
    form->btConverterPause->click();
    const size_t resets = Logged("AudioReset").size();
    ui.answers = {file};
    form->btTextLoad->click();
    EXPECT_EQ(resets, Logged("AudioReset").size());
    EXPECT_TRUE(form->fwMSpeech->Paused());
    // Clearing is an edit.
    form->btTextClear->click();
    EXPECT_EQ(resets + 1, Logged("AudioReset").size());
}

TEST_F(Converter, TextFilesLoadAndSaveThroughTheirDialogs) {
    const QString dir = ScratchDir();
    WriteFileBytes(dir + "/in.txt", "line one\nline two\r\n");
    ui.answers = {dir + "/in", dir + "/out"};
    form->btTextLoad->click();
    EXPECT_EQ("Load Text from File...", ui.dialogTitles.back());
    EXPECT_EQ("line one\nline two\n", form->mmEditText->toPlainText());
    form->btTextSave->click();
    EXPECT_EQ("Save Text to File...", ui.dialogTitles.back());
    EXPECT_EQ("line one\r\nline two\r\n", ReadFileBytes(dir + "/out.txt"));
    // Cannot create: the folder is missing.
    ui.answers = {dir + "/missing/x.txt"};
    form->btTextSave->click();
    ASSERT_EQ(1u, ui.boxes.size());
    EXPECT_EQ("Cannot create file " + dir + "/missing/x.txt: No such file or directory.",
              ui.boxes[0].text);
}

TEST_F(Converter, ShiftReturnBreaksTheLineAsReturnDoes) {
    form->mmEditText->setFocus(Qt::OtherFocusReason);
    QTest::keyClicks(form->mmEditText, "ab");
    QTest::keyClick(form->mmEditText, Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClicks(form->mmEditText, "cd");
    QTest::keyClick(form->mmEditText, Qt::Key_Return);
    QTest::keyClicks(form->mmEditText, "ef");
    const QString file = ScratchDir() + "/typed.txt";
    ui.answers = {file};
    form->btTextSave->click();
    EXPECT_EQ("ab\r\ncd\r\nef", ReadFileBytes(file));
}

TEST_F(Converter, PastedSeparatorsArriveAsLineBreaks) {
    SetText("[]");
    form->mmEditText->moveCursor(QTextCursor::NextCharacter);
    QGuiApplication::clipboard()->setText(QString::fromUtf8("one\xe2\x80\xa8two\xe2\x80\xa9three"));
    form->mmEditText->paste();
    EXPECT_EQ("[one\r\ntwo\r\nthree]", TMemoStrings(form->mmEditText).JoinLines());
}

TEST_F(Converter, LoadErrorsShowTheirMessagesAndKeepTheText) {
    const QString dir = ScratchDir();
    QDir(dir).mkdir("folder.txt");
    SetText("kept\ntext");
    int changes = 0;
    QObject::connect(form->mmEditText, &QPlainTextEdit::textChanged, form.get(),
                     [&] { ++changes; });
    for (const QString& name : {dir + "/missing.txt", dir + "/folder.txt"}) {
        ui.answers = {name};
        form->btTextLoad->click();
        ASSERT_FALSE(ui.boxes.empty());
        EXPECT_EQ("Cannot open file " + name + ".", ui.boxes.back().text);
    }
    // More paragraphs than the box takes.
    form->mmEditText->setMaximumBlockCount(3);
    WriteFileBytes(dir + "/long.txt", "a\r\nb\r\nc\r\nd\r\ne");
    ui.answers = {dir + "/long.txt"};
    form->btTextLoad->click();
    ASSERT_EQ(3u, ui.boxes.size());
    EXPECT_EQ("Text exceeds memo capacity.", ui.boxes.back().text);
    EXPECT_EQ("kept\ntext", form->mmEditText->toPlainText());
    EXPECT_EQ(0, changes);
}

TEST_F(Converter, HighlightFollowsTheWordsThroughWrapsAndAccents) {
    // One paragraph that the box wraps, a real break, and a line with accents and a
    // no-break space.
    QString para;
    for (int i = 0; i < 30; ++i) para += QString("word%1 ").arg(i, 2, 10, QChar('0'));
    const QString text = para + "\ncaf\u00e9\u00a0na\u00efve end";
    SetText(text);
    form->btConverterSpeak->click();
    const std::string spoken = speaker->texts.back();
    ASSERT_GT(form->fwMSpeech->Text().LineCount(), 2);  // wrapped into several lines
    speaker->FireAudioStart();
    for (const char* word : {"word00", "word07", "word29", "na\xC3\xAFve", "end"}) {
        SCOPED_TRACE(word);
        const size_t offset = spoken.find(word);
        ASSERT_NE(std::string::npos, offset);
        speaker->FireWordPosition(DWORD(offset));
        speaker->FireVisual(0, nullptr);
        const QString expected = QString::fromUtf8(word).left(5);
        EXPECT_EQ(text.indexOf(QString::fromUtf8(word)), SelectionStart());
        EXPECT_EQ(expected, Selected().left(expected.size()));
        EXPECT_EQ(5, Selected().size() + (QString::fromUtf8(word) == "end" ? 2 : 0));
    }
    // Beyond the end: the caret at the end, nothing selected.
    speaker->FireWordPosition(DWORD(spoken.size() + 10));
    speaker->FireVisual(0, nullptr);
    EXPECT_TRUE(Selected().isEmpty());
    EXPECT_EQ(int(text.size()), form->mmEditText->textCursor().position());
}

TEST_F(Converter, HighlightUsesTheTextAsHandedOverNotTheLiveBox) {
    SetText("first second third");
    form->btConverterSpeak->click();
    speaker->FireAudioStart();
    // The user adds a long paragraph after the text while it is spoken.
    QTextCursor end = form->mmEditText->textCursor();
    end.movePosition(QTextCursor::End);
    end.insertText("\n" + QString("more words ").repeated(40));
    const size_t offset = speaker->texts.back().find("third");
    speaker->FireWordPosition(DWORD(offset));
    speaker->FireVisual(0, nullptr);
    EXPECT_EQ("third", Selected());
}

TEST_F(Converter, TheTestPhraseSelectsAtItsOwnOffsets) {
    SetText("abcdefghijklmnop");
    form->btVoiceTest->click();
    speaker->FireAudioStart();
    for (int offset : {0, 2, 4}) {
        speaker->FireWordPosition(DWORD(offset));
        speaker->FireVisual(0, nullptr);
        EXPECT_EQ(offset, SelectionStart());
        EXPECT_EQ(QString("abcdefghijklmnop").mid(offset, 5), Selected());
    }
}

TEST_F(Converter, ASelectionFarDownScrollsItsEndIntoView) {
    QStringList paragraphs;
    for (int i = 0; i < 200; ++i) paragraphs << QString("paragraph%1 of the text").arg(i);
    SetText(paragraphs.join('\n'));
    QScrollBar* bar = form->mmEditText->verticalScrollBar();
    ASSERT_EQ(0, bar->value());
    ASSERT_GT(bar->maximum(), 0);
    form->btConverterSpeak->click();
    speaker->FireAudioStart();
    const size_t offset = speaker->texts.back().find("paragraph150 ");
    speaker->FireWordPosition(DWORD(offset));
    speaker->FireVisual(0, nullptr);
    EXPECT_EQ("parag", Selected());
    EXPECT_EQ(form->mmEditText->toPlainText().indexOf("paragraph150 "), SelectionStart());
    EXPECT_GT(bar->value(), 0);
    // The caret, at the selection's end, lies inside the visible part of the box.
    const QRect caret = form->mmEditText->cursorRect();
    EXPECT_TRUE(form->mmEditText->viewport()->rect().contains(caret.center()))
        << caret.y() << " of " << form->mmEditText->viewport()->height();
}

}  // namespace

namespace {

// A document's chapters: listed with front and back matter unticked, chosen from the
// keyboard with the caret at the title, left out of Speak and Save... when unticked (the
// highlight still on the box's words), and gone from the list with their first paragraph.
TEST_F(Converter, ADocumentsChaptersAreChosenTickedAndFollowTheText) {
    const QString book = ScratchDir() + "/book.epub";
    WriteFileBytes(book, fixtures::Epub3Book().bytes);
    ui.answers = {book};
    form->btTextLoad->click();
    ASSERT_TRUE(WaitFor([&] { return form->gbEditChapters->isVisible(); }, 10000));
    EXPECT_EQ(688 + 224, form->width());
    QTreeWidget* tree = form->gbEditChapters->Tree();
    ASSERT_EQ(4, tree->topLevelItemCount());
    QStringList titles;
    for (int i = 0; i < 4; ++i) titles << tree->topLevelItem(i)->text(0);
    EXPECT_EQ(
        (QStringList{"Cover", "Chapter One", "Chapter Two & the \u201cSea\u201d", "Appendix"}),
        titles);
    EXPECT_EQ(Qt::Unchecked, tree->topLevelItem(0)->checkState(0)) << "front matter";
    EXPECT_EQ(Qt::Unchecked, tree->topLevelItem(3)->checkState(0)) << "back matter";
    // From the keyboard: Space unticks "Chapter One", Down passes its part to "Chapter Two".
    tree->setFocus(Qt::OtherFocusReason);
    tree->setCurrentItem(tree->topLevelItem(1));
    QTest::keyClick(tree, Qt::Key_Space);
    EXPECT_EQ(Qt::Unchecked, tree->topLevelItem(1)->checkState(0));
    QTest::keyClick(tree, Qt::Key_Down);
    QTest::keyClick(tree, Qt::Key_Down);
    EXPECT_EQ(titles[2], form->mmEditText->textCursor().block().text());
    EXPECT_EQ(0, form->mmEditText->textCursor().positionInBlock());

    form->btConverterSpeak->click();
    const std::string spoken = speaker->texts.back();
    EXPECT_EQ(0u, spoken.rfind("The Second Part\r\n", 0));
    for (const char* unheard : {"A Harbour", "Chapter One", "Paragraph 7 ", "Appendix"})
        EXPECT_EQ(std::string::npos, spoken.find(unheard)) << unheard;
    speaker->FireAudioStart();
    speaker->FireWordPosition(DWORD(spoken.find("Paragraph 15")));
    speaker->FireVisual(0, nullptr);
    EXPECT_EQ(0, QString("Paragraph").indexOf(Selected())) << Selected().toStdString();
    EXPECT_EQ(form->mmEditText->toPlainText().indexOf("Paragraph 15"), SelectionStart());
    form->btConverterStop->click();
    speaker->FireAudioStop();
    const QString audio = ScratchDir() + "/book.wav";
    ui.answers = {audio};
    form->btConverterSave->click();
    EXPECT_EQ(spoken, LastCentral()->texts.back());
    // The ticked chapters are marked where their speech begins: "The Second Part" at the
    // start, "Chapter Two" where the sentence before it ends.
    WriteFileBytes(audio, SilentWav(10000));
    const auto second = static_cast<uint32_t>(spoken.find("Chapter Two"));
    const ParlenWordTime times[] = {{0, 0}, {second - 2, 5000, true}, {second, 6000}};
    LastCentral()->FireAudioStart();
    form->fwMSpeechSave->OnWordTimes(nullptr, times, 16000);
    LastCentral()->FireWordPosition(second);
    LastCentral()->FireVisual(0, nullptr);
    EXPECT_TRUE(form->lbConverterChapter->isVisible());
    EXPECT_TRUE(form->lbConverterChapter->text().startsWith("Chapter 2 of 2: " + titles[2] + "\n"))
        << form->lbConverterChapter->text().toStdString();
    EXPECT_TRUE(form->lbConverterChapter->text().endsWith(" left"));
    LastCentral()->FireAudioStop();
    ASSERT_TRUE(WaitFor([&] { return form->sbMain->currentMessage().contains("marks"); }, 10000));
    EXPECT_EQ("2 chapter marks are in the file.", form->sbMain->currentMessage());
    const std::string marked = ReadFileBytes(audio);
    const size_t cue = marked.find("cue ");
    ASSERT_NE(std::string::npos, cue);
    EXPECT_EQ(Le32(5000), marked.substr(cue + 8 + 4 + 24 + 20, 4)) << "the second mark's sample";
    EXPECT_NE(std::string::npos, marked.find("The Second Part"));
    EXPECT_NE(std::string::npos, marked.find(titles[2].toStdString()));

    // Deleting the title of "Chapter Two" with its line break takes it out of the list.
    QTextCursor cut(form->mmEditText->document()->find(titles[2]).block());
    cut.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
    cut.removeSelectedText();
    WaitFor(nullptr, 20);
    EXPECT_EQ(3, tree->topLevelItemCount());
    // Plain text has no chapters: the list goes and the window is as before.
    form->btTextClear->click();
    WaitFor(nullptr, 20);
    EXPECT_FALSE(form->gbEditChapters->isVisible());
    EXPECT_EQ(688, form->width());
    // A document dropped on the box is loaded, not inserted as its name.
    const QString notes = ScratchDir() + "/notes.md";
    WriteFileBytes(notes, fixtures::MarkdownText().bytes);
    QMimeData dropped;
    dropped.setUrls({QUrl::fromLocalFile(notes)});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form->mmEditText->viewport(), &enter);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form->mmEditText->viewport(), &drop);
    ASSERT_TRUE(WaitFor([&] { return form->gbEditChapters->isVisible(); }, 10000));
    EXPECT_FALSE(form->mmEditText->toPlainText().contains("notes.md"));
}

// The files in dir, hidden ones too.
QStringList FilesIn(const QString& dir) {
    return QDir(dir).entryList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
}

// "One file per chapter", chosen from the keyboard under the chapter list (only a text
// with chapters shows it): the render goes whole into a hidden file beside the chosen
// one and is cut into "NN Title.ext" files with their track numbers, together the
// render's audio; cancelled or refused, it leaves nothing behind.
TEST_F(Converter, ADocumentSavedPerChapterGivesAFileEach) {
    EXPECT_FALSE(form->cbConverterSplit->isVisible());
    const QString dir = ScratchDir();
    WriteFileBytes(dir + "/two.md", "# One\n\nThe first part.\n\n# Two\n\nThe second part.\n");
    ui.answers = {dir + "/two.md"};
    form->btTextLoad->click();
    ASSERT_TRUE(WaitFor([&] { return form->cbConverterSplit->isVisible(); }, 10000));
    EXPECT_EQ(0, form->cbConverterSplit->currentIndex()) << "one file with chapter marks";
    form->gbEditChapters->Tree()->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(form->gbEditChapters->Tree(), Qt::Key_Tab);
    ASSERT_EQ(form->cbConverterSplit, QApplication::focusWidget());
    QTest::keyClick(form->cbConverterSplit, Qt::Key_Down);
    EXPECT_EQ(1, form->cbConverterSplit->currentIndex());

    ui.answers = {dir + "/gone/book.flac"};
    form->btConverterSave->click();
    ASSERT_EQ(1u, ui.boxes.size());
    EXPECT_EQ("Cannot save " + dir + "/gone/book.flac: cannot write into '" + dir +
                  "/gone': No such file or directory.",
              ui.boxes[0].text);
    StartConversion(dir + "/book.flac");
    LastCentral()->FireAudioStart();
    form->btConverterCancel->click();
    LastCentral()->FireAudioStop();
    EXPECT_EQ("Cancelled: no file is written.", form->sbMain->currentMessage());
    EXPECT_EQ(QStringList{"two.md"}, FilesIn(dir));

    StartConversion(dir + "/book.flac");
    const auto second = static_cast<uint32_t>(LastCentral()->texts.back().find("Two"));
    const ParlenWordTime times[] = {{0, 0}, {second - 2, 12000, true}, {second, 12000}};
    RenderWhole(32000, times);
    EXPECT_EQ("Making chapter files...", form->lbConverterChapter->text());
    EXPECT_FALSE(form->btConverterCancel->isHidden());
    ASSERT_TRUE(WaitFor([&] { return form->btConverterCancel->isHidden(); }, 10000));
    EXPECT_EQ("2 chapter files are in " + dir + ".", form->sbMain->currentMessage());
    EXPECT_EQ((QStringList{"01 One.flac", "02 Two.flac", "two.md"}), FilesIn(dir));
    uint64_t frames = 0;
    for (const auto& [file, track] : {std::pair{"/01 One.flac", "1"}, {"/02 Two.flac", "2"}}) {
        frames += books::RenderFrames(EncodeText(dir + file), 0);
        EXPECT_NE(std::string::npos,
                  ReadFileBytes(dir + file).find(std::string("TRACKNUMBER=") + track));
    }
    EXPECT_NEAR(32000.0, double(frames), 32000 * 0.001);
}

// A plain text saved as .epub: a read-along book of one chapter, its mimetype stored
// first and a SMIL overlay for its sentences, with no hidden render left.
TEST_F(Converter, APlainTextSavedAsEpubIsAReadAlongBook) {
    SetText("Good morning. Good night.");
    const QString dir = ScratchDir();
    StartConversion(dir + "/book.epub");
    EXPECT_NE(dir + "/book.epub", RenderedFile());
    const ParlenWordTime times[] = {{0, 0},     {5, 4000},   {13, 8000, true},
                                    {14, 9000}, {19, 12000}, {25, 16000, true}};
    RenderWhole(16000, times);
    EXPECT_EQ("Making the read-along book...", form->lbConverterChapter->text());
    ASSERT_TRUE(WaitFor([&] { return form->btConverterCancel->isHidden(); }, 10000));
    EXPECT_EQ("The read-along book book.epub is written.", form->sbMain->currentMessage());
    const std::string epub = ReadFileBytes(dir + "/book.epub");
    EXPECT_EQ("PK\3\4", epub.substr(0, 4));
    EXPECT_EQ("mimetypeapplication/epub+zip", epub.substr(30, 28));
    EXPECT_NE(std::string::npos, epub.find("OEBPS/c001.smil"));
    EXPECT_EQ(std::string::npos, epub.find("OEBPS/c002.smil"));
    EXPECT_EQ(QStringList{"book.epub"}, FilesIn(dir));
}

}  // namespace
