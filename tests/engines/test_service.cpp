// The engines with the service's real destinations: a WAV file and the sound device.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>

#include "EngineTestKit.h"
#include "engines/RhvoiceRows.h"
#include "platform/ClassRegistry.h"
#include "platform/render/ParallelRender.h"
#include "platform/service/SpeechService.h"

namespace {
const char* const kEspeak = "English (America) - espeak-ng";
const char* const kSlt = "slt (US English female) - flite";
const char* const kKal = "kal (US English male, 8 kHz) - flite";

void EnsureService() {
    EnsureApartment();
    static const bool registered = (RegisterSpeechService(), true);
    (void)registered;
}

// An engine of the mode bound to a new destination of the class.
struct ServiceEngine {
    ComPtr<IUnknown> dest;
    ComPtr<ITTSCentralA> central;
    EventLog log;
    ComPtr<RecordingNotifySink> notify = MakeCom<RecordingNotifySink>(&log);
    ComPtr<RecordingBufSink> buf = MakeCom<RecordingBufSink>(&log);

    bool Select(const std::string& mode, const CLSID& destClass) {
        EnsureService();
        ComPtr<ITTSEnumA> e;
        if (FAILED(CoCreateInstance(CLSID_TTSEnumerator, nullptr, CLSCTX_ALL, IID_ITTSEnumA,
                                    e.PutVoid())) ||
            FAILED(CoCreateInstance(destClass, nullptr, CLSCTX_ALL, IID_IUnknown, dest.PutVoid())))
            return false;
        DWORD key = 0;
        return SUCCEEDED(e->Select(FindMode(mode)->info.gModeID, central.Put(), dest.Get())) &&
               SUCCEEDED(central->Register(notify.Get(), IID_ITTSNotifySinkA, &key));
    }
    HRESULT Speak(const std::string& text) {
        return central->TextData(CHARSET_TEXT, 0, text.c_str(), text.size() + 1,
                                 static_cast<ITTSBufNotifySink*>(buf.Get()), IID_ITTSBufNotifySink);
    }
    ComPtr<IAudioFile> File() {
        ComPtr<IAudioFile> file;
        dest.As(file);
        return file;
    }
};

sf_count_t WavFrames(const QString& path, int* rate) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.toLocal8Bit().constData(), SFM_READ, &info);
    if (!f) return -1;
    sf_close(f);
    *rate = info.samplerate;
    return info.frames;
}
}  // namespace

TEST(ServiceFile, RendersValidWavFilesWithEveryNotification) {
    QTemporaryDir dir;
    for (const char* mode : {kEspeak, kSlt}) {
        ServiceEngine e;
        ASSERT_TRUE(e.Select(mode, CLSID_AudioDestFile)) << mode;
        const QString path = dir.filePath(QString("out-%1.wav").arg(mode[0]));
        const std::u16string name = path.toStdU16String();
        ASSERT_EQ(e.File()->Set(name.c_str(), 1), S_OK);
        ASSERT_EQ(e.Speak("1 2 3\r\n"), S_OK);
        ASSERT_TRUE(PumpUntil([&] { return e.log.Count("stop") == 1; })) << mode;
        ASSERT_EQ(e.File()->Flush(), S_OK);
        EXPECT_EQ(e.log.lines.front(), "textstarted");
        EXPECT_EQ(e.log.lines[1], "start");
        EXPECT_EQ(e.log.Words().back(), 4u);
        int rate = 0;
        const sf_count_t frames = WavFrames(path, &rate);
        EXPECT_EQ(rate, FindMode(mode)->engine == VoiceMode::Engine::Espeak ? 22050 : 16000);
        EXPECT_GT(frames, rate / 2) << mode;  // about a second of speech
        EXPECT_LT(frames, rate * 3) << mode;
    }
}

TEST(ServiceFile, APausedSpeechAndAWavRenderBothComplete) {
    QTemporaryDir dir;
    std::string text;
    while (text.size() < 4000) text += "Paused speech goes on later. ";
    ServiceEngine paused, render;
    ASSERT_TRUE(paused.Select(kSlt, CLSID_AudioDestFile));
    ASSERT_TRUE(render.Select(kEspeak, CLSID_AudioDestFile));
    const std::u16string a = dir.filePath("paused.wav").toStdU16String();
    const std::u16string b = dir.filePath("render.wav").toStdU16String();
    ASSERT_EQ(paused.File()->Set(a.c_str(), 1), S_OK);
    ASSERT_EQ(render.File()->Set(b.c_str(), 1), S_OK);
    ASSERT_EQ(paused.central->AudioPause(), S_OK);
    ASSERT_EQ(paused.Speak(text), S_OK);
    ASSERT_EQ(render.Speak(text), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return render.log.Count("stop") == 1; }));
    EXPECT_EQ(paused.log.Count("stop"), 0);
    ASSERT_EQ(paused.central->AudioResume(), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return paused.log.Count("stop") == 1; }, 60000));
    ASSERT_EQ(paused.File()->Flush(), S_OK);
    ASSERT_EQ(render.File()->Flush(), S_OK);
    int rate = 0;
    EXPECT_GT(WavFrames(dir.filePath("paused.wav"), &rate), 100 * rate);
    EXPECT_GT(WavFrames(dir.filePath("render.wav"), &rate), 100 * rate);
}

