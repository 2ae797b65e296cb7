// The command-line driver, run as a process over the recording speech service.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "TinyDisk.h"
#include "documents/DocumentFixtures.h"
#include "documents/PdfFixtures.h"

namespace {

struct Outcome {
    int code = -1;
    std::string out, err;
    std::vector<std::string> log;  // the service's call log
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos) nl = text.size();
        out.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    return out;
}

class Driver : public ::testing::Test {
  protected:
    // stdinFile, when given, is standard input in place of input.
    Outcome Say(const QStringList& args, const QByteArray& input = {}, const QString& fail = {},
                const QString& stdinFile = {}) {
        const char* bin = std::getenv("PARLEN_BIN_DIR");
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString logPath = dir.filePath("calls.log");
        QFile::remove(logPath);
        env.insert("PARLEN_FAKE_LOG", logPath);
        if (!fail.isEmpty()) env.insert("PARLEN_FAKE_FAIL", fail);
        if (!untimed.isEmpty()) env.insert("PARLEN_FAKE_UNTIMED", untimed);
        p.setProcessEnvironment(env);
        if (!stdinFile.isEmpty()) p.setStandardInputFile(stdinFile);
        p.start(QString(bin ? bin : ".") + "/parlen-say-fake", args);
        EXPECT_TRUE(p.waitForStarted());
        if (stdinFile.isEmpty()) {
            p.write(input);
            p.closeWriteChannel();
        }
        EXPECT_TRUE(p.waitForFinished(30000));
        Outcome r;
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
        r.out = p.readAllStandardOutput().toStdString();
        r.err = p.readAllStandardError().toStdString();
        QFile log(logPath);
        if (log.open(QIODevice::ReadOnly)) r.log = Lines(log.readAll().toStdString());
        return r;
    }
    static std::vector<std::string> Matching(const Outcome& r, const std::string& part) {
        std::vector<std::string> out;
        for (const auto& e : r.log)
            if (e.find(part) != std::string::npos) out.push_back(e);
        return out;
    }
    // The kind and offset of each event line, without its time.
    static std::vector<std::string> Events(const std::string& out) {
        std::vector<std::string> kinds;
        for (const std::string& line : Lines(out)) {
            const size_t blank = line.find(' ');
            EXPECT_NE(std::string::npos, blank) << line;
            EXPECT_EQ(std::string::npos, line.substr(0, blank).find_first_not_of("0123456789"))
                << "milliseconds first: " << line;
            kinds.push_back(line.substr(blank + 1));
        }
        return kinds;
    }
    QString WriteFile(const QString& name, const QByteArray& bytes) {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    static QByteArray ReadFile(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
    }
    QTemporaryDir dir;
    QString untimed;  // words the service gives no time mark
};

TEST_F(Driver, ListsEveryVoiceWithItsProbedRangesTheSameEachRun) {
    const Outcome first = Say({"--list"});
    EXPECT_EQ(0, first.code) << first.err;
    EXPECT_EQ(
        (std::vector<std::string>{
            "0\tFake Alpha\tFake Voices/Fake Engine\tEnglish (America)\tFEMALE\t"
            "pitch 50..200\tspeed 80..450",
            "1\tFake Beta\tFake Voices/Fake Engine\tGerman\tMALE\tpitch 50..200\tspeed 80..450"}),
        Lines(first.out));
    EXPECT_EQ(first.out, Say({"--list"}).out);
    EXPECT_EQ(2u, Matching(first, "Select(").size()) << "each voice is selected to probe it";
}

TEST_F(Driver, SpeaksStandardInputAndReportsEachNotification) {
    const Outcome r = Say({"--events"}, "1 2 3");
    EXPECT_EQ(0, r.code) << r.err;
    EXPECT_EQ((std::vector<std::string>{"start 0", "word 0", "visual 0", "word 2", "visual 2",
                                        "word 4", "visual 4", "stop 4"}),
              Events(r.out));
    EXPECT_EQ((std::vector<std::string>{"Enum#1.Select(Fake Alpha,Device#1)"}),
              Matching(r, "Select("))
        << "the first voice by default, aloud";
    EXPECT_EQ((std::vector<std::string>{"Central#1.TextData(0,0,8,BufNotifySink)"}),
              Matching(r, "TextData"));
}

TEST_F(Driver, ReadsAFileAsLinesAndAppliesTheVoiceValues) {
    const QString text = WriteFile("in.txt", "one\r\ntwo\nthree\n");
    const Outcome r = Say({"--voice", "fake beta", "--pitch", "120", "--speed", "3000000000",
                           "--volume", "50", text});
    EXPECT_EQ(0, r.code) << r.err;
    EXPECT_TRUE(r.out.empty()) << "no event lines without --events";
    EXPECT_EQ(1u, Matching(r, "Select(Fake Beta,").size());
    EXPECT_EQ((std::vector<std::string>{"Central#1.Inject(\\Pit=120\\)",
                                        "Central#1.Inject(\\Spd=3000000000\\)",
                                        "Central#1.Inject(\\Vol=2147450879\\)"}),
              Matching(r, "Inject"));
    // "one" CR LF "two" CR LF "three" CR LF and the NUL.
    EXPECT_EQ(1u, Matching(r, "TextData(0,0,18,").size());
    // Empty lines stay lines, a last line without a break gets one: CR LF "one" CR LF
    // CR LF CR LF "two" CR LF and the NUL.
    const Outcome gaps = Say({WriteFile("gaps.txt", "\none\n\r\n\ntwo")});
    EXPECT_EQ(0, gaps.code) << gaps.err;
    EXPECT_EQ(1u, Matching(gaps, "TextData(0,0,17,").size());
}

TEST_F(Driver, RendersIntoAWavFile) {
    const std::string wav = dir.filePath("out.wav").toStdString();
    const Outcome r =
        Say({"--wav", QString::fromStdString(wav), "--events", "--jobs", "3"}, "hi 2\n");
    EXPECT_EQ(0, r.code) << r.err;
    EXPECT_EQ(1u, Matching(r, "File#1.Set(" + wav + ",1)").size());
    EXPECT_EQ(1u, Matching(r, "render jobs 3").size());
    const auto flush = Matching(r, "File#1.Flush");
    EXPECT_EQ(1u, flush.size()) << "the WAV file is completed at audio stop";
    // Every word with its first sample.
    EXPECT_EQ((std::vector<std::string>{"start 0", "word 0 0", "visual 0", "word 3 300", "visual 3",
                                        "stop 3"}),
              Events(r.out));
}

// Each word starts at 100 frames a byte of the recording service, at 16 kHz; a
// control character separates words, as it does for the synthesisers.
TEST_F(Driver, WritesTheTimingsWithMarkupEscapedAndLongSentencesCut) {
    const QByteArray text =
        "A <b> & \"q\\\"\x01z. One two three four five six seven eight nine ten eleven twelve "
        "thirteen fourteen fifteen sixteen.\nx\xff";
    const QString vtt = dir.filePath("t.vtt"), srt = dir.filePath("t.SRT"),
                  json = dir.filePath("t.json");
    for (const QString& timings : {vtt, srt, json}) {
        const Outcome r = Say({"--out", dir.filePath("o.mp3"), "--timings", timings}, text);
        EXPECT_EQ(0, r.code) << r.err;
        EXPECT_EQ(1u, Matching(r, "File#1.Set(" + dir.filePath("o.mp3").toStdString()).size());
    }
    const QByteArray cues = ReadFile(vtt);
    EXPECT_TRUE(
        cues.startsWith("WEBVTT\n\n1\n00:00:00.000 --> 00:00:00.094\nA "
                        "<00:00:00.013>&lt;b&gt; <00:00:00.038>&amp; <00:00:00.050>\"q\\\" "
                        "<00:00:00.081>z.\n\n2\n00:00:00.100 --> 00:00:00.706\nOne "))
        << cues.toStdString();
    EXPECT_TRUE(cues.endsWith("\n\n3\n00:00:00.719 --> 00:00:00.744\nx\xEF\xBF\xBD\n"))
        << "an invalid byte is U+FFFD: " << cues.toStdString();
    const QByteArray subtitles = ReadFile(srt);
    EXPECT_TRUE(
        subtitles.contains("\nA <\u2060b> & \"q\\\" z.\n\n2\n00:00:00,100 --> "
                           "00:00:00,606\nOne two three four five six seven eight\n"
                           "nine ten eleven twelve thirteen fourteen\n\n3\n00:00:00,606 "
                           "--> 00:00:00,706\nfifteen sixteen.\n\n4\n"))
        << subtitles.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(ReadFile(json)).object();
    EXPECT_EQ(16000, o["sample_rate"].toInt());
    ASSERT_EQ(22, o["words"].toArray().size());
    EXPECT_EQ(QJsonObject({{"text", "sixteen."},
                           {"offset", 105},
                           {"start_ms", 656},
                           {"end_ms", 706},
                           {"sentence", 1}}),
              o["words"].toArray()[20].toObject());
    EXPECT_EQ(QJsonObject({{"text", "A <b> & \"q\\\" z."}, {"start_ms", 0}, {"end_ms", 94}}),
              o["sentences"].toArray()[0].toObject());
}

TEST_F(Driver, FailuresGiveAClearMessageAndANonZeroExit) {
    Outcome r = Say({"--voice", "Nobody"}, "x");
    EXPECT_EQ(1, r.code);
    EXPECT_NE(std::string::npos, r.err.find("unknown voice 'Nobody'")) << r.err;

    r = Say({dir.filePath("missing.txt")});
    EXPECT_EQ(1, r.code);
    EXPECT_NE(std::string::npos, r.err.find("cannot read")) << r.err;
    EXPECT_TRUE(Matching(r, "TextData").empty());

    r = Say({"--wav", "/no/such/dir/out.wav", "--timings", dir.filePath("t.json")}, "x",
            "File.Set=80040203");
    EXPECT_EQ(1, r.code);
    EXPECT_NE(std::string::npos, r.err.find("Cannot create file /no/such/dir/out.wav")) << r.err;
    EXPECT_FALSE(QFile::exists(dir.filePath("t.json"))) << "no timings of a failed render";

    r = Say({}, "x", "Central.TextData=80040202");
    EXPECT_EQ(1, r.code);
    EXPECT_NE(std::string::npos, r.err.find("No sound server")) << r.err;

    r = Say({}, "x", "Create.Enum=80040154");
    EXPECT_EQ(1, r.code);
    EXPECT_NE(std::string::npos, r.err.find("speech service")) << r.err;

    r = Say({}, "x", "Central.Register=80004005");
    EXPECT_EQ(1, r.code);
    EXPECT_NE(std::string::npos, r.err.find("cannot be used")) << r.err;

    // A text the engine refuses quietly gives silence: the driver gives up and says so.
    r = Say({}, "x", "Central.TextData=80004005");
    EXPECT_EQ(1, r.code);
    EXPECT_NE(std::string::npos, r.err.find("did not start speaking")) << r.err;

    for (const QStringList& bad :
         {QStringList{"--pitch", "high"}, QStringList{"--volume", "101"}, QStringList{"--bogus"},
          QStringList{"--voice"}, QStringList{"a.txt", "b.txt"}, QStringList{"--jobs", "0"},
          QStringList{"--timings", "t.vtt"}, QStringList{"--out", "o.wav", "--timings", "t.txt"},
          QStringList{"--out", "o.json", "--timings", "o.json"},
          QStringList{"--out", "-", "--events"}}) {
        r = Say(bad);
        EXPECT_EQ(2, r.code) << bad.join(' ').toStdString();
        EXPECT_FALSE(r.err.empty());
        EXPECT_TRUE(Matching(r, "TextData").empty()) << "nothing is rendered";
    }
}

// The engines read a text up to its first NUL: the words after one are spoken all the same.
TEST_F(Driver, NulBytesAreSpokenAsBlanksWithOneWarning) {
    const Outcome r = Say({"--events"}, QByteArray("one\0two\0\0three", 14));
    EXPECT_EQ(0, r.code) << r.err;
    EXPECT_EQ((std::vector<std::string>{"start 0", "word 0", "visual 0", "word 4", "visual 4",
                                        "word 9", "visual 9", "stop 9"}),
              Events(r.out));
    EXPECT_EQ("parlen-say: 3 NUL bytes in the input read as blanks\n", r.err);
}

TEST_F(Driver, AStreamIsRefusedPastItsLimit) {
    const Outcome r = Say({"/dev/zero"});
    EXPECT_EQ(1, r.code);
    EXPECT_NE(std::string::npos, r.err.find("'/dev/zero' is longer than 256 MiB")) << r.err;
    EXPECT_TRUE(Matching(r, "TextData").empty());
}

TEST_F(Driver, AnOutputThatIsTheInputIsRefusedAndTheTextKept) {
    const QByteArray text = "keep me\n";
    const QString input = WriteFile("in.txt", text);
    const QString link = dir.filePath("link.wav");
    ASSERT_TRUE(QFile::link(input, dir.filePath("symbolic.wav")));
    ASSERT_EQ(0, ::link(QFile::encodeName(input).constData(), QFile::encodeName(link).constData()));
    for (const auto& [args, stdinFile] :
         {std::pair{QStringList{"--wav", input, input}, QString()},
          std::pair{QStringList{"--wav", link, input}, QString()},
          std::pair{QStringList{"--wav", dir.filePath("symbolic.wav"), input}, QString()},
          std::pair{QStringList{"--wav", link}, input}}) {
        const Outcome r = Say(args, {}, {}, stdinFile);
        EXPECT_EQ(2, r.code) << args.join(' ').toStdString();
        EXPECT_NE(std::string::npos, r.err.find("is the input")) << r.err;
        EXPECT_TRUE(Matching(r, "File#").empty()) << "nothing is written";
        EXPECT_EQ(text, ReadFile(input));
    }
}

TEST_F(Driver, TwoOutputsNamingOneFileAreRefusedAndTheEarlierFileKept) {
    const QByteArray earlier = "earlier audio";
    const QString audio = WriteFile("x.json", earlier);
    ASSERT_TRUE(QDir(dir.path()).mkdir("sub"));
    ASSERT_TRUE(QFile::link(audio, dir.filePath("link.json")));
    ASSERT_TRUE(QFile::link(dir.filePath("new.vtt"), dir.filePath("dangling.vtt")));
    const QString dot = dir.path() + "/./x.json", up = dir.path() + "/sub/../new.vtt";
    for (const QStringList& args : {QStringList{"--out", audio, "--timings", dot},
                                    {"--out", audio, "--timings", dir.filePath("link.json")},
                                    {"--out", up, "--timings", dir.filePath("dangling.vtt")}}) {
        const Outcome r = Say(args, "x");
        EXPECT_EQ(2, r.code) << args.join(' ').toStdString();
        EXPECT_NE(std::string::npos, r.err.find("are one file")) << r.err;
        EXPECT_TRUE(Matching(r, "File#").empty()) << "nothing is written";
        EXPECT_EQ(earlier, ReadFile(audio));
        EXPECT_FALSE(QFile::exists(dir.filePath("new.vtt")));
    }
}

// Engines give some short words no event of their own: those get a start between their
// neighbours', and every cue holds its whole text, shown as text whatever it holds.
TEST_F(Driver, EveryWordIsTimedAndCuesHoldTheWholeText) {
    struct Case {
        QByteArray text;
        QString untimed;
    };
    for (const Case& c : {Case{"the cat saw a dog. not the end", "the,a,not"},
                          Case{"note --> x. --!> <!-- NOTE\n2\n\nend", "-->,--!>,2"},
                          Case{"a the a. the", "a,the"}}) {
        untimed = c.untimed;
        const QStringList words =
            QString::fromUtf8(c.text).split(QRegularExpression("\\s+"), Qt::SkipEmptyParts);
        const QString srt = dir.filePath("t.srt"), json = dir.filePath("t.json"),
                      vtt = dir.filePath("t.vtt");
        for (const QString& timings : {srt, json, vtt})
            ASSERT_EQ(0, Say({"--out", dir.filePath("o.wav"), "--timings", timings}, c.text).code);
        const QJsonArray timed =
            QJsonDocument::fromJson(ReadFile(json)).object()["words"].toArray();
        ASSERT_EQ(words.size(), timed.size()) << c.text.toStdString();
        int previous = 0;
        for (int i = 0; i < timed.size(); ++i) {
            const QJsonObject w = timed[i].toObject();
            EXPECT_EQ(words[i], w["text"].toString());
            EXPECT_EQ(c.untimed.split(',').contains(words[i]), w["estimated"].toBool())
                << words[i].toStdString();
            EXPECT_LE(previous, w["start_ms"].toInt()) << "starts in order";
            previous = w["start_ms"].toInt();
        }
        QStringList cueText;
        bool inCue = false;
        for (const QString& line : QString::fromUtf8(ReadFile(srt)).split('\n')) {
            const bool times = line.contains(" --> ") && line.at(0).isDigit();
            EXPECT_TRUE(times || !line.contains("-->")) << line.toStdString();
            if (inCue && !line.isEmpty()) cueText << line;
            inCue = times || (inCue && !line.isEmpty());
        }
        EXPECT_EQ(words.join(' '), cueText.join(' ').remove(QChar(0x2060)));
        for (const QString& line : QString::fromUtf8(ReadFile(vtt)).split('\n'))
            EXPECT_TRUE(!line.contains("-->") || line.contains(":00.")) << line.toStdString();
    }
}

TEST_F(Driver, ATimingsFileThatCannotBeWrittenKeepsTheEarlierOne) {
    TinyDisk disk(dir.filePath("disk").toStdString());
    if (!disk.mounted) GTEST_SKIP() << "a small disk needs root";
    const QString timings = QString::fromStdString(disk.dir) + "/t.json";
    WriteFile("disk/t.json", "earlier");
    QFile filler(QString::fromStdString(disk.dir) + "/filler");
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
    while (filler.write(QByteArray(4096, 'x')) > 0 && filler.flush()) {
    }
    filler.close();
    const Outcome r =
        Say({"--out", dir.filePath("o.wav"), "--timings", timings}, QByteArray(20000, 'w') + " x.");
    EXPECT_EQ(1, r.code);
    EXPECT_NE(std::string::npos, r.err.find("'" + timings.toStdString() + "': No space left"))
        << r.err;
    EXPECT_EQ("earlier", ReadFile(timings));
    EXPECT_EQ((QStringList{"filler", "t.json"}),
              QDir(QString::fromStdString(disk.dir)).entryList(QDir::Files | QDir::Hidden))
        << "no temporary file is left";
}

TEST_F(Driver, ParsesItsOptionsAndPrintsHelpAndVersion) {
    Outcome r = Say({"--version"});
    EXPECT_EQ(0, r.code) << r.err;
    EXPECT_EQ(std::string("parlen-say (" PARLEN_MAKER_SITE " - Parlen Maker) ") +
                  PARLEN_PRODUCT_VERSION + "\n",
              r.out);
    r = Say({"--help"});
    EXPECT_EQ(0, r.code) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("256 MiB")) << "the stream limit is documented";
    // The forms with "=" and an explicit "-" for standard input.
    r = Say({"--voice=fake beta", "--volume=0", "-"}, "x");
    EXPECT_EQ(0, r.code) << r.err;
    EXPECT_EQ(1u, Matching(r, "Select(Fake Beta,").size());
    EXPECT_EQ(1u, Matching(r, "Inject(\\Vol=0\\)").size());
}

}  // namespace

