// The catalogue of engine modes on the real espeak-ng, flite and Festival installation.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>
#include <set>

#include "EngineTestKit.h"
#include "engines/RhvoiceRows.h"
#include "platform/ClassRegistry.h"
#include "platform/Guid.h"
#include "platform/voices/EspeakVoiceCache.h"
#include "platform/voices/FestivalVoices.h"
#include "support/FileReplace.h"

namespace {
std::vector<std::string> Enumerate() {
    EnsureApartment();
    ComPtr<ITTSEnumA> e;
    EXPECT_EQ(
        CoCreateInstance(CLSID_TTSEnumerator, nullptr, CLSCTX_ALL, IID_ITTSEnumA, e.PutVoid()),
        S_OK);
    std::vector<std::string> names;
    EXPECT_EQ(e->Reset(), S_OK);
    TTSMODEINFOA r{};
    ULONG fetched = 0;
    while (e->Next(1, &r, &fetched) == S_OK && fetched == 1) names.push_back(r.szModeName);
    EXPECT_EQ(fetched, 0u);
    return names;
}

std::string FirstFor(const std::string& locale) {
    return ModesForLocale(locale).front()->info.szModeName;
}
}  // namespace

TEST(Catalogue, ListsEveryVoiceOnceWithUniqueReadableNames) {
    const auto names = Enumerate();
    int espeak = 0, flite = 0;
    for (const auto& n : names) {
        if (n.ends_with(" - espeak-ng")) ++espeak;
        if (n.ends_with(" - flite")) ++flite;
        EXPECT_EQ(n.find("mb/"), std::string::npos) << n;
        EXPECT_LT(n.size(), TTSI_NAMELEN);
    }
    EXPECT_GE(espeak, 130);
    EXPECT_EQ(flite, 5);
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size());
    EXPECT_EQ(Enumerate(), names);
    for (const char* expected :
         {"English (America) - espeak-ng", "German - espeak-ng", "slt (US English female) - flite",
          "kal (US English male, 8 kHz) - flite", "awb (Scottish English male) - flite",
          "slt (US English female, HTS) - festival", "kal (US English male, diphone) - festival"})
        EXPECT_NE(std::find(names.begin(), names.end(), expected), names.end()) << expected;
    EXPECT_EQ(std::find(names.begin(), names.end(), std::string("time_awb - flite")), names.end());
}

// Every voice of Debian's English package, named as the other families' are, after them
// in the base order.
TEST(Catalogue, RhvoiceVoicesFollowTheOtherFamilies) {
    if (!RhvoiceInstalled()) GTEST_SKIP() << "RHVoice is not installed";
    const auto names = Enumerate();
    const auto festival =
        std::find(names.begin(), names.end(), "kal (US English male, diphone) - festival");
    for (const char* expected :
         {"alan (US English male) - RHVoice", "bdl (US English male) - RHVoice",
          "clb (US English female) - RHVoice", "slt (US English female) - RHVoice",
          "evgeniy-eng (US English male) - RHVoice", "lyubov (US English female) - RHVoice"}) {
        const auto at = std::find(names.begin(), names.end(), expected);
        ASSERT_NE(at, names.end()) << expected;
        EXPECT_GT(at, festival) << expected;
    }
    const VoiceMode* slt = FindMode(kRhvoiceSlt);
    ASSERT_TRUE(slt);
    EXPECT_EQ(slt->info.wGender, GENDER_FEMALE);
    EXPECT_STREQ(slt->info.language.szDialect, "en-us");
    EXPECT_EQ(slt->info.gModeID, GuidFromName("RHVoice/Slt"));
}

