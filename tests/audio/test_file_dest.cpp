// The file destination: files that libsndfile (and, for compressed ones, ffprobe and
// ffmpeg) read back, whatever happens.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "Unprivileged.h"
#include "platform/ClassRegistry.h"
#include "platform/audio/FileDest.h"
#include "platform/audio/M4bStream.h"
#include "platform/audio/Mp3Frames.h"
#include "platform/audio/Mp3Stream.h"
#include "platform/audio/Rf64.h"
#include "platform/service/SpeechService.h"

namespace {
namespace fs = std::filesystem;

struct WavInfo {
    bool ok = false;
    SF_INFO info{};
    std::vector<int16_t> samples;
};

WavInfo ReadWav(const fs::path& path) {
    WavInfo w;
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &w.info);
    if (!f) return w;
    w.samples.resize(size_t(w.info.frames));
    w.ok = sf_read_short(f, w.samples.data(), w.info.frames) == w.info.frames;
    sf_close(f);
    return w;
}

std::vector<int16_t> Ramp(size_t n, int start = 0) {
    std::vector<int16_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = int16_t((start + int(i)) * 7);
    return v;
}

// What a shell command prints, and whether it succeeded.
std::pair<bool, std::string> Run(const std::string& command) {
    std::string out;
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p) return {false, out};
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    return {::pclose(p) == 0, out};
}

// A decoder reads the whole file without complaint; its duration and tags as ffprobe
// gives them.
std::string Probe(const fs::path& path) {
    const auto [decodes, errors] = Run("ffmpeg -v error -i '" + path.string() + "' -f null -");
    if (!decodes || !errors.empty()) return "undecodable: " + errors;
    return Run("ffprobe -v error -show_entries format=duration:format_tags=title,artist,"
               "comment,software:stream_tags=title,artist,encoder,software "
               "-of default=nw=1:nk=0 '" +
               path.string() + "'")
        .second;
}

double Duration(const std::string& probe) {
    const size_t at = probe.find("duration=");
    return at == std::string::npos ? -1 : std::atof(probe.c_str() + at + 9);
}

std::vector<int16_t> Voice(size_t n) {
    std::vector<int16_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = int16_t(9000 * std::sin(i * 0.07) * std::sin(i * 4e-4));
    return v;
}

bool WaitUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 500 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

class FileDestTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("parlen-wav-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
        dest_ = MakeCom<FileDest>();
    }
    void TearDown() override {
        dest_ = nullptr;
        fs::remove_all(dir_);
    }
    HRESULT SetName(const fs::path& p) { return dest_->Set(p.u16string().c_str(), 1); }
    fs::path dir_;
    ComPtr<FileDest> dest_;
};

TEST_F(FileDestTest, WrittenFramesFormTheWavAndMarksRunAsTheyAreWritten) {
    ASSERT_EQ(S_OK, dest_->Open(16000));
    auto path = dir_ / "out.wav";
    ASSERT_EQ(S_OK, SetName(path)) << dest_->LastError();
    EXPECT_FALSE(fs::exists(path)) << "the name appears only when the file is complete";
    std::vector<uint64_t> ran;
    dest_->AddMark(1500, [&] { ran.push_back(1500); });
    dest_->AddMark(500, [&] { ran.push_back(500); });
    dest_->AddMark(500, [&] { ran.push_back(501); });  // same frame: in the order added
    auto data = Ramp(2000);
    EXPECT_GE(dest_->Room(), size_t{1} << 16) << "a file takes audio at full speed";
    ASSERT_EQ(S_OK, dest_->Write(data.data(), 400));
    EXPECT_TRUE(ran.empty());
    ASSERT_EQ(S_OK, dest_->Write(data.data() + 400, 1600));
    EXPECT_EQ((std::vector<uint64_t>{500, 501, 1500}), ran);
    dest_->AddMark(1000, [&] { ran.push_back(1000); });  // already written: runs at once
    EXPECT_EQ(4u, ran.size());
    EXPECT_EQ(2000u, dest_->WrittenFrames());
    dest_->EndOfData();
    ASSERT_EQ(S_OK, dest_->Flush());
    auto wav = ReadWav(path);
    ASSERT_TRUE(wav.ok);
    EXPECT_EQ(16000, wav.info.samplerate);
    EXPECT_EQ(1, wav.info.channels);
    EXPECT_EQ(SF_FORMAT_WAV | SF_FORMAT_PCM_16, wav.info.format);
    EXPECT_EQ(data, wav.samples);
    EXPECT_EQ(AUDERR_WRITEFAILED, dest_->Write(data.data(), 10)) << "completed file takes no more";
}

