#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "Unprivileged.h"
#include "support/Errors.h"
#include "support/FileReplace.h"
#include "support/IniFiles.h"

namespace fs = std::filesystem;

namespace {

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void Spit(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// The build names the fixtures' folder, so that the tests run from any folder.
fs::path Fixture(const std::string& name) {
    return fs::path(PARLEN_INI_FIXTURES) / name;
}

class IniFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "parlen-ini-XXXXXX").string();
        ASSERT_NE(nullptr, ::mkdtemp(pattern.data()));
        dir_ = pattern;
    }
    void TearDown() override {
        SetReplaceFaultHook({});
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir_);
    }
    // Files in the folder other than the given ones: left-over temporary files.
    int StrayFiles(const std::set<std::string>& expected) const {
        int n = 0;
        for (const auto& e : fs::directory_iterator(dir_))
            if (!expected.count(e.path().filename().string())) ++n;
        return n;
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    fs::path dir_;
};

TEST_F(IniFileTest, MissingFileReadsDefaultsAndIsNotCreated) {
    TIniFile ini(Path("none.cfg"));
    EXPECT_EQ("", ini.ReadValue("Voice", "Engine", nullptr));
    EXPECT_EQ("0", ini.ReadValue("Voice", "Pitch", "0"));
    EXPECT_FALSE(fs::exists(Path("none.cfg")));
    EXPECT_EQ("0", TIniFile(dir_.string()).ReadValue("Voice", "Pitch", "0")) << "a folder";
    ASSERT_EQ(0, ::mkfifo(Path("fifo.cfg").c_str(), 0600));
    EXPECT_EQ("0", TIniFile(Path("fifo.cfg")).ReadValue("Voice", "Pitch", "0")) << "no hang";
}

TEST_F(IniFileTest, NewFileHoldsHeadingAndKeysInWritingOrder) {
    {
        TIniFile ini(Path("new.cfg"));
        ini.WriteValue("Voice", "Engine", "eSpeak NG  English (Great Britain)");
        ini.WriteValue("Voice", "Pitch", "50");
        ini.WriteValue("Voice", "Speed", "170");
        ini.WriteValue("Voice", "Volume", "100");
    }
    EXPECT_EQ(
        "[Voice]\r\nEngine=eSpeak NG  English (Great Britain)\r\nPitch=50\r\nSpeed=170\r\n"
        "Volume=100\r\n",
        Slurp(Path("new.cfg")));
    TIniFile other(Path("new.cfg"));
    EXPECT_EQ("eSpeak NG  English (Great Britain)", other.ReadValue("Voice", "Engine", nullptr));
    EXPECT_EQ("170", other.ReadValue("VOICE", "speed", "0"));
    EXPECT_EQ("0", other.ReadValue("Voice", "Missing", "0"));
    EXPECT_EQ("0", other.ReadValue("Nope", "Pitch", "0"));
    struct stat st {};
    ASSERT_EQ(0, ::stat(Path("new.cfg").c_str(), &st));
    mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(0666 & ~mask, st.st_mode & 07777);
}

struct FixtureCase {
    const char* file;
    const char* section;
    const char* key;
    const char* expected;  // with default "<default>"
};

class IniFixtureTest : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(IniFixtureTest, ReadsByProfileRules) {
    const FixtureCase& c = GetParam();
    ASSERT_TRUE(fs::exists(Fixture(c.file))) << Fixture(c.file);
    TIniFile ini(Fixture(c.file).string());
    EXPECT_EQ(c.expected, ini.ReadValue(c.section, c.key, "<default>"))
        << c.file << " [" << c.section << "] " << c.key;
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, IniFixtureTest,
    ::testing::Values(FixtureCase{"blanks.cfg", "Voice", "Engine", "Name With Blanks"},
                      FixtureCase{"blanks.cfg", "Voice", "Pitch", "7"},
                      FixtureCase{"quotes.cfg", "Voice", "Engine", "Quoted Voice"},
                      FixtureCase{"quotes.cfg", "Voice", "Pitch", "12"},
                      FixtureCase{"quotes.cfg", "Voice", "Speed", "\"mismatched'"},
                      FixtureCase{"quotes.cfg", "Voice", "Volume", " inner blanks "},
                      FixtureCase{"comments.cfg", "Voice", "Pitch", "<default>"},
                      FixtureCase{"comments.cfg", "Voice", "Speed", "33"},
                      FixtureCase{"comments.cfg", "Voice", "no equals sign here", "<default>"},
                      FixtureCase{"repeated.cfg", "Voice", "Pitch", "1"},
                      FixtureCase{"repeated.cfg", "Voice", "Speed", "<default>"},
                      FixtureCase{"repeated.cfg", "Other", "Pitch", "5"},
                      FixtureCase{"empty_value.cfg", "Voice", "Engine", ""},
                      FixtureCase{"empty_value.cfg", "Voice", "Pitch", ""},
                      FixtureCase{"lowercase.cfg", "Voice", "Pitch", "7"},
                      FixtureCase{"bom.cfg", "Voice", "Pitch", "11"},
                      FixtureCase{"mixed_lf.cfg", "voice", "PITCH", "7"},
                      FixtureCase{"mixed_lf.cfg", "Other", "Key", "Value"},
                      FixtureCase{"mixed_lf.cfg", "Display", "Engine", "<default>"}));

