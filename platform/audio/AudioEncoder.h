#pragma once
// Compressed audio files: the format a file name asks for, and one file being encoded
// through libsndfile (FLAC, Ogg Vorbis, Ogg Opus), LAME on several threads (MP3,
// Mp3Stream.h) or FFmpeg (M4B, M4bStream.h).
//
// Quality for speech: FLAC at level 5; Vorbis at quality 4 of 10 (VBR); Opus at about
// 32 kbit/s (VBR), at 48 kHz, or 24 kHz for voices at 24 kHz or below, resampled with
// libsoxr; MP3 at 64 kbit/s CBR (96 kbit/s for voices at 32 kHz or above).
#include <sndfile.h>
#include <soxr.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "containers/Container.h"
#include "platform/audio/EncodedStream.h"
#include "platform/audio/FileTarget.h"

// A text's title: its first non-blank line, trimmed and cut to 100 characters without
// splitting one.
std::string TitleOf(std::string_view text);

class AudioEncoder {
  public:
    // Starts the file in `target` at `rate` frames per second; nullptr with the reason
    // when it cannot, and then the target is dropped (an earlier file stays).
    static std::unique_ptr<AudioEncoder> Create(std::unique_ptr<FileTarget> target,
                                                FileFormat format, unsigned rate, std::string& why);
    // Completes the file when Close was not called.
    ~AudioEncoder();
    AudioEncoder(const AudioEncoder&) = delete;
    AudioEncoder& operator=(const AudioEncoder&) = delete;

    // Title and artist, before the first Write; the encoder tag is set by Create.
    void Tag(const std::string& title, const std::string& artist);
    // False with the reason when the frames cannot be written (disk full).
    bool Write(const int16_t* frames, size_t count, std::string& why);
    // Ends the stream properly, to its last bytes, and settles the target
    // (FileTarget::Settle): a file that got no audio gets a moment of silence, so that it
    // plays. False with the reason when any write failed; the file kept then ends at its
    // last whole frame, and a FLAC file's header tells its length.
    bool Close(std::string& why);

  private:
    AudioEncoder(std::unique_ptr<FileTarget> target, SNDFILE* file, soxr_t resampler, unsigned rate)
        : target_(std::move(target)), file_(file), resampler_(resampler), rate_(rate) {}
    bool WriteOut(const int16_t* frames, size_t count, std::string& why);
    bool Resample(const int16_t* frames, size_t count, std::string& why);
    // The file as written so far opens with some audio in it.
    bool Decodes();
    bool CloseStream(std::string& why);
    // Settles the target (FileTarget::Settle) and lets it go; ok, unless settling a
    // complete file fails (why then says so).
    bool Settle(bool ok, std::string& why);

    std::unique_ptr<FileTarget> target_;
    SNDFILE* file_;
    soxr_t resampler_;  // Opus only
    unsigned rate_;     // of the frames handed in
    uint64_t frames_ = 0;
    std::vector<int16_t> resampled_;
    // The file's size after the last write that went in whole: a failed write leaves
    // a part of a frame after it, which is cut off so that the file plays to its end;
    // a file with nothing whole in it is not kept.
    off_t whole_ = 0;
    bool failed_ = false;
    std::unique_ptr<EncodedStream> stream_;  // MP3 and M4B: instead of libsndfile
    bool latin1_ = false;                    // MP3 tags
    bool flac_ = false;
};