TEST_F(FileDestTest, BadNamesFailAndCreateNothing) {
    EXPECT_EQ(AUDERR_CANNOTOPENFILE, SetName(dir_ / "missing" / "out.wav"));
    EXPECT_FALSE(fs::exists(dir_ / "missing"));
    EXPECT_NE(std::string::npos, dest_->LastError().find("missing")) << dest_->LastError();
    EXPECT_EQ(AUDERR_CANNOTOPENFILE, SetName(dir_)) << "a folder is no file";
    EXPECT_EQ(AUDERR_CANNOTOPENFILE, dest_->Set(u"", 1));
    EXPECT_EQ(E_POINTER, dest_->Set(nullptr, 1));
    // A folder the user may not write to; permissions do not bind root, so the
    // attempt runs as an ordinary user.
    fs::create_directory(dir_ / "locked");
    fs::permissions(dir_, fs::perms::others_exec, fs::perm_options::add);
    fs::permissions(dir_ / "locked", fs::perms::owner_read | fs::perms::owner_exec |
                                         fs::perms::others_read | fs::perms::others_exec);
    const int status = RunUnprivileged([&] {
        ComPtr<FileDest> dest = MakeCom<FileDest>();
        const std::u16string name = (dir_ / "locked" / "out.wav").u16string();
        if (dest->Set(name.c_str(), 1) != AUDERR_CANNOTOPENFILE) return 1;
        return dest->LastError().find("locked") == std::string::npos ? 2 : 0;
    });
    EXPECT_EQ(0, status) << "1: the file was made, 2: the message does not name it";
    EXPECT_FALSE(fs::exists(dir_ / "locked" / "out.wav"));
    int16_t frame = 1;
    EXPECT_EQ(AUDERR_WRITEFAILED, dest_->Write(&frame, 1)) << "no file named";
    bool ran = false;
    dest_->AddMark(10, [&] { ran = true; });
    EXPECT_TRUE(ran) << "without a file nothing is written, so a mark must not wait";
    EXPECT_EQ(S_OK, dest_->Flush()) << "nothing to complete";
}

TEST_F(FileDestTest, NameIsTakenInTheLocaleForm) {
    auto path = dir_ / fs::path(u8"stimme-\u00e4\u00df.wav");
    ASSERT_EQ(S_OK, SetName(path)) << dest_->LastError();
    EXPECT_EQ(path.string(), dest_->FileName());
    ASSERT_EQ(S_OK, dest_->Flush());
    EXPECT_TRUE(fs::exists(path));
}

TEST_F(FileDestTest, RateFollowsOpenWhileTheFileIsEmpty) {
    auto path = dir_ / "rate.wav";
    ASSERT_EQ(S_OK, SetName(path));  // before the engine opened: default rate
    ASSERT_EQ(S_OK, dest_->Open(11025));
    auto data = Ramp(100);
    ASSERT_EQ(S_OK, dest_->Write(data.data(), data.size()));
    EXPECT_EQ(S_OK, dest_->Open(11025));
    EXPECT_EQ(E_INVALIDARG, dest_->Open(22050)) << "one file holds one rate";
    ASSERT_EQ(S_OK, dest_->Flush());
    auto wav = ReadWav(path);
    ASSERT_TRUE(wav.ok);
    EXPECT_EQ(11025, wav.info.samplerate);
    EXPECT_EQ(data, wav.samples);
}