TEST_F(IniFileTest, UpdateChangesOnlyTheValueAndKeepsEveryOtherByte) {
    const std::string name = Path("mixed.cfg");
    fs::copy_file(Fixture("mixed_lf.cfg"), name);
    TIniFile ini(name);
    ini.WriteValue("VOICE", "Pitch", "50");    // in place, the line keeps its LF
    ini.WriteValue("Voice", "Speed", "170");   // new key after the section's last line
    ini.WriteValue("Other", "Volume", "80");   // after a last line without line end
    ini.WriteValue("Voice", "Engine", "New");  // in place again
    ini.WriteValue("Extra", "Key", "x");       // new section at the end
    EXPECT_EQ(
        "; saved by hand\n[Display]\nWidth=640\n\n[Voice]\nEngine=New\npitch = 50\n"
        "Speed=170\r\n\n[Other]\nKey=Value\r\nVolume=80\r\n[Extra]\r\nKey=x\r\n",
        Slurp(name));
}

TEST_F(IniFileTest, UpdateKeepsCommentsBlanksAndLinesWithoutEquals) {
    const std::string comments = Path("comments.cfg");
    fs::copy_file(Fixture("comments.cfg"), comments);
    TIniFile ini(comments);
    ini.WriteValue("Voice", "Speed", "44");  // in place
    ini.WriteValue("Voice", "Pitch", "5");   // not the commented one, nor the one outside
    EXPECT_EQ(
        "Pitch=1\r\n; a comment before any section\r\n[Voice]\r\n; Pitch=9\r\n  ;Speed=9\r\n"
        "no equals sign here\r\nSpeed=44\r\nPitch=5\r\n",
        Slurp(comments));
    EXPECT_EQ("5", ini.ReadValue("Voice", "Pitch", "0"));

    // The blanks before a value stay; the value itself, its blanks after it included, is
    // what is replaced.
    const std::string blanks = Path("blanks.cfg");
    fs::copy_file(Fixture("blanks.cfg"), blanks);
    TIniFile spaced(blanks);
    spaced.WriteValue("voice", "PITCH", "9");
    spaced.WriteValue("Voice", "Engine", "New");
    spaced.WriteValue("Voice", "Speed", "3");
    EXPECT_EQ("[ Voice ]\r\n  Engine \t=\t  New\r\n\tPitch=  9\r\nSpeed=3\r\n", Slurp(blanks));
    EXPECT_EQ("New", spaced.ReadValue("Voice", "Engine", nullptr));
}

TEST_F(IniFileTest, RepeatedSectionUpdatesTheFirstOne) {
    const std::string name = Path("rep.cfg");
    fs::copy_file(Fixture("repeated.cfg"), name);
    TIniFile ini(name);
    ini.WriteValue("voice", "Pitch", "9");
    ini.WriteValue("Voice", "Speed", "4");
    EXPECT_EQ(
        "[Voice]\r\nPitch=9\r\nSpeed=4\r\n\r\n[Other]\r\nPitch=5\r\n\r\n[VOICE]\r\nPitch=2\r\n"
        "Speed=3\r\n",
        Slurp(name));
    EXPECT_EQ("4", ini.ReadValue("Voice", "Speed", "0"));
}

TEST_F(IniFileTest, LongValuesAreCutTo2047BytesAndBytesPassUnchanged) {
    TIniFile ini(Path("long.cfg"));
    const std::string longValue(3000, 'x');
    ini.WriteValue("Voice", "Engine", longValue);
    EXPECT_EQ(std::string(2047, 'x'), ini.ReadValue("Voice", "Engine", nullptr));
    EXPECT_EQ(std::string(2047, 'x'), ini.ReadValue("Voice", "None", longValue.c_str()));
    const std::string bytes = "Stimme \xC3\xA4\xFF\x01 ok";
    ini.WriteValue("Voice", "Pitch", bytes);
    EXPECT_EQ(bytes, ini.ReadValue("Voice", "Pitch", nullptr));
}

