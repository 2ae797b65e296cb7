// The speech component on the real speech service: the installed voices, WAV
// rendering with its notifications, and the failures a user can meet.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cerrno>
#include <csignal>
#include <set>

#include "RealService.h"
#include "TinyDisk.h"
#include "platform/ComPtr.h"
#include "platform/render/ParallelRender.h"
#include "speech/mSpeech.h"
#include "support/Errors.h"

namespace {

class RealService : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { StartRealService(); }
    QTemporaryDir dir;
};

// What an engine reports before anybody changes it.
struct Defaults {
    WORD pitch = 0;
    DWORD speed = 0;
};

Defaults EngineDefaults(int index) {
    ComPtr<ITTSEnumA> enumerator;
    Defaults d;
    if (FAILED(CoCreateInstance(CLSID_TTSEnumerator, nullptr, CLSCTX_ALL, IID_ITTSEnumA,
                                enumerator.PutVoid())))
        return d;
    TTSMODEINFOA record{};
    ULONG fetched = 0;
    enumerator->Reset();
    enumerator->Skip(static_cast<ULONG>(index));
    enumerator->Next(1, &record, &fetched);
    ComPtr<IAudioFile> file;
    CoCreateInstance(CLSID_AudioDestFile, nullptr, CLSCTX_ALL, IID_IAudioFile, file.PutVoid());
    ComPtr<ITTSCentralA> central;
    if (FAILED(enumerator->Select(record.gModeID, central.Put(), file.Get()))) return d;
    ComPtr<ITTSAttributesA> attributes;
    if (FAILED(central.As(attributes))) return d;
    attributes->PitchGet(&d.pitch);
    attributes->SpeedGet(&d.speed);
    return d;
}

bool IsWav(const QString& path, qint64& dataBytes) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return false;
    const QByteArray head = f.read(12);
    if (head.size() < 12 || head.left(4) != "RIFF" || head.mid(8, 4) != "WAVE") return false;
    // Walk the chunks to the data chunk.
    while (!f.atEnd()) {
        const QByteArray chunk = f.read(8);
        if (chunk.size() < 8) return false;
        const quint32 size = quint8(chunk[4]) | quint8(chunk[5]) << 8 | quint8(chunk[6]) << 16 |
                             quint32(quint8(chunk[7])) << 24;
        if (chunk.left(4) == "data") {
            dataBytes = size;
            return f.size() >= f.pos() + size;
        }
        f.seek(f.pos() + size + (size & 1));
    }
    return false;
}

// The processes process pid started, as its threads list them.
std::vector<int> ChildrenOf(qint64 pid) {
    std::vector<int> children;
    for (const QString& task : QDir(QString("/proc/%1/task").arg(pid)).entryList(QDir::Dirs)) {
        QFile list(QString("/proc/%1/task/%2/children").arg(pid).arg(task));
        if (!list.open(QIODevice::ReadOnly)) continue;
        for (const QByteArray& child : list.readAll().split(' '))
            if (child.trimmed().toInt() > 0) children.push_back(child.trimmed().toInt());
    }
    return children;
}

TEST_F(RealService, EveryListedVoiceCanBeSelectedAndKeepsItsValuesAfterProbing) {
    TMSpeech speech;
    speech.SetOutput(soFile);
    ASSERT_TRUE(speech.Initialized());
    const int count = speech.Engines().LineCount();
    EXPECT_GE(count, 135) << "espeak-ng and flite voices";
    std::set<std::string> names;
    for (int i = 0; i < count; ++i) {
        const std::string name = speech.Engines().LineAt(i);
        EXPECT_TRUE(names.insert(name).second) << "duplicate voice " << name;
        speech.SelectEngine(name);
        ASSERT_TRUE(speech.Selected()) << name;
        const TMSpeechEngineInfo& info = speech.EngineInfo();
        EXPECT_EQ(name, info.ModeName);
        EXPECT_LE(info.PitchMin, info.PitchMax) << name;
        EXPECT_LT(info.SpeedMin, info.SpeedMax) << name;
        EXPECT_EQ(38u, info.ModeID.size());
        const Defaults d = EngineDefaults(i);
        EXPECT_EQ(d.pitch, speech.GetPitch()) << name << ": pitch restored after probing";
        EXPECT_EQ(d.speed, speech.GetSpeed()) << name << ": speed restored after probing";
        EXPECT_EQ(100, info.VolumeMax);
    }
}

