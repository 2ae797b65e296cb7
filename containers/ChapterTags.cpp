#include "containers/ChapterTags.h"

#include <taglib/attachedpictureframe.h>
#include <taglib/chapterframe.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4coverart.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/tableofcontentsframe.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/textidentificationframe.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>

#include "containers/M4bChapters.h"
#include "containers/WavCues.h"
#include "support/Errors.h"
#include "support/FileReplace.h"

namespace containers {
namespace {

TagLib::String Utf8(const std::string& s) {
    return TagLib::String(s, TagLib::String::UTF8);
}

TagLib::ByteVector Bytes(const std::string& s) {
    return TagLib::ByteVector(s.data(), static_cast<unsigned>(s.size()));
}

void ExtendLastChapter(std::vector<ChapterMark>& chapters, uint64_t lengthMs, uint32_t rate) {
    if (chapters.empty() || lengthMs <= chapters.back().endMs) return;
    chapters.back().endMs = lengthMs;
    chapters.back().endFrame = lengthMs * rate / 1000;
}

std::string Numbered(const char* key, size_t n) {
    char name[32];
    std::snprintf(name, sizeof name, key, static_cast<unsigned>(n));
    return name;
}

const std::string& TitleOf(const BookTags& tags) {
    return tags.trackTitle.empty() ? tags.title : tags.trackTitle;
}

TagLib::FLAC::Picture* Picture(const BookTags& tags) {
    auto* picture = new TagLib::FLAC::Picture;
    picture->setType(TagLib::FLAC::Picture::FrontCover);
    picture->setMimeType(Utf8(tags.coverMediaType));
    picture->setData(Bytes(tags.cover));
    return picture;
}

void FillXiph(TagLib::Ogg::XiphComment& comment, const std::vector<ChapterMark>& chapters,
              const BookTags& tags, bool withPicture) {
    // Marks of an earlier run are replaced, never added to.
    for (size_t n = 1;; ++n) {
        const std::string key = Numbered("CHAPTER%03u", n);
        if (!comment.contains(key) && !comment.contains(key + "NAME")) break;
        comment.removeFields(key);
        comment.removeFields(key + "NAME");
    }
    for (size_t i = 0; i < chapters.size(); ++i) {
        const std::string key = Numbered("CHAPTER%03u", i + 1);
        comment.addField(key, ClockTime(chapters[i].startMs));
        comment.addField(key + "NAME", Utf8(chapters[i].title));
    }
    if (!TitleOf(tags).empty()) comment.addField("TITLE", Utf8(TitleOf(tags)));
    if (!tags.title.empty()) comment.addField("ALBUM", Utf8(tags.title));
    if (tags.track > 0) {
        comment.addField("TRACKNUMBER", Utf8(std::to_string(tags.track)));
        comment.addField("TRACKTOTAL", Utf8(std::to_string(tags.tracks)));
    }
    if (!tags.authors.empty()) comment.removeFields("ARTIST");
    for (const std::string& author : tags.authors) comment.addField("ARTIST", Utf8(author), false);
    if (withPicture && !tags.cover.empty()) comment.addPicture(Picture(tags));
}

void FillId3(TagLib::ID3v2::Tag& tag, const std::vector<ChapterMark>& chapters,
             const BookTags& tags) {
    tag.removeFrames("CHAP");
    tag.removeFrames("CTOC");
    TagLib::ByteVectorList ids;
    for (size_t i = 0; i < chapters.size(); ++i) {
        const TagLib::ByteVector id(Numbered("chp%u", i).c_str());
        auto* chapter = new TagLib::ID3v2::ChapterFrame(
            id, static_cast<unsigned>(std::min<uint64_t>(chapters[i].startMs, 0xFFFFFFFE)),
            static_cast<unsigned>(std::min<uint64_t>(chapters[i].endMs, 0xFFFFFFFE)), 0xFFFFFFFF,
            0xFFFFFFFF);
        auto* title = new TagLib::ID3v2::TextIdentificationFrame("TIT2", TagLib::String::UTF8);
        title->setText(Utf8(chapters[i].title));
        chapter->addEmbeddedFrame(title);
        tag.addFrame(chapter);
        ids.append(id);
    }
    if (!chapters.empty()) {
        auto* toc = new TagLib::ID3v2::TableOfContentsFrame("toc", ids);
        toc->setIsTopLevel(true);
        toc->setIsOrdered(true);
        tag.addFrame(toc);
    }
    if (!TitleOf(tags).empty()) tag.setTitle(Utf8(TitleOf(tags)));
    if (!tags.title.empty()) tag.setAlbum(Utf8(tags.title));
    if (tags.track > 0) {
        tag.removeFrames("TRCK");
        auto* track = new TagLib::ID3v2::TextIdentificationFrame("TRCK", TagLib::String::UTF8);
        track->setText(Utf8(std::to_string(tags.track) + "/" + std::to_string(tags.tracks)));
        tag.addFrame(track);
    }
    if (!tags.authors.empty()) {
        TagLib::StringList artists;
        for (const std::string& author : tags.authors) artists.append(Utf8(author));
        auto* artist = new TagLib::ID3v2::TextIdentificationFrame("TPE1", TagLib::String::UTF8);
        artist->setText(artists);
        tag.removeFrames("TPE1");
        tag.addFrame(artist);
    }
    if (!tags.cover.empty()) {
        auto* picture = new TagLib::ID3v2::AttachedPictureFrame;
        picture->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
        picture->setMimeType(Utf8(tags.coverMediaType));
        picture->setPicture(Bytes(tags.cover));
        tag.addFrame(picture);
    }
}

void FillMp4(TagLib::MP4::Tag& tag, const BookTags& tags) {
    if (!TitleOf(tags).empty()) tag.setTitle(Utf8(TitleOf(tags)));
    if (!tags.title.empty()) tag.setAlbum(Utf8(tags.title));
    if (tags.track > 0)
        tag.setItem("trkn",
                    TagLib::MP4::Item(static_cast<int>(tags.track), static_cast<int>(tags.tracks)));
    if (!tags.authors.empty()) {
        TagLib::StringList artists;
        for (const std::string& author : tags.authors) artists.append(Utf8(author));
        tag.setItem("\251ART", TagLib::MP4::Item(artists));
    }
    if (!tags.cover.empty()) {
        TagLib::MP4::CoverArtList covers;
        covers.append(TagLib::MP4::CoverArt(tags.coverMediaType == "image/png"
                                                ? TagLib::MP4::CoverArt::PNG
                                                : TagLib::MP4::CoverArt::JPEG,
                                            Bytes(tags.cover)));
        tag.setItem("covr", TagLib::MP4::Item(covers));
    }
}

// Reads the file's bytes as F, fills its tags and gives the bytes back with them.
// TagLib works on a copy in memory, so that every write to the disk is our own and
// checked: TagLib's own file writes do not tell a full disk.
template <class F>
std::string Tagged(const std::string& bytes, std::vector<ChapterMark>& chapters, uint32_t rate,
                   const std::function<void(F&)>& fill, const std::function<bool(F&)>& save) {
    TagLib::ByteVectorStream stream(Bytes(bytes));
    auto opened = [&] {
        // The formats that may hold ID3v2 frames read them through a frame factory.
        if constexpr (std::is_constructible_v<F, TagLib::IOStream*, TagLib::ID3v2::FrameFactory*>)
            return std::make_unique<F>(&stream, TagLib::ID3v2::FrameFactory::instance());
        else
            return std::make_unique<F>(&stream);
    }();
    F& file = *opened;
    if (!file.isValid()) throw EWriteError("it cannot be read back to take the marks");
    if (const auto* properties = file.audioProperties())
        ExtendLastChapter(chapters, static_cast<uint64_t>(properties->lengthInMilliseconds()),
                          rate);
    fill(file);
    if (!save(file)) throw EWriteError("the marks cannot be written into it");
    const TagLib::ByteVector* data = stream.data();
    return std::string(data->data(), data->size());
}

}  // namespace

std::string ClockTime(uint64_t ms) {
    char out[40];
    std::snprintf(out, sizeof out, "%02llu:%02llu:%02llu.%03llu",
                  static_cast<unsigned long long>(ms / 3600000),
                  static_cast<unsigned long long>(ms / 60000 % 60),
                  static_cast<unsigned long long>(ms / 1000 % 60),
                  static_cast<unsigned long long>(ms % 1000));
    return out;
}

void WriteChapterMarks(const std::string& path, FileFormat format,
                       std::vector<ChapterMark>& chapters, uint32_t rate, const BookTags& tags) {
    if (format == FileFormat::Wav) {
        if (chapters.empty()) return;
        const std::string why = AddWavCues(path, chapters, rate);
        if (!why.empty()) throw EWriteError("'" + path + "': " + why);
        return;
    }
    std::string failure;
    const auto tagged = [&](const std::string* old) -> std::string {
        if (old == nullptr) throw EWriteError("it is gone");
        switch (format) {
            case FileFormat::Mp3:
                return Tagged<TagLib::MPEG::File>(
                    *old, chapters, rate,
                    [&](TagLib::MPEG::File& f) { FillId3(*f.ID3v2Tag(true), chapters, tags); },
                    [](TagLib::MPEG::File& f) {
                        return f.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone,
                                      TagLib::ID3v2::v4);
                    });
            case FileFormat::Flac:
                return Tagged<TagLib::FLAC::File>(
                    *old, chapters, rate,
                    [&](TagLib::FLAC::File& f) {
                        FillXiph(*f.xiphComment(true), chapters, tags, false);
                        // FLAC keeps its pictures in blocks of their own.
                        if (!tags.cover.empty()) f.addPicture(Picture(tags));
                    },
                    [](TagLib::FLAC::File& f) { return f.save(); });
            case FileFormat::Vorbis:
                return Tagged<TagLib::Ogg::Vorbis::File>(
                    *old, chapters, rate,
                    [&](TagLib::Ogg::Vorbis::File& f) { FillXiph(*f.tag(), chapters, tags, true); },
                    [](TagLib::Ogg::Vorbis::File& f) { return f.save(); });
            case FileFormat::Opus:
                return Tagged<TagLib::Ogg::Opus::File>(
                    *old, chapters, rate,
                    [&](TagLib::Ogg::Opus::File& f) { FillXiph(*f.tag(), chapters, tags, true); },
                    [](TagLib::Ogg::Opus::File& f) { return f.save(); });
            case FileFormat::M4b: {
                // FFmpeg writes the chapters, TagLib the tags into the remuxed file.
                const std::string marked = WithM4bChapters(*old, chapters);
                return Tagged<TagLib::MP4::File>(
                    marked, chapters, rate, [&](TagLib::MP4::File& f) { FillMp4(*f.tag(), tags); },
                    [](TagLib::MP4::File& f) { return f.save(); });
            }
            case FileFormat::Wav:
                break;
        }
        throw EWriteError("its format takes no chapter marks");
    };
    try {
        errno = 0;
        if (!ReplaceFileContents(path, tagged))
            failure = errno ? std::strerror(errno) : "it cannot be replaced";
    } catch (const EWriteError& e) {
        failure = e.Message();
    }
    if (!failure.empty())
        throw EWriteError("'" + path + "': no chapter marks could be written: " + failure);
}

}  // namespace containers