TEST_F(FileDestTest, CancelledReplacedOrAbandonedFilesAreComplete) {
    auto data = Ramp(3000);
    ASSERT_EQ(S_OK, dest_->Open(22050));
    // Cancelled: Reset keeps what was rendered and drops marks still pending.
    ASSERT_EQ(S_OK, SetName(dir_ / "a.wav"));
    ASSERT_EQ(S_OK, dest_->Write(data.data(), 1000));
    bool dropped = false;
    dest_->AddMark(5000, [&] { dropped = true; });
    ASSERT_EQ(S_OK, dest_->Reset());
    ASSERT_EQ(S_OK, dest_->Flush());
    EXPECT_FALSE(dropped) << "Reset drops pending marks without running them";
    // Replaced: a second Set completes the file before it.
    ASSERT_EQ(S_OK, SetName(dir_ / "b.wav"));
    ASSERT_EQ(S_OK, dest_->Write(data.data(), 2000));
    ASSERT_EQ(S_OK, SetName(dir_ / "c.wav"));
    ASSERT_EQ(S_OK, dest_->Write(data.data(), 3000));
    EXPECT_EQ(6000u, dest_->WrittenFrames()) << "the time line runs on across files";
    // Abandoned mid-render: released without Flush.
    dest_ = nullptr;
    for (auto [name, frames] : {std::pair{"a.wav", 1000}, {"b.wav", 2000}, {"c.wav", 3000}}) {
        auto wav = ReadWav(dir_ / name);
        ASSERT_TRUE(wav.ok) << name;
        EXPECT_EQ(std::vector<int16_t>(data.begin(), data.begin() + frames), wav.samples) << name;
    }
}

TEST_F(FileDestTest, SetTruncatesAnOldFile) {
    auto path = dir_ / "old.wav";
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::vector<char> junk(100000, 'x');
        std::fwrite(junk.data(), 1, junk.size(), f);
        std::fclose(f);
    }
    ASSERT_EQ(S_OK, SetName(path));
    auto data = Ramp(10);
    ASSERT_EQ(S_OK, dest_->Write(data.data(), data.size()));
    ASSERT_EQ(S_OK, dest_->Flush());
    EXPECT_LT(fs::file_size(path), 200u);
    EXPECT_EQ(data, ReadWav(path).samples);
}

TEST_F(FileDestTest, PauseHoldsRenderingAndMarks) {
    ASSERT_EQ(S_OK, SetName(dir_ / "p.wav"));
    int rooms = 0;
    dest_->SetRoomCallback([&] { ++rooms; });
    ASSERT_EQ(S_OK, dest_->Pause());
    EXPECT_EQ(0u, dest_->Room());
    auto data = Ramp(100);
    ASSERT_EQ(S_OK, dest_->Write(data.data(), data.size()));
    bool ran = false;
    dest_->AddMark(50, [&] { ran = true; });
    EXPECT_FALSE(ran);
    ASSERT_EQ(S_OK, dest_->Resume());
    EXPECT_TRUE(ran);
    EXPECT_EQ(1, rooms);
    EXPECT_GT(dest_->Room(), 0u);
}

