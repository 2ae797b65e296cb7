#include "app/DocumentLoader.h"

#include <QDateTime>
#include <QPlainTextEdit>
#include <QPointer>
#include <QStatusBar>
#include <QTextCursor>
#include <QTimer>
#include <new>

#include "documents/Import.h"
#include "support/Errors.h"
#include "support/qt/TextCodec.h"

namespace {
// Progress shows only for a load that takes longer than this.
constexpr qint64 kQuietMs = 1000;
}  // namespace

TDocumentLoader::TDocumentLoader(QPlainTextEdit* box, QStatusBar* status)
    : QObject(box),
      box_(box),
      status_(status),
      progressTimer_(new QTimer(this)),
      fillTimer_(new QTimer(this)) {
    progressTimer_->setInterval(100);
    connect(progressTimer_, &QTimer::timeout, this, [this] { ShowProgress(); });
    fillTimer_->setInterval(0);
    connect(fillTimer_, &QTimer::timeout, this, [this] { FillSome(); });
}

TDocumentLoader::~TDocumentLoader() {
    Cancel();
}

bool TDocumentLoader::Busy() const {
    return shared_ != nullptr || fillTimer_->isActive();
}

void TDocumentLoader::JoinWorker() {
    if (worker_.joinable()) worker_.join();
}

void TDocumentLoader::Cancel() {
    if (shared_) shared_->cancelled = true;
    // The importer asks after its cancel flag at every page or file: this is short.
    JoinWorker();
    shared_.reset();
    if (fillTimer_->isActive()) {
        fillTimer_->stop();
        box_->setReadOnly(false);
        box_->setUndoRedoEnabled(true);
    }
    progressTimer_->stop();
    text_.clear();
    document_.reset();
    if (!fileName_.isEmpty()) status_->clearMessage();
    fileName_.clear();
}

void TDocumentLoader::Start(const QString& fileName) {
    Cancel();
    fileName_ = fileName;
    startedMs_ = QDateTime::currentMSecsSinceEpoch();
    shared_ = std::make_shared<Shared>();
    progressTimer_->start();
    QPointer<TDocumentLoader> self(this);
    auto shared = shared_;
    const std::string path = EncodeText(fileName);
    worker_ = std::thread([self, shared, path] {
        std::shared_ptr<documents::Document> document;
        QString error;
        try {
            document = std::make_shared<documents::Document>(
                documents::ImportFile(path, [shared](double done) {
                    shared->permille = static_cast<int>(done * 1000);
                    return !shared->cancelled.load();
                }));
        } catch (const EDocumentCancelled&) {
            return;
        } catch (const std::bad_alloc&) {
            error = DecodeText(path) + ": there is not enough memory to load it";
        } catch (const std::exception& e) {
            error = DecodeText(e.what());
        }
        if (shared->cancelled) return;
        QMetaObject::invokeMethod(
            self.data(),
            [self, shared, document, error] {
                // A load cancelled or replaced meanwhile has another Shared.
                if (self && self->shared_ == shared) self->Imported(document, error);
            },
            Qt::QueuedConnection);
    });
}

void TDocumentLoader::Imported(std::shared_ptr<documents::Document> document,
                               const QString& error) {
    JoinWorker();
    shared_.reset();
    if (!error.isEmpty()) {
        progressTimer_->stop();
        status_->clearMessage();
        fileName_.clear();
        emit Failed(error);
        return;
    }
    text_ = QString::fromUtf8(document->text);
    document_ = std::move(document);
    filled_ = 0;
    // The load is one change, not a slice per undo step, and no one types into it.
    box_->setUndoRedoEnabled(false);
    box_->setReadOnly(true);
    box_->clear();
    fillTimer_->start();
}

void TDocumentLoader::FillSome() {
    qsizetype end = std::min(text_.size(), filled_ + kSliceCharacters);
    // Slices end after a line break where there is one, so no paragraph is split.
    if (end < text_.size()) {
        const qsizetype lf = text_.lastIndexOf(u'\n', end - 1);
        if (lf >= filled_) end = lf + 1;
    }
    QTextCursor cursor(box_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QStringView(text_).mid(filled_, end - filled_).toString());
    filled_ = end;
    if (filled_ < text_.size()) return;
    fillTimer_->stop();
    progressTimer_->stop();
    box_->setReadOnly(false);
    box_->setUndoRedoEnabled(true);
    box_->moveCursor(QTextCursor::Start);
    status_->clearMessage();
    text_.clear();
    const QString name = fileName_;
    fileName_.clear();
    std::shared_ptr<const documents::Document> document = std::move(document_);
    emit Loaded(name, document);
}

void TDocumentLoader::ShowProgress() {
    if (QDateTime::currentMSecsSinceEpoch() - startedMs_ < kQuietMs) return;
    // Reading the file is the first half, filling the box the second.
    const int percent =
        shared_ ? shared_->permille / 20
                : 50 + static_cast<int>(text_.isEmpty() ? 50 : filled_ * 50 / text_.size());
    status_->showMessage(QString("Loading %1: %2 %").arg(fileName_).arg(percent));
}
