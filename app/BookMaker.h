#pragma once
// What Save... makes of a whole render besides one audio file: a file per chapter, or a
// read-along EPUB book. The text is rendered into a hidden WAV file in the chosen file's
// folder; the word times are kept as they come, and when the render ends whole the files
// are made from it on a thread of their own (books/), so the window never waits. Cancel
// stops the making between two stretches of audio: the files finished stay whole, the
// unfinished one and the hidden render go.
#include <QObject>
#include <QString>
#include <atomic>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "containers/ChapterTags.h"
#include "speech/speech.h"

class TBookMaker : public QObject {
    Q_OBJECT
  public:
    enum class Kind { None, ChapterFiles, ReadAlong };

    explicit TBookMaker(QObject* parent) : QObject(parent) {}
    ~TBookMaker() override;  // stops a making and waits for it

    // What a save to file makes: a read-along book for an .epub name, a file per chapter
    // when asked and there are chapters, else nothing of this.
    static Kind KindFor(const QString& file, bool perChapter, bool hasChapters);

    // A save to file of kind (not None) begins: the hidden WAV file the text is to be
    // rendered into, made now beside file. The text as handed over, its chapters' starts
    // in it and the document's tags (none for a plain text) go with it. Throws
    // EFCreateError naming file and the reason when the folder takes no file.
    QString Begin(Kind kind, const QString& file, std::string text,
                  std::vector<containers::ChapterStart> chapters, containers::BookTags tags);
    void Add(std::span<const ParlenWordTime> words, uint32_t rate);
    // Cancel: a making under way stops (true); else the render under way is made into
    // nothing when it ends (false: stopping it is the caller's).
    bool Cancel();
    // The render ended; failed: it ended early through a failure. Whole and not
    // cancelled, the making starts on its thread (true); else the hidden render goes.
    bool Finish(bool failed);
    bool Pending() const { return kind_ != Kind::None; }
    bool Busy() const { return worker_.joinable() && !done_; }
    Kind Making() const { return making_; }

  signals:
    // How far the making is, in percent.
    void Progress(int percent);
    // The files are made, or stopped, or why not (failed: the message names the file
    // and the reason).
    void Finished(const QString& message, bool failed);

  private:
    void Run(Kind kind, std::string hidden, std::vector<ParlenWordTime> marks, uint32_t rate);

    Kind kind_ = Kind::None;
    Kind making_ = Kind::None;
    QString file_;
    std::string hidden_;
    std::string text_;
    std::vector<containers::ChapterStart> chapters_;
    containers::BookTags tags_;
    std::vector<ParlenWordTime> marks_;
    uint32_t rate_ = 0;
    bool cancelled_ = false;
    std::atomic<bool> stop_{false};
    std::thread worker_;
    bool done_ = true;
};
