// End to end on the real engines: start-up, the voices, and speaking with the word
// highlight, pause, resume and stop, heard through the private sound server.
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTableWidget>
#include <QTemporaryDir>
#include <cstdio>
#include <set>
#include <vector>

#include "EngineFixture.h"
#include "ModalDriver.h"
#include "app/LexiconDialog.h"
#include "lexicon/Store.h"

namespace {

TEST_F(Engines, StartUpListsTheCatalogueAndSelectsTheFirstEngine) {
    TMSpeech catalogue;
    ASSERT_EQ(catalogue.Engines().LineCount(), form->cbVoiceEngines->count());
    for (int i = 0; i < form->cbVoiceEngines->count(); ++i)
        EXPECT_EQ(catalogue.Engines().LineAt(i), form->cbVoiceEngines->itemText(i).toStdString());
    EXPECT_EQ(0, form->cbVoiceEngines->currentIndex());
    EXPECT_TRUE(form->fwMSpeech->Selected());
    EXPECT_EQ(QString(PARLEN_MAKER_SITE " - Parlen Maker 2004.05"), form->windowTitle());
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_TRUE(Idle());
}

TEST_F(Engines, EspeakAndFliteVoicesSetTheirOwnRanges) {
    int espeak = -1, flite = -1;
    for (int i = 0; i < form->cbVoiceEngines->count(); ++i) {
        const QString name = form->cbVoiceEngines->itemText(i);
        if (espeak < 0 && name.contains("espeak")) espeak = i;
        if (flite < 0 && name.contains("flite")) flite = i;
    }
    ASSERT_GE(espeak, 0);
    ASSERT_GE(flite, 0);
    for (int index : {flite, espeak, flite}) {
        SCOPED_TRACE(index);
        form->cbVoiceEngines->setCurrentIndex(index);  // fires nothing by itself
        emit form->cbVoiceEngines->activated(index);   // as the user's pick reports it
        const TMSpeechEngineInfo& info = form->fwMSpeech->EngineInfo();
        EXPECT_EQ(form->cbVoiceEngines->itemText(index).toStdString(), info.ModeName);
        EXPECT_EQ(info.PitchMin, form->tbVoicePitch->minimum());
        EXPECT_EQ(info.PitchMax, form->tbVoicePitch->maximum());
        EXPECT_EQ(int(info.SpeedMin), form->tbVoiceSpeed->minimum());
        EXPECT_EQ(int(info.SpeedMax), form->tbVoiceSpeed->maximum());
        EXPECT_EQ(QString::number(info.PitchMax), form->lbPitchMax->text());
        EXPECT_EQ(QString::number(info.SpeedMin), form->lbSpeedMin->text());
        EXPECT_EQ("100", form->lbVolumeMax->text());
        EXPECT_EQ(int(form->fwMSpeech->GetSpeed()), form->tbVoiceSpeed->value());
        ASSERT_TRUE(WaitFor([&] { return Idle(); }, 10000));
    }
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(Engines, SpeakingHighlightsTheWordsAndPausesAndResumes) {
    const QString text =
        "Hello there, this is a longer sentence spoken by the converter "
        "so that it can be paused and resumed again.";
    form->mmEditText->setPlainText(text);
    std::set<int> starts;
    QObject::connect(form->mmEditText, &QPlainTextEdit::selectionChanged, form.get(), [&] {
        const QTextCursor c = form->mmEditText->textCursor();
        if (c.hasSelection()) starts.insert(c.selectionStart());
    });
    Capture capture;
    form->btConverterSpeak->click();
    ASSERT_TRUE(WaitFor([&] { return form->btConverterSpeak->isHidden(); }, 5000));
    EXPECT_FALSE(form->gbEditVoice->isEnabled());
    EXPECT_TRUE(form->btConverterStop->isEnabled());
    EXPECT_FALSE(form->btConverterSave->isEnabled());
    WaitFor([&] { return starts.size() >= 3; }, 5000);
    form->btConverterPause->click();
    EXPECT_TRUE(form->fwMSpeech->Paused());
    EXPECT_FALSE(form->btConverterSpeak->isHidden());
    EXPECT_TRUE(form->btConverterSave->isEnabled());
    // After what was already on its way to the sink has played, the sink stays silent
    // and no word comes.
    WaitFor(nullptr, 500);
    const qint64 pausedFrom = capture.Samples();
    const size_t during = starts.size();
    WaitFor(nullptr, 1000);
    const qint64 pausedTo = capture.Samples();
    EXPECT_GT(pausedTo - pausedFrom, 22050 / 2);  // the recording went on meanwhile
    EXPECT_LE(capture.Peak(pausedFrom, pausedTo), 16) << "sound while paused";
    EXPECT_EQ(during, starts.size());

    form->btConverterSpeak->click();
    EXPECT_FALSE(form->fwMSpeech->Paused());
    const qint64 resumed = capture.Samples();
    ASSERT_TRUE(WaitFor([&] { return Idle(); }, 30000));
    EXPECT_GT(capture.Peak(resumed), 1000);  // the rest of the text was heard
    EXPECT_GT(starts.size(), during);
    // Every selection starts at a word of the text.
    ASSERT_GE(starts.size(), 5u);
    for (int s : starts) {
        EXPECT_TRUE(s == 0 || !text[s - 1].isLetterOrNumber()) << s;
        EXPECT_TRUE(text[s].isLetterOrNumber()) << s;
    }
    EXPECT_TRUE(ui.boxes.empty());
}

// An entry added in the Lexicon... dialog is said from the next Speak on, the highlight
// still shows the word as written, and the entry is in the user's folder for the next start.
TEST_F(Engines, LexiconEntryFromTheDialogIsSpokenHighlightedAsWrittenAndKept) {
    QTemporaryDir config;
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    lexicon::Store::Instance().SetUserLexicons({});
    ModalDriver modal;
    modal.Then("TLexiconDialog", [](QWidget* top) {
        auto* dialog = static_cast<TLexiconDialog*>(top);
        dialog->editEntry = [](lexicon::Scope& scope, lexicon::Entry& entry) {
            scope = lexicon::Scope::Language;
            entry = {"Tomato", false, false, "red fruit", "", ""};
            return true;
        };
        dialog->btAdd->click();
        EXPECT_EQ(dialog->tbEntries->rowCount(), 1);
        dialog->btClose->click();
    });
    form->btVoiceLexicon->click();
    EXPECT_TRUE(modal.Done());

    const QString text = "I like a Tomato today.";
    form->mmEditText->setPlainText(text);
    std::set<int> starts;
    QObject::connect(form->mmEditText, &QPlainTextEdit::selectionChanged, form.get(), [&] {
        const QTextCursor c = form->mmEditText->textCursor();
        if (c.hasSelection()) starts.insert(c.selectionStart());
    });
    Capture capture;
    form->btConverterSpeak->click();
    ASSERT_TRUE(WaitFor([&] { return form->btConverterSpeak->isHidden(); }, 5000));
    ASSERT_TRUE(WaitFor([&] { return Idle(); }, 30000));
    // The highlight stays on the words as written: "red fruit" is said for "Tomato".
    EXPECT_EQ(starts, (std::set<int>{0, 2, 7, 9, 16}));
    EXPECT_GT(capture.Peak(), 1000);
    EXPECT_TRUE(ui.boxes.empty());

    const auto kept = lexicon::LoadLexiconFolder(lexicon::UserLexiconFolder());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].scope, lexicon::Scope::Language);
    EXPECT_EQ(kept[0].entries.at(0).respelling, "red fruit");
    // A new process finds the entry and says it: parlen-say with and without the user's.
    QFile file(config.filePath("text.txt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) > 0);
    file.close();
    const auto say = [&](QStringList extra) {
        QProcess process;
        extra << "--voice" << form->cbVoiceEngines->currentText() << "--wav"
              << config.filePath("out.wav") << file.fileName();
        process.start(QString::fromStdString(ProgramPath()).replace("parlenmaker", "parlen-say"),
                      extra);
        return process.waitForFinished(60000) && process.exitCode() == 0
                   ? ReadWav(config.filePath("out.wav")).data
                   : QByteArray();
    };
    const QByteArray with = say({}), without = say({"--no-user-lexicon"});
    EXPECT_FALSE(with.isEmpty() || without.isEmpty());
    EXPECT_NE(with, without);
    lexicon::Store::Instance().SetUserLexicons({});
    qputenv("XDG_CONFIG_HOME", saved);
}

TEST_F(Engines, HighlightStepsThroughWrappedAndAccentedWordsInOrder) {
    // Two paragraphs, the first longer than the box is wide; every word one the engine
    // reports on its own.
    const QString text = QString::fromUtf8(
        "Caf\u00e9 owners serve cr\u00e8me br\u00fbl\u00e9e daily. Na\u00efve fianc\u00e9s "
        "order souffl\u00e9 twice. D\u00e9j\u00e0 visitors admire quiet gardens.\n"
        "R\u00e9sum\u00e9 writers prefer jalape\u00f1o soup.");
    form->mmEditText->setPlainText(text);
    std::vector<int> words;  // where each word of the box starts
    for (int i = 0; i < text.size(); ++i)
        if (text[i].isLetter() && (i == 0 || text[i - 1].isSpace())) words.push_back(i);
    // Each new selection and when it was made.
    std::vector<int> starts;
    std::vector<qint64> times;
    QElapsedTimer clock;
    QObject::connect(form->mmEditText, &QPlainTextEdit::selectionChanged, form.get(), [&] {
        const QTextCursor c = form->mmEditText->textCursor();
        if (c.hasSelection() && (starts.empty() || starts.back() != c.selectionStart())) {
            starts.push_back(c.selectionStart());
            times.push_back(clock.elapsed());
        }
    });
    clock.start();
    form->btConverterSpeak->click();
    ASSERT_GT(form->fwMSpeech->Text().LineCount(), 2) << "the box does not wrap the text";
    ASSERT_TRUE(WaitFor([&] { return form->btConverterSpeak->isHidden(); }, 5000));
    ASSERT_TRUE(WaitFor([&] { return Idle(); }, 30000));
    for (size_t i = 0; i < starts.size(); ++i)
        std::printf("[ word     ] %5lld ms  %s\n", static_cast<long long>(times[i]),
                    qPrintable(text.mid(starts[i], 5)));
    // The selections rise through the words one by one, the accented ones and those
    // after a wrap point included.
    EXPECT_EQ(words, starts);
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(Engines, StopEndsTheSpeech) {
    form->mmEditText->setPlainText(
        QString("This text is long enough to be stopped. ").repeated(10));
    form->btConverterSpeak->click();
    ASSERT_TRUE(WaitFor([&] { return form->btConverterSpeak->isHidden(); }, 5000));
    form->btConverterStop->click();
    EXPECT_TRUE(WaitFor([&] { return Idle(); }, 30000));
    EXPECT_FALSE(form->btConverterStop->isEnabled());
}

}  // namespace
