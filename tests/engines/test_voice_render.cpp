// Voice parameters and word positions, checked on the audio the real engines render.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <set>

#include "EngineTestKit.h"
#include "engines/RhvoiceRows.h"
#include "lexicon/Store.h"
#include "platform/service/SpeechService.h"
#include "platform/voices/TextScan.h"
#include "speech/mSpeech.h"

namespace {
const char* const kEspeak = "English (America) - espeak-ng";
const char* const kSlt = "slt (US English female) - flite";
const char* const kKal = "kal (US English male, 8 kHz) - flite";
const char* const kFestivalSlt = "slt (US English female, HTS) - festival";
const char* const kFestivalKal = "kal (US English male, diphone) - festival";

std::string Tag(const char* keyword, uint64_t value) {
    return std::string("\\") + keyword + "=" + std::to_string(value) + "\\";
}

// Every offset is a word start of text, and they never go backwards.
void ExpectWordStarts(const std::string& text, const std::vector<uint32_t>& words) {
    const auto starts = WordStarts(text, {0, text.size()});
    const std::set<uint32_t> valid(starts.begin(), starts.end());
    for (size_t i = 0; i < words.size(); ++i) {
        EXPECT_TRUE(valid.count(words[i])) << "offset " << words[i] << " in: " << text;
        if (i > 0) {
            EXPECT_GT(words[i], words[i - 1]);
        }
    }
}
}  // namespace

TEST(VoiceParameters, AttributesClampAndReadBack) {
    struct Range {
        const char* mode;
        DWORD speedMin, speedMax, realTimeMin, realTimeMax;
    };
    for (const Range& range : {Range{kEspeak, 84, 449, 48, 257}, Range{kSlt, 80, 450, 46, 257}}) {
        const char* mode = range.mode;
        TestEngine e;
        ASSERT_TRUE(e.Select(mode));
        WORD pitch = 0;
        DWORD value = 0;
        e.attributes->PitchGet(&pitch);
        EXPECT_EQ(pitch, 50);
        e.attributes->PitchSet(65535);
        e.attributes->PitchGet(&pitch);
        EXPECT_EQ(pitch, 99);
        e.attributes->PitchSet(0);
        e.attributes->PitchGet(&pitch);
        EXPECT_EQ(pitch, 0);
        e.attributes->SpeedGet(&value);
        EXPECT_EQ(value, 175u);
        e.attributes->SpeedSet(4294967295u);
        e.attributes->SpeedGet(&value);
        EXPECT_EQ(value, range.speedMax) << mode;
        e.attributes->SpeedSet(0);
        e.attributes->SpeedGet(&value);
        EXPECT_EQ(value, range.speedMin) << mode;
        // The real-time rate is the speed in percent of the normal 175.
        e.attributes->RealTimeSet(4294967295u);
        e.attributes->RealTimeGet(&value);
        EXPECT_EQ(value, range.realTimeMax) << mode;
        e.attributes->SpeedGet(&value);
        EXPECT_EQ(value, range.speedMax) << mode;
        e.attributes->RealTimeSet(0);
        e.attributes->RealTimeGet(&value);
        EXPECT_EQ(value, range.realTimeMin) << mode;
        e.attributes->RealTimeSet(100);
        e.attributes->SpeedGet(&value);
        EXPECT_EQ(value, 175u);
        e.attributes->VolumeGet(&value);
        EXPECT_EQ(value, 0xFFFFFFFFu);
        e.attributes->VolumeSet(0x7FFF7FFFu);
        e.attributes->VolumeGet(&value);
        EXPECT_EQ(value, 0x7FFF7FFFu);
    }
}

