// Notifications, queuing, pause, reset and release on the real engines.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <algorithm>
#include <chrono>
#include <thread>

#include "EngineTestKit.h"
#include "platform/render/EngineCore.h"
#include "platform/render/EngineEvents.h"
#include "platform/voices/FestivalVoice.h"

namespace {
const char* const kEspeak = "English (America) - espeak-ng";
const char* const kSlt = "slt (US English female) - flite";

std::string LongText(size_t bytes) {
    std::string text;
    while (text.size() < bytes) text += "This is a rather long sentence, spoken again and again. ";
    return text;
}

// Per text: start first, stop last; each word position is followed by a mouth shape.
void ExpectWellFormed(const std::vector<std::string>& lines) {
    bool open = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        if (l == "start") {
            open = true;
        } else if (l == "stop") {
            EXPECT_TRUE(open) << "stop without start at " << i;
            open = false;
        } else if (l.rfind("word", 0) == 0) {
            EXPECT_TRUE(open) << "word outside a text at " << i;
            ASSERT_LT(i + 1, lines.size());
            EXPECT_EQ(lines[i + 1], "visual") << "after " << l;
        } else if (l == "visual") {
            EXPECT_TRUE(open) << "visual outside a text at " << i;
        }
        EXPECT_NE(l, "visual-without-mouth");
    }
    EXPECT_FALSE(open) << "last text has no stop";
}
}  // namespace

TEST(Notifications, EachTextStartsStopsAndQueuesBehindTheLast) {
    for (const char* mode : {kEspeak, kSlt}) {
        TestEngine e;
        ASSERT_TRUE(e.Select(mode));
        ASSERT_EQ(e.Speak("1 2 3\r\n"), S_OK);
        ASSERT_EQ(e.Speak("Four five."), S_OK);
        ASSERT_EQ(e.Speak(""), S_OK);  // nothing to say still starts and stops
        ASSERT_TRUE(e.WaitStops(3)) << mode;
        ExpectWellFormed(e.log.lines);
        EXPECT_EQ(e.log.Count("start"), 3);
        EXPECT_EQ(e.log.Count("textdone"), 3);
        EXPECT_EQ(e.log.Words(), (std::vector<uint32_t>{0, 2, 4, 0, 5})) << mode;
        EXPECT_EQ(e.log.lines.back(), "textdone");
        // The buffer sinks are let go once their texts are done.
        EXPECT_EQ(e.buf->RefCount(), 1u);
    }
}

TEST(Notifications, UnregisteredSinksHearNothingAndAreReleased) {
    TestEngine e;
    ASSERT_TRUE(e.Select(kEspeak));
    EXPECT_EQ(e.notify->RefCount(), 2u);
    ASSERT_EQ(e.central->UnRegister(e.key), S_OK);
    EXPECT_EQ(e.notify->RefCount(), 1u);
    EXPECT_TRUE(FAILED(e.central->UnRegister(e.key)));
    ASSERT_EQ(e.Speak("Hello."), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return e.log.Count("textdone") == 1; }));
    EXPECT_EQ(e.log.Count("start"), 0);
    EXPECT_GE(e.log.Words().size(), 1u);
}

TEST(Notifications, FileSpeedRenderingIsCoalescedAndKeepsTheLastWord) {
    const std::string text = LongText(20000);
    TestEngine e;
    ASSERT_TRUE(e.Select(kEspeak, false));
    ASSERT_EQ(e.Speak(text), S_OK);
    // The UI thread is busy while the whole text renders: what piled up for it comes
    // as one start, the last word and mouth shape, and the stop.
    uint64_t written = 0;
    do {
        written = e.dest->WrittenFrames();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    } while (e.dest->WrittenFrames() != written || written == 0);
    ASSERT_TRUE(e.WaitStops(1));
    EXPECT_EQ(e.log.lines, (std::vector<std::string>{"textstarted", "start",
                                                     "word " + std::to_string(text.rfind("again.")),
                                                     "visual", "stop", "textdone"}));
}

// An event queue delivering through the apartment into a log.
struct EventQueue : ::testing::Test {
    EventQueue() { EnsureApartment(); }
    std::shared_ptr<EngineEvents> events = std::make_shared<EngineEvents>();
    EventLog log;
    ComPtr<RecordingBufSink> buf = MakeCom<RecordingBufSink>(&log);
};

