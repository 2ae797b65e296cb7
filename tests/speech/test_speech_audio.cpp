// The speech component speaking aloud through the private sound server.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>

#include "OwnSoundServer.h"
#include "RealService.h"
#include "speech/mSpeech.h"

namespace {

class Aloud : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::getenv("PULSE_SERVER")) GTEST_SKIP() << "no private sound server (PULSE_SERVER)";
        StartRealService();
    }
};

TEST_F(Aloud, SpeaksWithEventsInOrder) {
    TMSpeech speech;
    ASSERT_GT(speech.Engines().LineCount(), 0);
    speech.SelectEngine(speech.Engines().LineAt(0));
    ASSERT_TRUE(speech.Selected());
    std::vector<std::string> events;
    speech.OnStart = [&](void*) { events.push_back("start"); };
    speech.OnVisual = [&](void*, uint32_t, PTTSMOUTH) {
        const std::string word = "word " + std::to_string(speech.WordPosition());
        if (events.empty() || events.back() != word) events.push_back(word);
    };
    speech.OnStop = [&](void*) { events.push_back("stop"); };
    speech.Text().AppendLine("1 2 3");
    speech.Speak();
    ASSERT_TRUE(WaitFor([&] { return !events.empty() && events.back() == "stop"; }, 20000));
    EXPECT_EQ((std::vector<std::string>{"start", "word 0", "word 2", "word 4", "stop"}), events);
}

TEST_F(Aloud, PauseResumeAndStopReachTheEngine) {
    TMSpeech speech;
    speech.SelectEngine(speech.Engines().LineAt(0));
    int starts = 0, stops = 0;
    speech.OnStart = [&](void*) { ++starts; };
    speech.OnStop = [&](void*) { ++stops; };
    for (int i = 0; i < 20; ++i) speech.Text().AppendLine("A longer text to pause and resume.");
    speech.Speak();
    ASSERT_TRUE(WaitFor([&] { return starts == 1; }, 10000));
    speech.Pause();
    EXPECT_TRUE(speech.Paused());
    const uint32_t at = speech.WordPosition();
    WaitFor([] { return false; }, 300);
    EXPECT_EQ(at, speech.WordPosition()) << "no words while paused";
    speech.Resume();
    EXPECT_FALSE(speech.Paused());
    EXPECT_TRUE(WaitFor([&] { return starts == 2; }, 10000)) << "audio start again after resume";
    speech.Stop();
    EXPECT_TRUE(WaitFor([&] { return stops == 1; }, 10000));
    // A new text after Stop starts after the stop of the discarded one.
    speech.Text().ClearLines();
    speech.Text().AppendLine("1 2 3");
    speech.Speak();
    EXPECT_TRUE(WaitFor([&] { return stops == 2; }, 20000));
    EXPECT_EQ(3, starts);
}

TEST_F(Aloud, ParlenSayReportsTheWordsOfOneTwoThree) {
    const SayOutcome r = RunParlenSay({"--events"}, "1 2 3");
    ASSERT_EQ(0, r.code) << r.err;
    std::vector<std::string> kinds;
    size_t start = 0;
    while (start < r.out.size()) {
        size_t nl = r.out.find('\n', start);
        const std::string line = r.out.substr(start, nl - start);
        const std::string kind = line.substr(line.find(' ') + 1);
        if (kind.rfind("visual", 0) != 0) kinds.push_back(kind);
        start = nl == std::string::npos ? r.out.size() : nl + 1;
    }
    ASSERT_GE(kinds.size(), 5u) << r.out;
    EXPECT_EQ("start 0", kinds.front());
    EXPECT_EQ((std::vector<std::string>{"word 0", "word 2", "word 4"}),
              std::vector<std::string>(kinds.begin() + 1, kinds.end() - 1));
    EXPECT_EQ(0u, kinds.back().rfind("stop", 0));
}