TEST(Catalogue, RecordsCarryStableIdentifiersAndDescriptions) {
    const VoiceMode* us = FindMode("English (America) - espeak-ng");
    ASSERT_TRUE(us);
    EXPECT_EQ(us->info.gModeID, GuidFromName("espeak-ng/gmw/en-US"));
    EXPECT_EQ(us->info.gEngineID, GuidFromName("espeak-ng"));
    EXPECT_STREQ(us->info.language.szDialect, "en-us");
    EXPECT_STREQ(us->info.szSpeaker, "English (America)");
    EXPECT_EQ(us->info.wGender, GENDER_MALE);
    const VoiceMode* slt = FindMode("slt (US English female) - flite");
    ASSERT_TRUE(slt);
    EXPECT_EQ(slt->info.wGender, GENDER_FEMALE);
    EXPECT_EQ(slt->info.gEngineID, GuidFromName("flite"));
    EXPECT_STRNE(slt->info.szMfgName, "");
    EXPECT_STRNE(slt->info.szProductName, "");
    std::set<std::string> ids;
    for (const VoiceMode& m : AllVoiceModes()) ids.insert(GuidToString(m.info.gModeID));
    EXPECT_EQ(ids.size(), AllVoiceModes().size());
}

// Voices are read from their own declarations; a folder that is not a voice, a path
// that does not exist and a second copy of a voice change nothing.
TEST(Catalogue, FestivalVoicesAreFoundOnTheVoicePathAsTheyDescribeThemselves) {
    QTemporaryDir first, second;
    const auto put = [](const QTemporaryDir& root, const QString& path, const QByteArray& text) {
        QDir().mkpath(QFileInfo(root.filePath(path)).path());
        QFile file(root.filePath(path));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    };
    put(first, "english/cmu_us_abc_arctic_hts/festvox/cmu_us_abc_arctic_hts.scm",
        "; (proclaim_voice 'commented '((language klingon)))\n(define (x) \"(\")\n"
        "(proclaim_voice\n 'cmu_us_abc_arctic_hts\n '((language english) (gender female)\n"
        "   (dialect american) (coding ISO-8859-1)\n   (description \"An (odd) "
        "\\\"voice\\\"\")))\n");
    put(first, "english/cmu_us_abc_arctic_hts/hts/abc.htsvoice",
        "[GLOBAL]\nHTS_VOICE_VERSION:1.0\nSAMPLING_FREQUENCY:48000\n");
    put(first, "english/notavoice/readme.txt", "no festvox folder");
    put(second, "catalan/upc_ca_xyz_hts/festvox/upc_ca_xyz_hts.scm",
        "(proclaim_voice 'upc_ca_xyz_hts '((language catalan) (dialect central)))");
    put(second, "english/cmu_us_abc_arctic_hts/festvox/cmu_us_abc_arctic_hts.scm",
        "(proclaim_voice 'cmu_us_abc_arctic_hts '((language french)))");
    put(second, "english/rab_diphone/festvox/rab_diphone.scm", "(define (voice_rab_diphone))");
    const auto voices = FindFestivalVoices(
        {first.path().toStdString(), "/nonexistent/voices", second.path().toStdString()});
    ASSERT_EQ(voices.size(), 3u);
    EXPECT_EQ(voices[0].name, "cmu_us_abc_arctic_hts");
    EXPECT_EQ(voices[0].speaker, "abc");
    EXPECT_EQ(voices[0].description, "US English female, HTS");
    EXPECT_EQ(voices[0].language, "en-us");
    EXPECT_EQ(voices[0].gender, 1u);
    EXPECT_EQ(voices[0].rate, 48000u);
    EXPECT_TRUE(voices[0].latin1);
    EXPECT_EQ(voices[1].speaker, "rab");  // no declaration: its folder tells the language
    EXPECT_EQ(voices[1].description, "English, diphone");
    EXPECT_EQ(voices[1].rate, 16000u);
    EXPECT_EQ(voices[2].speaker, "xyz");
    EXPECT_EQ(voices[2].description, "Central Catalan, HTS");
    EXPECT_EQ(voices[2].language, "ca");
    EXPECT_EQ(voices[2].gender, 0u);
    EXPECT_FALSE(voices[2].latin1);
    EXPECT_TRUE(FindFestivalVoices({"/nonexistent/voices"}).empty());
    const auto features =
        ProclaimedFeatures("(proclaim_voice 'v '((description \"a \\\"b\\\" (c\")))");
    ASSERT_EQ(features.size(), 1u);
    EXPECT_EQ(features[0].second, "a \"b\" (c");
}