// A dropped mark may hold the last reference to an engine whose release calls back
// into the destination: it is let go only after the destination's lock.
TEST(FileDestDeathTest, DroppedMarkIsReleasedOutsideTheLock) {
    EXPECT_EXIT(
        {
            ::alarm(5);  // a deadlock ends the child
            auto dest = MakeCom<FileDest>();
            struct CallsBack {
                FileDest* dest;
                ~CallsBack() { dest->WrittenFrames(); }
            };
            auto last = std::make_shared<CallsBack>(dest.Get());
            dest->Pause();  // so that the mark waits
            dest->AddMark(10, [last] {});
            last.reset();
            dest->Reset();
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

// A disk that fills up: the file-size limit makes writes past it fail the way a
// full disk does, while rewriting the header in place still works.
TEST_F(FileDestTest, FullDiskFailsTheWriteAndLeavesAValidFile) {
    auto path = dir_ / "full.wav";
    ASSERT_EQ(S_OK, dest_->Open(22050));
    ASSERT_EQ(S_OK, SetName(path));
    auto data = Ramp(20000);
    ASSERT_EQ(S_OK, dest_->Write(data.data(), 1000));
    bool lateMark = false;
    dest_->AddMark(15000, [&] { lateMark = true; });

    rlimit saved{};
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 44 + 2 * 5000;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limited));
    HRESULT hr = S_OK;
    size_t pos = 1000;
    while (hr == S_OK && pos < data.size()) {
        hr = dest_->Write(data.data() + pos, 1000);
        pos += 1000;
    }
    std::string why = dest_->LastError();
    uint64_t written = dest_->WrittenFrames();
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &saved));
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(AUDERR_WRITEFAILED, hr);
    EXPECT_EQ("Cannot write file " + path.string() + ": " + std::strerror(EFBIG), why);
    EXPECT_TRUE(lateMark) << "nothing more will be written: waiting marks run";
    EXPECT_LE(written, 5000u);
    EXPECT_GE(written, 4000u);
    auto wav = ReadWav(path);
    ASSERT_TRUE(wav.ok) << "the file must stay valid";
    EXPECT_EQ(written, uint64_t(wav.info.frames));
    EXPECT_TRUE(std::equal(wav.samples.begin(), wav.samples.end(), data.begin()));
    EXPECT_EQ(AUDERR_WRITEFAILED, dest_->Write(data.data(), 10));
}

// Files that fit the plain header stay plain; past it, the same file made RF64 in
// place, by inserting room or by moving the data, reads back whole.
TEST_F(FileDestTest, PlainFilesStayPlainAndPromotedOnesReadBackAsRf64) {
    auto plain = dir_ / "plain.wav";
    ASSERT_EQ(S_OK, dest_->Open(22050));
    ASSERT_EQ(S_OK, SetName(plain));
    auto data = Ramp(3001);
    ASSERT_EQ(S_OK, dest_->Write(data.data(), data.size()));
    ASSERT_EQ(S_OK, dest_->Flush());
    EXPECT_EQ(44u + 2 * data.size(), fs::file_size(plain)) << "the plain 44-byte header";
    for (bool insert : {true, false}) {
        auto rf64 = dir_ / (insert ? "inserted.wav" : "moved.wav");
        fs::copy_file(plain, rf64);
        std::string error;
        ASSERT_TRUE(Rf64::Promote(rf64.string(), error, insert)) << error;
        auto wav = ReadWav(rf64);
        ASSERT_TRUE(wav.ok) << rf64;
        EXPECT_EQ(SF_FORMAT_RF64 | SF_FORMAT_PCM_16, wav.info.format) << rf64;
        EXPECT_EQ(data, wav.samples) << rf64;
        EXPECT_FALSE(Rf64::Promote(rf64.string(), error)) << "no plain header any more";
    }
}

