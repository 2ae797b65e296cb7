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
    AVPacket* packet = nullptr;
    bool headerWritten = false;
    int64_t pts = 0;  // the next packet's, in samples
    std::string title, artist;

    ~Stream() {
        if (format) {
            FreeIo(format->pb);
            avformat_free_context(format);
        }
        avcodec_free_context(&codec);
        av_packet_free(&packet);
    }
};

namespace {
// FFmpeg's AAC encoder for one channel at rate; null with why.
AVCodecContext* OpenEncoder(const AVCodec* aac, unsigned rate, bool globalHeader,
                            std::string& why) {
    AVCodecContext* codec = avcodec_alloc_context3(aac);
    if (!codec) {
        why = "not enough memory for the M4B file";
        return nullptr;
    }
    codec->sample_fmt = AV_SAMPLE_FMT_FLTP;
    codec->sample_rate = static_cast<int>(rate);
    av_channel_layout_default(&codec->ch_layout, 1);
    codec->bit_rate = kBitRate;
    codec->time_base = AVRational{1, static_cast<int>(rate)};
    if (globalHeader) codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (const int error = avcodec_open2(codec, aac, nullptr); error < 0) {
        why = "the AAC encoder cannot take " + std::to_string(rate) + " Hz: " + Reason(error);
        avcodec_free_context(&codec);
    }
    return codec;
}

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
    s->packet = av_packet_alloc();
    if (!stream || !s->packet) {
        why = "not enough memory for the M4B file";
        return nullptr;
    }
    // The stream's parameters (and the encoder's priming, which its first packet
    // carries) are those of every piece's encoder.
    s->codec = OpenEncoder(aac, rate, s->format->oformat->flags & AVFMT_GLOBALHEADER, why);
    if (!s->codec || (error = avcodec_parameters_from_context(stream->codecpar, s->codec)) < 0) {
        if (s->codec) why = Reason(error);
        return nullptr;
    }
    stream->time_base = s->codec->time_base;
    s->pts = -s->codec->initial_padding;
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

// A piece's encoder and what it gives.
struct PieceCodec {
    AVCodecContext* codec = nullptr;
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    ~PieceCodec() {
        avcodec_free_context(&codec);
        av_frame_free(&frame);
        av_packet_free(&packet);
    }
};

bool EncodePiece(unsigned rate, const int16_t* samples, size_t count, size_t lead, size_t keep,
                 std::vector<uint8_t>& bytes, std::vector<uint32_t>& sizes,
                 std::vector<uint32_t>& durations, std::string& why) {
    PieceCodec p;
    const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!aac || !p.frame || !p.packet) {
        why = "this FFmpeg cannot write M4B files";
        return false;
    }
    // Global headers or not, the frames are the same; the muxer's choice is the stream's.
    p.codec = OpenEncoder(aac, rate, true, why);
    if (!p.codec) return false;
    // The packets of the piece's own frames start where its lead's last frame does:
    // the encoder's priming makes its first packet start a frame early.
    const int64_t from = static_cast<int64_t>(lead * kFrameSamples) - p.codec->initial_padding;
    const auto take = [&]() {
        for (int got; (got = avcodec_receive_packet(p.codec, p.packet)) >= 0;) {
            if (p.packet->pts >= from && (keep == 0 || sizes.size() < keep)) {
                bytes.insert(bytes.end(), p.packet->data, p.packet->data + p.packet->size);
                sizes.push_back(static_cast<uint32_t>(p.packet->size));
                durations.push_back(static_cast<uint32_t>(p.packet->duration));
            }
            av_packet_unref(p.packet);
        }
    };
    for (size_t at = 0; at <= count; at += kFrameSamples) {
        const size_t n = std::min(kFrameSamples, count - at);
        int error = 0;
        if (n == 0) {
            error = avcodec_send_frame(p.codec, nullptr);  // flushed: the end
        } else {
            p.frame->nb_samples = static_cast<int>(n);
            p.frame->format = AV_SAMPLE_FMT_FLTP;
            p.frame->sample_rate = p.codec->sample_rate;
            av_channel_layout_copy(&p.frame->ch_layout, &p.codec->ch_layout);
            if ((error = av_frame_get_buffer(p.frame, 0)) >= 0) {
                auto* out = reinterpret_cast<float*>(p.frame->data[0]);
                for (size_t i = 0; i < n; ++i)
                    out[i] = static_cast<float>(samples[at + i]) / 32768.0f;
                p.frame->pts = static_cast<int64_t>(at);
                error = avcodec_send_frame(p.codec, p.frame);
            }
            av_frame_unref(p.frame);
        }
        if (error < 0) {
            why = "the AAC encoder failed: " + Reason(error);
            return false;
        }
        take();
        if (n < kFrameSamples && n > 0) {
            if ((error = avcodec_send_frame(p.codec, nullptr)) < 0) {
                why = "the AAC encoder failed: " + Reason(error);
                return false;
            }
            take();
            break;
        }
    }
    if (keep != 0 && sizes.size() < keep) {
        why = "the AAC encoder gave too few frames";
        return false;
    }
    return true;
}

bool WritePackets(Stream* s, const uint8_t* bytes, const uint32_t* sizes, const uint32_t* durations,
                  size_t count, std::string& why) {
    if (!Header(s, why)) return false;
    const AVRational samples{1, s->codec->sample_rate};
    for (size_t i = 0; i < count; bytes += sizes[i], ++i) {
        if (av_new_packet(s->packet, static_cast<int>(sizes[i])) < 0) {
            why = "not enough memory for the M4B file";
            return false;
        }
        std::copy_n(bytes, sizes[i], s->packet->data);
        s->packet->pts = s->packet->dts = s->pts;
        s->packet->duration = durations[i];
        s->packet->stream_index = 0;
        s->pts += durations[i];
        av_packet_rescale_ts(s->packet, samples, s->format->streams[0]->time_base);
        if (const int error = av_interleaved_write_frame(s->format, s->packet); error < 0) {
            why = Reason(error);
            return false;
        }
    }
    return true;
}

bool Finish(Stream* s, std::string& why) {
    if (!Header(s, why)) return false;
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
    static const m4b_bridge::Entry entry{m4b_bridge::Open,         m4b_bridge::Close,
                                         m4b_bridge::Tag,          m4b_bridge::EncodePiece,
                                         m4b_bridge::WritePackets, m4b_bridge::Finish,
                                         m4b_bridge::WithChapters};
    return &entry;
}