// Name-based identifiers: these strings are what every machine and every run shows.
TEST_F(RealService, ModeAndEngineIdentifiersAreFixed) {
    struct Known {
        const char* mode;
        const char* modeId;
        const char* engineId;
    };
    TMSpeech speech;
    speech.SetOutput(soFile);
    for (const Known& k :
         {Known{"English (America) - espeak-ng", "{8B027697-A480-5CDB-B659-50F715580CBD}",
                "{70B7C515-3805-5174-9881-998BA7A32B53}"},
          Known{"slt (US English female) - flite", "{222BE272-5C0E-5900-98D5-113A0D88A8AF}",
                "{E0DBA9EF-1739-51C7-B811-06A8AF7EE7E6}"}}) {
        speech.SelectEngine(k.mode);
        ASSERT_TRUE(speech.Selected()) << k.mode;
        EXPECT_EQ(k.modeId, speech.EngineInfo().ModeID) << k.mode;
        EXPECT_EQ(k.engineId, speech.EngineInfo().EngineID) << k.mode;
    }
}

// Speaking aloud without a sound server names the server tried and its answer.
TEST_F(RealService, NoSoundServerIsReportedWithItsCause) {
    const QByteArray saved = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", "unix:/nonexistent/parlen/native");
    std::string message;
    {
        TMSpeech speech;
        speech.SelectEngine("English (America) - espeak-ng");
        speech.Text().AppendLine("hello");
        try {
            speech.Speak();
        } catch (const EMSpeechException& e) {
            message = e.Message();
        }
    }
    if (saved.isNull())
        qunsetenv("PULSE_SERVER");
    else
        qputenv("PULSE_SERVER", saved);
    EXPECT_EQ(0u, message.find("No sound server reachable")) << message;
    EXPECT_NE(std::string::npos, message.find("unix:/nonexistent/parlen/native")) << message;
    EXPECT_NE(std::string::npos, message.find("Connection refused")) << message;
}

TEST_F(RealService, RendersAWavFileWithWordPositionsBetweenStartAndStop) {
    TMSpeech speech;
    speech.SetOutput(soFile);
    ASSERT_GT(speech.Engines().LineCount(), 0);
    speech.SelectEngine(speech.Engines().LineAt(0));
    ASSERT_TRUE(speech.Selected());
    const QString wav = dir.filePath("123.wav");
    speech.SetFilename(wav.toStdU16String());
    std::vector<std::string> events;
    speech.OnStart = [&](void*) { events.push_back("start"); };
    speech.OnVisual = [&](void*, uint32_t, PTTSMOUTH) {
        const std::string word = "word " + std::to_string(speech.WordPosition());
        if (events.empty() || events.back() != word) events.push_back(word);
    };
    speech.OnStop = [&](void*) {
        qint64 bytes = 0;
        events.push_back(IsWav(wav, bytes) && bytes > 0 ? "stop, file complete" : "stop");
    };
    speech.Text().AppendLine("1 2 3");
    speech.Speak();
    ASSERT_TRUE(
        WaitFor([&] { return !events.empty() && events.back().rfind("stop", 0) == 0; }, 20000));
    // Rendering runs at full speed and may coalesce word reports; the last always comes.
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ("start", events.front());
    EXPECT_EQ("stop, file complete", events.back());
    EXPECT_EQ("word 4", events[events.size() - 2]);
    const std::set<std::string> words = {"word 0", "word 2", "word 4"};
    for (size_t i = 1; i + 1 < events.size(); ++i) {
        EXPECT_TRUE(words.count(events[i])) << events[i];
        if (i > 1) {
            EXPECT_LT(events[i - 1], events[i]) << "word offsets only move forward";
        }
    }
}