TEST(Catalogue, UserLocaleLanguageComesFirst) {
    EXPECT_EQ(FirstFor("en_US.UTF-8"), "English (America) - espeak-ng");
    EXPECT_EQ(FirstFor("C"), "English (America) - espeak-ng");
    EXPECT_EQ(FirstFor("de_DE.UTF-8"), "German - espeak-ng");
    EXPECT_EQ(FirstFor("en_GB.UTF-8"), "English (Great Britain) - espeak-ng");
    EXPECT_EQ(FirstFor("fr_FR"), "French (France) - espeak-ng");
    EXPECT_EQ(LocaleRank("en-gb-x-rp", "en_GB"), 0);
    EXPECT_EQ(LocaleRank("en-us", "en_GB"), 1);
    EXPECT_EQ(LocaleRank("de", "de_AT.UTF-8@euro"), 1);
    EXPECT_EQ(LocaleRank("es", "de_DE"), 2);
    // The rest keeps one stable order.
    EXPECT_EQ(ModesForLocale("de_DE").size(), AllVoiceModes().size());
    const auto a = ModesForLocale("ja_JP"), b = ModesForLocale("ja_JP");
    for (size_t i = 0; i < a.size(); ++i) ASSERT_EQ(a[i]->info.gModeID, b[i]->info.gModeID);
}

TEST(Catalogue, EnumeratorReadsTheLocaleFromTheEnvironment) {
    EnsureApartment();
    for (const char* name : {"LC_ALL", "LC_MESSAGES"}) unsetenv(name);
    setenv("LANG", "de_DE.UTF-8", 1);
    EXPECT_EQ(Enumerate().front(), "German - espeak-ng");
    setenv("LC_MESSAGES", "en_US.UTF-8", 1);
    EXPECT_EQ(Enumerate().front(), "English (America) - espeak-ng");
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    EXPECT_EQ(Enumerate().front(), "German - espeak-ng");
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) unsetenv(name);
}

