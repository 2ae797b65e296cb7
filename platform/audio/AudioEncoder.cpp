#include "platform/audio/AudioEncoder.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/audio/FlacHeader.h"
#include "platform/audio/M4bStream.h"
#include "platform/audio/Mp3Stream.h"
#include "support/Unicode.h"

namespace {

constexpr size_t kTitleChars = 100;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

// The reason for a failed call: the system's when it set one, else libsndfile's.
std::string Reason(SNDFILE* file, int err) {
    return err ? std::strerror(err) : sf_strerror(file);
}

unsigned OpusRate(unsigned rate) {
    return rate <= 24000 ? 24000 : 48000;
}

// libsndfile's compression level runs from 0 (best) to 1 (smallest); for Opus it spans
// the bit rates the encoder offers at that rate.
double LevelFor(FileFormat format) {
    switch (format) {
        case FileFormat::Flac:
            return 5.0 / 8.0;  // level 5 of 0..8
        case FileFormat::Vorbis:
            return 0.6;  // quality 0.4
        case FileFormat::Opus:
            return 1.0 - (32000.0 - 6000.0) / (256000.0 - 6000.0);  // ~32 kbit/s
        case FileFormat::Wav:
        case FileFormat::Mp3:
        case FileFormat::M4b:
            break;
    }
    return 0.5;
}

int SndfileFormat(FileFormat format) {
    switch (format) {
        case FileFormat::Flac:
            return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
        case FileFormat::Vorbis:
            return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
        case FileFormat::Opus:
            return SF_FORMAT_OGG | SF_FORMAT_OPUS;
        case FileFormat::Wav:
        case FileFormat::Mp3:
        case FileFormat::M4b:
            break;
    }
    return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
}

}  // namespace

std::string TitleOf(std::string_view text) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
        while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
        if (!line.empty()) {
            // Count characters by their lead bytes; cut before the 101st.
            size_t chars = 0, cut = 0;
            for (; cut < line.size(); ++cut)
                if ((static_cast<unsigned char>(line[cut]) & 0xC0) != 0x80 &&
                    chars++ == kTitleChars)
                    break;
            line = line.substr(0, cut);
            while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
            return std::string(line);
        }
        pos = end + 1;
    }
    return {};
}

std::unique_ptr<AudioEncoder> AudioEncoder::Create(std::unique_ptr<FileTarget> target,
                                                   FileFormat format, unsigned rate,
                                                   std::string& why) {
    const std::string software = std::string("Parlen Maker ") + PARLEN_VERSION;
    std::unique_ptr<EncodedStream> stream;
    if (format == FileFormat::Mp3)
        stream = Mp3Stream::Open(*target, rate, rate >= 32000 ? 96 : 64, 0, software, why);
    if (format == FileFormat::M4b) stream = M4bStream::Open(*target, rate, why);
    if (format == FileFormat::Mp3 || format == FileFormat::M4b) {
        if (!stream) return nullptr;
        std::unique_ptr<AudioEncoder> encoder(
            new AudioEncoder(std::move(target), nullptr, nullptr, rate));
        encoder->stream_ = std::move(stream);
        encoder->latin1_ = format == FileFormat::Mp3;
        return encoder;
    }
    const unsigned fileRate = format == FileFormat::Opus ? OpusRate(rate) : rate;
    SF_INFO info{};
    info.samplerate = static_cast<int>(fileRate);
    info.channels = 1;
    info.format = SndfileFormat(format);
    SNDFILE* file = sf_open_virtual(FileTarget::Io(), SFM_WRITE, &info, target.get());
    if (!file) {
        const std::string failed = target->Failure();
        why = failed.empty() ? sf_strerror(nullptr) : failed;
        return nullptr;  // the target goes, and an earlier file stays
    }
    double level = LevelFor(format);
    sf_command(file, SFC_SET_COMPRESSION_LEVEL, &level, sizeof level);
    sf_set_string(file, SF_STR_SOFTWARE, software.c_str());
    soxr_t resampler = nullptr;
    if (fileRate != rate) {
        // Without dither, the same frames always give the same file.
        soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
        io.flags |= SOXR_NO_DITHER;
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        soxr_error_t error = nullptr;
        resampler = soxr_create(rate, fileRate, 1, &error, &io, &quality, nullptr);
        if (!resampler) {
            why = std::string("Cannot resample: ") + (error ? error : "unknown error");
            sf_close(file);
            return nullptr;
        }
    }
    std::unique_ptr<AudioEncoder> encoder(
        new AudioEncoder(std::move(target), file, resampler, rate));
    encoder->flac_ = format == FileFormat::Flac;
    return encoder;
}

AudioEncoder::~AudioEncoder() {
    std::string ignored;
    Close(ignored);
}