// Text pasted into the window may carry a NUL: the words after it are spoken too.
TEST_F(RealService, ATextIsSpokenPastANulInItsMiddle) {
    TMSpeech speech;
    speech.SetOutput(soFile);
    speech.SelectEngine(speech.Engines().LineAt(0));
    speech.SetFilename(dir.filePath("nul.wav").toStdU16String());
    uint32_t last = 0;
    bool stopped = false;
    speech.OnVisual = [&](void*, uint32_t, PTTSMOUTH) {
        last = std::max(last, speech.WordPosition());
    };
    speech.OnStop = [&](void*) { stopped = true; };
    speech.Text().AppendLine(std::string("one\0two three", 13));
    speech.Speak();
    ASSERT_TRUE(WaitFor([&] { return stopped; }, 20000));
    EXPECT_EQ(8u, last) << "\"three\", at its place in the text handed over";
}

TEST_F(RealService, AnUnwritableWavPathIsReportedAndNoFileAppears) {
    TMSpeech speech;
    speech.SetOutput(soFile);
    speech.SelectEngine(speech.Engines().LineAt(0));
    const QString wav = dir.filePath("missing/out.wav");
    speech.SetFilename(wav.toStdU16String());
    speech.Text().AppendLine("hello");
    try {
        speech.Speak();
        ADD_FAILURE() << "Speak must refuse a file that cannot be created";
    } catch (const EMSpeechCreateFileError& e) {
        EXPECT_EQ("Cannot create file " + wav.toStdString() + ": No such file or directory",
                  e.Message());
    }
    EXPECT_FALSE(QFile::exists(wav));
}

// A component set to render a text of many sentences into file with the first voice.
void PrepareLongRender(TMSpeech& speech, const QString& file) {
    speech.SetOutput(soFile);
    speech.SelectEngine(speech.Engines().LineAt(0));
    speech.SetFilename(file.toStdU16String());
    for (int i = 0; i < 400; ++i)
        speech.Text().AppendLine("This sentence is one of many that make a long text.");
}

TEST_F(RealService, DestroyingAComponentMidRenderLeavesAValidFile) {
    const QString wav = dir.filePath("long.wav");
    bool started = false;
    {
        TMSpeech speech;
        PrepareLongRender(speech, wav);
        speech.OnStart = [&](void*) { started = true; };
        speech.Speak();
        ASSERT_TRUE(WaitFor([&] { return started && speech.WordPosition() > 100; }, 20000));
    }
    // Whatever the engine still had queued must not reach the destroyed component.
    WaitFor([] { return false; }, 300);
    qint64 bytes = 0;
    EXPECT_TRUE(IsWav(wav, bytes));
    EXPECT_GT(bytes, 0);
    EXPECT_TRUE(ChildrenOf(QCoreApplication::applicationPid()).empty())
        << "render workers outlive the render";
}

// A decoder reads the whole file without complaint; then its length, else -1.
double DecodedSeconds(const QString& path) {
    QProcess decode;
    decode.start("ffmpeg", {"-v", "error", "-i", path, "-f", "null", "-"});
    if (!decode.waitForFinished(60000) || decode.exitCode() != 0 ||
        !decode.readAllStandardError().isEmpty())
        return -1;
    QProcess probe;
    probe.start("ffprobe", {"-v", "error", "-show_entries", "format=duration", "-of",
                            "default=nw=1:nk=1", path});
    probe.waitForFinished(20000);
    bool ok = false;
    const double seconds = probe.readAllStandardOutput().trimmed().toDouble(&ok);
    return ok ? seconds : -1;
}