TEST(VoiceParameters, TagsSetClampedValuesAndMalformedOnesChangeNothing) {
    TestEngine e;
    ASSERT_TRUE(e.Select(kEspeak));
    EXPECT_EQ(e.central->Inject("\\pit=70\\"), S_OK);
    EXPECT_EQ(e.central->Inject("\\SPD=200\\"), S_OK);
    EXPECT_EQ(e.central->Inject("\\Vol=655\\"), S_OK);
    for (const char* bad : {"\\Pit=\\", "\\Pit=-5\\", "Spd=100", "\\Vol=1x\\", "\\Foo=1\\",
                            "\\Spd=4294967296\\", "\\Vol=18446744073709551616\\"})
        EXPECT_EQ(e.central->Inject(bad), TTSERR_INVALIDCHAR) << bad;
    EXPECT_EQ(e.central->Inject(nullptr), E_POINTER);
    WORD pitch = 0;
    DWORD speed = 0, volume = 0;
    e.attributes->PitchGet(&pitch);
    e.attributes->SpeedGet(&speed);
    e.attributes->VolumeGet(&volume);
    EXPECT_EQ(pitch, 70);
    EXPECT_EQ(speed, 200u);
    EXPECT_EQ(volume, 655u);
    EXPECT_EQ(e.central->Inject("\\Pit=65535\\"), S_OK);
    EXPECT_EQ(e.central->Inject("\\Spd=4294967295\\"), S_OK);
    e.attributes->PitchGet(&pitch);
    e.attributes->SpeedGet(&speed);
    EXPECT_EQ(pitch, 99);
    EXPECT_EQ(speed, 449u);
}

// The limits the speech component probed, as the window's track bars get them.
TMSpeechEngineInfo ProbedLimits(const char* mode) {
    EnsureApartment();
    RegisterAudioDestinations();
    TMSpeech speech;
    speech.SetOutput(soFile);
    speech.SelectEngine(mode);
    EXPECT_TRUE(speech.Selected()) << mode;
    return speech.EngineInfo();
}

// The probed limits are the ones the audio obeys: beyond a limit sounds like the
// limit, one step inside it sounds different.
TEST(VoiceParameters, ProbedLimitsHoldInTheRenderedAudio) {
    struct Parameter {
        const char* keyword;
        uint64_t min, max, top;  // top: the largest value the component's tag carries
    };
    for (const char* mode : WithRhvoice({kEspeak, kSlt, kKal, kFestivalKal})) {
        const TMSpeechEngineInfo info = ProbedLimits(mode);
        const auto at = [&](const char* keyword, uint64_t value) {
            return FreshRender(mode, "Hello world", {Tag(keyword, value)});
        };
        for (const Parameter& p : {Parameter{"Pit", info.PitchMin, info.PitchMax, 65535},
                                   Parameter{"Spd", info.SpeedMin, info.SpeedMax, 4294967295u}}) {
            const std::string what = std::string(mode) + " " + p.keyword;
            ASSERT_LT(p.min + 1, p.max) << what;
            const auto atMax = at(p.keyword, p.max);
            ASSERT_FALSE(atMax.empty()) << what;
            // Compared whole; a mismatch would print every sample otherwise.
            EXPECT_TRUE(at(p.keyword, p.max + 1) == atMax) << what << " above " << p.max;
            EXPECT_TRUE(at(p.keyword, p.top) == atMax) << what << " at " << p.top;
            EXPECT_FALSE(at(p.keyword, p.max - 1) == atMax) << what << " at " << p.max - 1;
            const auto atMin = at(p.keyword, p.min);
            if (p.min > 0) {
                EXPECT_TRUE(at(p.keyword, p.min - 1) == atMin) << what << " below " << p.min;
                EXPECT_TRUE(at(p.keyword, 0) == atMin) << what << " at 0";
            }
            EXPECT_FALSE(at(p.keyword, p.min + 1) == atMin) << what << " at " << p.min + 1;
        }
    }
}