// A document is imported; its chapters are listed, chosen with --only and printed, and
// a wrong chapter list is a usage error before anything is spoken.
TEST_F(Driver, ADocumentsChaptersAreListedChosenAndPrinted) {
    const QString book = WriteFile("book.md",
                                   "# One\n\nFirst words here.\n\n## One and a half\n\nMiddle.\n\n"
                                   "# Two\n\nLast *words*.\n");
    Outcome r = Say({"--chapters", book});
    EXPECT_EQ(0, r.code) << r.err;
    EXPECT_EQ("1\t1\tbody\t4\tOne\n2\t2\tbody\t5\tOne and a half\n3\t1\tbody\t3\tTwo\n", r.out);
    r = Say({"--print-text", "--only", "1,3", book});
    EXPECT_EQ(0, r.code) << r.err;
    EXPECT_EQ("One\nFirst words here.\nTwo\nLast words.\n", r.out);
    EXPECT_TRUE(Matching(r, "TextData").empty()) << "printing speaks nothing";
    // "Two" CR LF "Last words." CR LF and the NUL.
    r = Say({"--only", "3", book});
    EXPECT_EQ(0, r.code) << r.err;
    EXPECT_EQ(1u, Matching(r, "TextData(0,0,19,").size());
    // A text file prints byte for byte.
    r = Say({"--print-text", WriteFile("plain.txt", "a\r\nb")});
    EXPECT_EQ("a\r\nb", r.out);
    for (const QStringList& bad :
         {QStringList{"--only", "4", book}, QStringList{"--only", "2-1", book},
          QStringList{"--only", "1,", book}, QStringList{"--only", "x", book},
          QStringList{"--chapters", WriteFile("p.txt", "x")},
          QStringList{"--chapters", "--out", "o.wav", book}}) {
        r = Say(bad);
        EXPECT_EQ(2, r.code) << bad.join(' ').toStdString() << r.err;
        EXPECT_TRUE(Matching(r, "TextData").empty());
    }
}

