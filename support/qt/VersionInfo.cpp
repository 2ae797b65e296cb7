#include "support/qt/VersionInfo.h"

#include <sys/stat.h>

#include <cstdio>
#include <optional>

#include "support/Errors.h"
#include "support/VersionBlock.h"
#include "support/VersionSource.h"

namespace {

constexpr int kErrorOpening = 73;
constexpr int kNoVersionInfo = 100;
constexpr int kUnreadable = 101;

bool FileExists(const std::string& name) {
    struct stat st {};
    return ::stat(name.c_str(), &st) == 0;
}

struct LanguageEntry {
    uint16_t id;
    const char* name;
};

// The names the platform gives the identifiers one meets in version blocks.
constexpr LanguageEntry kLanguages[] = {
    {0x0000, "Language Neutral"},
    {0x0401, "Arabic (Saudi Arabia)"},
    {0x0402, "Bulgarian (Bulgaria)"},
    {0x0403, "Catalan (Catalan)"},
    {0x0404, "Chinese (Traditional, Taiwan)"},
    {0x0405, "Czech (Czech Republic)"},
    {0x0406, "Danish (Denmark)"},
    {0x0407, "German (Germany)"},
    {0x0408, "Greek (Greece)"},
    {0x0409, "English (United States)"},
    {0x040A, "Spanish (Spain, Traditional Sort)"},
    {0x040B, "Finnish (Finland)"},
    {0x040C, "French (France)"},
    {0x040D, "Hebrew (Israel)"},
    {0x040E, "Hungarian (Hungary)"},
    {0x040F, "Icelandic (Iceland)"},
    {0x0410, "Italian (Italy)"},
    {0x0411, "Japanese (Japan)"},
    {0x0412, "Korean (Korea)"},
    {0x0413, "Dutch (Netherlands)"},
    {0x0414, "Norwegian, Bokm\xC3\xA5l (Norway)"},
    {0x0415, "Polish (Poland)"},
    {0x0416, "Portuguese (Brazil)"},
    {0x0418, "Romanian (Romania)"},
    {0x0419, "Russian (Russia)"},
    {0x041A, "Croatian (Croatia)"},
    {0x041B, "Slovak (Slovakia)"},
    {0x041D, "Swedish (Sweden)"},
    {0x041E, "Thai (Thailand)"},
    {0x041F, "Turkish (Turkey)"},
    {0x0422, "Ukrainian (Ukraine)"},
    {0x0424, "Slovenian (Slovenia)"},
    {0x0425, "Estonian (Estonia)"},
    {0x0426, "Latvian (Latvia)"},
    {0x0427, "Lithuanian (Lithuania)"},
    {0x0804, "Chinese (Simplified, PRC)"},
    {0x0807, "German (Switzerland)"},
    {0x0809, "English (United Kingdom)"},
    {0x080A, "Spanish (Mexico)"},
    {0x080C, "French (Belgium)"},
    {0x0810, "Italian (Switzerland)"},
    {0x0813, "Dutch (Belgium)"},
    {0x0816, "Portuguese (Portugal)"},
    {0x0C07, "German (Austria)"},
    {0x0C09, "English (Australia)"},
    {0x0C0A, "Spanish (Spain, International Sort)"},
    {0x0C0C, "French (Canada)"},
    {0x1009, "English (Canada)"},
    {0x100C, "French (Switzerland)"},
};

}  // namespace

std::string TVersionInfo::LanguageDisplayName(uint16_t languageId) {
    for (const LanguageEntry& e : kLanguages)
        if (e.id == languageId) return e.name;
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "Unknown language (0x%04X)", languageId);
    return buffer;
}

TVersionInfo::TVersionInfo(QObject* owner) : QObject(owner) {
    SetFileName(std::string());
}

void TVersionInfo::SetFileName(const std::string& name) {
    if (!name.empty() && !FileExists(name)) throw EVersionInfoError(kErrorOpening);
    if (name != fileName_) read_ = false;
    fileName_ = name;
    if (fileName_.empty()) fileName_ = OwnExecutablePath();
}