TEST(VoiceParameters, TagsChangePitchSpeedAndVolumeMeasurably) {
    const std::string text = "Hello world, this is a test of the voice.";
    for (const char* mode : WithRhvoice({kEspeak, kSlt, kFestivalSlt, kFestivalKal})) {
        const VoiceMode* found = FindMode(mode);
        ASSERT_TRUE(found) << mode;
        const unsigned rate = found->engine == VoiceMode::Engine::Espeak     ? 22050
                              : found->engine == VoiceMode::Engine::Festival ? found->rate
                              : found->engine == VoiceMode::Engine::Rhvoice  ? 24000
                                                                             : 16000;
        const auto normal = FreshRender(mode, text);
        ASSERT_FALSE(normal.empty()) << mode;
        const double f0Low = PitchEstimate(RenderText(mode, text, {"\\Pit=10\\"}), rate);
        const double f0High = PitchEstimate(RenderText(mode, text, {"\\Pit=90\\"}), rate);
        EXPECT_GT(f0High, f0Low * 1.3) << mode << " " << f0Low << " " << f0High;

        const size_t slow = VoicedLength(RenderText(mode, text, {"\\Spd=100\\"}));
        const size_t fast = VoicedLength(RenderText(mode, text, {"\\Spd=350\\"}));
        EXPECT_GT(static_cast<double>(slow), 2.0 * static_cast<double>(fast)) << mode;

        // Half level on the left channel: half the amplitude; the right one is ignored.
        const auto half = FreshRender(mode, text, {"\\Vol=32767\\"});
        ASSERT_EQ(half.size(), normal.size());
        for (size_t i = 0; i < half.size(); i += 97)
            ASSERT_NEAR(half[i], normal[i] * (32767.0 / 65535.0), 1.0) << mode << " at " << i;
        EXPECT_EQ(Rms(RenderText(mode, text, {"\\Vol=4294901760\\"})), 0.0) << mode;
    }
}

TEST(WordPositions, FallOnWordStartsForUtf8AndHyphenatedText) {
    const std::string text =
        "The well-known caf\xC3\xA9 na\xC3\xAFve \xE6\x97\xA5\xE6\x9C\xAC r\xC3\xB4le, "
        "1 2 3.\r\nSecond line \xFF"
        "bad bytes here.\r\n";
    for (const char* mode : WithRhvoice({kEspeak, kSlt, kKal, kFestivalKal})) {
        std::vector<uint32_t> words;
        ASSERT_FALSE(RenderText(mode, text, {}, &words).empty()) << mode;
        ExpectWordStarts(text, words);
        EXPECT_GE(words.size(), 8u) << mode;
        // The second line's words are found at their byte offsets.
        const auto second = static_cast<uint32_t>(text.find("Second"));
        EXPECT_TRUE(std::count(words.begin(), words.end(), second)) << mode;
        EXPECT_EQ(words.front(), 0u) << mode;
    }
}

TEST(WordPositions, OneTwoThreeGivesOffsetsZeroTwoFour) {
    for (const char* mode : WithRhvoice({kEspeak, kSlt, kFestivalSlt})) {
        std::vector<uint32_t> words;
        RenderText(mode, "1 2 3\r\n", {}, &words);
        EXPECT_EQ(words, (std::vector<uint32_t>{0, 2, 4})) << mode;
    }
}

// Text is data: control characters, tags and markup in it change nothing.
TEST(TextIsData, EmbeddedCommandsAreSpokenAsTextAndDoNotPersist) {
    const std::string tricky =
        "\x01"
        "0A hello \\Vol=0\\ <b>x</b> [[h@l'oU]]";
    const std::string blanked = " 0A hello \\Vol=0\\ <b>x</b> [[h@l'oU]]";
    const auto heard = FreshRender(kEspeak, tricky);
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard, FreshRender(kEspeak, blanked));
    EXPECT_GT(Rms(heard), 1000.0);

    TestEngine e;
    ASSERT_TRUE(e.Select(kEspeak));
    ASSERT_EQ(e.Speak(tricky), S_OK);
    ASSERT_TRUE(e.WaitStops(1));
    std::vector<uint32_t> words;
    RenderText(kEspeak, blanked, {}, &words);
    EXPECT_EQ(e.log.Words(), words);
    EXPECT_TRUE(std::count(words.begin(), words.end(), 4u));  // "hello" unshifted
    // The next text on the same engine sounds as on a fresh one: same length and
    // level within espeak-ng's own variation from one text to the next.
    const size_t before = e.dest->Frames().size();
    ASSERT_EQ(e.Speak("hello there"), S_OK);
    ASSERT_TRUE(e.WaitStops(2));
    const auto all = e.dest->Frames();
    const std::vector<int16_t> next(all.begin() + static_cast<ptrdiff_t>(before), all.end());
    const auto fresh = FreshRender(kEspeak, "hello there");
    EXPECT_NEAR(double(next.size()) / double(fresh.size()), 1.0, 0.03);
    EXPECT_NEAR(Rms(next) / Rms(fresh), 1.0, 0.1);
}

