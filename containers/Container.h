#pragma once
// The audio files the program writes, told apart by their names.
#include <string_view>

enum class FileFormat { Wav, Flac, Vorbis, Opus, Mp3, M4b };

// From the extension, in any case: .flac, .ogg/.oga, .opus, .mp3, .m4b; anything else is
// WAV.
FileFormat FileFormatOf(std::string_view path);
