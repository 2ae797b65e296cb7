#pragma once
// Chapter marks for the audio file Save... renders from a document: the ticked chapters'
// places in the rendered text are kept as the render starts, the word times as they
// come, and when the render ends the marks are placed and written into the file on a
// thread of its own (a long book's file is copied whole), so the window never waits.
#include <QObject>
#include <QString>
#include <span>
#include <thread>
#include <vector>

#include "containers/ChapterTags.h"
#include "speech/speech.h"

class TChapterMarker : public QObject {
    Q_OBJECT
  public:
    explicit TChapterMarker(QObject* parent) : QObject(parent) {}
    ~TChapterMarker() override;  // waits for a file being marked

    // The tags of the document in the box (its title, authors and cover).
    void SetBook(containers::BookTags tags) { tags_ = std::move(tags); }
    const containers::BookTags& Book() const { return tags_; }
    // A render of `file` starts; no chapters: nothing is marked. Not while Busy.
    void Begin(std::vector<containers::ChapterStart> chapters, const QString& file);
    void Add(std::span<const ParlenWordTime> words, uint32_t rate);
    // The render ended (whole, cancelled or failed): the marks of what it holds are written.
    void Finish();
    bool Busy() const { return worker_.joinable() && !done_; }

  signals:
    // The marks are written, or why not (failed).
    void Finished(const QString& message, bool failed);

  private:
    std::vector<containers::ChapterStart> chapters_;
    containers::BookTags tags_;
    QString file_;
    std::vector<ParlenWordTime> marks_;
    uint32_t rate_ = 0;
    std::thread worker_;
    bool done_ = true;
};