// A lexicon's respelling reaches every family, its phonemes reach espeak-ng, and the
// same phonemes typed in the text stay text; word positions point at the user's words.
TEST(TextIsData, LexiconEntriesReachEveryVoiceAndPhonemesOnlyFromTheLexicon) {
    QTemporaryDir none, with;
    lexicon::Lexicon global;
    global.entries = {{"Tomato", false, false, "tomahto", "", ""},
                      {"zork", false, false, "", "h@l'oU", ""}};
    lexicon::SaveLexiconFolder(with.filePath("parlenmaker/lexicons").toStdString(), {global});
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    const auto render = [](const QTemporaryDir& config, const char* mode, const std::string& text) {
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
        return FreshRender(mode, text);
    };
    const std::string text = "I like a Tomato, said he.";
    for (const char* mode : {kEspeak, kSlt, kFestivalSlt}) {
        const auto plain = render(none, mode, text);
        const auto respelled = render(with, mode, text);
        ASSERT_FALSE(plain.empty() || respelled.empty()) << mode;
        EXPECT_NE(plain, respelled) << mode;
        EXPECT_EQ(respelled, render(none, mode, "I like a tomahto, said he.")) << mode;
    }
    EXPECT_EQ(render(with, kEspeak, "zork"), render(none, kEspeak, "hello"));
    EXPECT_NE(render(none, kEspeak, "[[h@l'oU]]"), render(none, kEspeak, "hello"));
    for (const char* typed : {"zork [[h@l'oU]] [[zork]]", "[[[zork"}) {
        std::string asText = typed;
        for (size_t at; (at = asText.find("zork")) != std::string::npos;) asText.replace(at, 4, "hello");
        EXPECT_EQ(render(with, kEspeak, typed), render(none, kEspeak, asText)) << typed;
    }
    qputenv("XDG_CONFIG_HOME", saved);

    lexicon::Store::Instance().SetDocumentLexicons({global});
    for (const char* mode : {kEspeak, kSlt, kFestivalSlt}) {
        std::vector<uint32_t> words;
        RenderText(mode, text, {}, &words);
        ExpectWordStarts(text, words);
        EXPECT_TRUE(std::count(words.begin(), words.end(), text.find("Tomato"))) << mode;
        EXPECT_TRUE(std::count(words.begin(), words.end(), text.find("said"))) << mode;
    }
    lexicon::Store::Instance().SetDocumentLexicons({});
}

// RHVoice reads SSML when asked to: it is handed plain text, so markup is said, not obeyed
// (an obeyed break would add five seconds of silence).
TEST(TextIsData, RhvoiceSpeaksMarkupAsText) {
    if (!RhvoiceInstalled()) GTEST_SKIP() << "RHVoice is not installed";
    const std::string text = "<speak>Wait <break time=\"5s\"/> here</speak>";
    std::vector<uint32_t> words;
    const auto heard = RenderText(kRhvoiceSlt, text, {}, &words);
    EXPECT_LT(heard.size(), 4u * 24000) << "the break was obeyed";
    EXPECT_GT(VoicedLength(heard), 24000u) << "the markup was not said";
    ExpectWordStarts(text, words);
    EXPECT_TRUE(std::count(words.begin(), words.end(), uint32_t(text.find("<break"))));
}

