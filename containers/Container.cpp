#include "containers/Container.h"

#include <cctype>
#include <string>

FileFormat FileFormatOf(std::string_view path) {
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
        return FileFormat::Wav;
    std::string ext(path.substr(dot + 1));
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == "flac") return FileFormat::Flac;
    if (ext == "ogg" || ext == "oga") return FileFormat::Vorbis;
    if (ext == "opus") return FileFormat::Opus;
    if (ext == "mp3") return FileFormat::Mp3;
    if (ext == "m4b") return FileFormat::M4b;
    return FileFormat::Wav;
}
