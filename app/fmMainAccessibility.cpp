#include "app/fmMainAccessibility.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QStatusBar>
#include <QTabWidget>
#include <QTreeWidget>

#include "app/ChapterList.h"
#include "app/fmMain.h"
#include "support/qt/urllabel.h"

namespace {
void Describe(QWidget* widget, const char* name, const char* description) {
    if (name) widget->setAccessibleName(QString::fromUtf8(name));
    widget->setAccessibleDescription(QString::fromUtf8(description));
}

// A bar's range follows the engine applied, so its description is rewritten with it.
void DescribeBar(QSlider* bar, const char* name, const char* what) {
    bar->setAccessibleName(QString::fromUtf8(name));
    auto describe = [bar, what](int min, int max) {
        bar->setAccessibleDescription(
            QString::fromUtf8("Sets the %1, from %2 at the top to %3 at the bottom. The new "
                              "value reaches the voice when the focus leaves the bar.")
                .arg(QString::fromUtf8(what))
                .arg(min)
                .arg(max));
    };
    describe(bar->minimum(), bar->maximum());
    QObject::connect(bar, &QSlider::rangeChanged, bar, describe);
}

void NameScrollBars(QPlainTextEdit* box, const QString& boxName) {
    box->verticalScrollBar()->setAccessibleName(boxName + " vertical scroll bar");
    box->horizontalScrollBar()->setAccessibleName(boxName + " horizontal scroll bar");
}
}  // namespace

void DescribeControlsForAccessibility(TFormMain& f) {
    Describe(&f, nullptr,
             "Text-to-speech converter: speaks text aloud or renders it into an audio file.");
    Describe(f.pcMain, "Pages", "The Help page and the Edit page. Ctrl+Tab switches pages.");
    Describe(f.tsMainHelp, "Help", "The update link and the read-me.");
    Describe(f.gbHelpInfo, nullptr, "Information about the program.");
    Describe(f.tpUrlUpdate, nullptr, "Link: opens the maker's update web page in the browser.");
    Describe(f.gbHelpReadme, nullptr, "The read-me file that comes with the program.");
    Describe(f.mmHelpReadme, "Read-me", "Read-only text of readme.txt from the program's folder.");
    NameScrollBars(f.mmHelpReadme, "Read-me");

    Describe(f.tsMainEdit, "Edit", "The text, the voice settings and the converter.");
    Describe(f.gbEditText, nullptr, "The text to speak, with buttons to clear, load and save it.");
    Describe(f.mmEditText, "Text to speak",
             "Speak reads this text aloud, highlighting the word being spoken; Save... in the "
             "converter renders it into an audio file.");
    NameScrollBars(f.mmEditText, "Text");
    Describe(f.btTextClear, "Clear text", "Empties the text box.");
    Describe(f.btTextLoad, "Load text...",
             "Replaces the text box's text with a text file (.txt) or a document's text (EPUB, "
             "PDF, DOCX, ODT, HTML, Markdown).");
    Describe(f.btTextSave, "Save text...", "Writes the text box's text into a text file (.txt).");

    Describe(f.gbEditVoice, nullptr, "The engine and its pitch, speed and volume.");
    Describe(f.cbVoiceEngines, "Speech engine",
             "The voice that speaks. Choosing one applies it and says 1 2 3.");
    Describe(f.lbVoicePitch, nullptr, "Caption of the pitch bar.");
    Describe(f.lbVoiceSpeed, nullptr, "Caption of the speed bar.");
    Describe(f.lbVoiceVolume, nullptr, "Caption of the volume bar.");
    DescribeBar(f.tbVoicePitch, "Pitch", "pitch of the voice");
    DescribeBar(f.tbVoiceSpeed, "Speed", "speed of the voice");
    DescribeBar(f.tbVoiceVolume, "Volume", "volume of the voice");
    // The labels' names stay their numbers, which is what they tell.
    Describe(f.lbPitchMin, nullptr, "Lowest pitch of the engine.");
    Describe(f.lbPitchPos, nullptr, "Position of the pitch bar.");
    Describe(f.lbPitchMax, nullptr, "Highest pitch of the engine.");
    Describe(f.lbSpeedMin, nullptr, "Lowest speed of the engine.");
    Describe(f.lbSpeedPos, nullptr, "Position of the speed bar.");
    Describe(f.lbSpeedMax, nullptr, "Highest speed of the engine.");
    Describe(f.lbVolumeMin, nullptr, "Lowest volume of the engine.");
    Describe(f.lbVolumePos, nullptr, "Position of the volume bar.");
    Describe(f.lbVolumeMax, nullptr, "Highest volume of the engine.");
    Describe(f.btVoiceTest, "Test voice", "Says 1 2 3 with the chosen engine and settings.");
    Describe(f.btVoiceLoad, "Load settings...",
             "Loads the engine, pitch, speed and volume from a settings file (.cfg).");
    Describe(f.btVoiceSave, "Save settings...",
             "Saves the engine, pitch, speed and volume into a settings file (.cfg).");

    Describe(f.btVoiceLexicon, "Lexicon...",
             "Opens the pronunciation lexicons: words and patterns said otherwise, for every "
             "voice, the voice's language or this voice.");

    Describe(f.gbEditConverter, nullptr, "Speaking the text aloud or into an audio file.");
    Describe(f.pbConverter, "Conversion progress", "How much of the text is in the audio file.");
    Describe(f.lbConverterPos, nullptr, "Characters rendered so far and the text's length.");
    Describe(f.lbConverterChapter, nullptr, "The chapter being rendered and the time left.");
    Describe(f.btConverterSpeak, "Speak",
             "Speaks the text aloud, or resumes it when paused. Pause takes its place while "
             "speaking.");
    Describe(f.btConverterPause, "Pause",
             "Pauses speaking. Speak takes its place and resumes from there.");
    Describe(f.btConverterStop, "Stop", "Stops speaking.");
    Describe(f.btConverterSave, "Save audio...",
             "Renders the text into a WAV, MP3, Ogg Vorbis, Opus, FLAC or M4B file, or a "
             "read-along EPUB book. Cancel takes its place while rendering.");
    Describe(f.btConverterCancel, "Cancel saving audio",
             "Stops rendering; the audio file keeps what was rendered so far. While chapter "
             "files or a read-along book are made, stops making them.");
    Describe(f.sbMain, "Status", "Messages about the program's state.");
    Describe(f.gbEditChapters, nullptr, "The chapters of the loaded document.");
    Describe(f.gbEditChapters->Tree(), "Chapters",
             "A ticked chapter is spoken and saved as audio, an unticked one left out (Space "
             "ticks). Choosing a chapter moves the caret to its start; Return goes to the text.");
    Describe(f.lbConverterSplit, nullptr, "Caption of what Save... writes of the chapters.");
    Describe(f.cbConverterSplit, "Save chapters as",
             "What Save... writes of a document with chapters: one audio file with chapter "
             "marks, or one file per chapter named by its number and title.");
}
