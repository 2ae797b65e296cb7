#include "platform/audio/Mp3Stream.h"

#include <lame/lame.h>

#include <algorithm>
#include <cstring>

#include "platform/audio/Mp3Frames.h"

namespace {

struct LameCloser {
    void operator()(lame_t lame) const { lame_close(lame); }
};
using Lame = std::unique_ptr<lame_global_flags, LameCloser>;

Lame NewEncoder(unsigned rate, int kbps, bool infoTag) {
    Lame lame(lame_init());
    if (!lame) return nullptr;
    lame_set_in_samplerate(lame.get(), static_cast<int>(rate));
    lame_set_out_samplerate(lame.get(), static_cast<int>(rate));
    lame_set_num_channels(lame.get(), 1);
    lame_set_mode(lame.get(), MONO);
    lame_set_VBR(lame.get(), vbr_off);
    lame_set_brate(lame.get(), kbps);
    lame_set_disable_reservoir(lame.get(), 1);
    lame_set_bWriteVbrTag(lame.get(), infoTag ? 1 : 0);
    lame_set_write_id3tag_automatic(lame.get(), 0);
    if (lame_init_params(lame.get()) < 0) return nullptr;
    return lame;
}

// All the frames an encoder gives for samples, flushed.
bool EncodeAll(lame_t lame, const std::vector<int16_t>& samples, std::vector<uint8_t>& out) {
    out.resize(samples.size() * 5 / 4 + 7200 * 2);
    // LAME reads a channel of its own for each side; one channel reads the left alone.
    const int made =
        lame_encode_buffer(lame, samples.data(), samples.data(), static_cast<int>(samples.size()),
                           out.data(), static_cast<int>(out.size()));
    if (made < 0) return false;
    const int flushed =
        lame_encode_flush(lame, out.data() + made, static_cast<int>(out.size()) - made);
    if (flushed < 0) return false;
    out.resize(static_cast<size_t>(made + flushed));
    return true;
}

}  // namespace

std::unique_ptr<Mp3Stream> Mp3Stream::Open(FileTarget& target, unsigned rate, int kbps,
                                           unsigned threads, const std::string& comment,
                                           std::string& why) {
    std::unique_ptr<Mp3Stream> s(new Mp3Stream);
    s->target_ = &target;
    s->rate_ = rate;
    s->kbps_ = kbps;
    s->comment_ = comment;
    // LAME's Info tag as it makes it, for a moment of silence, to be completed at the end.
    Lame lame = NewEncoder(rate, kbps, true);
    std::vector<uint8_t> frames;
    if (!lame || !EncodeAll(lame.get(), std::vector<int16_t>(rate / 50, 0), frames)) {
        why = "the MP3 encoder cannot take " + std::to_string(rate) + " Hz at " +
              std::to_string(kbps) + " kbit/s";
        return nullptr;
    }
    s->frameSamples_ = static_cast<size_t>(lame_get_framesize(lame.get()));
    s->delay_ = static_cast<unsigned>(lame_get_encoder_delay(lame.get()));
    s->info_.resize(frames.size());
    s->info_.resize(lame_get_lametag_frame(lame.get(), s->info_.data(), s->info_.size()));
    if (s->info_.size() < 4 || mp3::FrameLength(s->info_.data()) != s->info_.size()) {
        why = "the MP3 encoder gives no Info tag";
        return nullptr;
    }
    Mp3Stream* p = s.get();
    s->pieces_ = std::make_unique<PieceEncoder>(
        s->frameSamples_, kPieceFrames, kLeadFrames, kTrailFrames, threads,
        [p](PieceEncoder::Piece& piece) { p->Encode(piece); },
        [p](PieceEncoder::Piece& piece, std::string& why) { return p->Take(piece, why); });
    return s;
}

void Mp3Stream::Tag(const std::string& title, const std::string& artist) {
    title_ = title;
    artist_ = artist;
}

bool Mp3Stream::Head(std::string& why) {
    if (headWritten_) return true;
    headWritten_ = true;
    // LAME's own tags: ID3v1, and ID3v2 before the audio as well when a field is longer
    // than ID3v1 holds.
    Lame lame = NewEncoder(rate_, kbps_, false);
    if (!lame) {
        why = "the MP3 encoder cannot start";
        return false;
    }
    id3tag_init(lame.get());
    if (!title_.empty()) id3tag_set_title(lame.get(), title_.c_str());
    if (!artist_.empty()) id3tag_set_artist(lame.get(), artist_.c_str());
    id3tag_set_comment(lame.get(), comment_.c_str());
    std::vector<uint8_t> v2(lame_get_id3v2_tag(lame.get(), nullptr, 0));
    v2.resize(lame_get_id3v2_tag(lame.get(), v2.data(), v2.size()));
    id3v1_.resize(lame_get_id3v1_tag(lame.get(), nullptr, 0));
    id3v1_.resize(lame_get_id3v1_tag(lame.get(), id3v1_.data(), id3v1_.size()));
    infoAt_ = v2.size();
    // Until it is completed, the Info frame is a silent one, as a file that cannot seek
    // keeps it (a pipe).
    std::vector<uint8_t> silent(info_.size(), 0);
    std::memcpy(silent.data(), info_.data(), 4);
    return Put(v2.data(), v2.size(), why) && Put(silent.data(), silent.size(), why);
}

