#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "BlockBuilder.h"
#include "support/Errors.h"
#include "support/qt/VersionInfo.h"
#include "support/VersionSource.h"

namespace fs = std::filesystem;

namespace {

const std::string kPeDir = PARLEN_PE_DIR;

std::string Pe(const std::string& name) {
    return kPeDir + "/" + name + ".exe";
}

void Spit(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class VersionInfoTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "parlen-ver-XXXXXX").string();
        ASSERT_NE(nullptr, ::mkdtemp(pattern.data()));
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }
    void NeedPe() {
        if (!fs::exists(Pe("full"))) GTEST_SKIP() << "no resource compiler output in " << kPeDir;
    }
    // The code of the error that reading the first text value raises, or 0.
    static int ReadError(TVersionInfo& info) {
        try {
            info.ProductName();
        } catch (const EVersionInfoError& e) {
            return e.Code();
        }
        return 0;
    }
    fs::path dir_;
};

TEST_F(VersionInfoTest, OwnExecutableCarriesTheApplicationsBlock) {
    TVersionInfo info;
    char* real = ::realpath("/proc/self/exe", nullptr);
    ASSERT_NE(nullptr, real);
    EXPECT_EQ(std::string(real), info.FileName());
    std::free(real);
    EXPECT_FALSE(info.VersionInfoRead());

    EXPECT_EQ(std::string(PARLEN_MAKER_SITE) + " - Parlen Maker 2004.05",
              info.ProductName() + " " + info.ProductVersion());
    EXPECT_TRUE(info.VersionInfoRead());
    EXPECT_EQ("1.0.1000.1", info.FileVersion());
    EXPECT_EQ("PARLENMAKER", info.InternalName());
    EXPECT_EQ("PARLENMAKER.EXE", info.OriginalFilename());
    EXPECT_FALSE(info.FileDescription().empty());
    EXPECT_EQ(0x00010000u, info.FileVersionMS());
    EXPECT_EQ(0x03E80001u, info.FileVersionLS());
    EXPECT_EQ(0x00010000u, info.ProductVersionMS());
    EXPECT_EQ(0x03E80001u, info.ProductVersionLS());
    EXPECT_EQ(0x3Fu, info.FileFlagsMask());
    EXPECT_EQ(0u, info.FileFlags());
    EXPECT_EQ(4u, info.FileOS());
    EXPECT_EQ(1u, info.FileType());
    EXPECT_EQ(0u, info.FileSubtype());
    EXPECT_FALSE(info.FileDate().isValid());
    EXPECT_EQ(0x04E40409u, info.TranslationValue());
    EXPECT_EQ(1, info.TranslationCount());
    EXPECT_EQ("English (United States)", info.LanguageName());

    // The same block through a link to the executable, and after the layout is loaded.
    const fs::path link = dir_ / "linked";
    fs::create_symlink(info.FileName(), link);
    TVersionInfo linked;
    linked.SetFileName(link.string());
    EXPECT_EQ("2004.05", linked.ProductVersion());
    linked.Loaded();
    EXPECT_EQ(link.string(), linked.FileName());
}

TEST_F(VersionInfoTest, OwnBlockEqualsTheResourceCompilersOutput) {
    NeedPe();
    std::string ours, compiled;
    ASSERT_EQ(TBlockSearch::kFound, ReadVersionBlock("/proc/self/exe", ours));
    ASSERT_EQ(TBlockSearch::kFound, ReadVersionBlock(Pe("own"), compiled));
    EXPECT_EQ(compiled.size(), ours.size());
    EXPECT_TRUE(compiled == ours) << "the embedded block differs from the compiled script";
}

TEST_F(VersionInfoTest, TheProgramCarriesTheApplicationsBlock) {
    const char* bin = std::getenv("PARLEN_BIN_DIR");
    const fs::path program = fs::path(bin ? bin : "") / "parlenmaker";
    if (!bin || !fs::exists(program)) GTEST_SKIP() << "parlenmaker is not built";
    TVersionInfo info;
    info.SetFileName(program.string());
    EXPECT_EQ(std::string(PARLEN_MAKER_SITE) + " - Parlen Maker 2004.05",
              info.ProductName() + " " + info.ProductVersion());
    EXPECT_EQ("PARLENMAKER.EXE", info.OriginalFilename());
}