// Each extension gives its format, named after the text and voice; marks run once
// their frames are encoded, and a queue that is full offers no room.
TEST_F(FileDestTest, ExtensionsChooseTheFormatAndCompressedFilesCarryTags) {
    const auto audio = Voice(22050 * 3);
    const std::string longLine(120, 'x');
    for (auto [name, major] : {std::pair{"a.FLAC", SF_FORMAT_FLAC},
                               {"b.ogg", SF_FORMAT_OGG},
                               {"c.oga", SF_FORMAT_OGG},
                               {"d.opus", SF_FORMAT_OGG},
                               {"e.mp3", SF_FORMAT_MPEG},
                               {"f.txt", SF_FORMAT_WAV}}) {
        SCOPED_TRACE(name);
        dest_ = MakeCom<FileDest>();
        ASSERT_EQ(S_OK, dest_->Open(22050));
        ASSERT_EQ(S_OK, SetName(dir_ / name)) << dest_->LastError();
        dest_->BeginText(" \n  \t\n  \u00e9t\u00e9 " + longLine + "\nsecond", "Voice A");
        std::atomic<bool> ran{false};
        dest_->AddMark(22050 * 3 - 1, [&] { ran = true; });
        size_t pos = 0;
        while (pos < audio.size()) {
            const size_t n = std::min({dest_->Room(), audio.size() - pos, size_t{8192}});
            if (n == 0) {
                ASSERT_TRUE(WaitUntil([&] { return dest_->Room() > 0; })) << "the queue drains";
                continue;
            }
            ASSERT_EQ(S_OK, dest_->Write(audio.data() + pos, n));
            pos += n;
        }
        EXPECT_TRUE(WaitUntil([&] { return ran.load(); }));
        EXPECT_EQ(audio.size(), dest_->HeardFrames());
        ASSERT_EQ(S_OK, dest_->Flush()) << dest_->LastError();
        auto back = ReadWav(dir_ / name);
        ASSERT_TRUE(back.ok);
        EXPECT_EQ(major, back.info.format & SF_FORMAT_TYPEMASK);
        if (major == SF_FORMAT_WAV) continue;  // byte for byte as before: no tags
        const std::string probe = Probe(dir_ / name);
        EXPECT_NEAR(3.0, Duration(probe), 0.1) << probe;
        EXPECT_NE(std::string::npos, probe.find("=\u00e9t\u00e9 " + std::string(96, 'x') + "\n"))
            << "first non-blank line, 100 characters: " << probe;
        EXPECT_NE(std::string::npos, probe.find("=Voice A\n")) << probe;
        EXPECT_NE(std::string::npos, probe.find("=Parlen Maker " PARLEN_VERSION)) << probe;
    }
}

// MP3 and AAC encoded in pieces on several threads: the decoder gives back exactly the
// samples handed in, in place, and the joins between pieces sound like the rest.
TEST_F(FileDestTest, PiecesJoinIntoOneStream) {
    for (auto [ext, piece] : {std::pair{".mp3", Mp3Stream::kPieceFrames * 576},
                              {".m4b", M4bStream::kPieceFrames * 1024}}) {
        SCOPED_TRACE(ext);
        const auto audio = Voice(piece * 3 + 1000);
        const fs::path joined = dir_ / (std::string("joined") + ext);
        dest_ = MakeCom<FileDest>();
        ASSERT_EQ(S_OK, dest_->Open(22050));
        ASSERT_EQ(S_OK, SetName(joined));
        for (size_t pos = 0; pos < audio.size();) {
            WaitUntil([&] { return dest_->Room() > 0; });
            const size_t n = std::min(dest_->Room(), audio.size() - pos);
            ASSERT_EQ(S_OK, dest_->Write(audio.data() + pos, n));
            pos += n;
        }
        ASSERT_EQ(S_OK, dest_->Flush()) << dest_->LastError();
        const auto back = ::Run("ffmpeg -v error -i '" + joined.string() + "' -f s16le -");
        ASSERT_TRUE(back.first) << back.second;
        // FFmpeg's MP4 reader plays the last AAC frame whole, past the end the file gives.
        const size_t tail = ext == std::string(".m4b") ? 1024 : 1;
        ASSERT_GE(back.second.size(), audio.size() * 2) << "the encoder's delay and padding";
        ASSERT_LT(back.second.size(), (audio.size() + tail) * 2)
            << "the encoder's delay and padding";
        const auto* decoded = reinterpret_cast<const int16_t*>(back.second.data());
        // Mean squared error over a stretch around each join, and over the whole.
        const auto error = [&](size_t from, size_t to) {
            double sum = 0;
            for (size_t i = from; i < to; ++i) sum += std::pow(decoded[i] - audio[i], 2);
            return sum / double(to - from);
        };
        const double whole = error(0, audio.size());
        for (size_t join = 1; join <= 3; ++join)
            EXPECT_LT(error(join * piece - 576, join * piece + 576), 2 * whole) << "join " << join;
    }
    // Frames as the header tells their length, for each MPEG version; not headers: 0.
    for (auto [header, length] : {std::pair{0xFFFB9000u, 417},
                                  {0xFFFB9200u, 418},
                                  {0xFFF38000u, 208},
                                  {0xFFE38800u, 576},
                                  {0xFFFD9000u, 0},
                                  {0xFFFBF000u, 0},
                                  {0x7FFB9000u, 0}}) {
        const uint8_t bytes[] = {uint8_t(header >> 24), uint8_t(header >> 16), uint8_t(header >> 8),
                                 uint8_t(header)};
        EXPECT_EQ(size_t(length), mp3::FrameLength(bytes)) << std::hex << header;
    }
}