void Mp3Stream::Encode(PieceEncoder::Piece& piece) const {
    Lame lame = NewEncoder(rate_, kbps_, false);
    std::vector<uint8_t> all;
    if (!lame || !EncodeAll(lame.get(), piece.samples, all)) {
        piece.why = "the MP3 encoder failed";
        return;
    }
    const size_t keep = piece.last ? SIZE_MAX : kPieceFrames;
    size_t at = 0, index = 0, from = SIZE_MAX;
    while (at + 4 <= all.size() && piece.sizes.size() < keep) {
        const size_t length = mp3::FrameLength(all.data() + at);
        if (length == 0 || at + length > all.size()) {
            piece.why = "the MP3 encoder gave a broken frame";
            return;
        }
        if (index++ >= piece.lead) {
            if (from == SIZE_MAX) from = at;
            piece.sizes.push_back(static_cast<uint32_t>(length));
        }
        at += length;
    }
    if (!piece.last && piece.sizes.size() < keep) piece.why = "the MP3 encoder gave too few frames";
    if (from == SIZE_MAX) from = at;
    piece.bytes.assign(all.begin() + static_cast<std::ptrdiff_t>(from),
                       all.begin() + static_cast<std::ptrdiff_t>(at));
}

bool Mp3Stream::Take(PieceEncoder::Piece& piece, std::string& why) {
    if (!Put(piece.bytes.data(), piece.bytes.size(), why)) {
        partial_ = std::move(piece.bytes);  // KeepWhole keeps its whole frames
        return false;
    }
    Count(piece.bytes.data(), piece.bytes.size(), static_cast<uint32_t>(piece.sizes.size()));
    return true;
}

bool Mp3Stream::Write(const int16_t* samples, size_t count, std::string& why) {
    return Head(why) && pieces_->Write(samples, count, why);
}

bool Mp3Stream::Finish(std::string& why) {
    if (!Head(why) || !pieces_->Finish(why)) return false;
    if (!Put(id3v1_.data(), id3v1_.size(), why)) return false;
    if (target_->Seekable() && !CompleteTag(pieces_->Samples())) {
        why = target_->Failure();
        if (why.empty()) why = "its first frame cannot be written";
        return false;
    }
    return true;
}

bool Mp3Stream::CompleteTag(uint64_t samples) {
    mp3::StreamFacts facts;
    facts.frames = frames_;
    facts.audioBytes = audioBytes_;
    facts.audioCrc = audioCrc_;
    facts.delay = delay_;
    facts.padding = static_cast<unsigned>(uint64_t{frames_} * frameSamples_ - delay_ - samples);
    std::vector<uint8_t> info = info_;
    if (!mp3::CompleteInfoTag(info, facts)) return false;
    SF_VIRTUAL_IO* io = FileTarget::Io();
    const sf_count_t end = io->tell(target_);
    const auto size = static_cast<sf_count_t>(info.size());
    const auto at = static_cast<sf_count_t>(infoAt_);
    return io->seek(at, SEEK_SET, target_) == at && io->write(info.data(), size, target_) == size &&
           io->seek(end, SEEK_SET, target_) == end;
}

void Mp3Stream::Count(const uint8_t* bytes, size_t size, uint32_t frames) {
    frames_ += frames;
    audioBytes_ += size;
    audioCrc_ = mp3::Crc16(bytes, size, audioCrc_);
}

bool Mp3Stream::KeepWhole() {
    if (!target_->Seekable()) return false;
    // The whole frames of a piece that went in part of the way.
    const uint64_t start = infoAt_ + info_.size() + audioBytes_;
    const auto end = static_cast<uint64_t>(target_->Size());
    size_t at = 0;
    uint32_t frames = 0;
    for (size_t length;
         at + 4 <= partial_.size() && (length = mp3::FrameLength(partial_.data() + at)) > 0 &&
         start + at + length <= end;
         at += length)
        ++frames;
    Count(partial_.data(), at, frames);
    // How many of the last frame's samples were given is not known: it plays to its end.
    return frames_ > 0 &&
           target_->Truncate(static_cast<off_t>(infoAt_ + info_.size() + audioBytes_)) &&
           CompleteTag(uint64_t{frames_} * frameSamples_ - delay_);
}

bool Mp3Stream::Put(const uint8_t* data, size_t size, std::string& why) {
    const auto count = static_cast<sf_count_t>(size);
    if (FileTarget::Io()->write(data, count, target_) == count) return true;
    why = target_->Failure();
    if (why.empty()) why = "the file cannot be written";
    return false;
}