TEST_F(VersionInfoTest, ReadsEveryValueOfACompiledResource) {
    NeedPe();
    TVersionInfo info;
    info.SetFileName(Pe("full"));
    // The first translation (German, Unicode) picks the table; the other is ignored.
    EXPECT_EQ("Sprecher \xE4\xB8\xAD\xE6\x96\x87", info.ProductName());
    EXPECT_EQ("5.6", info.ProductVersion());
    EXPECT_EQ("Kommentar", info.Comments());
    EXPECT_EQ("M\xC3\xBCller & S\xC3\xB6hne", info.CompanyName());
    EXPECT_EQ("Sprachausgabe \xE2\x80\x93 Test", info.FileDescription());
    EXPECT_EQ("1.2.3.4", info.FileVersion());
    EXPECT_EQ("SPRECHER", info.InternalName());
    EXPECT_EQ("\xC2\xA9 2004", info.LegalCopyright());
    EXPECT_EQ("", info.LegalTrademarks());
    EXPECT_EQ("SPRECHER.EXE", info.OriginalFilename());
    EXPECT_EQ(0x04B00407u, info.TranslationValue());
    EXPECT_EQ(2, info.TranslationCount());
    EXPECT_EQ("German (Germany)", info.LanguageName());
    EXPECT_EQ(0x00010002u, info.FileVersionMS());
    EXPECT_EQ(0x00030004u, info.FileVersionLS());
    EXPECT_EQ(0x00050006u, info.ProductVersionMS());
    EXPECT_EQ(0x00070008u, info.ProductVersionLS());
    EXPECT_EQ(0x3Fu, info.FileFlagsMask());
    EXPECT_EQ(2u, info.FileFlags());
    EXPECT_EQ(0x40004u, info.FileOS());
    EXPECT_EQ(2u, info.FileType());
    EXPECT_EQ(7u, info.FileSubtype());

    TVersionInfo partial;
    partial.SetFileName(Pe("partial"));
    EXPECT_EQ("Partial Product", partial.ProductName());
    EXPECT_EQ("", partial.ProductVersion()) << "a missing value is no error";
    EXPECT_EQ("", partial.Comments());

    TVersionInfo narrow;
    narrow.SetFileName(Pe("partial32"));
    EXPECT_EQ("Partial Product", narrow.ProductName()) << "32-bit PE";
    EXPECT_EQ(0x00030000u, narrow.FileVersionMS());
}

TEST_F(VersionInfoTest, FilesWithoutABlockAndBrokenBlocksFailWithTheirCodes) {
    NeedPe();
    const fs::path text = dir_ / "notes.txt";
    Spit(text, "just text\n");
    const fs::path empty = dir_ / "empty";
    Spit(empty, "");
    for (const std::string& name :
         {Pe("noversion"), Pe("norsrc"), std::string("/bin/true"), text.string(), empty.string()}) {
        TVersionInfo info;
        info.SetFileName(name);
        try {
            info.ProductVersion();
            ADD_FAILURE() << name << " read without error";
        } catch (const EVersionInfoError& e) {
            EXPECT_EQ(100, e.Code()) << name;
            EXPECT_EQ("File does not contain version info", e.Message());
        }
        EXPECT_FALSE(info.VersionInfoRead());
    }

    const fs::path truncated = dir_ / "truncated";
    Spit(truncated, Slurp("/proc/self/exe").substr(0, 200));
    for (const std::string& name : {Pe("notranslation"), truncated.string()}) {
        TVersionInfo info;
        info.SetFileName(name);
        try {
            info.ProductName();
            ADD_FAILURE() << name << " read without error";
        } catch (const EVersionInfoError& e) {
            EXPECT_EQ(101, e.Code()) << name;
            EXPECT_EQ("Unable to read version info", e.Message());
        }
        EXPECT_FALSE(info.VersionInfoRead()) << "a failed read is tried again";
    }
}

