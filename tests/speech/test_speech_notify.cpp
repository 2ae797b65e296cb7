// What the engine reports, through the two notification objects, against the
// recording service.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <thread>

#include "FakeSpeechService.h"
#include "platform/Apartment.h"
#include "platform/ClassRegistry.h"
#include "speech/TTSBufNotifySink.h"
#include "speech/TTSNotifySink.h"
#include "speech/mSpeech.h"
#include "support/Errors.h"

namespace {

using Log = std::vector<std::string>;

class Notify : public ::testing::Test {
  protected:
    void SetUp() override {
        FakeMode m;
        m.name = "Alpha";
        service.modes = {m};
    }
    std::unique_ptr<TMSpeech> Attached(TSpeechOutput output) {
        auto speech = std::make_unique<TMSpeech>();
        speech->SetOutput(output);
        speech->SelectEngine("Alpha");
        EXPECT_TRUE(speech->Selected());
        speech->SetFilename(u"/tmp/notify.wav");
        speech->Text().AppendLine("one two");
        service.ClearLog();
        return speech;
    }
    // Records the events of a component as "start", "stop" and "visual(hints,word
    // position seen then)".
    void Watch(TMSpeech& speech) {
        speech.OnStart = [this](void* sender) {
            events.push_back("start");
            senders.push_back(sender);
        };
        speech.OnStop = [this](void*) {
            events.push_back("stop");
            flushedBeforeStop = !service.Calls("File#1.Flush").empty();
        };
        speech.OnVisual = [this, &speech](void*, uint32_t hints, PTTSMOUTH mouth) {
            events.push_back("visual(" + std::to_string(hints) + "," +
                             std::to_string(speech.WordPosition()) + ")");
            mouths.push_back(mouth);
        };
    }
    FakeCentral& Engine() { return *service.Central(service.CentralCount()); }