TEST_F(IniFileTest, WriteFailuresNameTheFileAndChangeNothing) {
    const std::string missing = Path("no/such/folder/v.cfg");
    try {
        TIniFile(missing).WriteValue("Voice", "Pitch", "1");
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ("Unable to write to " + missing, e.Message());
    }

    const std::string ro = Path("ro.cfg");
    Spit(ro, "[Voice]\r\nPitch=1\r\n");
    fs::permissions(ro, fs::perms::owner_read | fs::perms::group_read);
    TIniFile ini(ro);
    EXPECT_THROW(ini.WriteValue("Voice", "Pitch", "2"), Exception) << "read-only, even as root";
    EXPECT_EQ("[Voice]\r\nPitch=1\r\n", Slurp(ro));
    EXPECT_EQ(0, StrayFiles({"ro.cfg"}));
}

TEST_F(IniFileTest, LinksArePreservedAndPermissionsKept) {
    const std::string target = Path("real.cfg");
    const std::string link = Path("link.cfg");
    Spit(target, "[Voice]\r\nPitch=1\r\n");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("real.cfg", link);
    struct stat before {};
    ASSERT_EQ(0, ::stat(target.c_str(), &before));

    TIniFile(link).WriteValue("Voice", "Pitch", "2");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ("[Voice]\r\nPitch=2\r\n", Slurp(target));
    struct stat after {};
    ASSERT_EQ(0, ::stat(target.c_str(), &after));
    EXPECT_EQ(0640u, after.st_mode & 07777);
    EXPECT_EQ(before.st_uid, after.st_uid);
    EXPECT_NE(before.st_ino, after.st_ino) << "expected a new file renamed into place";

    // A hard link keeps seeing the same file.
    const std::string hard = Path("hard.cfg");
    fs::create_hard_link(target, hard);
    TIniFile(target).WriteValue("Voice", "Pitch", "3");
    EXPECT_EQ("[Voice]\r\nPitch=3\r\n", Slurp(hard));
    EXPECT_EQ(0, StrayFiles({"real.cfg", "link.cfg", "hard.cfg"}));
}

TEST_F(IniFileTest, DanglingLinkCreatesItsTarget) {
    fs::create_symlink("made.cfg", Path("dangling.cfg"));
    TIniFile(Path("dangling.cfg")).WriteValue("Voice", "Pitch", "5");
    EXPECT_TRUE(fs::is_symlink(Path("dangling.cfg")));
    EXPECT_EQ("[Voice]\r\nPitch=5\r\n", Slurp(Path("made.cfg")));
}

TEST_F(IniFileTest, ReadOnlyFolderIsWrittenInPlace) {
    const std::string name = Path("v.cfg");
    Spit(name, "[Voice]\r\nPitch=1\r\n");
    struct stat before {};
    ASSERT_EQ(0, ::stat(name.c_str(), &before));
    // The superuser can make files in any folder, so the refusal is injected.
    SetReplaceFaultHook(
        [](ReplaceStage s) { return s == ReplaceStage::kTempCreated ? EACCES : 0; });
    TIniFile(name).WriteValue("Voice", "Pitch", "22");
    SetReplaceFaultHook({});
    EXPECT_EQ("[Voice]\r\nPitch=22\r\n", Slurp(name));
    struct stat after {};
    ASSERT_EQ(0, ::stat(name.c_str(), &after));
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(0, StrayFiles({"v.cfg"}));

    // A real read-only folder, as an ordinary user (permissions do not bind root).
    const auto readOnly = fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                          fs::perms::others_exec;
    fs::permissions(dir_, readOnly);
    fs::permissions(name, fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read |
                              fs::perms::others_write);
    const int status = RunUnprivileged([&] {
        TIniFile(name).WriteValue("Voice", "Pitch", "33");
        try {
            TIniFile(Path("new.cfg")).WriteValue("Voice", "Pitch", "1");
            return 1;
        } catch (const Exception&) {
        }
        return 0;
    });
    fs::permissions(dir_, fs::perms::owner_all);
    EXPECT_EQ(0, status) << "1: a file was made in a read-only folder";
    EXPECT_EQ("[Voice]\r\nPitch=33\r\n", Slurp(name));
    EXPECT_FALSE(fs::exists(Path("new.cfg")));
    EXPECT_EQ(0, StrayFiles({"v.cfg"}));
}

