// Chapter marks: where each chapter is placed on a render's word times, the cue points a
// WAV or RF64 file takes (or refuses, unchanged), and the chapter files cut from a render.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "books/ChapterFiles.h"
#include "containers/ChapterTags.h"
#include "containers/FileNames.h"
#include "containers/WavCues.h"

namespace containers {
namespace {

std::vector<std::pair<std::string, uint64_t>> Placed(const std::vector<ChapterMark>& marks) {
    std::vector<std::pair<std::string, uint64_t>> out;
    for (const ChapterMark& m : marks) out.emplace_back(m.title, m.startFrame);
    return out;
}

TEST(ChaptersTest, EachBeginsWhereTheSpeechBeforeItEnds) {
    // "One. Two. Three." with chapters at 0, 5 and 10: words at 0, 5, 10, sentence ends.
    const std::vector<ParlenWordTime> whole = {{0, 0},          {4, 900, true}, {5, 1000},
                                               {9, 1900, true}, {10, 2000},     {16, 2900, true}};
    const std::vector<ChapterStart> three = {{"A", 0}, {"B", 5}, {"C", 10}};
    EXPECT_EQ(Placed(PlaceChapters(three, whole, 1000)),
              (std::vector<std::pair<std::string, uint64_t>>{{"A", 0}, {"B", 900}, {"C", 1900}}));
    // Cut short after "Two": the third chapter was never reached.
    const std::span<const ParlenWordTime> cut(whole.data(), 3);
    EXPECT_EQ(Placed(PlaceChapters(three, cut, 1000)).size(), 2u);
    // No sentence end before "Two": its chapter starts at its word, not at "One"'s start.
    const std::vector<ParlenWordTime> untold = {{0, 0}, {5, 1000}, {10, 2000}};
    EXPECT_EQ(Placed(PlaceChapters(three, untold, 1000))[1].second, 1000u);
    // A chapter with no text of its own gets no mark; the next one takes its place.
    const std::vector<ChapterStart> empty = {{"A", 0}, {"B", 5}, {"B2", 5}, {"C", 10}};
    const auto marks = PlaceChapters(empty, whole, 1000);
    EXPECT_EQ(Placed(marks)[1], (std::pair<std::string, uint64_t>{"B2", 900}));
    EXPECT_EQ(marks.back().endFrame, 2900u);
    EXPECT_EQ(marks[1].startMs, 900u);
    EXPECT_EQ(ClockTime(3723004), "01:02:03.004");
}

TEST(ChaptersTest, FileNamesAreSafeEverywhere) {
    const std::string longTitle = std::string(250, 'x') + "\xC3\xA9\xC3\xA9";  // "éé" last
    const struct {
        size_t number, count;
        std::string title, name;
    } cases[] = {
        {1, 9, "Chapter One", "01 Chapter One.mp3"},
        {7, 120, "A: B/C \"d\" <e>|f?*\\", "007 A_ B_C _d_ _e__f___.mp3"},
        {2, 2, " Tabs\tand\n  lines... ", "02 Tabs and lines.mp3"},
        {3, 3, "...", "03 Chapter.mp3"},
        {4, 4, longTitle, "04 " + std::string(248, 'x') + ".mp3"},
        {5, 5, std::string(247, 'x') + "\xC3\xA9", "05 " + std::string(247, 'x') + ".mp3"},
    };
    for (const auto& c : cases) {
        const std::string name = ChapterFileName(c.number, c.count, c.title, "mp3");
        EXPECT_EQ(name, c.name);
        EXPECT_LE(name.size(), 255u);
    }
}

std::string Le(uint64_t v, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(v >> (8 * i) & 0xFF);
    return out;
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(WavCuesTest, RiffAndRf64SizesFollowTheAppendedChunks) {
    char dir[] = "/tmp/parlen-cues-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string data(16000, '\0');  // one second at 8 kHz, 16-bit mono
    const std::string fmt = "fmt " + Le(16, 4) + Le(1, 2) + Le(1, 2) + Le(8000, 4) + Le(16000, 4) +
                            Le(2, 2) + Le(16, 2);
    const std::string riff = "RIFF" + Le(4 + fmt.size() + 8 + data.size(), 4) + "WAVE" + fmt +
                             "data" + Le(data.size(), 4) + data;
    const std::string ds64body =
        Le(4 + 36 + fmt.size() + 8 + data.size(), 8) + Le(data.size(), 8) + Le(8000, 8) + Le(0, 4);
    const std::string rf64 = "RF64" + Le(0xFFFFFFFF, 4) + "WAVE" + "ds64" + Le(28, 4) + ds64body +
                             fmt + "data" + Le(0xFFFFFFFF, 4) + data;
    for (const auto& [name, bytes, sizeAt, sizeBytes] :
         {std::tuple{"riff.wav", riff, 4, 4}, std::tuple{"rf64.wav", rf64, 20, 8}}) {
        const std::string path = std::string(dir) + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        // Marks at 16 kHz land on the file's 8 kHz samples.
        std::vector<ChapterMark> marks = {{"One", 0, 8000, 0, 500}, {"Two", 8000, 8000, 500, 500}};
        ASSERT_EQ(AddWavCues(path, marks, 16000), "") << name;
        const std::string marked = Slurp(path);
        EXPECT_EQ(marked.substr(sizeAt, sizeBytes), Le(marked.size() - 8, sizeBytes)) << name;
        const size_t cue = marked.find("cue ");
        ASSERT_EQ(cue, bytes.size()) << name;
        EXPECT_EQ(marked.substr(cue + 12 + 24 + 20, 4), Le(4000, 4)) << name;
        EXPECT_EQ(marks.back().endMs, 1000u) << "the last chapter ends with the audio";
        // Marked once: a second time is refused and changes nothing.
        EXPECT_EQ(AddWavCues(path, marks, 16000), "it has cue points already");
        EXPECT_EQ(Slurp(path), marked);
    }
    const std::string text = std::string(dir) + "/text.wav";
    std::ofstream(text) << "not audio at all";
    std::vector<ChapterMark> none;
    EXPECT_EQ(AddWavCues(text, none, 8000), "it is not a WAV file");
    EXPECT_EQ(Slurp(text), "not audio at all");
    std::filesystem::remove_all(dir);
}

// Stopped between two chapters, the files finished stay whole and named, and nothing
// half-made or hidden is left; a folder that takes no file is told, named.
TEST(ChapterFilesTest, AStopKeepsTheFinishedFilesOnly) {
    char dir[] = "/tmp/parlen-parts-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string whole = std::string(dir) + "/.whole.wav", data(48000, '\0');
    std::ofstream(whole, std::ios::binary) << "RIFF" + Le(36 + data.size(), 4) + "WAVEfmt " +
                                                  Le(16, 4) + Le(1, 2) + Le(1, 2) + Le(8000, 4) +
                                                  Le(16000, 4) + Le(2, 2) + Le(16, 2) + "data" +
                                                  Le(data.size(), 4) + data;
    const std::vector<ChapterMark> chapters = {
        {"One", 0, 8000, 0, 1000}, {"Two", 8000, 16000, 1000, 2000}, {"Three", 16000, 24000}};
    const auto parts = books::PlanParts(chapters, {}, 24000, 8000, 0, true, "book");
    double done = 0;
    const books::Making making{[&] { return done > 0.3; }, [&](double d) { done = d; }};
    std::string why = "stale";
    std::vector<std::string> written;
    EXPECT_FALSE(books::WriteParts(whole, parts, 8000, dir, FileFormat::Wav, "wav", {}, -1, making,
                                   why, &written));
    EXPECT_EQ(why, "");
    EXPECT_EQ(written.size(), 2u);
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        left.push_back(entry.path().filename());
    EXPECT_EQ(left.size(), 2u);
    EXPECT_EQ(books::RenderFrames(std::string(dir) + "/01 One.wav", 0), 8000u);
    const std::string none = std::string(dir) + "/none";
    EXPECT_FALSE(
        books::WriteParts(whole, parts, 8000, none, FileFormat::Wav, "wav", {}, -1, {}, why));
    EXPECT_EQ(why, "'" + none + "': No such file or directory");
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace containers