// However long the UI thread is busy, what waits for it stays a handful of events,
// and the last word position is among them.
TEST_F(EventQueue, WaitingEventsStayFewWhileTheUiThreadIsBusy) {
    using Event = EngineEvents::Event;
    events->Register(MakeCom<RecordingNotifySink>(&log));
    size_t most = 0;
    std::thread renderer([&] {
        events->Emit(Event{Event::Kind::TextStarted, buf}, 0);
        events->Emit(Event{Event::Kind::AudioStart, buf}, 0);
        for (uint32_t word = 0; word < 200000; ++word) {
            events->Emit(Event{Event::Kind::Word, buf, word, {}, 0, 0, word * 10ull}, 0);
            events->Emit(Event{Event::Kind::Visual, nullptr}, 0);
            if (word % 10 == 9) {
                Event end{Event::Kind::SentenceEnd, buf};
                end.earlier = {ParlenWordTime{word + 1, word * 10ull + 5, true}};
                events->Emit(end, 0);
            }
            most = std::max(most, events->Queued());
        }
        events->Emit(Event{Event::Kind::AudioStop, buf}, 0);
    });
    renderer.join();  // the UI thread took nothing meanwhile
    EXPECT_LE(most, 5u);
    ASSERT_TRUE(PumpUntil([&] { return log.Count("textdone") == 1; }));
    EXPECT_EQ(log.lines, (std::vector<std::string>{"textstarted", "start", "word 199999", "visual",
                                                   "stop", "textdone"}));
    // The words and sentence ends passed over still reach the text's sink in order, in
    // one call, and the last sentence end, which no word followed, in one more.
    EXPECT_EQ(log.timeRuns, 2);
    ASSERT_EQ(log.times.size(), 220000u);
    for (uint32_t word = 0, i = 0; word < 200000; ++word) {
        ASSERT_TRUE(log.times[i].offset == word && log.times[i++].frame == word * 10) << word;
        if (word % 10 == 9) {
            ASSERT_TRUE(log.times[i++].sentenceEnd) << word;
        }
    }
}

// A batch reaches the UI thread only when it ends, whole and in order; what another
// thread emits meanwhile is not held back, and a reset meanwhile drops the batch.
TEST_F(EventQueue, ABatchIsQueuedWhenItEndsAndOthersAreNotHeldBack) {
    using Event = EngineEvents::Event;
    std::thread renderer([&] {
        events->BeginBatch();
        events->Emit(Event{Event::Kind::TextStarted, buf}, 0);
        events->Emit(Event{Event::Kind::Word, buf, 7}, 0);
        std::thread([&] { events->Emit(Event{Event::Kind::Word, buf, 3}, 0); }).join();
        EXPECT_EQ(events->Queued(), 2u) << "only the other thread's word and its shape";
        events->EndBatch();
        events->BeginBatch();
        events->Emit(Event{Event::Kind::Word, buf, 9}, 0);
        events->NewGeneration(1);
        events->EndBatch();
    });
    renderer.join();
    ASSERT_TRUE(PumpUntil([&] { return log.Count("word 7") == 1; }));
    EXPECT_EQ(log.lines, (std::vector<std::string>{"word 3", "textstarted", "word 7"}));
}

// Word positions delivered while the UI thread keeps up run forward to the last word.
TEST(Notifications, WordsRunForwardToTheLastWord) {
    const std::string text = LongText(3000);
    TestEngine e;
    ASSERT_TRUE(e.Select(kEspeak));
    ASSERT_EQ(e.Speak(text), S_OK);
    ASSERT_TRUE(e.WaitStops(1));
    ExpectWellFormed(e.log.lines);
    const auto words = e.log.Words();
    ASSERT_GT(words.size(), 400u);
    EXPECT_EQ(words.back(), static_cast<uint32_t>(text.rfind("again.")));
    for (size_t i = 1; i < words.size(); ++i) ASSERT_GT(words[i], words[i - 1]);
}

TEST(Streaming, AudioStartsAtOnceAndStaysABoundedWayAhead) {
    const std::string text = LongText(1 << 20);
    TestEngine e;
    ASSERT_TRUE(e.Select(kEspeak, false));
    e.dest->SetCap(2 * 22050);  // two seconds of look-ahead, never played
    const auto before = std::chrono::steady_clock::now();
    ASSERT_EQ(e.Speak(text), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return e.dest->WrittenFrames() > 0; }, 5000));
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(e.dest->FirstWrite() - before)
            .count();
    std::printf("first audio after %lld ms\n", static_cast<long long>(ms));
    // Rendering the whole megabyte first takes minutes; the first sentence, a few
    // hundredths of a second (measured by the benchmarks).
    EXPECT_LT(ms, 5000) << "the audio waited for more than the first sentence";
    ASSERT_TRUE(PumpUntil([&] { return e.dest->WrittenFrames() >= 2u * 22050; }, 10000));
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(e.dest->WrittenFrames(), 2u * 22050) << "written past the look-ahead";
    EXPECT_EQ(e.central->AudioReset(), S_OK);
}