// Every hostile or broken document: one message naming the file, exit status 1, nothing
// spoken, and the program's peak memory under 200 MB.
TEST_F(Driver, HostileDocumentsAreRefusedWithinBoundedMemory) {
    pdf_fixtures::EnsureGuiApplication();
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& f : fixtures::HostileFixtures()) files.emplace_back(f.name, f.bytes);
    files.emplace_back("locked.pdf", pdf_fixtures::MakeLockedPdf());
    files.emplace_back("truncated.pdf", pdf_fixtures::MakeTruncatedPdf());
    files.emplace_back("not-a-pdf.pdf", pdf_fixtures::MakeNotAPdf());
    files.emplace_back("scanned.pdf", pdf_fixtures::MakeScannedPdf());
    const char* bin = std::getenv("PARLEN_BIN_DIR");
    const std::string program = std::string(bin ? bin : ".") + "/parlen-say-fake";
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        const std::string path =
            WriteFile(QString::fromStdString(name), QByteArray::fromStdString(bytes)).toStdString();
        const std::string err = dir.filePath("err.txt").toStdString();
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::freopen(err.c_str(), "w", stderr);
            std::freopen("/dev/null", "w", stdout);
            execl(program.c_str(), program.c_str(), path.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        rusage usage{};
        ASSERT_EQ(child, wait4(child, &status, 0, &usage));
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(1, WEXITSTATUS(status));
        const std::string message = ReadFile(QString::fromStdString(err)).toStdString();
        EXPECT_NE(std::string::npos, message.find(path + ": ")) << message;
        EXPECT_EQ(1, std::count(message.begin(), message.end(), '\n')) << message;
        EXPECT_LT(usage.ru_maxrss, 200 * 1024) << "KiB";
    }
}