// Festival's own language is Scheme: text that reads as Scheme is still only text.
TEST(TextIsData, FestivalSpeaksSchemeInTheTextLiterally) {
    QTemporaryDir dir;
    const std::string marker = dir.filePath("x").toStdString();
    const std::string text = "\")(system \"touch " + marker + "\") (quit) \"unbalanced (( \" end";
    std::vector<uint32_t> words;
    const auto heard = RenderText(kFestivalKal, text, {}, &words);
    EXPECT_GT(heard.size(), 16000u * 2) << "several seconds of speech";
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(marker)));
    // The words Festival made of it, in order, up to the last one.
    for (const char* word : {"\")(system", "\"touch", "(quit)", "\"unbalanced", "end"})
        EXPECT_TRUE(std::count(words.begin(), words.end(), text.find(word))) << word;
    // Still running, with the same voice: (quit) quit nothing.
    EXPECT_EQ(RenderText(kFestivalKal, "1 2 3", {}, &words).empty(), false);
    EXPECT_EQ(words, (std::vector<uint32_t>{0, 2, 4}));
}

// Cutting text into pieces must not change how long it takes to say: the whole of a
// long document lasts as espeak-ng's own rendering of it.
TEST(Pieces, LongTextLastsAsEspeakRendersIt) {
    QFile file("/usr/share/common-licenses/GPL-3");
    if (!file.open(QIODevice::ReadOnly)) GTEST_SKIP() << "no GPL-3 text on this machine";
    const std::string text = file.readAll().toStdString();
    TestEngine e;
    ASSERT_TRUE(e.Select(kEspeak, false));
    QElapsedTimer timer;
    timer.start();
    ASSERT_EQ(e.Speak(text), S_OK);
    ASSERT_TRUE(e.WaitStops(1));
    const qint64 ourMs = timer.elapsed();
    const double ours = static_cast<double>(e.dest->Frames().size());

    QTemporaryDir dir;
    const QString input = dir.filePath("in.txt"), wav = dir.filePath("out.wav");
    QFile in(input);
    ASSERT_TRUE(in.open(QIODevice::WriteOnly));
    in.write(text.data(), static_cast<qint64>(text.size()));
    in.close();
    QProcess espeak;
    timer.restart();
    espeak.start("espeak-ng", {"-v", "gmw/en-US", "-s", "175", "-f", input, "-w", wav});
    ASSERT_TRUE(espeak.waitForFinished(60000));
    const qint64 theirMs = timer.elapsed();
    // 16-bit mono: the data follows a 44-byte header.
    const double theirs = static_cast<double>(QFileInfo(wav).size() - 44) / 2.0;
    std::printf("ours %.1f s of audio in %lld ms, espeak-ng %.1f s in %lld ms\n", ours / 22050,
                static_cast<long long>(ourMs), theirs / 22050, static_cast<long long>(theirMs));
    EXPECT_NEAR(ours / theirs, 1.0, 0.02);
}

// A run without blanks longer than a piece is said whole, as the engines' own programs
// say it (espeak-ng reads only about 160 bytes of one word, so zero-length breaks make
// it read every part), and word positions stay true past it.
// RHVoice says each piece as a message of its own, with pauses around it; cut into pieces,
// a text still lasts as RHVoice's own command line says it whole.
TEST(Pieces, RhvoiceTextLastsAsRhvoiceTestRendersIt) {
    if (!RhvoiceInstalled()) GTEST_SKIP() << "RHVoice is not installed";
    QFile file("/usr/share/common-licenses/GPL-3");
    if (!file.open(QIODevice::ReadOnly)) GTEST_SKIP() << "no GPL-3 text on this machine";
    const QByteArray head = file.read(5000);
    const QByteArray text = head.left(head.lastIndexOf("\n\n") + 2);  // whole paragraphs
    const double ours = static_cast<double>(RenderText(kRhvoiceSlt, text.toStdString()).size());
    QTemporaryDir dir;
    const QString input = dir.filePath("in.txt"), wav = dir.filePath("out.wav");
    QFile in(input);
    ASSERT_TRUE(in.open(QIODevice::WriteOnly));
    in.write(text);
    in.close();
    QProcess cli;
    cli.start("RHVoice-test", {"-p", "slt", "-i", input, "-o", wav});
    ASSERT_TRUE(cli.waitForFinished(60000) && cli.exitCode() == 0) << "RHVoice-test (rhvoice)";
    // 16-bit mono: the data follows a 44-byte header.
    EXPECT_NEAR(ours / (static_cast<double>(QFileInfo(wav).size() - 44) / 2.0), 1.0, 0.03);
}