TEST(Streaming, APausedEngineDoesNotHoldUpAnother) {
    TestEngine paused, render;
    ASSERT_TRUE(paused.Select(kSlt));
    ASSERT_TRUE(render.Select(kEspeak));
    paused.dest->SetRoom(0);  // its look-ahead is full
    ASSERT_EQ(paused.Speak(LongText(3000)), S_OK);
    ASSERT_EQ(paused.central->AudioPause(), S_OK);
    ASSERT_EQ(render.Speak(LongText(5000)), S_OK);
    ASSERT_TRUE(render.WaitStops(1));
    ExpectWellFormed(render.log.lines);
    EXPECT_EQ(paused.log.Count("start"), 0);
    // Once it may go on, the paused one completes too.
    paused.dest->SetRoom(SIZE_MAX);
    ASSERT_EQ(paused.central->AudioResume(), S_OK);
    ASSERT_TRUE(paused.WaitStops(1));
    ExpectWellFormed(paused.log.lines);
}

TEST(Streaming, PauseHoldsNotificationsAndResumeReportsStartAgain) {
    TestEngine e;
    ASSERT_TRUE(e.Select(kEspeak));
    ASSERT_EQ(e.Speak(LongText(600)), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return e.log.Words().size() >= 2; }));
    ASSERT_EQ(e.central->AudioPause(), S_OK);
    PumpUntil([] { return false; }, 200);
    const size_t seen = e.log.lines.size();
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(e.log.lines.size(), seen);  // paused: nothing more is heard
    ASSERT_EQ(e.central->AudioResume(), S_OK);
    // Nothing is heard until the destination plays on: no audio start before that.
    QElapsedTimer idle;
    idle.start();
    while (idle.elapsed() < 200) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(e.log.Count("start"), 1) << "audio start again before anything was heard again";
    ASSERT_TRUE(e.WaitStops(1));
    EXPECT_EQ(e.log.Count("start"), 2);
    const auto next = [&](const std::string& prefix) {
        return std::find_if(e.log.lines.begin() + long(seen), e.log.lines.end(),
                            [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    };
    EXPECT_LT(next("start"), next("word")) << "the audio start again comes before later words";
    ExpectWellFormed(e.log.lines);

    // Paused before anything was heard: the text's own audio start is all there is.
    TestEngine early;
    ASSERT_TRUE(early.Select(kEspeak));
    ASSERT_EQ(early.Speak("1 2 3"), S_OK);
    ASSERT_EQ(early.central->AudioPause(), S_OK);
    ASSERT_EQ(early.central->AudioResume(), S_OK);
    ASSERT_TRUE(early.WaitStops(1));
    EXPECT_EQ(early.log.Count("start"), 1);
    EXPECT_EQ(early.log.Words(), (std::vector<uint32_t>{0, 2, 4}));
}

TEST(Streaming, ResetDiscardsTextAndStopsBeforeTheNextStart) {
    TestEngine e;
    ASSERT_TRUE(e.Select(kEspeak));
    ASSERT_EQ(e.Speak(LongText(200000)), S_OK);
    ASSERT_EQ(e.Speak("queued behind"), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return e.log.Words().size() >= 3; }));
    e.dest->SetRoom(0);  // keep the first text from finishing on its own
    ASSERT_EQ(e.central->AudioReset(), S_OK);
    e.dest->SetRoom(SIZE_MAX);
    ASSERT_EQ(e.Speak("1 2 3"), S_OK);
    ASSERT_TRUE(e.WaitStops(2));
    PumpUntil([] { return false; }, 300);
    ExpectWellFormed(e.log.lines);
    EXPECT_EQ(e.log.Count("start"), 2);  // the queued text was discarded
    const auto words = e.log.Words();
    EXPECT_EQ(std::vector<uint32_t>(words.end() - 3, words.end()),
              (std::vector<uint32_t>{0, 2, 4}));
    // Reset with nothing to speak is harmless.
    EXPECT_EQ(e.central->AudioReset(), S_OK);
}

