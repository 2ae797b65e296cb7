#pragma once
// TFormMain: the one window of the program. The "Help" page shows the update link and
// the read-me; the "Edit" page holds the text, the voice panel and the converter.
// Every control and component is a named member owned by the window; the converter's
// state (idle, speaking, paused, saving) is only which of its buttons are shown and
// enabled, switched by the speech components' events.
#include <QWidget>
#include <cstdint>
#include <functional>

#include "app/SpokenTextMap.h"
#include "speech/speech.h"

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

class TFormMain : public QWidget {
    Q_OBJECT
  public:
    explicit TFormMain(QWidget* parent = nullptr);
    ~TFormMain() override;

    // Members in the order of the stored layout.
    QTabWidget* pcMain;
    QWidget* tsMainHelp;
    QGroupBox* gbHelpInfo;
    QGroupBox* gbHelpReadme;
    QPlainTextEdit* mmHelpReadme;
    QWidget* tsMainEdit;
    QGroupBox* gbEditText;
    QPushButton* btTextLoad;
    QPushButton* btTextSave;
    QPushButton* btTextClear;
    QPlainTextEdit* mmEditText;
    QGroupBox* gbEditVoice;
    QLabel* lbVoicePitch;
    QLabel* lbVoiceSpeed;
    QLabel* lbVoiceVolume;
    QLabel* lbPitchMin;
    QLabel* lbPitchMax;
    QLabel* lbSpeedMin;
    QLabel* lbSpeedMax;
    QLabel* lbVolumeMin;
    QLabel* lbVolumeMax;
    QComboBox* cbVoiceEngines;
    QSlider* tbVoicePitch;
    QSlider* tbVoiceSpeed;
    QSlider* tbVoiceVolume;
    QPushButton* btVoiceTest;
    QPushButton* btVoiceLoad;
    QPushButton* btVoiceSave;
    QGroupBox* gbEditConverter;
    QPushButton* btConverterSpeak;
    QPushButton* btConverterSave;
    QPushButton* btConverterStop;
    TFileDialog* DlgLoadText;
    TFileDialog* DlgSaveText;
    TVersionInfo* tpVersionInfo;
    TUrlLabel* tpUrlUpdate;
    TMSpeech* fwMSpeech;
    QStatusBar* sbMain;
    QPushButton* btConverterPause;
    TFileDialog* DlgLoadSettings;
    TFileDialog* DlgSaveSettings;
    TFileDialog* DlgSaveAudio;
    TMSpeech* fwMSpeechSave;
    QLabel* lbPitchPos;
    QLabel* lbSpeedPos;
    QLabel* lbVolumePos;
    QPushButton* btConverterCancel;
    QProgressBar* pbConverter;
    QLabel* lbConverterPos;

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

    // Text group.
    void btTextClearClick();
    void btTextLoadClick();
    void btTextSaveClick();
    void mmEditTextChange();

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

  protected:
    void showEvent(QShowEvent* event) override;
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
    QSlider* MakeTrackBar(const char* name, int left, int top, int singleStep);
    void SetBarRange(QSlider* bar, int64_t min, int64_t max);
    void SetBarPosition(QSlider* bar, int64_t position);
    void BarExit(QSlider* bar);
    void CenterOnScreen();
    void SpeakTheText();
    void StartConversion();

    bool shown_ = false;
    // The text handed to fwMSpeech, for placing the word highlight.
    TSpokenTextMap spokenMap_;
    // Lays out the text box between messages; Speak and Save... wait for it.
    TTextLayoutRunner* textLayout_ = nullptr;
};
