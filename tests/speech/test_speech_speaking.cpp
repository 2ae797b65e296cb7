// Speaking, pause/resume/stop and the voice parameters, against the recording service.
#include <gtest/gtest.h>

#include "FakeSpeechService.h"
#include "speech/OleCheck.h"
#include "speech/mSpeech.h"
#include "support/Errors.h"

namespace {

using Log = std::vector<std::string>;

class Speaking : public ::testing::Test {
  protected:
    void SetUp() override {
        FakeMode m;
        m.name = "Alpha";
        service.modes = {m};
    }
    // A component attached to the one mode, with output chosen before selecting.
    std::unique_ptr<TMSpeech> Attached(TSpeechOutput output = soGeneral) {
        auto speech = std::make_unique<TMSpeech>();
        speech->SetOutput(output);
        speech->SelectEngine("Alpha");
        EXPECT_TRUE(speech->Selected());
        service.ClearLog();
        return speech;
    }
    FakeCentral& Engine() { return *service.Central(service.CentralCount()); }
    FakeSpeechService service;
};

template <class E>
std::string Raised(const std::function<void()>& f) {
    try {
        f();
    } catch (const E& e) {
        return e.Message();
    }
    return "(nothing raised)";
}

TEST_F(Speaking, HandsTheJoinedLinesOverWithTheirNul) {
    auto speech = Attached();
    speech->Speak();  // empty text: the NUL alone
    speech->Text().AppendLine("");
    speech->Speak();
    speech->Text().ClearLines();
    speech->Text().AppendLine("1 2 3");
    speech->Speak();
    EXPECT_EQ(
        (Log{"Central#1.TextData(0,0,1,BufNotifySink)", "Central#1.TextData(0,0,3,BufNotifySink)",
             "Central#1.TextData(0,0,8,BufNotifySink)"}),
        service.log)
        << "a second Speak queues behind the first: no reset, no resume";
    ASSERT_EQ(3u, Engine().texts.size());
    EXPECT_EQ(std::string("\0", 1), Engine().texts[0]);
    EXPECT_EQ(std::string("\r\n\0", 3), Engine().texts[1]);
    EXPECT_EQ(std::string("1 2 3\r\n\0", 8), Engine().texts[2]);
}

TEST_F(Speaking, SetTextCopiesTheLines) {
    auto speech = Attached();
    TStringList lines;
    lines.AppendLine("one");
    lines.AppendLine("two");
    speech->SetText(lines);
    lines.ClearLines();
    speech->Speak();
    EXPECT_EQ(std::string("one\r\ntwo\r\n\0", 11), Engine().texts.at(0));
}

TEST_F(Speaking, RefusedTextIsAbsorbedSilently) {
    auto speech = Attached();
    service.FailAt("Central.TextData", E_OUTOFMEMORY);
    EXPECT_NO_THROW(speech->Speak());
    EXPECT_TRUE(Engine().texts.empty());
}

TEST_F(Speaking, NoSoundServerIsReportedOnlyForSpeakingAloud) {
    auto speech = Attached();
    service.FailAt("Central.TextData", TTSERR_NOSOUNDSERVER);
    const std::string message = Raised<EMSpeechException>([&] { speech->Speak(); });
    EXPECT_NE(std::string::npos, message.find("No sound server")) << message;
    EXPECT_FALSE(speech->Paused());

    auto file = Attached(soFile);
    file->SetFilename(u"/tmp/out.wav");
    service.FailAt("Central.TextData", TTSERR_NOSOUNDSERVER);
    EXPECT_NO_THROW(file->Speak()) << "a WAV rendering does not need a sound server";
}

TEST_F(Speaking, FileOutputNamesTheFileBeforeEachText) {
    auto speech = Attached(soFile);
    speech->SetFilename(u"/tmp/k\u00e4se.wav");
    speech->Text().AppendLine("a");
    speech->Speak();
    EXPECT_EQ((Log{"File#1.Set(/tmp/k\u00e4se.wav,1)", "Central#1.TextData(0,0,4,BufNotifySink)"}),
              service.log);
}

TEST_F(Speaking, ARefusedFileNameRaisesCannotCreateFile) {
    auto speech = Attached(soFile);
    speech->SetFilename(u"/no/such/dir/\u00fc.wav");
    speech->Pause();
    service.FailAt("File.Set", AUDERR_CANNOTOPENFILE);
    EXPECT_EQ("Cannot create file /no/such/dir/\u00fc.wav",
              Raised<EMSpeechException>([&] { speech->Speak(); }));
    EXPECT_FALSE(speech->Paused());
    EXPECT_TRUE(Engine().texts.empty()) << "nothing is handed over";
}

TEST_F(Speaking, FileOutputWithoutAFileDestinationHandsNothingOver) {
    auto speech = Attached(soGeneral);
    speech->SetOutput(soFile);  // changed after the selection
    EXPECT_NO_THROW(speech->Speak());
    EXPECT_TRUE(service.log.empty());
}

TEST_F(Speaking, SpeakClearsPausedWithoutResuming) {
    auto speech = Attached();
    speech->Pause();
    EXPECT_TRUE(speech->Paused());
    speech->Speak();
    EXPECT_FALSE(speech->Paused());
    EXPECT_EQ((Log{"Central#1.AudioPause", "Central#1.TextData(0,0,1,BufNotifySink)"}),
              service.log);
}

TEST_F(Speaking, PauseResumeStopAndTheirFailures) {
    auto speech = Attached();
    service.FailAt("Central.AudioPause", E_FAIL);
    try {
        speech->Pause();
        ADD_FAILURE() << "a refused pause must raise";
    } catch (const EOleSysError& e) {
        EXPECT_EQ(E_FAIL, e.ErrorCode());
        EXPECT_EQ("Unspecified error", e.Message());
    }
    EXPECT_FALSE(speech->Paused());
    speech->Pause();
    EXPECT_TRUE(speech->Paused());

    service.FailAt("Central.AudioResume", MakeResult(0x80041234u));
    EXPECT_EQ("OLE error 80041234", Raised<EOleSysError>([&] { speech->Resume(); }));
    EXPECT_TRUE(speech->Paused()) << "a failed resume leaves Paused";
    speech->Resume();
    EXPECT_FALSE(speech->Paused());

    speech->Pause();
    service.FailAt("Central.AudioReset", E_UNEXPECTED);
    EXPECT_EQ("Catastrophic failure", Raised<EOleSysError>([&] { speech->Stop(); }));
    EXPECT_FALSE(speech->Paused()) << "Stop clears Paused even when the reset fails";
    speech->Stop();  // nothing speaking: the reset is still sent
    EXPECT_EQ(2u, service.Calls("Central#1.AudioReset").size());
}

TEST_F(Speaking, WithoutAnEngineTheOperationsRaise) {
    TMSpeech speech;  // never selected
    EXPECT_NE("(nothing raised)", Raised<EMSpeechException>([&] { speech.Pause(); }));
    EXPECT_NE("(nothing raised)", Raised<EMSpeechException>([&] { speech.Resume(); }));
    EXPECT_NE("(nothing raised)", Raised<EMSpeechException>([&] { speech.Stop(); }));
    EXPECT_NE("(nothing raised)", Raised<EMSpeechException>([&] { speech.GetPitch(); }));
    EXPECT_NE("(nothing raised)", Raised<EMSpeechException>([&] { speech.SetSpeed(1); }));
    EXPECT_NE("(nothing raised)", Raised<EMSpeechException>([&] { speech.GetVolume(); }));
    EXPECT_EQ("Speech Engine not selected", Raised<EMSpeechException>([&] { speech.Speak(); }));

    // A selection that failed at Select has released the engine, but the attributes of
    // the earlier selection remain and are used.
    speech.SelectEngine("Alpha");
    service.FailAt("Enum.Select", E_FAIL);
    speech.SelectEngine("Alpha");
    EXPECT_FALSE(speech.Selected());
    EXPECT_EQ(100, speech.GetPitch());
    EXPECT_NE("(nothing raised)", Raised<EMSpeechException>([&] { speech.SetPitch(1); }));
    EXPECT_NE("(nothing raised)", Raised<EMSpeechException>([&] { speech.Pause(); }));
}

TEST_F(Speaking, ParametersAreSetByTagsAndReadFromTheAttributes) {
    auto speech = Attached();
    speech->SetPitch(65535);
    speech->SetPitch(0);
    speech->SetSpeed(0);
    speech->SetSpeed(3000000000u);
    speech->SetVolume(100);
    speech->SetVolume(50);
    speech->SetVolume(1);
    speech->SetVolume(0);
    EXPECT_EQ((Log{"Central#1.Inject(\\Pit=65535\\)", "Central#1.Inject(\\Pit=0\\)",
                   "Central#1.Inject(\\Spd=0\\)", "Central#1.Inject(\\Spd=3000000000\\)",
                   "Central#1.Inject(\\Vol=4294967295\\)",
                   "Central#1.Inject(\\Vol=" + std::to_string(32767u * 65536u + 32767u) + "\\)",
                   "Central#1.Inject(\\Vol=" + std::to_string(655u * 65536u + 655u) + "\\)",
                   "Central#1.Inject(\\Vol=0\\)"}),
              service.log);

    service.FailAt("Central.Inject", TTSERR_INVALIDCHAR);
    EXPECT_NO_THROW(speech->SetPitch(5)) << "the engine's answer is not looked at";

    Engine().mode.pitch = 140;
    Engine().mode.speed = 300;
    EXPECT_EQ(140, speech->GetPitch());
    EXPECT_EQ(300u, speech->GetSpeed());
    EXPECT_EQ((Log{"Attr#1.PitchGet", "Attr#1.SpeedGet"}), service.Calls("Attr"));
}

TEST_F(Speaking, VolumeComesBackInPercentOfTheLeftChannel) {
    auto speech = Attached();
    auto reported = [&](DWORD packed) {
        Engine().mode.volume = packed;
        return speech->GetVolume();
    };
    EXPECT_EQ(100u, reported(0x0000FFFFu)) << "left full, right silent";
    EXPECT_EQ(0u, reported(0xFFFF0000u));
    EXPECT_EQ(49u, reported(32767u * 65536u + 32767u));
    // Set then read back exactly: value - 1, except at multiples of 20.
    for (uint32_t v : {0u, 1u, 20u, 33u, 40u, 60u, 80u, 99u, 100u}) {
        const uint32_t level = v * 65535u / 100u;
        const uint32_t back = reported(level | (level << 16));
        EXPECT_EQ(v % 20 == 0 ? v : v - 1, back) << "for " << v;
    }
    service.FailAt("Attr.VolumeGet", E_FAIL);
    Engine().mode.volume = 0xFFFFFFFFu;
    EXPECT_EQ(0u, speech->GetVolume()) << "a failed read gives 0";
}

TEST(OleCheck, PassesSuccessAndRaisesFailuresWithTheSystemText) {
    EXPECT_NO_THROW(OleCheck(S_OK));
    EXPECT_NO_THROW(OleCheck(S_FALSE));
    EXPECT_NO_THROW(OleCheck(0x7FFFFFFF));
    try {
        OleCheck(E_NOINTERFACE);
        ADD_FAILURE();
    } catch (const EOleSysError& e) {
        EXPECT_EQ(E_NOINTERFACE, e.ErrorCode());
        EXPECT_EQ("No such interface supported", e.Message());
    }
    EXPECT_EQ("OLE error 8000ABCD", OleErrorMessage(MakeResult(0x8000ABCDu)));
    EXPECT_EQ("OLE error 80040FFF", OleErrorMessage(MakeResult(0x80040FFFu)));
    EXPECT_EQ("", SysErrorMessage(MakeResult(0x80040FFFu)));
    EXPECT_EQ("Access is denied", SysErrorMessage(E_ACCESSDENIED));
}

TEST(OleCheck, SystemTextsAreCutTo255BytesAndTrimmed) {
    EXPECT_EQ("Done", TrimSystemText("Done. \r\n\t.."));
    EXPECT_EQ("a . b", TrimSystemText("a . b"));
    EXPECT_EQ("", TrimSystemText(" ...\n"));
    std::string longText(300, 'x');
    EXPECT_EQ(255u, TrimSystemText(longText).size());
    std::string cutAtPeriods = std::string(250, 'y') + "....." + "zzzz";
    EXPECT_EQ(std::string(250, 'y'), TrimSystemText(cutAtPeriods));
}

}  // namespace