TEST(Release, DestroyingAnEngineMidSynthesisIsSafeAndSilent) {
    for (const char* mode : {kEspeak, kSlt}) {
        auto e = std::make_unique<TestEngine>();
        ASSERT_TRUE(e->Select(mode));
        ASSERT_EQ(e->Speak(LongText(100000)), S_OK);
        ASSERT_TRUE(PumpUntil([&] { return e->log.Count("start") == 1; }));
        EventLog* log = &e->log;
        const size_t seen = log->lines.size();
        // Keep the sinks and the log alive; drop only the engine.
        auto notify = e->notify;
        auto buf = e->buf;
        auto dest = e->dest;
        e->attributes = nullptr;
        e->central = nullptr;
        PumpUntil([] { return false; }, 300);
        EXPECT_EQ(log->lines.size(), seen) << mode;
        EXPECT_EQ(notify->RefCount(), 2u);  // ours and the TestEngine's
        EXPECT_EQ(buf->RefCount(), 2u);
        e.reset();
    }
    // The worker still serves new engines.
    TestEngine next;
    ASSERT_TRUE(next.Select(kEspeak));
    ASSERT_EQ(next.Speak("still working"), S_OK);
    EXPECT_TRUE(next.WaitStops(1));
}

// The device fails by itself while the end of a text is still being heard: all of its
// audio was written, so no write fails, yet the text ends with the failure before its
// stop; the next text knows nothing of it.
TEST(Failures, ALostDeviceEndsTheTextStillBeingHeardWithWhy) {
    TestEngine e;
    ASSERT_TRUE(e.Select(kEspeak));
    ASSERT_EQ(e.Speak("1 2 3"), S_OK);
    for (int i = 0; i < 2000 && e.dest->endsOfData == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(1, e.dest->endsOfData.load()) << "the text was never written whole";
    e.dest->Lose("gone");
    ASSERT_TRUE(PumpUntil([&] { return e.log.Count("textdone") == 1; }));
    ExpectWellFormed(e.log.lines);
    const auto failed = [](const std::string& line) {
        return line.rfind("failed ", 0) == 0 && line.ends_with(" gone");
    };
    ASSERT_GE(e.log.lines.size(), 3u);
    const auto tail = e.log.lines.end() - 3;
    EXPECT_TRUE(failed(tail[0])) << tail[0];
    EXPECT_EQ((std::vector<std::string>{"stop", "textdone"}),
              std::vector<std::string>(tail + 1, e.log.lines.end()));
    ASSERT_EQ(e.Speak("4 5"), S_OK);
    ASSERT_TRUE(e.WaitStops(2));
    EXPECT_EQ(1, std::count_if(e.log.lines.begin(), e.log.lines.end(), failed));
}

// A voice whose synthesis runs out of memory.
class StarvedVoice : public VoiceBackend {
  public:
    unsigned SampleRate() const override { return 16000; }
    PieceSize FirstPieceSize() const override { return {100, 200}; }
    PieceSize NextPieceSize() const override { return {100, 200}; }
    bool Render(std::string_view, TextPiece, const std::vector<uint32_t>&, const VoiceSettings&,
                const std::function<bool()>&, RenderedPiece&) override {
        throw std::bad_alloc();
    }
};

// Two texts queued on a core over voice each end with failure, well-formed, and the
// core goes on to the second.
void ExpectEachTextFailsWith(std::unique_ptr<VoiceBackend> voice, const std::string& failure) {
    EnsureApartment();
    EventLog log;
    auto dest = MakeCom<RecordingDest>(false);
    auto core =
        std::make_shared<EngineCore>(std::move(voice), ComPtr<IParlenAudioDest>(dest.Get()));
    core->Start();
    core->Events().Register(MakeCom<RecordingNotifySink>(&log));
    ASSERT_EQ(S_OK, core->Queue("one two", MakeCom<RecordingBufSink>(&log)));
    ASSERT_EQ(S_OK, core->Queue("three", MakeCom<RecordingBufSink>(&log)));
    EXPECT_TRUE(PumpUntil([&] { return log.Count("textdone") == 2; }));
    EXPECT_EQ(2, log.Count("failed " + failure));
    ExpectWellFormed(log.lines);
    core->Shutdown();
}

// A voice that cannot render (here one Festival does not have) ends each text with
// why, never skipping it in silence.
TEST(Failures, AVoiceThatCannotRenderEndsTheTextWithWhy) {
    ExpectEachTextFailsWith(std::make_unique<FestivalVoice>("no_such_voice", 16000),
                            std::to_string(E_FAIL) + " " + SynthesisFailure(0));
}

TEST(Failures, NoMemoryForSynthesisEndsTheTextNotTheProgram) {
    ExpectEachTextFailsWith(
        std::make_unique<StarvedVoice>(),
        std::to_string(E_OUTOFMEMORY) + " Not enough memory to synthesise the text");
}
