#include "app/BookMaker.h"

#include <unistd.h>

#include <QFileInfo>
#include <exception>
#include <utility>

#include "books/ChapterFiles.h"
#include "books/ReadAlongBook.h"
#include "containers/Chapters.h"
#include "containers/Container.h"
#include "support/Errors.h"
#include "support/qt/TextCodec.h"

namespace {
// Everything a making needs, handed to its thread whole: the window may start the next
// save's render while it runs.
struct Job {
    TBookMaker::Kind kind;
    std::string file, hidden, text;
    std::vector<containers::ChapterStart> chapters;
    containers::BookTags tags;
    std::vector<ParlenWordTime> marks;
    uint32_t rate = 0;
};

struct Outcome {
    QString message;
    bool failed = false;
};

Outcome Make(const Job& job, const books::Making& making) {
    const QFileInfo chosen(DecodeText(job.file));
    const std::string dir = EncodeText(chosen.absolutePath());
    // A book without a title of its own is named as its file.
    containers::BookTags tags = job.tags;
    if (tags.title.empty()) tags.title = EncodeText(chosen.completeBaseName());
    const std::vector<containers::ChapterMark> placed =
        job.chapters.empty() ? std::vector<containers::ChapterMark>{}
                             : containers::PlaceChapters(job.chapters, job.marks, job.rate);
    std::string why;
    if (job.kind == TBookMaker::Kind::ReadAlong) {
        const books::SpokenBook book{job.text, job.marks, job.chapters, placed,
                                     job.rate, tags,      tags.title};
        if (books::WriteReadAlongBook(job.hidden, job.file, book, making, why))
            return {"The read-along book " + chosen.fileName() + " is written."};
        if (why.empty()) return {"Cancelled: no read-along book is written."};
        return {DecodeText(why), true};
    }
    const std::string ext = chosen.suffix().isEmpty() ? "wav" : EncodeText(chosen.suffix());
    std::vector<std::string> written;
    if (books::WriteChapterFiles(job.hidden, placed, job.marks, job.rate, dir,
                                 FileFormatOf(job.file), ext, tags, making, why, &written))
        return {QString::number(written.size()) + " chapter files are in " + chosen.absolutePath() +
                "."};
    if (why.empty()) return {"Cancelled: the chapter files finished before stay."};
    return {DecodeText(why), true};
}
}  // namespace

TBookMaker::~TBookMaker() {
    stop_ = true;
    if (worker_.joinable()) worker_.join();
    if (!hidden_.empty()) ::unlink(hidden_.c_str());  // its render never ended
}

TBookMaker::Kind TBookMaker::KindFor(const QString& file, bool perChapter, bool hasChapters) {
    if (books::IsReadAlongName(EncodeText(file))) return Kind::ReadAlong;
    return perChapter && hasChapters ? Kind::ChapterFiles : Kind::None;
}

QString TBookMaker::Begin(Kind kind, const QString& file, std::string text,
                          std::vector<containers::ChapterStart> chapters,
                          containers::BookTags tags) {
    // A render that never started leaves no hidden file behind.
    if (!hidden_.empty()) ::unlink(hidden_.c_str());
    hidden_.clear();
    kind_ = Kind::None;
    std::string why;
    std::string hidden = books::HiddenRender(EncodeText(QFileInfo(file).absolutePath()), why);
    if (hidden.empty()) throw EFCreateError("Cannot save " + EncodeText(file) + ": " + why);
    kind_ = kind;
    file_ = file;
    hidden_ = std::move(hidden);
    text_ = std::move(text);
    chapters_ = std::move(chapters);
    tags_ = std::move(tags);
    marks_.clear();
    rate_ = 0;
    cancelled_ = false;
    return DecodeText(hidden_);
}

void TBookMaker::Add(std::span<const ParlenWordTime> words, uint32_t rate) {
    if (kind_ == Kind::None) return;
    marks_.insert(marks_.end(), words.begin(), words.end());
    rate_ = rate;
}

bool TBookMaker::Cancel() {
    if (Busy()) {
        stop_ = true;
        return true;
    }
    cancelled_ = kind_ != Kind::None;
    return false;
}

bool TBookMaker::Finish(bool failed) {
    if (kind_ == Kind::None) return false;
    Job job{std::exchange(kind_, Kind::None), EncodeText(file_),
            std::exchange(hidden_, {}),       std::exchange(text_, {}),
            std::exchange(chapters_, {}),     tags_,
            std::exchange(marks_, {}),        rate_};
    if (failed || cancelled_) {
        // What the render holds is no whole text: nothing is made of it.
        ::unlink(job.hidden.c_str());
        if (cancelled_) emit Finished("Cancelled: no file is written.", false);
        return false;
    }
    making_ = job.kind;
    stop_ = false;
    done_ = false;
    worker_ = std::thread([this, job = std::move(job)] {
        int shown = -1;
        const books::Making making{[this] { return stop_.load(); },
                                   [this, &shown](double done) {
                                       // Only whole percents reach the window.
                                       const int percent = static_cast<int>(done * 100);
                                       if (percent == shown) return;
                                       shown = percent;
                                       QMetaObject::invokeMethod(
                                           this, [this, percent] { emit Progress(percent); },
                                           Qt::QueuedConnection);
                                   }};
        Outcome outcome;
        try {
            outcome = Make(job, making);
        } catch (const std::exception& e) {
            outcome = {DecodeText(e.what()), true};
        }
        ::unlink(job.hidden.c_str());
        QMetaObject::invokeMethod(
            this,
            [this, outcome] {
                worker_.join();
                done_ = true;
                making_ = Kind::None;
                emit Finished(outcome.message, outcome.failed);
            },
            Qt::QueuedConnection);
    });
    return true;
}
