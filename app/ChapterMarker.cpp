#include "app/ChapterMarker.h"

#include <sys/stat.h>

#include <QFile>

#include "support/Errors.h"

TChapterMarker::~TChapterMarker() {
    if (worker_.joinable()) worker_.join();
}

void TChapterMarker::Begin(std::vector<containers::ChapterStart> chapters, const QString& file) {
    chapters_ = std::move(chapters);
    file_ = file;
    marks_.clear();
    rate_ = 0;
}

void TChapterMarker::Add(std::span<const ParlenWordTime> words, uint32_t rate) {
    if (chapters_.empty()) return;
    marks_.insert(marks_.end(), words.begin(), words.end());
    rate_ = rate;
}

void TChapterMarker::Finish() {
    if (chapters_.empty()) return;
    const std::string path = QFile::encodeName(file_).toStdString();
    struct stat info {};
    const bool exists = stat(path.c_str(), &info) == 0;
    if (!exists || !S_ISREG(info.st_mode)) {
        // A render that made no file has told why; a pipe or a device takes no marks.
        if (exists)
            emit Finished("'" + file_ + "' is not a regular file, so it holds no chapter marks",
                          false);
        chapters_.clear();
        return;
    }
    std::vector<containers::ChapterMark> placed =
        containers::PlaceChapters(chapters_, marks_, rate_);
    chapters_.clear();
    marks_.clear();
    done_ = false;
    worker_ =
        std::thread([this, path, placed = std::move(placed), tags = tags_, rate = rate_]() mutable {
            QString message = QString::number(placed.size()) + " chapter marks are in the file.";
            bool failed = false;
            try {
                containers::WriteChapterMarks(path, FileFormatOf(path), placed, rate, tags);
            } catch (const Exception& e) {
                message = QString::fromStdString(e.Message());
                failed = true;
            }
            QMetaObject::invokeMethod(
                this,
                [this, message, failed] {
                    worker_.join();
                    done_ = true;
                    emit Finished(message, failed);
                },
                Qt::QueuedConnection);
        });
}
