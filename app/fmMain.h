#pragma once
// TFormMain: the one window of the program. The "Help" page shows the update link and
// the read-me; the "Edit" page holds the text, the voice panel and the converter.
// Every control and component is a named member owned by the window; the converter's
// state (idle, speaking, paused, saving) is only which of its buttons are shown and
// enabled, switched by the speech components' events.
#include <QWidget>
#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "app/SpokenTextMap.h"
#include "containers/Chapters.h"
#include "speech/speech.h"
#include "support/Component.h"

class QTabWidget;
class QGroupBox;
class QPlainTextEdit;
class QPushButton;
class QLabel;
class QComboBox;
class QSlider;
class QProgressBar;
class QStatusBar;
class TFileDialog;
class TTextLayoutRunner;
class TVersionInfo;
class TUrlLabel;
class TMSpeech;
class TChapterList;
class TDocumentLoader;
class TChapterMarker;
class TBookMaker;
class TStringList;

class TFormMain : public QWidget {
    Q_OBJECT
  public:
    explicit TFormMain(QWidget* parent = nullptr);
    ~TFormMain() override;

    // Members in the order of the stored layout.
    QTabWidget* pcMain = nullptr;
    QWidget* tsMainHelp = nullptr;
    QGroupBox* gbHelpInfo = nullptr;
    QGroupBox* gbHelpReadme = nullptr;
    QPlainTextEdit* mmHelpReadme = nullptr;
    QWidget* tsMainEdit = nullptr;
    QGroupBox* gbEditText = nullptr;
    QPushButton* btTextLoad = nullptr;
    QPushButton* btTextSave = nullptr;
    QPushButton* btTextClear = nullptr;
    QPlainTextEdit* mmEditText = nullptr;
    QGroupBox* gbEditVoice = nullptr;
    QLabel* lbVoicePitch = nullptr;
    QLabel* lbVoiceSpeed = nullptr;
    QLabel* lbVoiceVolume = nullptr;
    QLabel* lbPitchMin = nullptr;
    QLabel* lbPitchMax = nullptr;
    QLabel* lbSpeedMin = nullptr;
    QLabel* lbSpeedMax = nullptr;
    QLabel* lbVolumeMin = nullptr;
    QLabel* lbVolumeMax = nullptr;
    QComboBox* cbVoiceEngines = nullptr;
    QSlider* tbVoicePitch = nullptr;
    QSlider* tbVoiceSpeed = nullptr;
    QSlider* tbVoiceVolume = nullptr;
    QPushButton* btVoiceTest = nullptr;
    QPushButton* btVoiceLoad = nullptr;
    QPushButton* btVoiceSave = nullptr;
    QPushButton* btVoiceLexicon = nullptr;
    QGroupBox* gbEditConverter = nullptr;
    QPushButton* btConverterSpeak = nullptr;
    QPushButton* btConverterSave = nullptr;
    QPushButton* btConverterStop = nullptr;
    TFileDialog* DlgLoadText = nullptr;
    TFileDialog* DlgSaveText = nullptr;
    TVersionInfo* tpVersionInfo = nullptr;
    TUrlLabel* tpUrlUpdate = nullptr;
    TMSpeech* fwMSpeech = nullptr;
    QStatusBar* sbMain = nullptr;
    QPushButton* btConverterPause = nullptr;
    TFileDialog* DlgLoadSettings = nullptr;
    TFileDialog* DlgSaveSettings = nullptr;
    TFileDialog* DlgSaveAudio = nullptr;
    TMSpeech* fwMSpeechSave = nullptr;
    QLabel* lbPitchPos = nullptr;
    QLabel* lbSpeedPos = nullptr;
    QLabel* lbVolumePos = nullptr;
    QPushButton* btConverterCancel = nullptr;
    QProgressBar* pbConverter = nullptr;
    QLabel* lbConverterPos = nullptr;
    // Under the position while Save... renders a text with chapters: the chapter being
    // rendered and the time left.
    QLabel* lbConverterChapter = nullptr;
    // Beside the page while a loaded document has chapters.
    TChapterList* gbEditChapters = nullptr;
    // Under the chapters: what Save... makes of them, one file with chapter marks (the
    // first) or one file per chapter.
    QLabel* lbConverterSplit = nullptr;
    QComboBox* cbConverterSplit = nullptr;

    // Start-up, run once when the window is first shown.
    void FormShow();

    // Voice panel.
    bool ApplyEngine();
    void cbVoiceEnginesChange();
    void tbVoicePitchChange();
    void tbVoiceSpeedChange();
    void tbVoiceVolumeChange();
    void tbVoicePitchExit();
    void tbVoiceSpeedExit();
    void tbVoiceVolumeExit();
    void btVoiceTestClick();
    void btVoiceLoadClick();
    void btVoiceSaveClick();
    void btVoiceLexiconClick();

    // Text group.
    void btTextClearClick();
    void btTextLoadClick();
    void btTextSaveClick();
    void mmEditTextChange();
    // Loads a text file as it is, or imports a document (EPUB, PDF, ...) in the
    // background; the chapter list then shows its chapters.
    void LoadTextOrDocument(const QString& fileName);
    bool DocumentLoading() const;

    // Converter.
    void btConverterSpeakClick();
    void btConverterPauseClick();
    void btConverterStopClick();
    void btConverterSaveClick();
    void btConverterCancelClick();
    void fwMSpeechStart();
    void fwMSpeechStop();
    void fwMSpeechVisual();
    void fwMSpeechSaveStart();
    void fwMSpeechSaveStop();
    void fwMSpeechSaveVisual();

    // Where the read-me is looked for: the folder of the running executable.
    static QString ReadmePath();
    // True while the text box is still being laid out in the background.
    bool TextLayoutPending() const;

  signals:
    // The window has been closed: the program ends.
    void Closed();

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildHelpPage();
    void BuildEditPage();
    void BuildTextGroup();
    void BuildVoiceGroup();
    void BuildConverterGroup();
    void BuildComponents();
    void ConnectHandlers();
    void ConnectVoiceHandlers();
    void ConnectConverterHandlers();
    void BuildChapterList();
    void ConnectDocumentHandlers();
    QSlider* MakeTrackBar(const char* name, int left, int top, int singleStep);
    void SetBarRange(QSlider* bar, int64_t min, int64_t max);
    void SetBarPosition(QSlider* bar, int64_t position);
    void BarExit(QSlider* bar);
    void CenterOnScreen();
    void SpeakTheText();
    void StartConversion();
    // The converter back at rest after a save, its files made or not.
    void RestConverter();
    // The box's lines to speak or render: every line but those of unticked chapters.
    void ChosenLines(TStrings& into, QString* boxText);
    // Where each ticked chapter begins in those lines (spoken, as ChosenLines made them).
    std::vector<containers::ChapterStart> ChosenChapters(const TStrings& spoken);
    void ShowChapterList(bool show);

    // Owns the non-visual components (the two speech components), as the window owns
    // its controls.
    TComponent components_;
    bool shown_ = false;
    // The text handed to fwMSpeech, for placing the word highlight.
    TSpokenTextMap spokenMap_;
    // Lays out the text box between messages; Speak and Save... wait for it.
    TTextLayoutRunner* textLayout_ = nullptr;
    TDocumentLoader* documentLoader_ = nullptr;
    TChapterMarker* chapterMarker_ = nullptr;
    TBookMaker* bookMaker_ = nullptr;
    // Save...'s chapters in its text, its last word there, and when it began.
    std::vector<containers::ChapterStart> saveChapters_;
    uint32_t saveWord_ = 0;
    std::chrono::steady_clock::time_point saveBegun_;
};
