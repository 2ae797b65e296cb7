// Reading the catalogue and attaching an engine mode, against the recording service.
#include <gtest/gtest.h>

#include "FakeSpeechService.h"
#include "platform/ClassRegistry.h"
#include "platform/Guid.h"
#include "speech/mSpeech.h"
#include "support/Errors.h"

namespace {

using Log = std::vector<std::string>;

FakeMode Mode(const std::string& name) {
    FakeMode m;
    m.name = name;
    return m;
}

class Catalogue : public ::testing::Test {
  protected:
    void SetUp() override { service.modes = {Mode("Alpha"), Mode("Beta"), Mode("Gamma")}; }
    void TearDown() override { SetStringFromCLSIDHook(nullptr); }
    FakeSpeechService service;
};

std::string Message(const std::function<void()>& f) {
    try {
        f();
    } catch (const EMSpeechException& e) {
        return e.Message();
    }
    return "(nothing raised)";
}

TEST_F(Catalogue, ConstructionListsEveryModeInEnumerationOrder) {
    TMSpeech speech;
    EXPECT_TRUE(speech.Initialized());
    EXPECT_FALSE(speech.Selected());
    ASSERT_EQ(3, speech.Engines().LineCount());
    EXPECT_EQ("Beta", speech.Engines().LineAt(1));
    EXPECT_EQ((Log{"Create.Enum", "Enum#1.Reset", "Enum#1.Next(1)", "Enum#1.Next(1)",
                   "Enum#1.Next(1)", "Enum#1.Next(1)"}),
              service.log);
    EXPECT_EQ(soGeneral, speech.Output());
    EXPECT_FALSE(speech.Paused());
    EXPECT_EQ(0u, speech.WordPosition());
    EXPECT_EQ("", speech.EngineInfo().ModeName);
    EXPECT_EQ(0, speech.EngineInfo().VolumeMax);
    speech.SetVersion("Other 2.0");
    EXPECT_EQ("Garrow Speech 1.1.0", speech.Version());
}

TEST_F(Catalogue, FailuresWhileReadingKeepTheNamesReadSoFar) {
    {
        UnregisterClassObject(CLSID_TTSEnumerator);  // no speech service at all
        TMSpeech speech;
        EXPECT_FALSE(speech.Initialized());
        EXPECT_EQ(0, speech.Engines().LineCount());
        EXPECT_EQ("Speech Engine not initialized", Message([&] { speech.SelectEngine("Alpha"); }));
        EXPECT_EQ("Speech Engine not initialized", Message([&] { speech.Speak(); }));
    }
    FakeSpeechService empty;  // registers the classes again
    {
        TMSpeech speech;
        EXPECT_TRUE(speech.Initialized()) << "a service without modes is still a service";
        EXPECT_EQ("Specified Speech Engine not found", Message([&] { speech.SelectEngine("x"); }));
    }
    empty.modes = {Mode("Alpha"), Mode("Beta"), Mode("Gamma")};
    empty.FailAt("Enum.Next", E_FAIL, 3);  // after Alpha and Beta
    TMSpeech partly;
    EXPECT_FALSE(partly.Initialized());
    ASSERT_EQ(2, partly.Engines().LineCount());
    EXPECT_EQ("Beta", partly.Engines().LineAt(1));

    empty.FailAt("Enum.Reset", E_UNEXPECTED);
    TMSpeech noReset;
    EXPECT_FALSE(noReset.Initialized());
    EXPECT_EQ(0, noReset.Engines().LineCount());
    EXPECT_EQ("Speech Engine not initialized", Message([&] { noReset.SelectEngine("Alpha"); }));

    empty.FailAt("Create.Enum", REGDB_E_CLASSNOTREG);
    TMSpeech noEnum;
    EXPECT_FALSE(noEnum.Initialized());
}

TEST_F(Catalogue, NamesAreTakenUpToTheFirstNulOrTheWholeField) {
    FakeMode longName = Mode("");
    longName.rawName = std::string(262, 'n');
    FakeMode withNul = Mode("");
    withNul.rawName = std::string("Short\0Rest", 10);
    service.modes = {longName, withNul};
    TMSpeech speech;
    ASSERT_EQ(2, speech.Engines().LineCount());
    EXPECT_EQ(std::string(262, 'n'), speech.Engines().LineAt(0));
    EXPECT_EQ("Short", speech.Engines().LineAt(1));
}

TEST_F(Catalogue, SelectionFollowsThePlatformSequence) {
    TMSpeech speech;
    service.ClearLog();
    speech.SelectEngine("gAMMA");
    ASSERT_TRUE(speech.Selected());
    const Log expected = {"Create.Device",
                          "Enum#1.Reset",
                          "Enum#1.Skip(2)",
                          "Enum#1.Next(1)",
                          "Enum#1.Select(Gamma,Device#1)",
                          "Central#1.QueryInterface(Attributes)",
                          "Central#1.QueryInterface(Dialogs)",
                          "Central#1.Register(NotifySink)",
                          "Central#1.key(101)"};
    ASSERT_GE(service.log.size(), expected.size());
    EXPECT_EQ(expected, Log(service.log.begin(), service.log.begin() + expected.size()));
    // Then only the 18 probing calls.
    EXPECT_EQ(expected.size() + 18, service.log.size());

    const TMSpeechEngineInfo& info = speech.EngineInfo();
    EXPECT_EQ("Gamma", info.ModeName);
    EXPECT_EQ("English (America)", info.Dialect);
    EXPECT_EQ("Fake Voices", info.Manufacturer);
    EXPECT_EQ("Fake Engine", info.Product);
    EXPECT_EQ(GuidToString(GuidFromName("fake-mode/Gamma")), info.ModeID);
    EXPECT_EQ(GuidToString(GuidFromName("fake-engine/Fake Voices")), info.EngineID);
    EXPECT_EQ(38u, info.ModeID.size());
    EXPECT_EQ("speaker", info.Speaker);
    EXPECT_EQ("plain", info.Style);
    EXPECT_EQ("FEMALE", info.Gender);
    EXPECT_EQ(30u, info.Age);
    EXPECT_EQ(0x5u, info.Features);
    EXPECT_EQ(0x3u, info.Interfaces);
    EXPECT_EQ(100, info.VolumeMax);
    EXPECT_EQ(0, info.VolumeMin);
}

TEST_F(Catalogue, FileOutputHandsTheFileDestinationToTheEngine) {
    TMSpeech speech;
    speech.SetOutput(soFile);
    service.ClearLog();
    speech.SelectEngine("Alpha");
    EXPECT_TRUE(speech.Selected());
    EXPECT_EQ("Create.File", service.log.front());
    EXPECT_GE(service.IndexOf("Enum#1.Select(Alpha,File#1)"), 0);
}

TEST_F(Catalogue, ProbingFindsTheClampedRangesAndRestoresEachValue) {
    service.modes[1].pitch = 120;
    service.modes[1].rate = 150;
    service.modes[1].speed = 200;
    TMSpeech speech;
    speech.SelectEngine("Beta");
    const Log probe = {"Attr#1.PitchGet",    "Attr#1.PitchSet(65535)",
                       "Attr#1.PitchGet",    "Attr#1.PitchSet(0)",
                       "Attr#1.PitchGet",    "Attr#1.PitchSet(120)",
                       "Attr#1.RealTimeGet", "Attr#1.RealTimeSet(4294967295)",
                       "Attr#1.RealTimeGet", "Attr#1.RealTimeSet(0)",
                       "Attr#1.RealTimeGet", "Attr#1.RealTimeSet(150)",
                       "Attr#1.SpeedGet",    "Attr#1.SpeedSet(4294967295)",
                       "Attr#1.SpeedGet",    "Attr#1.SpeedSet(0)",
                       "Attr#1.SpeedGet",    "Attr#1.SpeedSet(200)"};
    EXPECT_EQ(probe, service.Calls("Attr"));
    const TMSpeechEngineInfo& info = speech.EngineInfo();
    EXPECT_EQ(200, info.PitchMax);
    EXPECT_EQ(50, info.PitchMin);
    EXPECT_EQ(400u, info.RealTimeMax);
    EXPECT_EQ(10u, info.RealTimeMin);
    EXPECT_EQ(450u, info.SpeedMax);
    EXPECT_EQ(80u, info.SpeedMin);
    FakeCentral* engine = service.Central(1);
    EXPECT_EQ(120, engine->mode.pitch);
    EXPECT_EQ(150u, engine->mode.rate);
    EXPECT_EQ(200u, engine->mode.speed);
}

TEST_F(Catalogue, ProbingResultsAreNotChecked) {
    service.FailAt("Attr.PitchGet", E_FAIL, 0);
    service.FailAt("Attr.SpeedSet", E_FAIL, 0);
    TMSpeech speech;
    speech.SelectEngine("Alpha");
    EXPECT_TRUE(speech.Selected());
    EXPECT_EQ(18u, service.Calls("Attr").size());
    EXPECT_EQ(0, speech.EngineInfo().PitchMax);
}

TEST_F(Catalogue, SelectingAgainReplacesEverythingAndUnregistersTheFirstKey) {
    TMSpeech speech;
    speech.SelectEngine("Alpha");
    service.modes[0].pitch = 77;  // the second engine starts from another pitch
    service.ClearLog();
    speech.SelectEngine("Alpha");
    ASSERT_TRUE(speech.Selected());
    // The old destination goes first, then the registration of the first engine.
    EXPECT_EQ("Device#1.destroyed", service.log[0]);
    EXPECT_EQ("Create.Device", service.log[1]);
    EXPECT_EQ("Central#1.UnRegister(101)", service.log[2]);
    EXPECT_EQ("Enum#1.Reset", service.log[3]);
    // The first engine object dies when the last reference to it goes: Central before
    // Select, then Attributes, then Dialogs as each is replaced.
    const int select = service.IndexOf("Enum#1.Select(Alpha,Device#2)");
    const int firstGone = service.IndexOf("Central#1.destroyed");
    EXPECT_LT(select, service.IndexOf("Central#2.QueryInterface(Attributes)"));
    EXPECT_LT(service.IndexOf("Central#2.QueryInterface(Attributes)"), firstGone);
    EXPECT_LT(firstGone, service.IndexOf("Central#2.QueryInterface(Dialogs)"));
    EXPECT_GE(service.IndexOf("Central#2.key(102)"), 0);
    EXPECT_EQ(nullptr, service.Central(1));
    EXPECT_EQ("Attr#2.PitchSet(77)", service.Calls("Attr#2")[5]);
    // The new engine has the only registration, with fresh notification objects.
    ASSERT_EQ(1u, service.Central(2)->registered.size());
}

TEST_F(Catalogue, SelectingAnUnlistedNameChangesNothing) {
    TMSpeech speech;
    speech.SelectEngine("Alpha");
    service.ClearLog();
    EXPECT_EQ("Specified Speech Engine not found", Message([&] { speech.SelectEngine("Alpha "); }));
    EXPECT_TRUE(speech.Selected());
    EXPECT_TRUE(service.log.empty());
}

TEST_F(Catalogue, TwoModesWithOneNameSelectTheFirst) {
    service.modes = {Mode("Twin"), Mode("Twin")};
    service.modes[1].dialect = "second";
    TMSpeech speech;
    speech.SelectEngine("TWIN");
    EXPECT_GE(service.IndexOf("Enum#1.Skip(0)"), 0);
    EXPECT_EQ("English (America)", speech.EngineInfo().Dialect);
}

// Each step that can fail, and what is left afterwards.
struct StepFailure {
    const char* call;
    int occurrence;   // of that call during the second selection
    bool firstAlive;  // some reference still holds the first engine object
    int pauseGoesTo;  // which engine Central now refers to (0: none)
};

class SelectionFailure : public Catalogue, public ::testing::WithParamInterface<StepFailure> {};

TEST_P(SelectionFailure, IsAbsorbedAndLeavesTheStepsDone) {
    const StepFailure& step = GetParam();
    service.modes[1].gender = GENDER_MALE;
    TMSpeech speech;
    speech.SelectEngine("Alpha");
    ASSERT_TRUE(speech.Selected());
    service.FailAt(step.call, E_FAIL, step.occurrence);
    service.ClearLog();
    EXPECT_NO_THROW(speech.SelectEngine("Beta"));
    EXPECT_FALSE(speech.Selected());
    // The previous registration is gone whatever failed (the destination comes first).
    if (std::string(step.call) != "Create.Device") {
        EXPECT_GE(service.IndexOf("Central#1.UnRegister(101)"), 0);
    }
    EXPECT_EQ(step.firstAlive, service.Central(1) != nullptr);
    if (step.pauseGoesTo == 0) {
        EXPECT_THROW(speech.Pause(), EMSpeechException);
    } else {
        speech.Pause();
        EXPECT_EQ(
            1u,
            service.Calls("Central#" + std::to_string(step.pauseGoesTo) + ".AudioPause").size());
    }
    EXPECT_EQ("Alpha", speech.EngineInfo().ModeName) << "EngineInfo is read last";
    EXPECT_EQ("FEMALE", speech.EngineInfo().Gender) << "Gender comes after the conversions";
    // Speaking needs a selection.
    EXPECT_EQ("Speech Engine not selected", Message([&] { speech.Speak(); }));
}

INSTANTIATE_TEST_SUITE_P(EachStep, SelectionFailure,
                         ::testing::Values(StepFailure{"Create.Device", 1, true, 1},
                                           StepFailure{"Enum.Reset", 1, true, 1},
                                           StepFailure{"Enum.Skip", 1, true, 1},
                                           StepFailure{"Enum.Next", 1, true, 1},
                                           StepFailure{"Enum.Select", 1, true, 0},
                                           StepFailure{"Central.QueryInterface", 1, true, 2},
                                           StepFailure{"Central.QueryInterface", 2, false, 2},
                                           StepFailure{"Central.Register", 1, false, 2}),
                         [](const auto& info) {
                             std::string n = info.param.call;
                             std::erase(n, '.');
                             return n + std::to_string(info.param.occurrence);
                         });

TEST_F(Catalogue, AFailedConversionLeavesTheFirstFourTextsRewritten) {
    TMSpeech speech;
    speech.SelectEngine("Alpha");
    service.modes[1].dialect = "Beta dialect";
    service.modes[1].speaker = "Beta speaker";
    SetStringFromCLSIDHook([](const CLSID&, std::string&) { return E_OUTOFMEMORY; });
    speech.SelectEngine("Beta");
    EXPECT_FALSE(speech.Selected());
    EXPECT_EQ("Beta", speech.EngineInfo().ModeName);
    EXPECT_EQ("Beta dialect", speech.EngineInfo().Dialect);
    EXPECT_EQ("speaker", speech.EngineInfo().Speaker);
    EXPECT_EQ(GuidToString(GuidFromName("fake-mode/Alpha")), speech.EngineInfo().ModeID);
    EXPECT_TRUE(service.Calls("Attr#2").empty()) << "no probing after a failed conversion";
}

TEST_F(Catalogue, AnEngineWithoutDialogsCannotBeSelected) {
    service.modes[0].answersDialogs = false;
    TMSpeech speech;
    speech.SelectEngine("Alpha");
    EXPECT_FALSE(speech.Selected());
    EXPECT_EQ(-1, service.IndexOf("Central#1.Register(NotifySink)"));
    // The attribute reference obtained before the refusal is still used.
    EXPECT_EQ(100, speech.GetPitch());
}

TEST_F(Catalogue, AModeThatVanishedSinceReadingIsASelectionFailure) {
    TMSpeech speech;
    service.modes.pop_back();
    service.ClearLog();
    speech.SelectEngine("Gamma");
    EXPECT_FALSE(speech.Selected());
    EXPECT_EQ(-1, service.IndexOf("Enum#1.Select(Gamma,Device#1)"));
    EXPECT_EQ("", speech.EngineInfo().ModeName);
}

TEST_F(Catalogue, UnknownGenderKeepsThePreviousWord) {
    service.modes[0].gender = 3;
    service.modes[1].gender = GENDER_MALE;
    service.modes[2].gender = 3;
    TMSpeech speech;
    speech.SelectEngine("Alpha");
    EXPECT_EQ("", speech.EngineInfo().Gender);
    speech.SelectEngine("Beta");
    EXPECT_EQ("MALE", speech.EngineInfo().Gender);
    speech.SelectEngine("Gamma");
    EXPECT_TRUE(speech.Selected());
    EXPECT_EQ("MALE", speech.EngineInfo().Gender);
}

TEST_F(Catalogue, DestructionReleasesEveryPlatformObjectWithoutFurtherCalls) {
    {
        TMSpeech speech;
        speech.SelectEngine("Alpha");
        service.ClearLog();
    }
    Log gone = service.log;
    std::sort(gone.begin(), gone.end());
    EXPECT_EQ((Log{"Central#1.destroyed", "Device#1.destroyed", "Enum#1.destroyed"}), gone);
}

}  // namespace