// Cancelled, abandoned, empty or cut short by a full disk: every compressed file
// still decodes to its end, and no file is left empty.
TEST_F(FileDestTest, CompressedFilesPlayHoweverTheRenderEnds) {
    const auto audio = Voice(22050 * 2);
    for (const char* ext : {".mp3", ".ogg", ".opus", ".flac"}) {
        SCOPED_TRACE(ext);
        const fs::path cancelled = dir_ / (std::string("cancelled") + ext);
        const fs::path abandoned = dir_ / (std::string("abandoned") + ext);
        const fs::path empty = dir_ / (std::string("empty") + ext);
        dest_ = MakeCom<FileDest>();
        ASSERT_EQ(S_OK, dest_->Open(22050));
        ASSERT_EQ(S_OK, SetName(empty));
        ASSERT_EQ(S_OK, SetName(cancelled));
        ASSERT_EQ(S_OK, dest_->Write(audio.data(), audio.size()));
        ASSERT_EQ(S_OK, dest_->Reset());
        ASSERT_EQ(S_OK, dest_->Flush());
        ASSERT_EQ(S_OK, SetName(abandoned));
        ASSERT_EQ(S_OK, dest_->Write(audio.data(), audio.size()));
        dest_ = nullptr;
        for (const auto& [file, seconds] :
             {std::pair{cancelled, 2.0}, {abandoned, 2.0}, {empty, 0.0}})
            EXPECT_NEAR(seconds, Duration(Probe(file)), 0.1) << file << ": " << Probe(file);
    }
    // A full disk, found by the encoding thread: told through the failure callback,
    // then by Write and Flush; the file ends at its last whole frame.
    const fs::path full = dir_ / "full.mp3";
    dest_ = MakeCom<FileDest>();
    ASSERT_EQ(S_OK, dest_->Open(22050));
    ASSERT_EQ(S_OK, SetName(full));
    std::string told;
    dest_->SetFailureCallback([&](HRESULT, const std::string& why) { told = why; });
    rlimit saved{};
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 6000;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limited));
    HRESULT hr = S_OK;
    for (int i = 0; i < 100 && hr == S_OK; ++i) {
        WaitUntil([&] { return dest_->Room() > 0; });
        hr = dest_->Write(audio.data(), std::min(audio.size(), dest_->Room()));
    }
    const HRESULT flushed = dest_->Flush();
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &saved));
    std::signal(SIGXFSZ, oldHandler);
    const std::string why = "Cannot write file " + full.string() + ": " + std::strerror(EFBIG);
    EXPECT_EQ(AUDERR_WRITEFAILED, hr);
    EXPECT_EQ(AUDERR_WRITEFAILED, flushed);
    EXPECT_EQ(why, told);
    EXPECT_EQ(why, dest_->LastError());
    EXPECT_GT(Duration(Probe(full)), 0.5) << Probe(full);
}