TEST(Catalogue, NextSkipAndResetKeepToTheList) {
    EnsureApartment();
    ComPtr<ITTSEnumA> e;
    ASSERT_EQ(
        CoCreateInstance(CLSID_TTSEnumerator, nullptr, CLSCTX_ALL, IID_ITTSEnumA, e.PutVoid()),
        S_OK);
    const auto count = static_cast<ULONG>(AllVoiceModes().size());
    TTSMODEINFOA first{}, r{};
    ULONG fetched = 7;
    ASSERT_EQ(e->Next(1, &first, &fetched), S_OK);
    ASSERT_EQ(e->Reset(), S_OK);
    ASSERT_EQ(e->Skip(2), S_OK);
    ASSERT_EQ(e->Next(1, &r, &fetched), S_OK);
    const std::string third = r.szModeName;
    ASSERT_EQ(e->Reset(), S_OK);
    ASSERT_EQ(e->Next(1, &r, &fetched), S_OK);
    EXPECT_STREQ(r.szModeName, first.szModeName);
    EXPECT_EQ(e->Skip(1), S_OK);
    ASSERT_EQ(e->Next(1, &r, &fetched), S_OK);
    EXPECT_EQ(third, r.szModeName);
    EXPECT_EQ(e->Skip(count), S_FALSE);
    EXPECT_EQ(e->Next(1, &r, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    ASSERT_EQ(e->Reset(), S_OK);
    ASSERT_EQ(e->Skip(count - 1), S_OK);
    EXPECT_EQ(e->Next(1, &r, &fetched), S_OK);
    EXPECT_EQ(e->Next(1, &r, &fetched), S_FALSE);
}

TEST(Catalogue, EveryModeCanBeSelected) {
    EnsureApartment();
    ComPtr<ITTSEnumA> e;
    ASSERT_EQ(
        CoCreateInstance(CLSID_TTSEnumerator, nullptr, CLSCTX_ALL, IID_ITTSEnumA, e.PutVoid()),
        S_OK);
    for (const VoiceMode& m : AllVoiceModes()) {
        auto dest = MakeCom<RecordingDest>();
        ComPtr<ITTSCentralA> central;
        ASSERT_EQ(
            e->Select(m.info.gModeID, central.Put(), static_cast<IParlenAudioDest*>(dest.Get())),
            S_OK)
            << m.info.szModeName;
        ComPtr<ITTSAttributesA> attributes;
        ComPtr<ITTSDialogsA> dialogs;
        EXPECT_EQ(central.As(attributes), S_OK);
        EXPECT_EQ(central.As(dialogs), S_OK);
        EXPECT_EQ(dest->Opens(), 1);
        EXPECT_EQ(dest->Rate(), m.engine == VoiceMode::Engine::Espeak     ? 22050u
                                : m.engine == VoiceMode::Engine::Festival ? m.rate
                                : m.engine == VoiceMode::Engine::Rhvoice  ? 24000u
                                : m.voice == "kal"                        ? 8000u
                                                                          : 16000u);
        TTSMODEINFOA r{};
        ASSERT_EQ(central->ModeGet(&r), S_OK);
        EXPECT_EQ(r.gModeID, m.info.gModeID);
    }
}

TEST(Catalogue, SelectRefusesUnknownModesAndForeignDestinations) {
    EnsureApartment();
    ComPtr<ITTSEnumA> e;
    ASSERT_EQ(
        CoCreateInstance(CLSID_TTSEnumerator, nullptr, CLSCTX_ALL, IID_ITTSEnumA, e.PutVoid()),
        S_OK);
    auto dest = MakeCom<RecordingDest>();
    ComPtr<ITTSCentralA> central;
    EXPECT_TRUE(FAILED(e->Select(GuidFromName("no such voice"), central.Put(),
                                 static_cast<IParlenAudioDest*>(dest.Get()))));
    EXPECT_FALSE(central);
    // An object that is no audio destination of ours.
    class Stranger : public TComObject<ITTSNotifySinkA> {
      public:
        HRESULT AttribChanged(DWORD) override { return S_OK; }
        HRESULT AudioStart(QWORD) override { return S_OK; }
        HRESULT AudioStop(QWORD) override { return S_OK; }
        HRESULT Visual(QWORD, char, char, DWORD, PTTSMOUTH) override { return S_OK; }
    };
    auto stranger = MakeCom<Stranger>();
    EXPECT_TRUE(FAILED(e->Select(AllVoiceModes().front().info.gModeID, central.Put(),
                                 static_cast<ITTSNotifySinkA*>(stranger.Get()))));
    EXPECT_FALSE(central);
    // A destination that cannot reach a sound server still gives an engine.
    dest->openResult = TTSERR_NOSOUNDSERVER;
    EXPECT_EQ(e->Select(AllVoiceModes().front().info.gModeID, central.Put(),
                        static_cast<IParlenAudioDest*>(dest.Get())),
              S_OK);
    ASSERT_TRUE(central);
    const std::string text = "hello";
    EXPECT_EQ(central->TextData(CHARSET_TEXT, 0, text.c_str(), text.size() + 1, nullptr,
                                IID_ITTSBufNotifySink),
              TTSERR_NOSOUNDSERVER);
}

namespace {
bool FestivalMapped() {
    QFile maps("/proc/self/maps");
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libparlen_festival.so");
}
}  // namespace

// Festival's library (its speech tools, their static constructors) costs every start of
// the program: it is mapped once a Festival voice speaks, and not for listing voices or
// for the other engines.
TEST(Catalogue, FestivalsLibraryIsMappedOnlyWhenOneOfItsVoicesSpeaks) {
    if (FestivalMapped()) {  // an earlier test used it: again in a fresh process
        QProcess fresh;
        fresh.start(
            QCoreApplication::applicationFilePath(),
            {"--gtest_filter=Catalogue.FestivalsLibraryIsMappedOnlyWhenOneOfItsVoicesSpeaks"});
        ASSERT_TRUE(fresh.waitForFinished(120000));
        EXPECT_EQ(fresh.exitCode(), 0) << fresh.readAll().toStdString();
        return;
    }
    EXPECT_FALSE(Enumerate().empty());
    EXPECT_FALSE(RenderText("slt (US English female) - flite", "one").empty());
    EXPECT_FALSE(RenderText("English (America) - espeak-ng", "one").empty());
    EXPECT_FALSE(FestivalMapped());
    EXPECT_FALSE(RenderText("kal (US English male, diphone) - festival", "one").empty());
    EXPECT_TRUE(FestivalMapped());
}

// Engines start when one of their voices first speaks; the list is the same, name for
// name and in the same order, in a fresh program that started none of them.
TEST(Catalogue, ListIsTheSameWhetherOrNotEnginesHaveStarted) {
    EXPECT_FALSE(RenderText("kal (US English male, 8 kHz) - flite", "one").empty());
    EXPECT_FALSE(RenderText("English (America) - espeak-ng", "one").empty());
    // The first program reads the voice files and keeps the list, the second reads
    // the list it kept.
    QTemporaryDir cache;
    for (int run = 0; run < 2; ++run) {
        QProcess fresh;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CACHE_HOME", cache.path());
        fresh.setProcessEnvironment(env);
        fresh.start(QCoreApplication::applicationDirPath() + "/parlen-say", {"--list"});
        ASSERT_TRUE(fresh.waitForFinished(60000));
        std::vector<std::string> listed;
        for (const QByteArray& line : fresh.readAllStandardOutput().split('\n'))
            if (!line.isEmpty()) listed.push_back(line.split('\t').value(1).toStdString());
        EXPECT_EQ(listed, Enumerate()) << "run " << run;
        EXPECT_TRUE(QFile::exists(cache.filePath("parlenmaker/espeak-voices"))) << "run " << run;
    }
}

// The kept list is used only while no voice folder changed and the file is whole.
TEST(Catalogue, KeptVoiceListIsUsedOnlyWhileNoVoiceFolderChanged) {
    QTemporaryDir data;
    const std::string root = data.path().toStdString();
    const std::vector<EspeakVoiceInfo> voices = {{"English (America)", "en-us", "gmw/en-US", 1, 0},
                                                 {"German", "de", "gmw/de", 2, 30}};
    auto prepare = [&] {
        for (const char* dir : {"voices/!v", "lang/gmw"})
            ASSERT_TRUE(QDir().mkpath(data.filePath(dir)));
        // Changed long ago: a change within the file system clock's tick would go unseen.
        const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
        for (const char* dir : {"voices", "voices/!v", "lang", "lang/gmw"})
            ASSERT_EQ(0, ::utimensat(AT_FDCWD, (root + "/" + dir).c_str(), old, 0)) << dir;
    };
    const std::string file = root + "/cache/parlenmaker/espeak-voices";
    const struct {
        const char* change;
        std::function<void()> apply;
        bool kept;
    } cases[] = {
        {"nothing", [] {}, true},
        {"a voice added",
         [&] { QFile(data.filePath("lang/gmw/en-GB")).open(QIODevice::WriteOnly); }, false},
        {"a variant removed", [&] { QDir(data.filePath("voices/!v")).removeRecursively(); }, false},
        {"another espeak-ng", [] {}, false},
        {"a cut file",
         [&] {
             QFile(QString::fromStdString(file))
                 .resize(QFileInfo(QString::fromStdString(file)).size() - 3);
         },
         false},
        {"a damaged number",
         [&] {
             std::string text;
             ASSERT_TRUE(ReadWholeFile(file, text));
             text.replace(text.find("voice\t2\t30"), 11, "voice\tx\t30");
             ASSERT_TRUE(ReplaceFileContents(file, [&](const std::string*) { return text; }));
         },
         false},
    };
    for (const auto& c : cases) {
        prepare();
        ASSERT_TRUE(SaveVoiceCache(file, "1.51", StampVoiceFolders(root), voices)) << c.change;
        c.apply();
        const auto kept =
            LoadVoiceCache(file, std::string(c.change) == "another espeak-ng" ? "1.52" : "1.51");
        ASSERT_EQ(c.kept, kept.has_value()) << c.change;
        if (kept) {
            EXPECT_EQ(voices.size(), kept->size());
            EXPECT_EQ("gmw/de", kept->back().identifier);
            EXPECT_EQ(30u, kept->back().age);
        }
    }
    // Fields the file cannot hold, and folders changed a moment ago, are not kept.
    EXPECT_FALSE(
        SaveVoiceCache(file, "1.51", StampVoiceFolders(root), {{"A\tB", "en", "x", 0, 0}}));
    QDir(data.filePath("lang/gmw")).removeRecursively();
    QDir().mkpath(data.filePath("lang/gmw"));
    EXPECT_FALSE(SaveVoiceCache(file, "1.51", StampVoiceFolders(root), voices));
}
