// The bridge's chapter writer: an M4B file in memory remuxed by FFmpeg, its AAC copied
// untouched, with a QuickTime chapter track and a Nero chapter list ("chpl"), which
// between them every player reads.
#include <algorithm>
#include <cstring>

#include "containers/m4b/M4bCommon.h"
#include "containers/m4b/M4bEntry.h"

namespace m4b_bridge {
namespace {

// A file in memory that FFmpeg reads or writes through callbacks.
struct Memory {
    std::string data;
    int64_t pos = 0;
};

int ReadPacket(void* opaque, uint8_t* buf, int size) {
    auto* m = static_cast<Memory*>(opaque);
    const int64_t left = static_cast<int64_t>(m->data.size()) - m->pos;
    if (left <= 0) return AVERROR_EOF;
    const int n = static_cast<int>(std::min<int64_t>(left, size));
    std::memcpy(buf, m->data.data() + m->pos, static_cast<size_t>(n));
    m->pos += n;
    return n;
}

#if LIBAVFORMAT_VERSION_MAJOR >= 61
int WritePacket(void* opaque, const uint8_t* buf, int size) {
#else
int WritePacket(void* opaque, uint8_t* buf, int size) {
#endif
    auto* m = static_cast<Memory*>(opaque);
    const auto end = static_cast<size_t>(m->pos) + static_cast<size_t>(size);
    if (m->data.size() < end) m->data.resize(end);
    std::memcpy(m->data.data() + m->pos, buf, static_cast<size_t>(size));
    m->pos = static_cast<int64_t>(end);
    return size;
}

int64_t Seek(void* opaque, int64_t offset, int whence) {
    auto* m = static_cast<Memory*>(opaque);
    const auto size = static_cast<int64_t>(m->data.size());
    if (whence & AVSEEK_SIZE) return size;
    const int64_t to = (whence & 3) == SEEK_SET   ? offset
                       : (whence & 3) == SEEK_CUR ? m->pos + offset
                                                  : size + offset;
    if (to < 0) return AVERROR(EINVAL);
    m->pos = to;
    return to;
}

// A step's failure, with what it was doing.
struct Failed {
    std::string why;
};

void Check(int error, const char* step) {
    if (error < 0) throw Failed{std::string(step) + ": " + Reason(error)};
}

// Everything the remux holds, freed on every way out.
struct Remux {
    Memory in, out;
    AVIOContext* inIo = nullptr;
    AVIOContext* outIo = nullptr;
    AVFormatContext* input = nullptr;
    AVFormatContext* output = nullptr;
    AVPacket* packet = av_packet_alloc();
    ~Remux() {
        av_packet_free(&packet);
        avformat_close_input(&input);
        FreeIo(inIo);
        if (output) avformat_free_context(output);
        FreeIo(outIo);
    }
};

void AddChapters(AVFormatContext* output, const std::vector<Chapter>& chapters) {
    for (size_t i = 0; i < chapters.size(); ++i) {
        auto* chapter = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
        if (!chapter) throw Failed{"not enough memory"};
        chapter->id = static_cast<int64_t>(i + 1);
        chapter->time_base = AVRational{1, 1000};
        chapter->start = chapters[i].startMs;
        chapter->end = std::max(chapters[i].endMs, chapters[i].startMs);
        av_dict_set(&chapter->metadata, "title", chapters[i].title.c_str(), 0);
        int count = static_cast<int>(output->nb_chapters);
        av_dynarray_add(&output->chapters, &count, chapter);
        if (count != static_cast<int>(output->nb_chapters) + 1) {
            av_dict_free(&chapter->metadata);
            av_free(chapter);
            throw Failed{"not enough memory"};
        }
        output->nb_chapters = static_cast<unsigned>(count);
    }
}

void Run(Remux& r, std::vector<Chapter>& chapters) {
    r.inIo = NewIo(&r.in, false, ReadPacket, nullptr, Seek);
    r.outIo = NewIo(&r.out, true, nullptr, WritePacket, Seek);
    r.input = avformat_alloc_context();
    if (!r.inIo || !r.outIo || !r.input || !r.packet) throw Failed{"not enough memory"};
    r.input->pb = r.inIo;
    Check(avformat_open_input(&r.input, nullptr, av_find_input_format("mov"), nullptr),
          "it cannot be read back");
    Check(avformat_find_stream_info(r.input, nullptr), "it cannot be read back");
    Check(avformat_alloc_output_context2(&r.output, nullptr, "ipod", nullptr),
          "this FFmpeg cannot write M4B files");
    r.output->pb = r.outIo;
    av_opt_set(r.output->priv_data, "brand", "M4B ", 0);
    av_dict_copy(&r.output->metadata, r.input->metadata, 0);
    int64_t lengthMs = 0;
    for (unsigned i = 0; i < r.input->nb_streams; ++i) {
        const AVStream* from = r.input->streams[i];
        AVStream* to = avformat_new_stream(r.output, nullptr);
        if (!to) throw Failed{"not enough memory"};
        Check(avcodec_parameters_copy(to->codecpar, from->codecpar), "its audio cannot be copied");
        to->codecpar->codec_tag = 0;
        to->time_base = from->time_base;
        if (from->duration > 0)
            lengthMs = std::max(lengthMs,
                                av_rescale_q(from->duration, from->time_base, AVRational{1, 1000}));
    }
    if (!chapters.empty() && lengthMs > chapters.back().endMs) chapters.back().endMs = lengthMs;
    AddChapters(r.output, chapters);
    Check(avformat_write_header(r.output, nullptr), "the chapters cannot be written");
    for (;;) {
        const int got = av_read_frame(r.input, r.packet);
        if (got == AVERROR_EOF) break;
        Check(got, "its audio cannot be read back");
        const AVStream* from = r.input->streams[r.packet->stream_index];
        av_packet_rescale_ts(r.packet, from->time_base,
                             r.output->streams[r.packet->stream_index]->time_base);
        r.packet->pos = -1;
        Check(av_interleaved_write_frame(r.output, r.packet), "its audio cannot be copied");
    }
    Check(av_write_trailer(r.output), "the chapters cannot be written");
    avio_flush(r.outIo);
}
}  // namespace

bool WithChapters(const std::string& bytes, std::vector<Chapter>& chapters, std::string& out,
                  std::string& why) {
    QuietLog();
    try {
        Remux r;
        r.in.data = bytes;
        Run(r, chapters);
        out = std::move(r.out.data);
        return true;
    } catch (const Failed& failed) {
        why = failed.why;
    } catch (const std::bad_alloc&) {
        why = "not enough memory";
    }
    return false;
}

}  // namespace m4b_bridge