void TVersionInfo::Loaded() {
    if (fileName_.empty()) SetFileName(std::string());
}

void TVersionInfo::EnsureRead() {
    if (!read_) ReadBlock();
}

std::string TVersionInfo::Text(std::string Texts::*field) {
    EnsureRead();
    return texts_.*field;
}

uint32_t TVersionInfo::FixedValue(uint32_t FixedValues::*field) {
    EnsureRead();
    return fixed_.*field;
}

std::string TVersionInfo::LanguageName() {
    EnsureRead();
    return languageName_;
}

uint32_t TVersionInfo::TranslationValue() {
    EnsureRead();
    return translationValue_;
}

int TVersionInfo::TranslationCount() {
    EnsureRead();
    return translationCount_;
}

QDateTime TVersionInfo::FileDate() {
    EnsureRead();
    return fixed_.fileDate;
}

void TVersionInfo::ReadBlock() {
    // One pass fills every field; what a failing step leaves unread stays empty.
    texts_ = Texts();
    fixed_ = FixedValues();
    languageName_.clear();
    translationValue_ = 0;
    translationCount_ = 0;

    std::string bytes;
    switch (ReadVersionBlock(fileName_, bytes)) {
        case TBlockSearch::kFound:
            break;
        case TBlockSearch::kNoBlock:
            throw EVersionInfoError(kNoVersionInfo);
        case TBlockSearch::kUnreadable:
            throw EVersionInfoError(kUnreadable);
    }
    const TVersionBlock block(bytes);
    bytes.clear();

    const std::optional<std::vector<uint32_t>> table = block.Translations();
    if (!table) throw EVersionInfoError(kUnreadable);
    translationValue_ = table->front();
    translationCount_ = static_cast<int>(table->size());
    const uint16_t language = translationValue_ & 0xFFFF;
    const uint16_t codePage = translationValue_ >> 16;
    languageName_ = LanguageDisplayName(language);
    read_ = true;

    char prefix[40];
    std::snprintf(prefix, sizeof prefix, "StringFileInfo\\%.4X%.4X\\", language, codePage);

    const std::optional<TFixedFileInfo> info = block.FixedInfo();
    if (!info) throw EVersionInfoError(kUnreadable);
    fixed_.fileVersionMS = info->dwFileVersionMS;
    fixed_.fileVersionLS = info->dwFileVersionLS;
    fixed_.productVersionMS = info->dwProductVersionMS;
    fixed_.productVersionLS = info->dwProductVersionLS;
    fixed_.fileFlagsMask = info->dwFileFlagsMask;
    fixed_.fileFlags = info->dwFileFlags;
    fixed_.fileOS = info->dwFileOS;
    fixed_.fileType = info->dwFileType;
    fixed_.fileSubtype = info->dwFileSubtype;
    const uint64_t fileTime = uint64_t{info->dwFileDateMS} << 32 | info->dwFileDateLS;
    if (fileTime != 0) {
        // File times count 100 ns steps from 1601-01-01 UTC.
        const QDateTime epoch(QDate(1601, 1, 1), QTime(0, 0), Qt::UTC);
        fixed_.fileDate = epoch.addMSecs(static_cast<qint64>(fileTime / 10000));
    }

    const std::pair<const char*, std::string Texts::*> keys[] = {
        {"Comments", &Texts::comments},
        {"CompanyName", &Texts::companyName},
        {"FileDescription", &Texts::fileDescription},
        {"FileVersion", &Texts::fileVersion},
        {"InternalName", &Texts::internalName},
        {"LegalCopyright", &Texts::legalCopyright},
        {"LegalTrademarks", &Texts::legalTrademarks},
        {"OriginalFilename", &Texts::originalFilename},
        {"ProductName", &Texts::productName},
        {"ProductVersion", &Texts::productVersion},
    };
    for (const auto& [key, field] : keys) {
        if (std::optional<std::string> text = block.Text(std::string(prefix) + key))
            texts_.*field = std::move(*text);
    }
}