TEST(ServiceDevice, SpeaksInRealTimeWithStartWordsAndStop) {
    if (!std::getenv("PULSE_SERVER")) GTEST_SKIP() << "no private sound server";
    for (const char* mode : WithRhvoice({kEspeak, "slt (US English female, HTS) - festival"})) {
        ServiceEngine e;
        ASSERT_TRUE(e.Select(mode, CLSID_MMAudioDest));
        QElapsedTimer timer;
        timer.start();
        ASSERT_EQ(e.Speak("1 2 3\r\n"), S_OK);
        ASSERT_TRUE(PumpUntil([&] { return e.log.Count("start") == 1; }, 30000)) << mode;
        const qint64 started = timer.elapsed();
        ASSERT_TRUE(PumpUntil([&] { return e.log.Count("stop") == 1; }, 30000)) << mode;
        const qint64 spoken = timer.elapsed() - started;
        std::printf("%s: audio start after %lld ms, heard for %lld ms\n", mode,
                    static_cast<long long>(started), static_cast<long long>(spoken));
        EXPECT_GT(spoken, 600) << mode;  // "one two three" takes about a second to say
        EXPECT_EQ(e.log.Words(), (std::vector<uint32_t>{0, 2, 4})) << mode;
    }
}

TEST(ServiceDevice, PauseResumeAndStopFollowWhatIsHeard) {
    if (!std::getenv("PULSE_SERVER")) GTEST_SKIP() << "no private sound server";
    for (const char* mode : WithRhvoice({kEspeak})) {
        ServiceEngine e;
        ASSERT_TRUE(e.Select(mode, CLSID_MMAudioDest)) << mode;
        ASSERT_EQ(e.Speak("One two three four five six seven eight nine ten eleven twelve."), S_OK);
        ASSERT_TRUE(PumpUntil([&] { return e.log.Words().size() >= 2; }, 5000));
        ASSERT_EQ(e.central->AudioPause(), S_OK);
        PumpUntil([] { return false; }, 300);  // what was heard before the pause arrives
        const size_t seen = e.log.lines.size();
        PumpUntil([] { return false; }, 500);
        EXPECT_EQ(e.log.lines.size(), seen);  // nothing is heard while paused
        ASSERT_EQ(e.central->AudioResume(), S_OK);
        ASSERT_TRUE(PumpUntil([&] { return e.log.Count("start") == 2; }, 10000));
        ASSERT_TRUE(PumpUntil([&] { return e.log.Words().size() >= 5; }, 5000));
        // Stop, then at once the next text: its start comes after the stop of the first.
        ASSERT_EQ(e.central->AudioReset(), S_OK);
        ASSERT_EQ(e.Speak("1 2 3"), S_OK);
        ASSERT_TRUE(PumpUntil([&] { return e.log.Count("stop") == 2; }, 10000));
        const auto& l = e.log.lines;
        const auto firstStop = std::find(l.begin(), l.end(), "stop");
        const auto lastStart = std::find(l.rbegin(), l.rend(), "start").base() - 1;
        EXPECT_LT(firstStop, lastStart);
        EXPECT_EQ(e.log.Count("start"), 3) << mode;
    }
}

// The workers wait while the spools hold their budget: they hold at most the budget and
// one piece, and every piece still arrives, in order, as one process renders them.
TEST(ServiceFile, RenderWorkersWaitWhileTheSpoolsAreFull) {
    QFile gpl("/usr/share/common-licenses/GPL-3");
    ASSERT_TRUE(gpl.open(QIODevice::ReadOnly));
    const std::string text = gpl.read(10000).toStdString();
    const auto voice = MakeVoiceBackend(*FindMode(kKal));
    constexpr uint64_t kBudget = 256 << 10;
    ParallelRender::SetSpoolBudget(kBudget);
    const auto render = ParallelRender::Plan(text, *voice, {}, 4);
    ParallelRender::SetSpoolBudget(0);
    ASSERT_TRUE(render);
    std::vector<int16_t> samples;
    uint64_t largest = 0;
    for (TextPiece piece{0, 0}; piece.begin < text.size(); piece.begin = piece.end) {
        RenderedPiece out;
        ParallelRender::Result result;
        while ((result = render->Next(*voice, text, {}, piece, out)) ==
               ParallelRender::Result::Wait) {
        }
        ASSERT_EQ(ParallelRender::Result::Piece, result) << render->Why();
        samples.insert(samples.end(), out.samples.begin(), out.samples.end());
        largest = std::max<uint64_t>(largest, 64 + out.samples.size() * sizeof(int16_t) +
                                                  out.events.size() * sizeof(SynthEvent));
    }
    EXPECT_GT(render->SpoolPeak(), 0u);
    EXPECT_LE(render->SpoolPeak(), kBudget + largest);
    EXPECT_EQ(samples, RenderText(kKal, text)) << "the same audio as one process";
}