// A cancelled render, in each format, leaves a file that plays.
TEST_F(RealService, ACancelledRenderLeavesAPlayableFileInEveryFormat) {
    for (const char* ext : {"mp3", "ogg", "opus", "flac"}) {
        SCOPED_TRACE(ext);
        const QString file = dir.filePath(QString("cancelled.") + ext);
        TMSpeech speech;
        PrepareLongRender(speech, file);
        bool stopped = false;
        speech.OnStop = [&](void*) { stopped = true; };
        speech.Speak();
        ASSERT_TRUE(WaitFor([&] { return speech.WordPosition() > 100; }, 20000));
        speech.Stop();
        ASSERT_TRUE(WaitFor([&] { return stopped; }, 20000));
        EXPECT_GT(DecodedSeconds(file), 0.5);
    }
}

// The columns of one line of parlen-say --list.
std::vector<std::string> Columns(const std::string& line) {
    std::vector<std::string> columns;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
        columns.push_back(line.substr(start, tab - start));
    columns.push_back(line.substr(start));
    return columns;
}

TEST_F(RealService, ParlenSayListsTheCatalogueInTheUsersLanguageFirst) {
    struct Case {
        const char* lang;
        const char* firstDialect;
    };
    for (const Case& c : {Case{"de_DE.UTF-8", "de"}, Case{"en_US.UTF-8", "en-us"}}) {
        // Only LANG names the language: the entries that would override it go.
        const QStringList env = {QString("LANG=") + c.lang, "LC_ALL", "LC_MESSAGES"};
        const SayOutcome first = RunParlenSay({"--list"}, {}, env);
        ASSERT_EQ(0, first.code) << c.lang << ": " << first.err;
        EXPECT_EQ(first.out, RunParlenSay({"--list"}, {}, env).out) << c.lang << ": second run";
        std::vector<std::vector<std::string>> lines;
        size_t start = 0;
        for (size_t nl; (nl = first.out.find('\n', start)) != std::string::npos; start = nl + 1)
            lines.push_back(Columns(first.out.substr(start, nl - start)));
        ASSERT_FALSE(lines.empty());
        // index, mode name, engine, dialect, gender, pitch range, speed range
        EXPECT_EQ(c.firstDialect, lines[0].at(3)) << c.lang << ": first is " << lines[0].at(1);
        int espeak = 0, flite = 0;
        std::set<std::string> names;
        for (size_t i = 0; i < lines.size(); ++i) {
            ASSERT_EQ(7u, lines[i].size()) << "line " << i;
            EXPECT_EQ(std::to_string(i), lines[i][0]);
            EXPECT_TRUE(names.insert(lines[i][1]).second) << "duplicate " << lines[i][1];
            espeak += lines[i][2].find("espeak-ng") != std::string::npos;
            flite += lines[i][2].find("flite") != std::string::npos;
        }
        EXPECT_GE(espeak, 130) << c.lang;
        EXPECT_EQ(5, flite) << c.lang;
    }
}

TEST_F(RealService, ParlenSayRendersWithoutASoundServerButCannotSpeakAloud) {
    const QStringList noServer = {"PULSE_SERVER=unix:/nonexistent/pulse/native"};
    const QString wav = dir.filePath("say.wav");
    SayOutcome r = RunParlenSay({"--wav", wav, "--events"}, "1 2 3\n", noServer);
    EXPECT_EQ(0, r.code) << r.err;
    qint64 bytes = 0;
    EXPECT_TRUE(IsWav(wav, bytes));
    EXPECT_GT(bytes, 1000);
    EXPECT_NE(std::string::npos, r.out.find(" start ")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find(" stop ")) << r.out;

    r = RunParlenSay({}, "1 2 3\n", noServer);
    EXPECT_NE(0, r.code);
    EXPECT_NE(std::string::npos, r.err.find("No sound server")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("Connection refused")) << r.err;

    r = RunParlenSay({"--wav", dir.filePath("no/such.wav")}, "x\n", noServer);
    EXPECT_NE(0, r.code);
    EXPECT_NE(std::string::npos, r.err.find("Cannot create file")) << r.err;
}

