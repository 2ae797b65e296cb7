// A whole document rendered into a WAV file by the speech component on the real
// speech service, measured against espeak-ng's own rendering of it.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "BenchStats.h"
#include "RealService.h"
#include "engines/RhvoiceRows.h"
#include "platform/voices/EspeakVoice.h"
#include "speech/mSpeech.h"

namespace {
const char* const kVoice = "English (America) - espeak-ng";
const char* const kEspeakVoice = "gmw/en-US";  // the same voice, as espeak-ng names it

bool Blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// A word start: a byte that is no blank, at the start or after a blank.
bool IsWordStart(const std::string& text, uint32_t at) {
    return at < text.size() && !Blank(text[at]) && (at == 0 || Blank(text[at - 1]));
}

std::vector<int16_t> SamplesOf(const QString& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.toLocal8Bit().constData(), SFM_READ, &info);
    if (!f) return {};
    std::vector<int16_t> samples(size_t(info.frames) * size_t(info.channels));
    samples.resize(size_t(sf_readf_short(f, samples.data(), info.frames)));
    sf_close(f);
    return samples;
}

sf_count_t FramesOf(const QString& path, int* rate) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.toLocal8Bit().constData(), SFM_READ, &info);
    if (!f) return -1;
    sf_close(f);
    *rate = info.samplerate;
    return info.frames;
}

TEST(WavRender, TheGplLastsAsEspeakRendersItAndWordsFallOnWordStarts) {
    QFile gpl("/usr/share/common-licenses/GPL-3");
    ASSERT_TRUE(gpl.open(QIODevice::ReadOnly)) << "base-files provides the GPL-3 text";
    const QByteArray bytes = gpl.readAll();
    StartRealService();
    QTemporaryDir dir;

    TMSpeech speech;
    speech.SetOutput(soFile);
    speech.SelectEngine(kVoice);
    ASSERT_TRUE(speech.Selected());
    const QString ours = dir.filePath("ours.wav"), theirs = dir.filePath("theirs.wav");
    speech.SetFilename(ours.toStdU16String());
    // The file's lines; the component speaks them joined with CR LF breaks.
    for (const QByteArray& line : bytes.chopped(bytes.endsWith('\n') ? 1 : 0).split('\n'))
        speech.Text().AppendLine(line.toStdString());
    const std::string text = speech.Text().JoinLines();

    // espeak-ng renders the same text at the same rate beside ours.
    QProcess espeak;
    espeak.start("espeak-ng", {"-v", kEspeakVoice, "-s", QString::number(speech.GetSpeed()), "-f",
                               gpl.fileName(), "-w", theirs});
    ASSERT_TRUE(espeak.waitForStarted()) << "espeak-ng is not installed";

    std::set<uint32_t> words;
    bool stopped = false, fileComplete = false;
    speech.OnVisual = [&](void*, uint32_t, PTTSMOUTH) { words.insert(speech.WordPosition()); };
    speech.OnStop = [&](void*) {
        stopped = true;
        int rate = 0;
        fileComplete = FramesOf(ours, &rate) > 0;  // readable before the component's Flush
    };
    speech.Speak();
    ASSERT_TRUE(WaitFor([&] { return stopped; }, 120000));
    // It may have ended already, while the events were being processed.
    ASSERT_TRUE(espeak.state() == QProcess::NotRunning || espeak.waitForFinished(120000));
    ASSERT_EQ(QProcess::NormalExit, espeak.exitStatus());
    ASSERT_EQ(0, espeak.exitCode()) << espeak.readAllStandardError().toStdString();
    EXPECT_TRUE(fileComplete) << "the file was not valid at the audio stop";

    int ourRate = 0, theirRate = 0;
    const sf_count_t ourFrames = FramesOf(ours, &ourRate);
    const sf_count_t theirFrames = FramesOf(theirs, &theirRate);
    ASSERT_GT(ourFrames, 0) << "libsndfile cannot read the render";
    ASSERT_GT(theirFrames, 0);
    EXPECT_EQ(ourRate, theirRate);
    std::printf("ours %.1f s, espeak-ng %.1f s; %zu word offsets reported\n",
                double(ourFrames) / ourRate, double(theirFrames) / theirRate, words.size());
    EXPECT_NEAR(double(ourFrames) / double(theirFrames), 1.0, 0.02);

    // Rendering runs at full speed, so word reports may be coalesced; each that came
    // is a word start, and the last word always comes.
    ASSERT_FALSE(words.empty());
    for (uint32_t at : words) EXPECT_TRUE(IsWordStart(text, at)) << "offset " << at;
    size_t lastWord = text.size();
    while (lastWord > 0 && Blank(text[lastWord - 1])) --lastWord;
    while (lastWord > 0 && !Blank(text[lastWord - 1])) --lastWord;
    EXPECT_EQ(lastWord, *words.rbegin());
}

