#pragma once
// Settings files in the profile (INI) text format, one value at a time. The object
// keeps only the file name: every read and write goes to the file itself.
#include <string>

class TCustomIniFile {
  public:
    explicit TCustomIniFile(std::string fileName) : fileName_(std::move(fileName)) {}
    virtual ~TCustomIniFile() = default;
    TCustomIniFile(const TCustomIniFile&) = delete;
    TCustomIniFile& operator=(const TCustomIniFile&) = delete;

    const std::string& FileName() const { return fileName_; }

    // The value, or defaultValue (null counts as empty) when the file, the section or
    // the key is missing or the file cannot be read. Never fails.
    virtual std::string ReadValue(const std::string& section, const std::string& key,
                                  const char* defaultValue) const = 0;
    // Sets the value; fails with Exception "Unable to write to <file name>".
    virtual void WriteValue(const std::string& section, const std::string& key,
                            const std::string& value) = 0;

  private:
    const std::string fileName_;
};

class TIniFile : public TCustomIniFile {
  public:
    // Values come back through a buffer of this many bytes, terminating zero included.
    static constexpr size_t kReadBufferSize = 2048;

    explicit TIniFile(std::string fileName) : TCustomIniFile(std::move(fileName)) {}

    std::string ReadValue(const std::string& section, const std::string& key,
                          const char* defaultValue) const override;
    void WriteValue(const std::string& section, const std::string& key,
                    const std::string& value) override;
};
