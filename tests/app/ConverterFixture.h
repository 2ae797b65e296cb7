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
    QString Selected() const { return form->mmEditText->textCursor().selectedText(); }
    int SelectionStart() const { return form->mmEditText->textCursor().selectionStart(); }

    FakeCentral* speaker = nullptr;
};