TEST_F(RealService, ParlenSaySaysWhyAFullDiskEndedTheRenderAndLeavesAValidFile) {
    TinyDisk disk(dir.filePath("disk").toStdString());
    if (!disk.mounted) GTEST_SKIP() << "no tmpfs can be mounted here";
    const QString gpl = "/usr/share/common-licenses/GPL-3";
    const QString wav = QString::fromStdString(disk.dir) + "/gpl.wav";
    SayOutcome r = RunParlenSay({"--wav", wav, gpl}, {});
    EXPECT_EQ(1, r.code);
    const std::string full = ": No space left on device\n";
    EXPECT_NE(std::string::npos, r.err.find("Cannot write file " + wav.toStdString() + full))
        << r.err;
    qint64 bytes = 0;
    ASSERT_TRUE(IsWav(wav, bytes)) << "what was rendered stays a valid file";
    EXPECT_EQ(QFile(wav).size(), 44 + bytes) << "the header holds all that was written";
    EXPECT_GT(bytes, 100000);

    // Now not even a header fits: no file is left behind.
    const QString second = QString::fromStdString(disk.dir) + "/second.wav";
    r = RunParlenSay({"--wav", second, gpl}, {});
    EXPECT_EQ(1, r.code);
    EXPECT_NE(std::string::npos, r.err.find("Cannot create file " + second.toStdString() + full))
        << r.err;
    EXPECT_FALSE(QFile::exists(second));
}

// A part of GPL-3 in every format lasts as long as its WAV render.
TEST_F(RealService, ParlenSayRendersEveryFormatAsLongAsTheWav) {
    QFile gpl("/usr/share/common-licenses/GPL-3");
    ASSERT_TRUE(gpl.open(QIODevice::ReadOnly));
    QByteArray text = gpl.read(6000);
    text.truncate(text.lastIndexOf('\n') + 1);
    const double wav = DecodedSeconds([&] {
        const QString path = dir.filePath("gpl.wav");
        EXPECT_EQ(0, RunParlenSay({"--wav", path}, text).code);
        return path;
    }());
    ASSERT_GT(wav, 100);
    for (const char* ext : {"mp3", "ogg", "oga", "opus", "flac"}) {
        const QString path = dir.filePath(QString("gpl.") + ext);
        const SayOutcome r = RunParlenSay({"--wav", path}, text);
        EXPECT_EQ(0, r.code) << ext << ": " << r.err;
        EXPECT_NEAR(wav, DecodedSeconds(path), wav * 0.005) << ext;
    }
}

TEST_F(RealService, ARenderWorkerThatDiesEndsTheRenderWithAFailureAndAValidFile) {
    QFile gpl("/usr/share/common-licenses/GPL-3");
    ASSERT_TRUE(gpl.open(QIODevice::ReadOnly));
    const QByteArray text = gpl.readAll().repeated(3);
    const QString wav = dir.filePath("killed.wav");
    bool killed = false;
    const SayOutcome r =
        RunParlenSay({"--jobs", "2", "--wav", wav}, text, {}, 60000, [&](QProcess& say) {
            WaitFor([&] { return !ChildrenOf(say.processId()).empty(); }, 10000);
            WaitFor([] { return false; }, 300);  // some of the text rendered
            const std::vector<int> workers = ChildrenOf(say.processId());
            killed = !workers.empty() && kill(workers.front(), SIGKILL) == 0;
        });
    ASSERT_TRUE(killed) << "no render worker seen";
    EXPECT_EQ(1, r.code);
    EXPECT_NE(std::string::npos, r.err.find("A render worker was stopped by signal 9")) << r.err;
    qint64 bytes = 0;
    ASSERT_TRUE(IsWav(wav, bytes)) << "what was rendered stays a valid file";
    EXPECT_EQ(QFile(wav).size(), 44 + bytes) << "the header holds all that was written";
}