TEST(Pieces, BlankFreeRunsAreSpokenWhole) {
    std::string run;
    for (int i = 0; i < 40; ++i) run += "abcdefghij";
    const std::string text = run + " end";
    QString ssml = "<speak>";
    for (size_t i = 0; i < run.size(); i += 100)
        ssml += QString::fromStdString(run.substr(i, 100)) + "<break time=\"0ms\"/>";
    QTemporaryDir dir;
    const QString wav = dir.filePath("out.wav");
    const std::pair<const char*, QStringList> cases[] = {
        {kEspeak, {"espeak-ng", "-m", "-v", "gmw/en-US", "-w", wav, ssml + " end</speak>"}},
        {kKal, {"flite", "-voice", "kal", "-t", QString::fromStdString(text), "-o", wav}}};
    for (const auto& [mode, command] : cases) {
        std::vector<uint32_t> words;
        const double ours = static_cast<double>(RenderText(mode, text, {}, &words).size());
        ExpectWordStarts(text, words);
        EXPECT_EQ(words.back(), text.size() - 3) << mode;
        QProcess cli;
        cli.start(command.front(), command.mid(1));
        ASSERT_TRUE(cli.waitForFinished(60000)) << mode;
        // 16-bit mono: the data follows a 44-byte header.
        EXPECT_NEAR(ours / (static_cast<double>(QFileInfo(wav).size() - 44) / 2.0), 1.0, 0.03)
            << mode;
    }
}

// Sentences of punctuation alone are silence or said as the voice says them, in every
// family; a word after them is still said, at its place.
TEST(Pieces, PunctuationOnlySentencesRenderInEveryVoice) {
    const std::string texts[] = {".", "!", "\"", "(( ))", "...  Hello"};
    for (const char* mode : WithRhvoice({kEspeak, kSlt, kKal, kFestivalSlt, kFestivalKal})) {
        TestEngine e;
        ASSERT_TRUE(e.Select(mode, false)) << mode;
        for (int i = 0; i < 5; ++i) {
            ASSERT_EQ(e.Speak(texts[i]), S_OK) << mode;
            ASSERT_TRUE(e.WaitStops(i + 1)) << mode << ": " << texts[i];
        }
        for (const std::string& line : e.log.lines) EXPECT_NE(0u, line.rfind("failed", 0)) << line;
        EXPECT_EQ(1, e.log.Count("word 5")) << mode << ": Hello said after the dots";
    }
}

// A sentence longer than one flite piece is said as flite says it whole: the pieces join
// without the pauses flite puts around each of its utterances (some 0.4 s), where the
// text has none.
TEST(Pieces, FliteSentencesRunOnAcrossPieceJoins) {
    const std::string text =
        "The quick brown fox jumps over the lazy dog while the small grey cat watches the "
        "birds that sing in the old oak tree beside the quiet river bank on a warm afternoon.";
    for (const char* mode : {kSlt, kKal}) {
        const std::vector<int16_t> samples = RenderText(mode, text);
        const size_t window = 16000 / 200;  // 5 ms at the larger rate, 10 ms at kal's 8 kHz
        // Runs of quiet windows (peak under 1 % of full scale) between the first and the
        // last loud one.
        size_t longest = 0, run = 0;
        bool spoken = false;
        for (size_t at = 0; at + window <= samples.size(); at += window) {
            int peak = 0;
            for (size_t i = at; i < at + window; ++i) peak = std::max(peak, std::abs(samples[i]));
            if (peak >= 328) {
                if (spoken) longest = std::max(longest, run);
                spoken = true;
                run = 0;
            } else {
                run += window;
            }
        }
        const unsigned rate = std::string(mode) == kKal ? 8000 : 16000;
        EXPECT_LT(longest * 1000 / rate, 200u) << mode << ": the longest silence, in ms";
    }
}
