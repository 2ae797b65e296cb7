#include "support/IniFiles.h"

#include <optional>

#include "support/Errors.h"
#include "support/FileReplace.h"
#include "support/ProfileText.h"

std::string TIniFile::ReadValue(const std::string& section, const std::string& key,
                                const char* defaultValue) const {
    std::string result = defaultValue ? defaultValue : "";
    std::string text;
    if (ReadWholeFile(FileName(), text)) {
        if (std::optional<std::string> value = FindProfileValue(text, section, key))
            result = std::move(*value);
    }
    if (result.size() > kReadBufferSize - 1) result.resize(kReadBufferSize - 1);
    return result;
}

void TIniFile::WriteValue(const std::string& section, const std::string& key,
                          const std::string& value) {
    const bool written = ReplaceFileContents(FileName(), [&](const std::string* old) {
        return SetProfileValue(old ? *old : std::string(), section, key, value);
    });
    if (!written) throw Exception("Unable to write to " + FileName());
}
