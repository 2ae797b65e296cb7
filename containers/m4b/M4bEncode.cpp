// The M4B encoder of the bridge: FFmpeg's own AAC encoder at 64 kbit/s into its "ipod"
// muxer with the brand "M4B ", written through the caller's sink.
#include <algorithm>
#include <memory>

#include "containers/m4b/M4bCommon.h"
#include "containers/m4b/M4bEntry.h"

namespace m4b_bridge {
namespace {
constexpr int64_t kBitRate = 64000;

#if LIBAVFORMAT_VERSION_MAJOR >= 61
int WritePacket(void* opaque, const uint8_t* data, int size) {
#else
int WritePacket(void* opaque, uint8_t* data, int size) {
#endif
    const Sink* sink = static_cast<const Sink*>(opaque);
    return sink->write(sink->opaque, data, static_cast<size_t>(size)) ? size : AVERROR(EIO);
}

int64_t SeekSink(void* opaque, int64_t offset, int whence) {
    const Sink* sink = static_cast<const Sink*>(opaque);
    if (whence & AVSEEK_SIZE) return sink->size(sink->opaque);
    const int64_t at = sink->seek(sink->opaque, offset, whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(ESPIPE) : at;
}
}  // namespace

struct Stream {
    Sink sink;
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    bool headerWritten = false;
    std::vector<float> held;  // samples short of a whole frame
    int64_t pts = 0;
    std::string title, artist;

    ~Stream() {
        if (format) {
            FreeIo(format->pb);
            avformat_free_context(format);
        }
        avcodec_free_context(&codec);
        av_frame_free(&frame);
        av_packet_free(&packet);
    }
};

namespace {
Stream* Open(const Sink& sink, unsigned rate, std::string& why) {
    auto s = std::make_unique<Stream>();
    QuietLog();
    s->sink = sink;
    int error = avformat_alloc_output_context2(&s->format, nullptr, "ipod", nullptr);
    const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (error < 0 || !aac) {
        why = "this FFmpeg cannot write M4B files" + (error < 0 ? ": " + Reason(error) : "");
        return nullptr;
    }
    s->format->pb = NewIo(&s->sink, true, nullptr, WritePacket, sink.seek ? SeekSink : nullptr);
    if (!s->format->pb) {
        why = "not enough memory for the M4B file";
        return nullptr;
    }
    av_opt_set(s->format->priv_data, "brand", "M4B ", 0);
    if (!sink.seek) av_opt_set(s->format->priv_data, "movflags", "frag_keyframe+empty_moov", 0);

    AVStream* stream = avformat_new_stream(s->format, nullptr);
    s->codec = avcodec_alloc_context3(aac);
    s->frame = av_frame_alloc();
    s->packet = av_packet_alloc();
    if (!stream || !s->codec || !s->frame || !s->packet) {
        why = "not enough memory for the M4B file";
        return nullptr;
    }
    s->codec->sample_fmt = AV_SAMPLE_FMT_FLTP;
    s->codec->sample_rate = static_cast<int>(rate);
    av_channel_layout_default(&s->codec->ch_layout, 1);
    s->codec->bit_rate = kBitRate;
    s->codec->time_base = AVRational{1, static_cast<int>(rate)};
    if (s->format->oformat->flags & AVFMT_GLOBALHEADER)
        s->codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if ((error = avcodec_open2(s->codec, aac, nullptr)) < 0 ||
        (error = avcodec_parameters_from_context(stream->codecpar, s->codec)) < 0) {
        why = "the AAC encoder cannot take " + std::to_string(rate) + " Hz: " + Reason(error);
        return nullptr;
    }
    stream->time_base = s->codec->time_base;
    return s.release();
}

void Close(Stream* stream) {
    delete stream;
}

void Tag(Stream* s, const std::string& title, const std::string& artist) {
    s->title = title;
    s->artist = artist;
}

bool Header(Stream* s, std::string& why) {
    if (s->headerWritten) return true;
    if (!s->title.empty()) av_dict_set(&s->format->metadata, "title", s->title.c_str(), 0);
    if (!s->artist.empty()) av_dict_set(&s->format->metadata, "artist", s->artist.c_str(), 0);
    av_dict_set(&s->format->metadata, "encoder", "Parlen Maker", 0);
    const int error = avformat_write_header(s->format, nullptr);
    if (error < 0) {
        why = Reason(error);
        return false;
    }
    s->headerWritten = true;
    return true;
}

bool Encode(Stream* s, const AVFrame* frame, std::string& why) {
    int error = avcodec_send_frame(s->codec, frame);
    while (error >= 0) {
        error = avcodec_receive_packet(s->codec, s->packet);
        if (error == AVERROR(EAGAIN) || error == AVERROR_EOF) return true;
        if (error < 0) break;
        av_packet_rescale_ts(s->packet, s->codec->time_base, s->format->streams[0]->time_base);
        s->packet->stream_index = 0;
        error = av_interleaved_write_frame(s->format, s->packet);
    }
    why = "the AAC encoder failed: " + Reason(error);
    return false;
}

// Encodes `count` held samples from `from` as one frame.
bool EncodeHeld(Stream* s, size_t from, size_t count, std::string& why) {
    s->frame->nb_samples = static_cast<int>(count);
    s->frame->format = AV_SAMPLE_FMT_FLTP;
    s->frame->sample_rate = s->codec->sample_rate;
    av_channel_layout_copy(&s->frame->ch_layout, &s->codec->ch_layout);
    if (av_frame_get_buffer(s->frame, 0) < 0) {
        why = "not enough memory for the M4B file";
        return false;
    }
    std::copy_n(s->held.data() + from, count, reinterpret_cast<float*>(s->frame->data[0]));
    s->frame->pts = s->pts;
    s->pts += static_cast<int64_t>(count);
    const bool encoded = Encode(s, s->frame, why);
    av_frame_unref(s->frame);
    return encoded;
}

bool Write(Stream* s, const int16_t* frames, size_t count, std::string& why) {
    if (!Header(s, why)) return false;
    for (size_t i = 0; i < count; ++i) s->held.push_back(static_cast<float>(frames[i]) / 32768.0f);
    const auto size = static_cast<size_t>(s->codec->frame_size);
    size_t used = 0;
    for (; s->held.size() - used >= size; used += size)
        if (!EncodeHeld(s, used, size, why)) return false;
    s->held.erase(s->held.begin(), s->held.begin() + static_cast<std::ptrdiff_t>(used));
    return true;
}

bool Finish(Stream* s, std::string& why) {
    if (!Header(s, why)) return false;
    // The last frame may be short.
    if (!s->held.empty() && !EncodeHeld(s, 0, s->held.size(), why)) return false;
    s->held.clear();
    if (!Encode(s, nullptr, why)) return false;
    const int error = av_write_trailer(s->format);
    avio_flush(s->format->pb);
    if (error < 0 || s->format->pb->error < 0) {
        why = Reason(error < 0 ? error : s->format->pb->error);
        return false;
    }
    return true;
}
}  // namespace

bool WithChapters(const std::string& bytes, std::vector<Chapter>& chapters, std::string& out,
                  std::string& why);

}  // namespace m4b_bridge

const m4b_bridge::Entry* parlen_m4b_entry() {
    static const m4b_bridge::Entry entry{m4b_bridge::Open,   m4b_bridge::Close,
                                         m4b_bridge::Tag,    m4b_bridge::Write,
                                         m4b_bridge::Finish, m4b_bridge::WithChapters};
    return &entry;
}
