// The measuring programs report every figure they own, as a number or as an error with
// its reason, so that bench.sh never loses a line to a failed measurement.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>

namespace {

const char* kText = "/usr/share/common-licenses/GPL-3";

struct Result {
    int code = -1;
    std::string out;
};

Result RunBench(const std::string& env, const std::string& args,
                const char* program = "bench_speech") {
    const char* bin = std::getenv("PARLEN_BIN_DIR");
    const std::string command =
        env + " '" + std::string(bin ? bin : ".") + "/" + program + "' " + args + " 2>/dev/null";
    Result r;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return r;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, p)) r.out += buffer;
    const int status = pclose(p);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::string VoiceArgs(const std::string& mode, const std::string& voice) {
    return mode + " --voice '" + voice + "' --text " + kText + " --dir '" + testing::TempDir() +
           "'";
}

TEST(BenchSpeech, AFailedMeasurementStillNamesEachOfItsFigures) {
    const Result first = RunBench("", VoiceArgs("first-audio", "no such voice"));
    EXPECT_EQ(1, first.code);
    EXPECT_EQ("first_audio_ms_1MB: error no voice no such voice\n", first.out);
    const Result sync = RunBench("", VoiceArgs("word-sync", "no such voice"));
    EXPECT_EQ(1, sync.code);
    EXPECT_EQ(0u, sync.out.find("word_sync_error_ms_p95: error "));
    const Result silence = RunBench("", VoiceArgs("pause-stop", "no such voice"));
    EXPECT_EQ(1, silence.code);
    EXPECT_EQ(
        "pause_to_silence_ms: error no voice no such voice\n"
        "stop_to_silence_ms: error no voice no such voice\n"
        "resume_start_after_sound_ms: error no voice no such voice\n",
        silence.out);
}

TEST(BenchWindow, AFailedMeasurementStillNamesEachOfItsFigures) {
    const Result stalls =
        RunBench("QT_QPA_PLATFORM=offscreen", VoiceArgs("stalls", "no such voice"), "bench_window");
    EXPECT_EQ(1, stalls.code);
    EXPECT_EQ(
        "stall_load_5MB_ms: error no voice no such voice\n"
        "stall_speak_click_5MB_ms: error no voice no such voice\n"
        "stall_save_click_5MB_ms: error no voice no such voice\n"
        "stall_speaking_ms: error no voice no such voice\n"
        "stall_rendering_ms: error no voice no such voice\n"
        "stall_load_5MB_document_ms: error no voice no such voice\n",
        stalls.out);
    const Result sync = RunBench("QT_QPA_PLATFORM=offscreen",
                                 VoiceArgs("word-sync", "no such voice"), "bench_window");
    EXPECT_EQ(1, sync.code);
    EXPECT_EQ("window_word_sync_error_ms_p95: error no voice no such voice\n", sync.out);
    EXPECT_EQ(2, RunBench("", VoiceArgs("no-such-measurement", "x"), "bench_window").code);
}

TEST(BenchSpeech, BadArgumentsAreAUsageError) {
    EXPECT_EQ(2, RunBench("", "first-audio --voice x --text /nonexistent/text").code);
    EXPECT_EQ(2, RunBench("", "first-audio --text " + std::string(kText)).code);
    EXPECT_EQ(2, RunBench("", VoiceArgs("no-such-measurement", "x")).code);
}

TEST(BenchSpeech, WithoutASoundServerTheFigureIsAnError) {
    const Result r = RunBench("PULSE_SERVER=unix:/nonexistent/pulse",
                              VoiceArgs("first-audio", "English (Great Britain) - espeak-ng"));
    EXPECT_NE(0, r.code);
    EXPECT_TRUE(std::regex_match(r.out, std::regex("first_audio_ms_1MB: error .+\n"))) << r.out;
}

TEST(BenchSpeech, FirstSoundIsAPlausibleNumber) {
    if (!std::getenv("PULSE_SERVER")) GTEST_SKIP() << "no sound server";
    const Result r = RunBench("", VoiceArgs("first-audio", "English (Great Britain) - espeak-ng"));
    ASSERT_EQ(0, r.code) << r.out;
    std::smatch m;
    ASSERT_TRUE(std::regex_match(r.out, m, std::regex("first_audio_ms_1MB: (-?[0-9.]+) ms\n")))
        << r.out;
    const double ms = std::stod(m[1]);
    EXPECT_GT(ms, 0);
    EXPECT_LT(ms, 1000);
}

}  // namespace