// A file render tells every word with its first sample, once and in order, however
// the word positions on the way are coalesced, and whether one process renders the
// text or several render its parts: they agree in length and word offsets.
TEST(WavRender, EveryWordComesWithItsFirstSampleForOneWorkerOrSeveral) {
    std::string text;
    for (int i = 0; i < 60; ++i)
        text += "Seven bright foxes jumped quickly over lazy brown dogs near green rivers.\r\n";
    std::vector<uint32_t> starts;
    for (uint32_t at = 0; at < text.size(); ++at)
        if (IsWordStart(text, at)) starts.push_back(at);
    StartRealService();
    QTemporaryDir dir;
    const QString wav = dir.filePath("words.wav");
    for (const char* voice : WithRhvoice({kVoice, "slt (US English female) - flite",
                                          "kal (US English male, diphone) - festival"})) {
        sf_count_t oneWorker = 0;
        for (unsigned jobs : {1u, 3u}) {
            SetRenderJobs(jobs);
            TMSpeech speech;
            speech.SetOutput(soFile);
            speech.SelectEngine(voice);
            speech.SetFilename(wav.toStdU16String());
            std::vector<uint32_t> offsets;
            uint64_t lastFrame = 0;
            uint32_t rate = 0;
            bool stopped = false, later = true;
            // Each sentence's speech ends well before the next one starts: the pause
            // between them is not part of it.
            std::vector<uint64_t> sentenceGaps;
            std::optional<uint64_t> sentenceEnd;
            speech.OnWordTimes = [&](void*, std::span<const ParlenWordTime> words, uint32_t r) {
                for (const ParlenWordTime& w : words) {
                    later = later && (offsets.empty() || w.frame >= lastFrame);
                    lastFrame = w.frame;
                    if (w.sentenceEnd) {
                        sentenceEnd = w.frame;
                        continue;
                    }
                    if (sentenceEnd) sentenceGaps.push_back(w.frame - *sentenceEnd);
                    sentenceEnd.reset();
                    offsets.push_back(w.offset);
                }
                rate = r;
            };
            speech.OnStop = [&](void*) { stopped = true; };
            speech.Speak(text);
            ASSERT_TRUE(WaitFor([&] { return stopped; }, 60000)) << voice;
            int fileRate = 0;
            const sf_count_t frames = FramesOf(wav, &fileRate);
            EXPECT_EQ(frames, static_cast<sf_count_t>(sentenceEnd.value_or(0)))
                << voice << ": the last sentence lasts to the end";
            EXPECT_EQ(59u, sentenceGaps.size()) << voice;
            for (uint64_t gap : sentenceGaps) EXPECT_GT(gap, rate / 10) << voice << ", " << jobs;
            EXPECT_EQ(static_cast<int>(rate), fileRate) << voice;
            EXPECT_EQ(offsets, starts) << voice << ", " << jobs << " workers";
            EXPECT_TRUE(later) << voice << ": frames run forward";
            if (jobs == 1) oneWorker = frames;
            EXPECT_NEAR(double(frames) / double(oneWorker), 1.0, 0.002) << voice;
        }
    }
    SetRenderJobs(0);
}