// How the file is replaced: through a temporary file, or in place because the folder
// refuses new files or because the file has a second hard link.
enum class Route { kTemp, kReadOnlyFolder, kHardLink };

TEST_F(IniFileTest, FailureAtAnyStageLeavesTheOldFileWhole) {
    const std::string name = Path("v.cfg");
    const std::string hard = Path("second.cfg");
    const struct {
        ReplaceStage stage;
        bool temp, inPlace;  // the routes that pass this stage
    } stages[] = {{ReplaceStage::kTempCreated, true, false}, {ReplaceStage::kWritten, true, true},
                  {ReplaceStage::kTruncated, false, true},   {ReplaceStage::kSynced, true, true},
                  {ReplaceStage::kClosed, true, true},       {ReplaceStage::kRenamed, true, false}};
    const std::string old = "[Voice]\r\nEngine=Some Engine\r\nPitch=100000\r\n";
    const std::string shorter = "[Voice]\r\nEngine=Some Engine\r\nPitch=2\r\n";
    // A shorter text leaves the old tail behind while not yet cut to length; a longer
    // one grows the file.
    for (const std::string& value : {std::string("2"), std::string(200, 'x')}) {
        for (const auto& s : stages) {
            for (Route route : {Route::kTemp, Route::kReadOnlyFolder, Route::kHardLink}) {
                if (!(route == Route::kTemp ? s.temp : s.inPlace)) continue;
                const int stage = static_cast<int>(s.stage);
                SCOPED_TRACE("stage " + std::to_string(stage) + " route " +
                             std::to_string(static_cast<int>(route)) + " length " +
                             std::to_string(value.size()));
                fs::remove(hard);
                Spit(name, old);
                if (route == Route::kHardLink) fs::create_hard_link(name, hard);
                std::string atFault = "<not reached>";
                SetReplaceFaultHook([&](ReplaceStage at) {
                    if (route == Route::kReadOnlyFolder && at == ReplaceStage::kTempCreated)
                        return EACCES;
                    if (at != s.stage) return 0;
                    atFault = Slurp(name);
                    return ENOSPC;
                });
                EXPECT_THROW(TIniFile(name).WriteValue("Voice", "Pitch", value), Exception);
                SetReplaceFaultHook({});
                EXPECT_NE("<not reached>", atFault);
                EXPECT_EQ(old, Slurp(name));
                if (route == Route::kHardLink) {
                    EXPECT_EQ(old, Slurp(hard));
                }
                EXPECT_EQ(0, StrayFiles({"v.cfg", "second.cfg"}));
                // In place, the fault between writing and cutting meets a mixture,
                // which is undone.
                if (route != Route::kTemp && s.stage == ReplaceStage::kWritten &&
                    value.size() == 1) {
                    EXPECT_EQ(shorter + old.substr(shorter.size()), atFault);
                }
            }
        }
    }
    // A failure on a new file leaves no file at all.
    SetReplaceFaultHook([](ReplaceStage s) { return s == ReplaceStage::kWritten ? EIO : 0; });
    EXPECT_THROW(TIniFile(Path("fresh.cfg")).WriteValue("Voice", "Pitch", "2"), Exception);
    EXPECT_FALSE(fs::exists(Path("fresh.cfg")));
}

TEST_F(IniFileTest, LongNamesAreWrittenThroughAShortTemporaryName) {
    // Up to the longest name the folder takes; ".<name>.XXXXXX" would not fit.
    for (size_t length : {size_t(240), size_t(248), size_t(255)}) {
        SCOPED_TRACE(length);
        const std::string base = std::string(length - 4, 'n') + ".cfg";
        const std::string name = Path(base);
        TIniFile ini(name);
        ini.WriteValue("Voice", "Engine", "Long");
        ini.WriteValue("Voice", "Pitch", "7");
        EXPECT_EQ("[Voice]\r\nEngine=Long\r\nPitch=7\r\n", Slurp(name));
        EXPECT_EQ(0, StrayFiles({base}));
        fs::remove(name);
    }
    const std::string tooLong = Path(std::string(256, 'n'));
    try {
        TIniFile(tooLong).WriteValue("Voice", "Pitch", "1");
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ("Unable to write to " + tooLong, e.Message());
    }
    EXPECT_EQ(0, StrayFiles({}));
}

}  // namespace
