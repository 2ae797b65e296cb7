// The voice panel: engine choice, the three bars, the test phrase and settings files.
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <algorithm>
#include <cstring>
#include <memory>

#include "app/ErrorGuard.h"
#include "app/FileDialog.h"
#include "app/LexiconDialog.h"
#include "app/fmMain.h"
#include "platform/service/TTSEngine.h"
#include "speech/mSpeech.h"
#include "support/IniFiles.h"
#include "support/SysUtils.h"
#include "support/qt/ComboBoxStrings.h"
#include "support/qt/TextCodec.h"

namespace {
const char* const kSection = "Voice";

int ClampToInt(int64_t v) {
    return int(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

std::string ComboText(const QComboBox* box) {
    return EncodeText(box->currentText());
}
}  // namespace

void TFormMain::ConnectVoiceHandlers() {
    // A pick by the user only: selecting a line from code fires nothing.
    connect(cbVoiceEngines, &QComboBox::activated, this,
            [this](int) { ErrorGuard::Run([this] { cbVoiceEnginesChange(); }); });
    auto bar = [this](QSlider* slider, void (TFormMain::*change)()) {
        // Position changes from code, and every step the user's mouse or keys report
        // even when the position stays.
        connect(slider, &QSlider::valueChanged, this,
                [this, change](int) { ErrorGuard::Run([this, change] { (this->*change)(); }); });
        connect(slider, &QSlider::actionTriggered, this, [this, slider, change](int action) {
            if (action == QAbstractSlider::SliderNoAction) return;
            // The action's position is applied after this signal; report that one.
            ErrorGuard::Run([this, slider, change] {
                if (slider->sliderPosition() == slider->value()) (this->*change)();
            });
        });
    };
    bar(tbVoicePitch, &TFormMain::tbVoicePitchChange);
    bar(tbVoiceSpeed, &TFormMain::tbVoiceSpeedChange);
    bar(tbVoiceVolume, &TFormMain::tbVoiceVolumeChange);
    connect(btVoiceTest, &QPushButton::clicked, this,
            [this] { ErrorGuard::Run([this] { btVoiceTestClick(); }); });
    connect(btVoiceLoad, &QPushButton::clicked, this,
            [this] { ErrorGuard::Run([this] { btVoiceLoadClick(); }); });
    connect(btVoiceSave, &QPushButton::clicked, this,
            [this] { ErrorGuard::Run([this] { btVoiceSaveClick(); }); });
    connect(btVoiceLexicon, &QPushButton::clicked, this,
            [this] { ErrorGuard::Run([this] { btVoiceLexiconClick(); }); });
    // The engine's lexicon dialog is this window's: the service calls it back here.
    SetLexiconDialogHost([this](void* window, const char* title, const TTSMODEINFOA& voice) {
        const auto field = [](const char* text, size_t size) {
            return std::string(text, strnlen(text, size));
        };
        TLexiconDialog dialog(static_cast<QWidget*>(window),
                              field(voice.szModeName, sizeof voice.szModeName),
                              field(voice.language.szDialect, sizeof voice.language.szDialect),
                              [this](const std::string& text) {
                                  fwMSpeech->Text().ClearLines();
                                  fwMSpeech->Text().AppendLine(text);
                                  spokenMap_.BuildStandalone(fwMSpeech->Text());
                                  fwMSpeech->Speak();
                              });
        if (title && *title) dialog.setWindowTitle(QString::fromUtf8(title));
        dialog.exec();
        return S_OK;
    });
}

void TFormMain::SetBarRange(QSlider* bar, int64_t min, int64_t max) {
    // Both ends at once, so the bar takes the whole new range whatever it had before.
    const int lo = ClampToInt(min);
    const int hi = std::max(lo, ClampToInt(max));
    bar->setRange(lo, hi);
    // Ticks at the two ends only.
    bar->setTickInterval(std::max(1, int(std::min<int64_t>(int64_t(hi) - lo, INT32_MAX))));
}

void TFormMain::SetBarPosition(QSlider* bar, int64_t position) {
    bar->setValue(ClampToInt(position));  // the bar keeps it inside its range
}

bool TFormMain::ApplyEngine() {
    if (cbVoiceEngines->currentIndex() < 0) return false;
    try {
        fwMSpeech->SelectEngine(ComboText(cbVoiceEngines));
        if (!fwMSpeech->Selected()) return false;
        const TMSpeechEngineInfo& info = fwMSpeech->EngineInfo();
        SetBarRange(tbVoicePitch, info.PitchMin, info.PitchMax);
        SetBarPosition(tbVoicePitch, fwMSpeech->GetPitch());
        lbPitchMax->setText(QString::number(info.PitchMax));
        lbPitchMax->adjustSize();
        lbPitchMin->setText(QString::number(info.PitchMin));
        lbPitchMin->adjustSize();
        SetBarRange(tbVoiceSpeed, info.SpeedMin, info.SpeedMax);
        SetBarPosition(tbVoiceSpeed, fwMSpeech->GetSpeed());
        lbSpeedMax->setText(QString::number(info.SpeedMax));
        lbSpeedMax->adjustSize();
        lbSpeedMin->setText(QString::number(info.SpeedMin));
        lbSpeedMin->adjustSize();
        SetBarRange(tbVoiceVolume, info.VolumeMin, info.VolumeMax);
        SetBarPosition(tbVoiceVolume, fwMSpeech->GetVolume());
        return true;
    } catch (...) {
        // A failing engine shows nothing; what was set so far stays.
        return false;
    }
}

void TFormMain::cbVoiceEnginesChange() {
    if (ApplyEngine()) btVoiceTestClick();
}

namespace {
void ShowPosition(QLabel* label, const QSlider* bar) {
    label->setText(QString::number(bar->value()));
    label->adjustSize();
}
}  // namespace

void TFormMain::tbVoicePitchChange() {
    ShowPosition(lbPitchPos, tbVoicePitch);
}
void TFormMain::tbVoiceSpeedChange() {
    ShowPosition(lbSpeedPos, tbVoiceSpeed);
}
void TFormMain::tbVoiceVolumeChange() {
    ShowPosition(lbVolumePos, tbVoiceVolume);
}

void TFormMain::tbVoicePitchExit() {
    fwMSpeech->SetPitch(static_cast<uint16_t>(static_cast<uint32_t>(tbVoicePitch->value())));
}
void TFormMain::tbVoiceSpeedExit() {
    fwMSpeech->SetSpeed(static_cast<uint32_t>(tbVoiceSpeed->value()));
}
void TFormMain::tbVoiceVolumeExit() {
    fwMSpeech->SetVolume(static_cast<uint32_t>(tbVoiceVolume->value()));
}

void TFormMain::BarExit(QSlider* bar) {
    if (bar == tbVoicePitch)
        tbVoicePitchExit();
    else if (bar == tbVoiceSpeed)
        tbVoiceSpeedExit();
    else if (bar == tbVoiceVolume)
        tbVoiceVolumeExit();
}

void TFormMain::btVoiceTestClick() {
    if (fwMSpeech->Selected()) fwMSpeech->Stop();
    fwMSpeech->Text().ClearLines();
    fwMSpeech->Text().AppendLine("1 2 3");
    // The phrase is not the box's text: the highlight uses its own offsets.
    spokenMap_.BuildStandalone(fwMSpeech->Text());
    fwMSpeech->Speak();
}

void TFormMain::btVoiceLoadClick() {
    if (!DlgLoadSettings->Execute(this)) return;
    auto ini = std::make_unique<TIniFile>(EncodeText(DlgLoadSettings->FileName()));
    const std::string engine = ini->ReadValue(kSection, "Engine", "");
    TComboBoxStrings engines(cbVoiceEngines);
    cbVoiceEngines->setCurrentIndex(engines.FindLine(engine));
    if (!ApplyEngine()) return;
    SetBarPosition(tbVoicePitch, StrToInt(ini->ReadValue(kSection, "Pitch", "0")));
    tbVoicePitchExit();
    SetBarPosition(tbVoiceSpeed, StrToInt(ini->ReadValue(kSection, "Speed", "0")));
    tbVoiceSpeedExit();
    SetBarPosition(tbVoiceVolume, StrToInt(ini->ReadValue(kSection, "Volume", "0")));
    tbVoiceVolumeExit();
    btVoiceTestClick();
}

void TFormMain::btVoiceLexiconClick() {
    if (!fwMSpeech->Selected()) ApplyEngine();
    fwMSpeech->LexiconDialog(this, "Lexicon");
}

void TFormMain::btVoiceSaveClick() {
    if (!DlgSaveSettings->Execute(this)) return;
    auto ini = std::make_unique<TIniFile>(EncodeText(DlgSaveSettings->FileName()));
    ini->WriteValue(kSection, "Engine", ComboText(cbVoiceEngines));
    ini->WriteValue(kSection, "Pitch", IntToStr(tbVoicePitch->value()));
    ini->WriteValue(kSection, "Speed", IntToStr(tbVoiceSpeed->value()));
    ini->WriteValue(kSection, "Volume", IntToStr(tbVoiceVolume->value()));
}