TEST_F(Aloud, ParlenSayIsHeardOnTheSoundServer) {
    const char* sink = std::getenv("PARLEN_SINK");
    QTemporaryDir dir;
    const QString raw = dir.filePath("heard.raw");
    QProcess capture;
    capture.start("parecord", {QString("--device=%1.monitor").arg(sink ? sink : "parlen_null"),
                               "--raw", "--format=s16le", "--rate=22050", "--channels=1", raw});
    if (!capture.waitForStarted()) GTEST_SKIP() << "parecord is not available";
    WaitFor([] { return false; }, 300);  // the capture stream connects
    const SayOutcome r = RunParlenSay({}, "1 2 3");
    WaitFor([] { return false; }, 300);
    capture.terminate();
    capture.waitForFinished();
    ASSERT_EQ(0, r.code) << r.err;

    QFile f(raw);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    const auto* samples = reinterpret_cast<const int16_t*>(bytes.constData());
    const qsizetype count = bytes.size() / 2;
    qsizetype first = -1, last = -1;
    for (qsizetype i = 0; i < count; ++i)
        if (samples[i] > 300 || samples[i] < -300) {
            if (first < 0) first = i;
            last = i;
        }
    ASSERT_GE(first, 0) << "nothing was heard";
    const double seconds = double(last - first) / 22050.0;
    EXPECT_GT(seconds, 0.5);
    EXPECT_LT(seconds, 3.0);
}

// Starts parlen-say with args, speaking through server.
void StartSayWith(QProcess& say, const OwnSoundServer& server, const QStringList& args) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PULSE_SERVER", QString::fromStdString(server.Address()));
    say.setProcessEnvironment(env);
    const char* bin = std::getenv("PARLEN_BIN_DIR");
    say.start(QString(bin ? bin : ".") + "/parlen-say", args);
}

// The sound server killed while parlen-say speaks: it ends, not zero, and says that the
// connection was lost (not that the server hung, which it would find only seconds later).
TEST_F(Aloud, ParlenSayReportsALostSoundServer) {
    OwnSoundServer server;
    ASSERT_TRUE(server.Start()) << server.Error();
    QProcess say;
    StartSayWith(say, server, {"--events"});
    ASSERT_TRUE(say.waitForStarted());
    say.write(QByteArray("A text long enough to be cut short by the sound server. ").repeated(20));
    say.closeWriteChannel();
    QByteArray out;
    while (!out.contains(" word ") && say.waitForReadyRead(20000))
        out += say.readAllStandardOutput();
    ASSERT_TRUE(out.contains(" word ")) << "never spoke: " << say.readAllStandardError().data();
    QElapsedTimer clock;
    clock.start();
    server.Kill();
    ASSERT_TRUE(say.waitForFinished(10000)) << "parlen-say went on without its server";
    const qint64 ms = clock.elapsed();
    const std::string err = say.readAllStandardError().toStdString();
    std::printf("parlen-say ended %lld ms after the server was killed\n",
                static_cast<long long>(ms));
    EXPECT_EQ(1, say.exitCode()) << err;
    EXPECT_NE(std::string::npos, err.find("Connection terminated")) << err;
    EXPECT_NE(std::string::npos, err.find(server.Address())) << err;
}

// A sound server frozen before parlen-say starts: neither the engines' start nor the
// connection waits for it; parlen-say ends, not zero, saying the server does not answer.
TEST_F(Aloud, ParlenSayReportsAFrozenSoundServer) {
    OwnSoundServer server;
    ASSERT_TRUE(server.Start()) << server.Error();
    server.Freeze();
    QProcess say;
    StartSayWith(say, server, {"-"});
    ASSERT_TRUE(say.waitForStarted());
    say.write("Nobody hears this.");
    say.closeWriteChannel();
    ASSERT_TRUE(say.waitForFinished(30000)) << "parlen-say waited for a frozen server";
    const std::string err = say.readAllStandardError().toStdString();
    EXPECT_EQ(1, say.exitCode()) << err;
    EXPECT_NE(std::string::npos, err.find("no answer")) << err;
    EXPECT_NE(std::string::npos, err.find(server.Address())) << err;
}

}  // namespace
