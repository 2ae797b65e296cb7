// espeak-ng's dictionaries without a default rule group, mended in a copy of its data.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <filesystem>

#include "platform/voices/EspeakRules.h"

namespace {
// A compiled dictionary: the hash chains (all empty) and then the rules given.
std::string Dictionary(const std::string& rules) {
    std::string d(8 + 1024, '\0');
    const uint32_t chains = 1024, offset = static_cast<uint32_t>(d.size());
    std::memcpy(d.data(), &chains, 4);
    std::memcpy(d.data() + 4, &offset, 4);
    return d + rules;
}

// A group for "a", a letter group, and character replacements (word-aligned).
std::string OtherGroups() {
    std::string r = std::string(
        "\x06"
        "a\0"
        "x\0"
        "\x07",
        6);
    r += std::string(
        "\x06\x12"
        "A"
        "b\0"
        "\x07",
        6);
    r += "\x06\x14";
    while ((1032 + r.size()) % 4) r += '\0';
    return r + std::string("ab\0cd\0\0\0\0\0\x07", 11);
}

std::string Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}
}  // namespace

TEST(EspeakRules, OnlyDictionariesWithoutADefaultGroupAreMended) {
    const std::string noDefault = Dictionary(OtherGroups() + '\0');
    const auto mended = WithDefaultRuleGroup(noDefault);
    ASSERT_TRUE(mended.has_value());
    EXPECT_EQ(noDefault.substr(0, noDefault.size() - 1) + std::string("\x06\0\x07\0", 4), *mended);
    EXPECT_FALSE(WithDefaultRuleGroup(*mended).has_value()) << "mended twice";

    struct Case {
        const char* what;
        std::string dictionary;
    };
    const Case untouched[] = {
        {"a default group", Dictionary(std::string("\x06\0"
                                                   "y\0"
                                                   "\x07",
                                                   5) +
                                       OtherGroups() + '\0')},
        {"no rules at all", Dictionary(std::string("\x07\0", 2))},
        {"cut short", noDefault.substr(0, noDefault.size() - 4)},
        {"not rules", Dictionary("\x05zz")},
        {"another hash size", std::string("\x01\x02", 2) + noDefault.substr(2)},
        {"rules past the end", noDefault.substr(0, 1032)},
    };
    for (const Case& c : untouched) EXPECT_FALSE(WithDefaultRuleGroup(c.dictionary)) << c.what;

    for (const char* v : {"1.51", "1.51.1", "1.49.2"}) EXPECT_TRUE(ReadsUnsetMatchRecord(v)) << v;
    for (const char* v : {"1.52", "1.52-dev", "2.0", "", "ng"})
        EXPECT_FALSE(ReadsUnsetMatchRecord(v)) << v;

    // The installed data reads as the format expected: Hindi lacks the group, English has it.
    const std::string system = "/usr/lib/x86_64-linux-gnu/espeak-ng-data/";
    EXPECT_TRUE(WithDefaultRuleGroup(Read(QString::fromStdString(system + "hi_dict"))));
    EXPECT_FALSE(WithDefaultRuleGroup(Read(QString::fromStdString(system + "en_dict"))));
}

TEST(EspeakRules, TheMendedCopyIsMadeOnceAndRemadeWhenADictionaryChanges) {
    QTemporaryDir tmp;
    const QString system = tmp.filePath("system"), cache = tmp.filePath("cache");
    QDir().mkpath(system + "/lang/gmw");
    const auto write = [&](const QString& name, const std::string& data) {
        QFile f(system + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data.data(), static_cast<qint64>(data.size()));
    };
    write("xx_dict", Dictionary(OtherGroups() + '\0'));
    write("yy_dict", Dictionary(std::string("\x06\0\x07\0", 4)));
    write("phontab", "phonemes");
    const QByteArray savedCache = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", cache.toUtf8());

    const std::string parent = MendedEspeakDataParent(system.toStdString(), "1.51");
    ASSERT_TRUE(QString::fromStdString(parent).startsWith(cache + "/parlenmaker/espeak-ng-"));
    const QString data = QString::fromStdString(parent) + "/espeak-ng-data";
    EXPECT_EQ(*WithDefaultRuleGroup(Dictionary(OtherGroups() + '\0')), Read(data + "/xx_dict"));
    for (const char* linked : {"yy_dict", "phontab", "lang"})
        EXPECT_TRUE(std::filesystem::is_symlink((data + "/" + linked).toStdString())) << linked;
    EXPECT_EQ(4u,
              QDir(data).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size());

    struct stat before {
    }, after{};
    ASSERT_EQ(0, ::stat((data + "/xx_dict").toUtf8().constData(), &before));
    EXPECT_EQ(parent, MendedEspeakDataParent(system.toStdString(), "1.51"));
    ASSERT_EQ(0, ::stat((data + "/xx_dict").toUtf8().constData(), &after));
    EXPECT_EQ(before.st_ino, after.st_ino) << "made again";

    write("yy_dict", Dictionary(std::string("\x06\0\x07\0\0", 5)));
    EXPECT_NE(parent, MendedEspeakDataParent(system.toStdString(), "1.51"));
    EXPECT_EQ("", MendedEspeakDataParent(system.toStdString(), "1.52"));
    if (savedCache.isNull())
        qunsetenv("XDG_CACHE_HOME");
    else
        qputenv("XDG_CACHE_HOME", savedCache);
}