// The timings file of a whole document: every word, in order, and the
// last sentence ending with the audio.
TEST(WavRender, TheGplTimingsHoldEveryWordUpToTheAudiosEnd) {
    QTemporaryDir dir;
    const QString wav = dir.filePath("gpl.wav"), json = dir.filePath("gpl.json");
    QProcess say;
    say.start(QString(std::getenv("PARLEN_BIN_DIR")) + "/parlen-say",
              {"--out", wav, "--timings", json, "--events", "/usr/share/common-licenses/GPL-3"});
    ASSERT_TRUE(say.waitForFinished(120000));
    ASSERT_EQ(0, say.exitCode()) << say.readAllStandardError().toStdString();
    QFile file(json);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonObject timings = QJsonDocument::fromJson(file.readAll()).object();
    const QJsonArray words = timings["words"].toArray(), sentences = timings["sentences"].toArray();
    // Every word of the text, the ones the engine told no start of estimated between them.
    EXPECT_EQ(5644, words.size());
    const auto told = std::count_if(words.begin(), words.end(),
                                    [](const QJsonValue& w) { return !w["estimated"].toBool(); });
    EXPECT_EQ(say.readAllStandardOutput().count(" word "), told);
    for (qsizetype i = 1; i < words.size(); ++i)
        ASSERT_LT(words[i - 1]["start_ms"].toInteger(), words[i]["start_ms"].toInteger()) << i;
    int rate = 0;
    const double audioMs = 1000.0 * double(FramesOf(wav, &rate)) / rate;
    EXPECT_NEAR(audioMs, double(sentences.last()["end_ms"].toInteger()), 50);
}

// Numbers, accents and a long word, said in several pieces: each word's start is where
// espeak-ng, reading the whole text at once, starts it, found in the render's audio.
TEST(WavRender, WordStartsLieOnTheirOnsetsInTheAudio) {
    const std::string text =
        "On 3 May 2024, Zoë paid 1,250.75 euros for 12 crème brûlées. "
        "Pneumonoultramicroscopicsilicovolcanoconiosis is a long word! Did the café open at "
        "7:45?\r\n";
    StartRealService();
    QTemporaryDir dir;
    const QString wav = dir.filePath("mixed.wav");
    TMSpeech speech;
    speech.SetOutput(soFile);
    speech.SelectEngine(kVoice);
    speech.SetFilename(wav.toStdU16String());
    const unsigned rate = EspeakVoice::Initialise();
    RenderedPiece whole;
    const TextPiece all{0, text.size()};
    ASSERT_TRUE(EspeakVoice(kEspeakVoice)
                    .Render(
                        text, all, WordStarts(text, all),
                        VoiceSettings{uint16_t(speech.GetPitch()), speech.GetSpeed()},
                        [] { return false; }, whole));
    std::map<uint32_t, uint64_t> starts;
    bool stopped = false;
    speech.OnWordTimes = [&](void*, std::span<const ParlenWordTime> words, uint32_t) {
        for (const ParlenWordTime& w : words)
            if (!w.sentenceEnd) starts[w.offset] = w.frame;
    };
    speech.OnStop = [&](void*) { stopped = true; };
    speech.Speak(text);
    ASSERT_TRUE(WaitFor([&] { return stopped; }, 60000));
    const std::vector<int16_t> ours = SamplesOf(wav);
    int64_t shift = 0;
    std::set<uint32_t> checked;
    for (const SynthEvent& e : whole.events) {
        // A number read as several words starts where its first one does.
        if (e.kind != SynthEvent::Kind::Word || !checked.insert(e.offset).second) continue;
        const size_t from = size_t(std::max<int64_t>(0, int64_t(e.frame) - rate / 20));
        shift = BenchStats::LocalShift(whole.samples, from, ours, rate / 4, shift, rate / 2, rate);
        EXPECT_NEAR(double(int64_t(e.frame) + shift), double(starts[e.offset]), 0.020 * rate)
            << "word at " << e.offset;
    }
    EXPECT_EQ(starts.size(), checked.size());
}

}  // namespace