// The size of the file being written into `dir` under a temporary, found among the
// process's open files.
off_t TemporarySize(const fs::path& dir) {
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (fs::read_symlink(fd.path(), ec).string().starts_with(dir.string() + "/"))
            if (struct stat st{}; ::stat(fd.path().c_str(), &st) == 0 && S_ISREG(st.st_mode))
                return st.st_size;
    }
    return -1;
}

std::string Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// In every format: a render that fails leaves the earlier file as it was, and nothing
// beside it; one that is cancelled replaces it with what was rendered, keeping its
// permissions; a link names the file replaced; a failure in the last bytes, written
// as the file completes, fails the render; the same frames give the same samples.
TEST_F(FileDestTest, EarlierFilesSurviveFailuresAndCancelsReplaceThem) {
    const auto audio = Voice(22050 * 2);
    auto render = [&](const fs::path& path, size_t frames) {
        dest_ = MakeCom<FileDest>();
        EXPECT_EQ(S_OK, dest_->Open(22050));
        EXPECT_EQ(S_OK, SetName(path)) << dest_->LastError();
        for (size_t pos = 0; pos < frames;) {
            WaitUntil([&] { return dest_->Room() > 0; });
            const size_t n = std::min(dest_->Room(), frames - pos);
            if (const HRESULT hr = dest_->Write(audio.data() + pos, n); hr != S_OK) return hr;
            pos += n;
        }
        return S_OK;
    };
    // Writes past `limit` bytes fail as on a full disk.
    auto limited = [](rlim_t limit, const std::function<HRESULT()>& call) {
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &small);
        const HRESULT hr = call();
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        return hr;
    };
    for (const char* ext : {".wav", ".flac", ".ogg", ".opus", ".mp3"}) {
        SCOPED_TRACE(ext);
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        const fs::path keep = dir_ / (std::string("keep") + ext);
        const std::string earlier(50000, 'e');
        std::ofstream(keep, std::ios::binary) << earlier;
        fs::permissions(keep,
                        fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
        EXPECT_EQ(AUDERR_WRITEFAILED, limited(4000, [&] {
                      const HRESULT hr = render(keep, audio.size());
                      return FAILED(hr) ? hr : dest_->Flush();
                  }));
        EXPECT_TRUE(earlier == Bytes(keep)) << "a failed render keeps the earlier file";
        EXPECT_EQ(1, std::distance(fs::directory_iterator(dir_), {})) << "no temporary left";
        // Cancelled through a link: the file it names is replaced, the link stays.
        fs::create_symlink(keep.filename(), dir_ / "link");
        const fs::path link = dir_ / (std::string("link") + ext);
        fs::rename(dir_ / "link", link);
        render(link, audio.size());
        ASSERT_EQ(S_OK, dest_->Reset());
        ASSERT_EQ(S_OK, dest_->Flush());
        EXPECT_TRUE(fs::is_symlink(link));
        EXPECT_NEAR(2.0, Duration(Probe(keep)), 0.1) << Probe(keep);
        EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read,
                  fs::status(keep).permissions());
        // The same frames twice decode to the same samples.
        const fs::path again = dir_ / (std::string("again") + ext);
        render(again, audio.size());
        ASSERT_EQ(S_OK, dest_->Flush());
        EXPECT_EQ(ReadWav(keep).samples, ReadWav(again).samples);
        // The last bytes fail as the file completes: all frames were taken and encoded.
        if (ext == std::string(".wav")) continue;  // its data is all out before
        const fs::path last = dir_ / (std::string("last") + ext);
        render(last, audio.size());
        ASSERT_TRUE(WaitUntil([&] { return dest_->HeardFrames() == audio.size(); }));
        const off_t size = TemporarySize(dir_);
        ASSERT_GT(size, 0);
        EXPECT_EQ(AUDERR_WRITEFAILED, limited(rlim_t(size), [&] { return dest_->Flush(); }))
            << "file size " << size;
        EXPECT_NE(std::string::npos, dest_->LastError().find(last.string() + ": "))
            << dest_->LastError();
        // Vorbis holds back the pages of these two seconds until it ends, and MP3 its
        // piece of some seconds: their headers alone play nothing and are not kept.
        if (ext == std::string(".ogg") || ext == std::string(".mp3")) {
            EXPECT_FALSE(fs::exists(last));
        } else {
            EXPECT_GT(Duration(Probe(last)), 0.5) << "what was rendered is kept: " << Probe(last);
        }
        if (ext == std::string(".flac") || ext == std::string(".wav")) {
            EXPECT_GT(ReadWav(last).info.frames, 22050 / 2) << "its header tells its length";
        }
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
}

