#pragma once
// TVersionInfo reads the version block of an executable file, by default the running
// program's own, and serves its values. The block is read once, on the first getter
// call after the file name was set; getters pass on EVersionInfoError.
#include <QDateTime>
#include <QObject>
#include <cstdint>
#include <string>

class TVersionInfo : public QObject {
    Q_OBJECT

  public:
    explicit TVersionInfo(QObject* owner = nullptr);

    const std::string& FileName() const { return fileName_; }
    // An empty name selects the running executable. A name of a file that does not
    // exist fails with code 73 and keeps the previous name and values.
    void SetFileName(const std::string& name);
    // Called by the owner once its layout is loaded: an empty name is filled in again.
    void Loaded();
    bool VersionInfoRead() const { return read_; }

    std::string Comments() { return Text(&Texts::comments); }
    std::string CompanyName() { return Text(&Texts::companyName); }
    std::string FileDescription() { return Text(&Texts::fileDescription); }
    std::string FileVersion() { return Text(&Texts::fileVersion); }
    std::string InternalName() { return Text(&Texts::internalName); }
    std::string LegalCopyright() { return Text(&Texts::legalCopyright); }
    std::string LegalTrademarks() { return Text(&Texts::legalTrademarks); }
    std::string OriginalFilename() { return Text(&Texts::originalFilename); }
    std::string ProductName() { return Text(&Texts::productName); }
    std::string ProductVersion() { return Text(&Texts::productVersion); }
    std::string LanguageName();
    uint32_t TranslationValue();
    int TranslationCount();

    uint32_t FileVersionMS() { return FixedValue(&FixedValues::fileVersionMS); }
    uint32_t FileVersionLS() { return FixedValue(&FixedValues::fileVersionLS); }
    uint32_t ProductVersionMS() { return FixedValue(&FixedValues::productVersionMS); }
    uint32_t ProductVersionLS() { return FixedValue(&FixedValues::productVersionLS); }
    uint32_t FileFlagsMask() { return FixedValue(&FixedValues::fileFlagsMask); }
    uint32_t FileFlags() { return FixedValue(&FixedValues::fileFlags); }
    uint32_t FileOS() { return FixedValue(&FixedValues::fileOS); }
    uint32_t FileType() { return FixedValue(&FixedValues::fileType); }
    uint32_t FileSubtype() { return FixedValue(&FixedValues::fileSubtype); }
    // Invalid when the block's file date is zero.
    QDateTime FileDate();

    // The display name of a Windows language identifier.
    static std::string LanguageDisplayName(uint16_t languageId);

  private:
    struct Texts {
        std::string comments, companyName, fileDescription, fileVersion, internalName,
            legalCopyright, legalTrademarks, originalFilename, productName, productVersion;
    };
    struct FixedValues {
        uint32_t fileVersionMS = 0, fileVersionLS = 0, productVersionMS = 0, productVersionLS = 0,
                 fileFlagsMask = 0, fileFlags = 0, fileOS = 0, fileType = 0, fileSubtype = 0;
        QDateTime fileDate;
    };

    std::string Text(std::string Texts::*field);
    uint32_t FixedValue(uint32_t FixedValues::*field);
    void EnsureRead();
    void ReadBlock();

    std::string fileName_;
    bool read_ = false;
    Texts texts_;
    FixedValues fixed_;
    std::string languageName_;
    uint32_t translationValue_ = 0;
    int translationCount_ = 0;
};