TEST_F(VersionInfoTest, FailureAfterTheTranslationKeepsTheMarkAndEmptyValues) {
    std::string translation;
    Put32(translation, 0x04E40409);
    TestNode vars{u"VarFileInfo", 1, "", 0, {TestNode{u"Translation", 0, translation, -1, {}}}};
    TestNode table{u"040904E4", 1, "", 0, {TextValue(u"ProductName", u"Never Read")}};
    TestNode strings{u"StringFileInfo", 1, "", 0, {table}};
    // No fixed part in the root.
    TestNode root{u"VS_VERSION_INFO", 0, "", 0, {strings, vars}};
    const fs::path file = dir_ / "nofixed";
    Spit(file, MinimalElf(".parlen_version", SerializeNode(root)));

    TVersionInfo info;
    info.SetFileName(file.string());
    EXPECT_EQ(101, ReadError(info));
    EXPECT_TRUE(info.VersionInfoRead());
    EXPECT_EQ("", info.ProductName()) << "served from the fields without reading again";
    EXPECT_EQ(0x04E40409u, info.TranslationValue());
    EXPECT_EQ(0u, info.FileVersionMS());

    // The same block with its fixed part and a file date reads completely.
    root.value = FixedPart(0x00020000, 0, 0x01C03B4A, 0x12345678);
    root.valueLength = -1;
    Spit(file, MinimalElf(".parlen_version", SerializeNode(root)));
    TVersionInfo full;
    full.SetFileName(file.string());
    EXPECT_EQ("Never Read", full.ProductName());
    EXPECT_EQ(0x00020000u, full.FileVersionMS());
    // 0x01C03B4A12345678 hundred-nanosecond steps after 1601-01-01.
    const qint64 msecs = static_cast<qint64>(0x01C03B4A12345678ull / 10000);
    EXPECT_EQ(QDateTime(QDate(1601, 1, 1), QTime(0, 0), Qt::UTC).addMSecs(msecs), full.FileDate());
    EXPECT_EQ(2000, full.FileDate().date().year());

    // 32-bit and big-endian ELF files carry the block the same way.
    for (const auto& [is64, bigEndian] : {std::pair{false, false}, {false, true}, {true, true}}) {
        Spit(file, MinimalElf(".parlen_version", SerializeNode(root), is64, bigEndian));
        TVersionInfo elf;
        elf.SetFileName(file.string());
        EXPECT_EQ("Never Read", elf.ProductName()) << is64 << bigEndian;
    }

    // Another section name is no block of ours.
    Spit(file, MinimalElf(".other", SerializeNode(root)));
    TVersionInfo other;
    other.SetFileName(file.string());
    EXPECT_EQ(100, ReadError(other));
}

TEST_F(VersionInfoTest, NamesAreCheckedAndValuesReadOncePerName) {
    NeedPe();
    const fs::path copy = dir_ / "copy.exe";
    fs::copy_file(Pe("full"), copy);
    TVersionInfo info;
    info.SetFileName(copy.string());
    EXPECT_EQ("5.6", info.ProductVersion());

    // A missing file fails at once and keeps the name and the values.
    try {
        info.SetFileName((dir_ / "missing.exe").string());
        ADD_FAILURE() << "no error";
    } catch (const EVersionInfoError& e) {
        EXPECT_EQ(73, e.Code());
        EXPECT_EQ("Error opening file", e.Message());
    }
    EXPECT_EQ(copy.string(), info.FileName());
    EXPECT_TRUE(info.VersionInfoRead());

    // The file is not read again while the name stays, even when set once more.
    fs::copy_file(Pe("partial"), copy, fs::copy_options::overwrite_existing);
    EXPECT_EQ("5.6", info.ProductVersion());
    info.SetFileName(copy.string());
    EXPECT_EQ("Sprecher \xE4\xB8\xAD\xE6\x96\x87", info.ProductName());

    // Another name makes the next getter read, and going back reads the new contents.
    info.SetFileName(Pe("full"));
    EXPECT_FALSE(info.VersionInfoRead());
    EXPECT_EQ("5.6", info.ProductVersion());
    info.SetFileName(copy.string());
    EXPECT_EQ("Partial Product", info.ProductName());
    EXPECT_EQ("", info.ProductVersion());

    // An empty name goes back to the running executable.
    info.SetFileName("");
    EXPECT_EQ("2004.05", info.ProductVersion());
}

TEST(LanguageNames, KnownAndUnknownIdentifiers) {
    EXPECT_EQ("English (United States)", TVersionInfo::LanguageDisplayName(0x0409));
    EXPECT_EQ("French (Canada)", TVersionInfo::LanguageDisplayName(0x0C0C));
    EXPECT_EQ("Language Neutral", TVersionInfo::LanguageDisplayName(0));
    EXPECT_EQ("Unknown language (0x7ABC)", TVersionInfo::LanguageDisplayName(0x7ABC));
}

}  // namespace