// A FIFO and appended standard output are written into, never replaced, and get a WAV
// header whose sizes say "unknown length".
TEST_F(FileDestTest, StreamsAreWrittenInPlaceWithAnOpenLength) {
    const auto data = Ramp(3000);
    const fs::path fifo = dir_ / "fifo.wav", appended = dir_ / "appended.wav";
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    std::string read;
    std::thread reader([&] { read = Bytes(fifo); });
    ASSERT_EQ(S_OK, SetName(fifo));
    ASSERT_EQ(S_OK, dest_->Write(data.data(), data.size()));
    ASSERT_EQ(S_OK, dest_->Flush());
    reader.join();
    EXPECT_TRUE(fs::is_fifo(fifo));
    const int saved = ::dup(STDOUT_FILENO);
    const int out = ::open(appended.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    ::dup2(out, STDOUT_FILENO);
    const HRESULT set = dest_->Set(u"-", 1);
    const HRESULT written = dest_->Write(data.data(), data.size());
    const HRESULT flushed = dest_->Flush();
    ::dup2(saved, STDOUT_FILENO);
    ::close(out);
    ::close(saved);
    ASSERT_EQ(S_OK, set);
    ASSERT_EQ(S_OK, written);
    ASSERT_EQ(S_OK, flushed);
    for (const std::string& bytes : {read, Bytes(appended)}) {
        ASSERT_EQ(44 + 2 * data.size(), bytes.size());
        EXPECT_EQ(std::string(4, '\xFF'), bytes.substr(4, 4));
        EXPECT_EQ("data" + std::string(4, '\xFF'), bytes.substr(36, 8));
        EXPECT_EQ(0, std::memcmp(bytes.data() + 44, data.data(), 2 * data.size()));
    }
}

TEST(FileDestClass, RegisteredUnderItsClassAndAnswersBothInterfaces) {
    RegisterAudioDestinations();
    ComPtr<IAudioFile> file;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_AudioDestFile, nullptr, CLSCTX_ALL, IID_IAudioFile,
                                     file.PutVoid()));
    ComPtr<IParlenAudioDest> dest;
    ASSERT_EQ(S_OK, file.As(dest));
    ComPtr<IAudioMultiMediaDevice> device;
    EXPECT_EQ(E_NOINTERFACE, file.As(device));
    EXPECT_EQ(E_NOTIMPL, file->Add(u"x.wav", 1));
    WORD rt = 0;
    ASSERT_EQ(S_OK, file->RealTimeGet(&rt));
    EXPECT_EQ(FileDest::kRealTimeDefault, rt);
    EXPECT_EQ(S_OK, file->RealTimeSet(0x200));
    file->RealTimeGet(&rt);
    EXPECT_EQ(0x200, rt);
    EXPECT_EQ(E_NOINTERFACE, CoCreateInstance(CLSID_AudioDestFile, nullptr, CLSCTX_ALL,
                                              IID_ITTSCentralA, device.PutVoid()));
}

}  // namespace
