#pragma once
// Loads a document (EPUB, PDF, DOCX, ...) for the window without ever holding it: the
// file is imported on a thread of its own, and the text then goes into the text box a
// slice per message, so that the window keeps answering however long the document. Past
// a second, the share done shows in the status bar.
#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <thread>

#include "documents/Document.h"

class QPlainTextEdit;
class QStatusBar;
class QTimer;

class TDocumentLoader : public QObject {
    Q_OBJECT
  public:
    TDocumentLoader(QPlainTextEdit* box, QStatusBar* status);
    ~TDocumentLoader() override;

    // Starts loading; a load still running is cancelled first.
    void Start(const QString& fileName);
    // Stops a load: the box keeps what it had (or, while filling, what is in it).
    void Cancel();
    bool Busy() const;

    // Characters put into the box per slice (about 20 ms of work).
    static constexpr int kSliceCharacters = 64 * 1024;

  signals:
    // The text is in the box; the document's chapters, with offsets as box positions
    // (UTF-16 units), are for the chapter list.
    void Loaded(const QString& fileName, std::shared_ptr<const documents::Document> document);
    // The file cannot be loaded: the message names it and says why.
    void Failed(const QString& message);

  private:
    void Imported(std::shared_ptr<documents::Document> document, const QString& error);
    void FillSome();
    void ShowProgress();
    void JoinWorker();

    QPlainTextEdit* box_;
    QStatusBar* status_;
    QTimer* progressTimer_;
    QTimer* fillTimer_;
    std::thread worker_;
    // Shared with the worker: a cancelled worker may still be finishing its file.
    struct Shared {
        std::atomic<bool> cancelled{false};
        std::atomic<int> permille{0};
    };
    std::shared_ptr<Shared> shared_;
    QString fileName_;
    qint64 startedMs_ = 0;
    // The text being put into the box, and how much of it is in.
    QString text_;
    qsizetype filled_ = 0;
    std::shared_ptr<documents::Document> document_;
};