// What a worker holds of its parent: sockets among its descriptors, and its signal
// dispositions and mask as the kernel shows them.
QString WorkerInheritance(int pid) {
    QStringList held;
    for (const QFileInfo& fd : QDir(QString("/proc/%1/fd").arg(pid)).entryInfoList(QDir::System))
        if (fd.symLinkTarget().contains("socket:")) held << "a socket";
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) return "gone";
    const QByteArray lines = status.readAll();
    if (lines.contains("State:\tZ")) return "gone";  // exited, not yet waited for
    const quint64 pipeOnly = quint64{1} << (SIGPIPE - 1);
    const quint64 libc = quint64{3} << 31;  // signals 32 and 33, glibc's own
    for (const QByteArray& line : lines.split('\n')) {
        const QList<QByteArray> field = line.split(':');
        if (field.size() != 2) continue;
        const quint64 mask = field[1].trimmed().toULongLong(nullptr, 16);
        if ((field[0] == "SigBlk" && mask) || (field[0] == "SigCgt" && (mask & ~libc)) ||
            (field[0] == "SigIgn" && mask != pipeOnly))
            held << QString(field[0]) + " " + QString::number(mask, 16);
    }
    return held.join(", ");
}

// A worker keeps nothing of the program that started it: a socket it holds (the
// window's display or bus) or a signal handling it keeps is the program's, not its own.
TEST_F(RealService, RenderWorkersHoldNoInheritedSocketOrSignalHandling) {
    int pair[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, pair));  // inherited through exec
    struct sigaction ignore {};
    struct sigaction before {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGHUP, &ignore, &before);
    QFile gpl("/usr/share/common-licenses/GPL-3");
    ASSERT_TRUE(gpl.open(QIODevice::ReadOnly));
    QString held = "no render worker seen";
    RunParlenSay({"--jobs", "2", "--wav", dir.filePath("w.wav")}, gpl.readAll().repeated(3), {},
                 60000, [&](QProcess& say) {
                     WaitFor(
                         [&] {
                             for (int child : ChildrenOf(say.processId())) {
                                 const QString now = WorkerInheritance(child);
                                 if (now != "gone") held = now;  // else it ended meanwhile
                                 if (held.isEmpty()) return true;
                             }
                             return say.state() == QProcess::NotRunning;
                         },
                         20000);
                     say.kill();  // seen: the rest of the render tells nothing more
                 });
    sigaction(SIGHUP, &before, nullptr);
    close(pair[0]);
    close(pair[1]);
    EXPECT_TRUE(held.isEmpty()) << held.toStdString();
}

// The encoder of a compressed file is the slower side: the workers give way to it.
TEST_F(RealService, RenderWorkersYieldToTheEncoderOfACompressedFileOnly) {
    QFile gpl("/usr/share/common-licenses/GPL-3");
    ASSERT_TRUE(gpl.open(QIODevice::ReadOnly));
    const QByteArray text = gpl.read(12000);
    for (const bool compressed : {true, false}) {
        std::set<int> seen;  // workers' niceness above ours, which parlen-say has
        const QString path = dir.filePath(compressed ? "y.ogg" : "y.wav");
        RunParlenSay({"--jobs", "2", "--wav", path}, text, {}, 60000, [&](QProcess& say) {
            WaitFor(
                [&] {
                    for (int child : ChildrenOf(say.processId())) {
                        errno = 0;  // a worker gone meanwhile answers -1 with ESRCH
                        const int n = getpriority(PRIO_PROCESS, id_t(child));
                        if (errno == 0) seen.insert(n - getpriority(PRIO_PROCESS, 0));
                    }
                    return seen.count(ParallelRender::kYieldNice) ||
                           say.state() == QProcess::NotRunning;
                },
                20000);
        });
        EXPECT_FALSE(seen.empty()) << "no render worker seen";
        EXPECT_EQ(compressed, seen.count(ParallelRender::kYieldNice) > 0) << path.toStdString();
    }
}

}  // namespace