void AudioEncoder::Tag(const std::string& title, const std::string& artist) {
    if (frames_ > 0) return;
    // MP3 tags are written in Latin-1: characters beyond it become '?'.
    const auto text = [this](const std::string& s) { return latin1_ ? Utf8ToLatin1(s) : s; };
    if (stream_) stream_->Tag(text(title), text(artist));
    if (!file_) return;
    if (!title.empty()) sf_set_string(file_, SF_STR_TITLE, text(title).c_str());
    if (!artist.empty()) sf_set_string(file_, SF_STR_ARTIST, text(artist).c_str());
}

bool AudioEncoder::Write(const int16_t* frames, size_t count, std::string& why) {
    if (stream_) {
        frames_ += count;
        if (!stream_->Write(frames, count, why)) failed_ = true;
        return !failed_;
    }
    if (!file_) {
        why = "The file is closed";
        return false;
    }
    frames_ += count;
    return resampler_ ? Resample(frames, count, why) : WriteOut(frames, count, why);
}

bool AudioEncoder::Resample(const int16_t* frames, size_t count, std::string& why) {
    // A null input drains what the resampler still holds.
    const double ratio = static_cast<double>(OpusRate(rate_)) / rate_;
    resampled_.resize(static_cast<size_t>(count * ratio) + 1024);
    size_t used = 0;
    do {
        size_t taken = 0, made = 0;
        const soxr_error_t error =
            soxr_process(resampler_, frames ? frames + used : nullptr, count - used, &taken,
                         resampled_.data(), resampled_.size(), &made);
        if (error) {
            why = std::string("Cannot resample: ") + error;
            return false;
        }
        used += taken;
        if (made > 0 && !WriteOut(resampled_.data(), made, why)) return false;
        if (!frames && made == 0) break;  // drained
        if (frames && used >= count && made < resampled_.size()) break;
    } while (true);
    return true;
}

bool AudioEncoder::WriteOut(const int16_t* frames, size_t count, std::string& why) {
    // In steps of a fraction of a second, so that a failure loses at most one step.
    constexpr size_t kStep = 4096;
    for (size_t at = 0; at < count; at += kStep) {
        const auto n = static_cast<sf_count_t>(std::min(kStep, count - at));
        errno = 0;
        const sf_count_t done = sf_write_short(file_, frames + at, n);
        // Encoders take the frames and may fail only in the page they write out, or
        // say nothing of it: the target keeps the failure.
        const std::string failed = target_->Failure();
        if (done < n || !failed.empty() || sf_error(file_) != SF_ERR_NO_ERROR) {
            why = failed.empty() ? Reason(file_, errno) : failed;
            failed_ = true;
            return false;
        }
        whole_ = target_->Size();
    }
    return true;
}

bool AudioEncoder::Decodes() {
    SF_INFO info{};
    FileTarget::Io()->seek(0, SEEK_SET, target_.get());  // read from its start
    SNDFILE* file = sf_open_virtual(FileTarget::Io(), SFM_READ, &info, target_.get());
    if (!file) return false;
    sf_close(file);
    return info.frames > 0;
}

bool AudioEncoder::Close(std::string& why) {
    if (stream_) return CloseStream(why);
    if (!file_) return true;
    bool ok = !failed_;
    if (ok && frames_ == 0) {
        const std::vector<int16_t> silence(rate_ / 50, 0);
        ok = Write(silence.data(), silence.size(), why);
    }
    if (ok && resampler_) ok = Resample(nullptr, 0, why);
    if (resampler_) soxr_delete(resampler_);
    resampler_ = nullptr;
    errno = 0;
    const int closed = sf_close(std::exchange(file_, nullptr));
    // The last pages and frames go out in sf_close, which does not always say so.
    if (const std::string failed = target_->Failure(); ok && !failed.empty()) {
        why = failed;
        ok = false;
    } else if (ok && closed != 0) {
        why = errno ? std::strerror(errno) : sf_error_number(closed);
        ok = false;
    }
    if (!ok && target_->Seekable()) {
        // What went in whole stays, without a part of a frame after it.
        if (!target_->Truncate(whole_)) whole_ = 0;
        if (flac_ && whole_ > 0) CompleteFlacHeader(target_->Fd());
        // Headers alone (an encoder that held back all its pages) play nothing.
        if (whole_ > 0 && !Decodes()) whole_ = 0;
    }
    if (!ok && whole_ == 0) target_->Truncate(0);  // nothing whole: not kept
    return Settle(ok, why);
}

bool AudioEncoder::Settle(bool ok, std::string& why) {
    std::string settled;
    if (!target_->Settle(ok, settled) && ok) {
        why = settled;
        ok = false;
    }
    target_.reset();
    return ok;
}

bool AudioEncoder::CloseStream(std::string& why) {
    bool ok = !failed_;
    if (ok && frames_ == 0) {
        const std::vector<int16_t> silence(rate_ / 50, 0);
        ok = Write(silence.data(), silence.size(), why);
    }
    if (ok) ok = stream_->Finish(why);
    if (!ok && !stream_->KeepWhole()) target_->Truncate(0);  // nothing whole: not kept
    stream_.reset();
    return Settle(ok, why);
}
