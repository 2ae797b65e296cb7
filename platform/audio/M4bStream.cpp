#include "platform/audio/M4bStream.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstdio>

namespace {
constexpr int kIoBuffer = 1 << 16;
constexpr int64_t kBitRate = 64000;

std::string Reason(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

// FFmpeg's writes and seeks through the target's own, so that its failures are kept
// as every format's are.
#if LIBAVFORMAT_VERSION_MAJOR >= 61
int WritePacket(void* opaque, const uint8_t* data, int size) {
#else
int WritePacket(void* opaque, uint8_t* data, int size) {
#endif
    auto* target = static_cast<FileTarget*>(opaque);
    const sf_count_t wrote = FileTarget::Io()->write(data, size, target);
    return wrote == size ? size : AVERROR(EIO);
}

int64_t Seek(void* opaque, int64_t offset, int whence) {
    auto* target = static_cast<FileTarget*>(opaque);
    if (whence & AVSEEK_SIZE) return FileTarget::Io()->get_filelen(target);
    const sf_count_t at = FileTarget::Io()->seek(offset, whence & ~AVSEEK_FORCE, target);
    return at < 0 ? AVERROR(ESPIPE) : at;
}
}  // namespace

std::unique_ptr<M4bStream> M4bStream::Open(FileTarget& target, unsigned rate, std::string& why) {
    std::unique_ptr<M4bStream> s(new M4bStream);
    // Failures come back as results and reach the user with our messages; FFmpeg's own
    // notes on standard error (an extension other than .m4a, the encoder's figures) are
    // noise there.
    av_log_set_level(AV_LOG_QUIET);
    s->target_ = &target;
    int error = avformat_alloc_output_context2(&s->format_, nullptr, "ipod", nullptr);
    const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (error < 0 || !aac) {
        why = "this FFmpeg cannot write M4B files" + (error < 0 ? ": " + Reason(error) : "");
        return nullptr;
    }
    s->ioBuffer_ = static_cast<unsigned char*>(av_malloc(kIoBuffer));
    s->format_->pb = avio_alloc_context(s->ioBuffer_, kIoBuffer, 1, &target, nullptr, WritePacket,
                                        target.Seekable() ? Seek : nullptr);
    if (!s->ioBuffer_ || !s->format_->pb) {
        why = "not enough memory for the M4B file";
        return nullptr;
    }
    s->ioBuffer_ = nullptr;  // the context's now
    av_opt_set(s->format_->priv_data, "brand", "M4B ", 0);
    if (!target.Seekable())
        av_opt_set(s->format_->priv_data, "movflags", "frag_keyframe+empty_moov", 0);

    AVStream* stream = avformat_new_stream(s->format_, nullptr);
    s->codec_ = avcodec_alloc_context3(aac);
    s->frame_ = av_frame_alloc();
    s->packet_ = av_packet_alloc();
    if (!stream || !s->codec_ || !s->frame_ || !s->packet_) {
        why = "not enough memory for the M4B file";
        return nullptr;
    }
    s->codec_->sample_fmt = AV_SAMPLE_FMT_FLTP;
    s->codec_->sample_rate = static_cast<int>(rate);
    av_channel_layout_default(&s->codec_->ch_layout, 1);
    s->codec_->bit_rate = kBitRate;
    s->codec_->time_base = AVRational{1, static_cast<int>(rate)};
    if (s->format_->oformat->flags & AVFMT_GLOBALHEADER)
        s->codec_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if ((error = avcodec_open2(s->codec_, aac, nullptr)) < 0 ||
        (error = avcodec_parameters_from_context(stream->codecpar, s->codec_)) < 0) {
        why = "the AAC encoder cannot take " + std::to_string(rate) + " Hz: " + Reason(error);
        return nullptr;
    }
    stream->time_base = s->codec_->time_base;
    s->frame_->format = AV_SAMPLE_FMT_FLTP;
    s->frame_->sample_rate = s->codec_->sample_rate;
    av_channel_layout_copy(&s->frame_->ch_layout, &s->codec_->ch_layout);
    return s;
}

M4bStream::~M4bStream() {
    if (format_) {
        if (format_->pb) {
            av_freep(&format_->pb->buffer);
            avio_context_free(&format_->pb);
        }
        avformat_free_context(format_);
    }
    av_free(ioBuffer_);
    avcodec_free_context(&codec_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
}

void M4bStream::Tag(const std::string& title, const std::string& artist) {
    title_ = title;
    artist_ = artist;
}

bool M4bStream::Header(std::string& why) {
    if (headerWritten_) return true;
    if (!title_.empty()) av_dict_set(&format_->metadata, "title", title_.c_str(), 0);
    if (!artist_.empty()) av_dict_set(&format_->metadata, "artist", artist_.c_str(), 0);
    av_dict_set(&format_->metadata, "encoder", "Parlen Maker", 0);
    const int error = avformat_write_header(format_, nullptr);
    if (error < 0) {
        const std::string failure = target_->Failure();
        why = failure.empty() ? Reason(error) : failure;
        return false;
    }
    headerWritten_ = true;
    return true;
}

bool M4bStream::Encode(const AVFrame* frame, std::string& why) {
    int error = avcodec_send_frame(codec_, frame);
    while (error >= 0) {
        error = avcodec_receive_packet(codec_, packet_);
        if (error == AVERROR(EAGAIN) || error == AVERROR_EOF) return true;
        if (error < 0) break;
        av_packet_rescale_ts(packet_, codec_->time_base, format_->streams[0]->time_base);
        packet_->stream_index = 0;
        error = av_interleaved_write_frame(format_, packet_);
    }
    const std::string failure = target_->Failure();
    why = failure.empty() ? "the AAC encoder failed: " + Reason(error) : failure;
    return false;
}

bool M4bStream::Write(const int16_t* frames, size_t count, std::string& why) {
    if (!Header(why)) return false;
    for (size_t i = 0; i < count; ++i) held_.push_back(static_cast<float>(frames[i]) / 32768.0f);
    const auto size = static_cast<size_t>(codec_->frame_size);
    size_t used = 0;
    while (held_.size() - used >= size) {
        frame_->nb_samples = static_cast<int>(size);
        if (av_frame_get_buffer(frame_, 0) < 0 || av_frame_make_writable(frame_) < 0) {
            why = "not enough memory for the M4B file";
            return false;
        }
        std::copy_n(held_.data() + used, size, reinterpret_cast<float*>(frame_->data[0]));
        frame_->pts = pts_;
        pts_ += static_cast<int64_t>(size);
        used += size;
        const bool encoded = Encode(frame_, why);
        av_frame_unref(frame_);
        frame_->format = AV_SAMPLE_FMT_FLTP;
        frame_->sample_rate = codec_->sample_rate;
        av_channel_layout_copy(&frame_->ch_layout, &codec_->ch_layout);
        if (!encoded) return false;
    }
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(used));
    return true;
}

bool M4bStream::Finish(std::string& why) {
    if (!Header(why)) return false;
    if (!held_.empty()) {
        // The last frame may be short.
        frame_->nb_samples = static_cast<int>(held_.size());
        if (av_frame_get_buffer(frame_, 0) < 0) {
            why = "not enough memory for the M4B file";
            return false;
        }
        std::copy(held_.begin(), held_.end(), reinterpret_cast<float*>(frame_->data[0]));
        frame_->pts = pts_;
        pts_ += static_cast<int64_t>(held_.size());
        held_.clear();
        const bool encoded = Encode(frame_, why);
        av_frame_unref(frame_);
        if (!encoded) return false;
    }
    if (!Encode(nullptr, why)) return false;
    const int error = av_write_trailer(format_);
    avio_flush(format_->pb);
    const std::string failure = target_->Failure();
    if (error < 0 || !failure.empty()) {
        why = failure.empty() ? Reason(error) : failure;
        return false;
    }
    return true;
}
