// The voice panel on the real engines and the private sound server: what the user
// hears after picking a voice, moving a bar or loading a settings file, checked
// against the same phrase rendered into a WAV file with the same voice and values.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <cmath>

#include "AppTestSupport.h"
#include "SinkCapture.h"
#include "platform/service/SpeechService.h"
#include "speech/mSpeech.h"
#include "support/qt/VersionInfo.h"

namespace {

// The 16-bit mono samples of a WAV file, and its rate.
struct Wav {
    std::vector<int16_t> samples;
    unsigned rate = 0;
};
Wav ReadWav(const QString& path) {
    QFile f(path);
    Wav wav;
    if (!f.open(QIODevice::ReadOnly)) return wav;
    const QByteArray b = f.readAll();
    auto u32 = [&](qsizetype at) {
        return quint32(uchar(b[at])) | quint32(uchar(b[at + 1])) << 8 |
               quint32(uchar(b[at + 2])) << 16 | quint32(uchar(b[at + 3])) << 24;
    };
    unsigned channels = 0, bits = 0;
    for (qsizetype at = 12; b.size() >= 44 && at + 8 <= b.size();) {
        const QByteArray id = b.mid(at, 4);
        const quint32 size = u32(at + 4);
        if (id == "fmt ") {
            channels = uchar(b[at + 10]);
            wav.rate = u32(at + 12);
            bits = uchar(b[at + 22]);
        } else if (id == "data" && channels == 1 && bits == 16) {
            for (qsizetype i = at + 8; i + 1 < at + 8 + qsizetype(size) && i + 1 < b.size(); i += 2)
                wav.samples.push_back(int16_t(uchar(b[i]) | uchar(b[i + 1]) << 8));
            return wav;
        }
        at += 8 + size + (size & 1);
    }
    return Wav{};
}

// "1 2 3" rendered by the command-line driver with the given voice and values.
Wav RenderTestPhrase(const QString& voice, unsigned pitch, unsigned speed, unsigned volume) {
    const QString dir = ScratchDir();
    WriteFileBytes(dir + "/phrase.txt", "1 2 3\r\n");
    QProcess say;
    say.start(
        QString::fromStdString(ProgramPath()).replace("parlenmaker", "parlen-say"),
        {"--voice", voice, "--pitch", QString::number(pitch), "--speed", QString::number(speed),
         "--volume", QString::number(volume), "--wav", dir + "/phrase.wav", dir + "/phrase.txt"});
    if (!say.waitForFinished(30000)) return Wav{};
    return ReadWav(dir + "/phrase.wav");
}

double Correlation(const int16_t* a, const int16_t* b, size_t n) {
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < n; ++i) {
        ab += double(a[i]) * b[i];
        aa += double(a[i]) * a[i];
        bb += double(b[i]) * b[i];
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

// How the capture compares with the rendered phrase. The engine carries a little
// state from one phrase to the next, so the two are alike rather than equal: each
// 50 ms of the rendering's sound is looked for in the capture near where the one
// before it was found (also a little later, should the stream have dropped out),
// and counts as heard when the waveforms correlate by 0.8 or more. Another voice,
// pitch, speed or text stays far below that.
struct Hearing {
    int windows = 0, heard = 0;
    double lengthRatio = 0;    // stretch of sound heard / stretch of sound rendered
    double loudnessRatio = 0;  // root mean square over those stretches, heard / rendered
};
Hearing Compare(const SinkCapture& capture, const Wav& phrase) {
    Hearing h;
    const std::vector<int16_t>& heard = capture.Samples();
    const std::vector<int16_t>& ref = phrase.samples;
    const auto firstHeard = capture.FirstSound(0, 200), lastHeard = capture.LastSound(200);
    size_t firstRef = 0, lastRef = 0;
    for (size_t i = 0; i < ref.size(); ++i) {
        if (std::abs(int(ref[i])) <= 200) continue;
        if (!firstRef) firstRef = i;
        lastRef = i;
    }
    if (!firstHeard || !lastHeard || lastRef <= firstRef || phrase.rate == 0) return h;
    h.lengthRatio = double(*lastHeard - *firstHeard) / double(lastRef - firstRef);
    double sum = 0;
    for (size_t i = firstRef; i <= lastRef; ++i) sum += double(ref[i]) * ref[i];
    h.loudnessRatio = capture.Rms(*firstHeard, *lastHeard - *firstHeard + 1) /
                      std::sqrt(sum / double(lastRef - firstRef + 1));
    const size_t window = phrase.rate / 20;
    int64_t shift = int64_t(*firstHeard) - int64_t(firstRef);
    for (size_t at = 0; at + window <= ref.size(); at += window) {
        int peak = 0;
        for (size_t i = at; i < at + window; ++i) peak = std::max(peak, std::abs(int(ref[i])));
        if (peak < 1000) continue;
        ++h.windows;
        double best = -1;
        int64_t bestShift = shift;
        for (int64_t s = shift - 20; s <= shift + int64_t(phrase.rate / 10); ++s) {
            const int64_t from = int64_t(at) + s;
            if (from < 0 || from + int64_t(window) > int64_t(heard.size())) continue;
            const double c = Correlation(ref.data() + at, heard.data() + from, window);
            if (c > best) best = c, bestShift = s;
        }
        shift = bestShift;
        if (best >= 0.8) ++h.heard;
    }
    return h;
}

// The phrase was heard once: nearly all of it alike, as loud, and no longer than once.
void ExpectHeardOnce(const SinkCapture& capture, const Wav& phrase) {
    const Hearing h = Compare(capture, phrase);
    EXPECT_GE(h.windows, 5) << "the rendering holds no phrase";
    EXPECT_GE(h.heard * 10, h.windows * 8) << h.heard << " of " << h.windows << " alike";
    EXPECT_GT(h.lengthRatio, 0.8);
    EXPECT_LT(h.lengthRatio, 1.5) << "heard more than once";
    EXPECT_NEAR(1.0, h.loudnessRatio, 0.1);
}

class VoiceEngines : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { RegisterSpeechService(); }
    void SetUp() override {
        if (!SinkCapture::ServerConfigured()) GTEST_SKIP() << "no sound server";
        QGuiApplication::setApplicationDisplayName(PARLEN_MAKER_SITE " - Parlen Maker");
        form = std::make_unique<TFormMain>();
        form->tpVersionInfo->SetFileName(ProgramPath());
        form->show();
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
        form->pcMain->setCurrentWidget(form->tsMainEdit);
        // The start-up phrase runs through speaking back to idle.
        ASSERT_TRUE(WaitFor([&] { return form->btConverterSpeak->isHidden(); }, 5000));
        ASSERT_TRUE(WaitUntilIdle());
        for (int i = 0; i < form->cbVoiceEngines->count(); ++i) {
            const QString name = form->cbVoiceEngines->itemText(i);
            if (espeak < 0 && name.endsWith("- espeak-ng")) espeak = i;
            if (flite < 0 && name.endsWith("- flite")) flite = i;
        }
        ASSERT_GE(espeak, 0);
        ASSERT_GE(flite, 0);
    }
    void TearDown() override { form.reset(); }

    bool WaitUntilIdle() {
        return WaitFor(
            [&] {
                return !form->btConverterSpeak->isHidden() && form->btConverterSpeak->isEnabled() &&
                       form->gbEditVoice->isEnabled();
            },
            15000);
    }
    // Speaking starts (the panel is disabled) and ends again.
    bool WaitUntilSpoken() {
        return WaitFor([&] { return form->btConverterSpeak->isHidden(); }, 5000) && WaitUntilIdle();
    }
    // The user's pick of a line: selected, then reported as the user's.
    void Pick(int index) {
        form->cbVoiceEngines->setCurrentIndex(index);
        emit form->cbVoiceEngines->activated(index);
    }
    Wav PhraseAsTheEngineIsSet() {
        return RenderTestPhrase(form->cbVoiceEngines->currentText(), form->fwMSpeech->GetPitch(),
                                form->fwMSpeech->GetSpeed(), form->fwMSpeech->GetVolume());
    }
    void ExpectPanelShows(const TMSpeechEngineInfo& info) {
        ExpectPanelShowsEngine(*form, info);
        EXPECT_EQ(QString::number(form->tbVoicePitch->value()), form->lbPitchPos->text());
        EXPECT_EQ(QString::number(form->tbVoiceSpeed->value()), form->lbSpeedPos->text());
        EXPECT_EQ(QString::number(form->tbVoiceVolume->value()), form->lbVolumePos->text());
    }

    UiRecorder ui;
    std::unique_ptr<TFormMain> form;
    int espeak = -1, flite = -1;
};

TEST_F(VoiceEngines, PickingAVoiceSpeaksTheTestPhraseOnce) {
    Pick(flite);
    ASSERT_TRUE(WaitUntilSpoken());
    SinkCapture capture;
    ASSERT_TRUE(capture.Start()) << capture.Error();
    Pick(espeak);
    ASSERT_TRUE(WaitUntilSpoken());
    ASSERT_TRUE(capture.Stop(std::chrono::milliseconds(300))) << capture.Error();
    const Wav phrase = PhraseAsTheEngineIsSet();
    ASSERT_EQ(capture.Rate(), phrase.rate);
    ExpectHeardOnce(capture, phrase);
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(VoiceEngines, EachVoiceSetsEveryRangeAndLabelWhateverTheBarsHeldBefore) {
    // The ranges each voice reports when probed on its own.
    auto probe = [&](int index) {
        TMSpeech other;
        other.SelectEngine(form->cbVoiceEngines->itemText(index).toStdString());
        EXPECT_TRUE(other.Selected());
        return other.EngineInfo();
    };
    const TMSpeechEngineInfo fliteInfo = probe(flite), espeakInfo = probe(espeak);
    ASSERT_NE(fliteInfo.SpeedMin, espeakInfo.SpeedMin) << "the voices should differ";

    // Bars left wholly above, then wholly below, any engine's range.
    const int before[][2] = {{100000, 200000}, {-300, -200}, {60000, 70000}};
    const std::pair<int, TMSpeechEngineInfo> picks[] = {
        {flite, fliteInfo}, {espeak, espeakInfo}, {flite, fliteInfo}};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(form->cbVoiceEngines->itemText(picks[i].first).toStdString());
        for (QSlider* bar : {form->tbVoicePitch, form->tbVoiceSpeed, form->tbVoiceVolume})
            bar->setRange(before[i][0], before[i][1]);
        for (QLabel* label :
             {form->lbPitchMin, form->lbPitchMax, form->lbSpeedMin, form->lbSpeedMax})
            label->setText("stale");
        Pick(picks[i].first);
        const TMSpeechEngineInfo& info = form->fwMSpeech->EngineInfo();
        EXPECT_EQ(form->cbVoiceEngines->itemText(picks[i].first).toStdString(), info.ModeName);
        EXPECT_EQ(picks[i].second.PitchMin, info.PitchMin);
        EXPECT_EQ(picks[i].second.PitchMax, info.PitchMax);
        EXPECT_EQ(picks[i].second.SpeedMin, info.SpeedMin);
        EXPECT_EQ(picks[i].second.SpeedMax, info.SpeedMax);
        ExpectPanelShows(info);
        ASSERT_TRUE(WaitUntilSpoken());
    }
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(VoiceEngines, AMovedBarReachesTheEngineOnlyWhenTheFocusMovesOn) {
    Pick(espeak);
    ASSERT_TRUE(WaitUntilSpoken());
    const uint16_t pitch = form->fwMSpeech->GetPitch();
    const uint32_t speed = form->fwMSpeech->GetSpeed();
    ASSERT_EQ(100u, form->fwMSpeech->GetVolume());

    // Moved, and then nothing else pressed: the window losing activation is no exit.
    form->tbVoicePitch->setFocus(Qt::TabFocusReason);
    QTest::keyClick(form->tbVoicePitch, Qt::Key_Down);
    const int moved = form->tbVoicePitch->value();
    ASSERT_NE(int(pitch), moved);
    EXPECT_EQ(QString::number(moved), form->lbPitchPos->text());
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    WaitFor(nullptr, 100);
    EXPECT_EQ(pitch, form->fwMSpeech->GetPitch());
    other.hide();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    EXPECT_EQ(pitch, form->fwMSpeech->GetPitch());
    // Tab to the next control is an exit.
    form->tbVoicePitch->setFocus(Qt::TabFocusReason);
    QTest::keyClick(form->tbVoicePitch, Qt::Key_Tab);
    EXPECT_EQ(moved, int(form->fwMSpeech->GetPitch()));

    // The volume moved down to 60 and "Test" clicked: the exit comes before the click,
    // so the phrase is heard at 60 %.
    auto* volume = form->tbVoiceVolume;
    volume->setFocus(Qt::TabFocusReason);
    const Qt::Key down = volume->invertedControls() ? Qt::Key_PageUp : Qt::Key_PageDown;
    for (int i = 0; i < 50 && volume->value() > 60; ++i) QTest::keyClick(volume, down);
    ASSERT_EQ(60, volume->value());
    EXPECT_EQ(100u, form->fwMSpeech->GetVolume());
    SinkCapture capture;
    ASSERT_TRUE(capture.Start()) << capture.Error();
    QTest::mouseClick(form->btVoiceTest, Qt::LeftButton);
    EXPECT_EQ(60u, form->fwMSpeech->GetVolume());
    ASSERT_TRUE(WaitUntilSpoken());
    ASSERT_TRUE(capture.Stop(std::chrono::milliseconds(300))) << capture.Error();
    // A later phrase of the same engine object is not the driver's to the sample, so
    // only its length and loudness are compared.
    const Hearing h = Compare(capture, PhraseAsTheEngineIsSet());
    EXPECT_GT(h.lengthRatio, 0.8);
    EXPECT_LT(h.lengthRatio, 1.5) << "heard more than once";
    EXPECT_NEAR(1.0, h.loudnessRatio, 0.1) << "at 100 % it would be 1.67";

    // Tab away from the speed bar sends the speed.
    form->tbVoiceSpeed->setFocus(Qt::TabFocusReason);
    QTest::keyClick(form->tbVoiceSpeed, Qt::Key_End);
    ASSERT_NE(speed, uint32_t(form->tbVoiceSpeed->value()));
    EXPECT_EQ(speed, form->fwMSpeech->GetSpeed());
    QTest::keyClick(form->tbVoiceSpeed, Qt::Key_Tab);
    EXPECT_EQ(uint32_t(form->tbVoiceSpeed->value()), form->fwMSpeech->GetSpeed());
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(VoiceEngines, SavedSettingsComeBackByteForByteAndAreHeard) {
    Pick(espeak);
    ASSERT_TRUE(WaitUntilSpoken());
    const QString voice = form->cbVoiceEngines->currentText();
    form->tbVoicePitch->setValue(70);
    form->tbVoiceSpeed->setValue(300);
    form->tbVoiceVolume->setValue(60);
    const QString dir = ScratchDir();
    ui.answers = {dir + "/voice.cfg"};
    form->btVoiceSave->click();
    const std::string saved = ReadFileBytes(dir + "/voice.cfg");
    EXPECT_EQ(
        "[Voice]\r\nEngine=" + voice.toStdString() + "\r\nPitch=70\r\nSpeed=300\r\nVolume=60\r\n",
        saved);

    // Another voice and other values, then the file back.
    Pick(flite);
    ASSERT_TRUE(WaitUntilSpoken());
    SinkCapture capture;
    ASSERT_TRUE(capture.Start()) << capture.Error();
    ui.answers = {dir + "/voice.cfg"};
    form->btVoiceLoad->click();
    EXPECT_EQ(espeak, form->cbVoiceEngines->currentIndex());
    EXPECT_EQ(voice.toStdString(), form->fwMSpeech->EngineInfo().ModeName);
    EXPECT_EQ(70, form->tbVoicePitch->value());
    EXPECT_EQ(300, form->tbVoiceSpeed->value());
    EXPECT_EQ(60, form->tbVoiceVolume->value());
    EXPECT_EQ(70u, form->fwMSpeech->GetPitch());
    EXPECT_EQ(300u, form->fwMSpeech->GetSpeed());
    EXPECT_EQ(60u, form->fwMSpeech->GetVolume());
    ASSERT_TRUE(WaitUntilSpoken());
    ASSERT_TRUE(capture.Stop(std::chrono::milliseconds(300))) << capture.Error();
    ExpectHeardOnce(capture, RenderTestPhrase(voice, 70, 300, 60));

    // Saved again, the file is the same to the byte.
    ui.answers = {dir + "/again.cfg"};
    form->btVoiceSave->click();
    EXPECT_EQ(saved, ReadFileBytes(dir + "/again.cfg"));
    EXPECT_TRUE(ui.boxes.empty());
}

}  // namespace
