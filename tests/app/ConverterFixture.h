#pragma once
// The main window over the recording speech service with the start-up phrase run
// through to idle, and the converter's controls in each of its four states.
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>

#include "WindowFixture.h"

enum class State { Idle, Speaking, Paused, Saving };

class Converter : public WindowFixture {
  protected:
    void SetUp() override {
        WindowFixture::SetUp();
        Start();
        ShowEditPage();
        speaker = LastCentral();  // fwMSpeech's engine, attached at start-up
        ASSERT_NE(nullptr, speaker);
        speaker->FireAudioStart();  // the start-up phrase runs through speaking to idle
        speaker->FireAudioStop();
        ExpectState(State::Idle);
    }

    // The controls of each state, as the handlers leave them.
    void ExpectState(State s) {
        SCOPED_TRACE(int(s));
        auto* f = form.get();
        switch (s) {
            case State::Idle:
                EXPECT_FALSE(f->btConverterSpeak->isHidden());
                EXPECT_TRUE(f->btConverterSpeak->isEnabled());
                EXPECT_TRUE(f->btConverterPause->isHidden());
                EXPECT_FALSE(f->btConverterStop->isEnabled());
                EXPECT_FALSE(f->btConverterSave->isHidden());
                EXPECT_TRUE(f->btConverterSave->isEnabled());
                EXPECT_TRUE(CancelUnseen());
                EXPECT_TRUE(f->pbConverter->isHidden());
                EXPECT_TRUE(f->lbConverterPos->isHidden());
                EXPECT_TRUE(f->gbEditText->isEnabled());
                EXPECT_TRUE(f->gbEditVoice->isEnabled());
                break;
            case State::Speaking:
                EXPECT_TRUE(f->btConverterSpeak->isHidden());
                EXPECT_FALSE(f->btConverterPause->isHidden());
                EXPECT_TRUE(f->btConverterStop->isEnabled());
                EXPECT_FALSE(f->btConverterSave->isHidden());
                EXPECT_FALSE(f->btConverterSave->isEnabled());
                EXPECT_TRUE(CancelUnseen());
                EXPECT_TRUE(f->pbConverter->isHidden());
                EXPECT_TRUE(f->gbEditText->isEnabled());
                EXPECT_FALSE(f->gbEditVoice->isEnabled());
                break;
            case State::Paused:
                EXPECT_FALSE(f->btConverterSpeak->isHidden());
                EXPECT_TRUE(f->btConverterSpeak->isEnabled());
                EXPECT_TRUE(f->btConverterPause->isHidden());
                EXPECT_TRUE(f->btConverterStop->isEnabled());
                EXPECT_FALSE(f->btConverterSave->isHidden());
                EXPECT_TRUE(f->btConverterSave->isEnabled());
                EXPECT_TRUE(CancelUnseen());
                EXPECT_TRUE(f->pbConverter->isHidden());
                EXPECT_TRUE(f->gbEditText->isEnabled());
                EXPECT_FALSE(f->gbEditVoice->isEnabled());
                break;
            case State::Saving:
                EXPECT_FALSE(f->btConverterSpeak->isEnabled());
                EXPECT_TRUE(f->btConverterSave->isHidden());
                EXPECT_FALSE(f->btConverterCancel->isHidden());
                EXPECT_FALSE(f->pbConverter->isHidden());
                EXPECT_FALSE(f->lbConverterPos->isHidden());
                EXPECT_FALSE(f->gbEditText->isEnabled());
                EXPECT_FALSE(f->gbEditVoice->isEnabled());
                break;
        }
    }
    // Until a conversion has run, "Cancel" stays shown beneath "Save...", as at start-up.
    bool CancelUnseen() const {
        return form->btConverterCancel->isHidden() ||
               form->gbEditConverter->childAt(form->btConverterCancel->geometry().center()) ==
                   form->btConverterSave;
    }
    void SetText(const QString& text) { form->mmEditText->setPlainText(text); }
    // Starts a WAV conversion into a fresh file; returns the engine object rendering it.
    FakeCentral* StartConversion(const QString& name) {
        const int before = service.CentralCount();
        ui.answers = {name};
        form->btConverterSave->click();
        return service.CentralCount() > before ? LastCentral() : nullptr;
    }
    // The file the last render went into, as its file destination was told.
    QString RenderedFile() const {
        const std::vector<std::string> sets = Logged(".Set(");
        if (sets.empty()) return {};
        const size_t from = sets.back().find(".Set(") + 5;
        return QString::fromStdString(sets.back().substr(from, sets.back().rfind(',') - from));
    }
    static std::string Le32(uint32_t v) {
        return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    }
    // A silent 16 kHz, 16-bit mono WAV file of `frames`.
    static std::string SilentWav(uint32_t frames) {
        return "RIFF" + Le32(36 + 2 * frames) + "WAVEfmt " + Le32(16) + Le32(0x10001) +
               Le32(16000) + Le32(32000) + Le32(0x100002) + "data" + Le32(2 * frames) +
               std::string(2 * frames, '\0');
    }
    // The last Save...'s render ends whole: its file holds `frames` of silence, and the
    // word times came.
    void RenderWhole(uint32_t frames, std::span<const ParlenWordTime> times) {
        WriteFileBytes(RenderedFile(), SilentWav(frames));
        LastCentral()->FireAudioStart();
        form->fwMSpeechSave->OnWordTimes(nullptr, times, 16000);
        LastCentral()->FireAudioStop();
    }
    QString Selected() const { return form->mmEditText->textCursor().selectedText(); }
    int SelectionStart() const { return form->mmEditText->textCursor().selectionStart(); }

    FakeCentral* speaker = nullptr;
};