    FakeSpeechService service;
    Log events;
    std::vector<void*> senders;
    std::vector<PTTSMOUTH> mouths;
    bool flushedBeforeStop = false;
};

TEST_F(Notify, EventsArriveInTheEngineOrderWithTheWordPosition) {
    auto speech = Attached(soGeneral);
    Watch(*speech);
    speech->Speak();
    TTSMOUTH mouth{};
    Engine().FireAudioStart();
    Engine().FireWordPosition(0);
    Engine().FireVisual(TTSNSHINT_STATEMENT, &mouth);
    Engine().FireWordPosition(4);
    Engine().FireVisual(0, &mouth);
    Engine().FireAudioStop();
    EXPECT_EQ((Log{"start", "visual(2,0)", "visual(0,4)", "stop"}), events);
    EXPECT_EQ(&mouth, mouths.at(0)) << "the mouth record is passed on unchanged";
    ASSERT_EQ(1u, Engine().registered.size());
    EXPECT_EQ(Engine().registered.begin()->second.Get(), senders.at(0))
        << "Sender is the notification object, not the component";
    EXPECT_TRUE(service.Calls("File").empty()) << "no flush when speaking aloud";
    EXPECT_EQ(4u, speech->WordPosition());
}

TEST_F(Notify, AudioStopCompletesTheWavFileBeforeOnStop) {
    auto speech = Attached(soFile);
    Watch(*speech);
    speech->Speak();
    Engine().FireAudioStart();
    Engine().FireAudioStop();
    EXPECT_TRUE(flushedBeforeStop);
    EXPECT_EQ((Log{"File#1.Set(/tmp/notify.wav,1)", "Central#1.TextData(0,0,10,BufNotifySink)",
                   "File#1.Flush"}),
              service.log);

    // Without handlers the flush still happens; a file that cannot be completed is
    // reported from the stop, once.
    speech->OnStop = nullptr;
    service.FailAt("File.Flush", AUDERR_WRITEFAILED);
    EXPECT_THROW(Engine().FireAudioStop(), EMSpeechTextFailed);
    Engine().FireAudioStop();
    EXPECT_EQ(3u, service.Calls("File#1.Flush").size());
}

// A text that ends while paused (its sound server lost) leaves nothing to resume: the
// next Speak must speak, not resume.
TEST_F(Notify, ATextEndedWhilePausedEndsThePause) {
    auto speech = Attached(soGeneral);
    speech->Speak();
    Engine().FireAudioStart();
    speech->Pause();
    Engine().FireAudioStop();
    EXPECT_FALSE(speech->Paused());
}

TEST_F(Notify, WithoutHandlersEveryNotificationIsAnsweredWithSuccess) {
    auto speech = Attached(soGeneral);
    speech->Speak();
    ComPtr<ITTSNotifySinkA> sink;
    ASSERT_EQ(S_OK, Engine().registered.begin()->second.As(sink));
    ComPtr<ITTSBufNotifySink> buf;
    ASSERT_EQ(S_OK, Engine().pending.at(0).As(buf));
    EXPECT_EQ(S_OK, sink->AttribChanged(1));
    EXPECT_EQ(S_OK, sink->AudioStart(0));
    EXPECT_EQ(S_OK, sink->Visual(0, 'a', 'b', 0, nullptr));
    EXPECT_EQ(S_OK, sink->AudioStop(0));
    EXPECT_EQ(S_OK, buf->TextDataStarted(0));
    EXPECT_EQ(S_OK, buf->BookMark(0, 7));
    EXPECT_EQ(S_OK, buf->WordPosition(0, 9));
    EXPECT_EQ(S_OK, buf->TextDataDone(0, 0));
    EXPECT_EQ(9u, speech->WordPosition());
}

TEST_F(Notify, WordPositionSurvivesTheNextSpeakAndOlderObjectsStillReport) {
    auto speech = Attached(soGeneral);
    speech->Speak();
    Engine().FireWordPosition(6);
    speech->Speak();
    EXPECT_EQ(6u, speech->WordPosition()) << "Speak does not reset the position";

    // A new selection makes new objects; the engine's old ones still reach the component.
    ComPtr<IUnknown> oldBuf = Engine().pending.at(0);
    speech->SelectEngine("Alpha");
    ComPtr<ITTSBufNotifySink> buf;
    ASSERT_EQ(S_OK, oldBuf.As(buf));
    buf->WordPosition(0, 3);
    EXPECT_EQ(3u, speech->WordPosition());
    speech->Speak();
    EXPECT_NE(oldBuf.Get(), Engine().pending.at(0).Get())
        << "each selection hands fresh notification objects to the engine";
}

TEST_F(Notify, DestroyingTheComponentMidSpeechLeavesTheObjectsHarmless) {
    ComPtr<ITTSNotifySinkA> sink;
    ComPtr<ITTSBufNotifySink> buf;
    bool called = false;
    {
        auto speech = Attached(soFile);
        speech->OnStop = [&](void*) { called = true; };
        speech->OnStart = [&](void*) { called = true; };
        speech->Speak();
        ASSERT_EQ(S_OK, Engine().registered.begin()->second.As(sink));
        ASSERT_EQ(S_OK, Engine().pending.at(0).As(buf));
        EXPECT_NE(nullptr, static_cast<TTSNotifySink*>(sink.Get())->Speech());
    }
    // The engine is gone with the component; whatever it had queued arrives later.
    EXPECT_EQ(nullptr, service.Central(1));
    EXPECT_EQ(nullptr, static_cast<TTSNotifySink*>(sink.Get())->Speech());
    EXPECT_EQ(nullptr, static_cast<TTSBufNotifySink*>(buf.Get())->Speech());
    EXPECT_EQ(S_OK, sink->AudioStart(0));
    EXPECT_EQ(S_OK, sink->Visual(0, 0, 0, 0, nullptr));
    EXPECT_EQ(S_OK, sink->AudioStop(0));
    EXPECT_EQ(S_OK, buf->WordPosition(0, 1));
    EXPECT_FALSE(called);
    EXPECT_TRUE(service.Calls("File#1.Flush").empty());
}

TEST_F(Notify, AHandlerMayDestroyTheComponentOrReplaceItsEvent) {
    auto owned = Attached(soGeneral);
    TMSpeech* speech = owned.get();
    int stops = 0;
    speech->OnStart = [&](void*) {
        speech->OnStart = nullptr;  // the running handler is a copy
        events.push_back("start");
    };
    speech->OnStop = [&](void*) {
        ++stops;
        owned.reset();  // releases the component's references to the objects
    };
    speech->Speak();
    ComPtr<ITTSNotifySinkA> sink;
    ASSERT_EQ(S_OK, Engine().registered.begin()->second.As(sink));
    sink->AudioStart(0);
    sink->AudioStart(0);
    EXPECT_EQ((Log{"start"}), events);
    EXPECT_EQ(S_OK, sink->AudioStop(0));
    EXPECT_EQ(1, stops);
    EXPECT_EQ(nullptr, static_cast<TTSNotifySink*>(sink.Get())->Speech());
}

TEST_F(Notify, HandlerErrorsReachTheApartmentGuard) {
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    ASSERT_EQ(S_OK, CoInitialize(nullptr));
    Log guarded;
    Apartment::SetGuard([&](const Apartment::Call& call) {
        try {
            call();
        } catch (const Exception& e) {
            guarded.push_back(e.Message());
        }
    });
    {
        auto speech = Attached(soFile);
        speech->OnStop = [](void*) { throw EFCreateError("handler failed"); };
        speech->OnVisual = [](void*, uint32_t, PTTSMOUTH) { throw EMSpeechException("visual"); };
        speech->Speak();
        ComPtr<ITTSNotifySinkA> sink;
        ASSERT_EQ(S_OK, Engine().registered.begin()->second.As(sink));
        // As the real service does: an engine thread posts each report to the UI thread.
        std::thread engineThread([&] {
            Apartment::Post([sink] { sink->Visual(0, 0, 0, 0, nullptr); });
            Apartment::Post([sink] { sink->AudioStop(0); });
            Apartment::Post([sink] { sink->AudioStop(0); });
            Apartment::Post([&app] { app.quit(); });
        });
        engineThread.join();
        app.exec();
        EXPECT_EQ((Log{"visual", "handler failed", "handler failed"}), guarded);
        // The component is intact: the flush ran each time and it can speak on.
        EXPECT_EQ(2u, service.Calls("File#1.Flush").size());
        service.ClearLog();
        speech->Speak();
        EXPECT_EQ(2u, service.log.size());
    }
    Apartment::SetGuard(nullptr);
    CoUninitialize();
}

}  // namespace
