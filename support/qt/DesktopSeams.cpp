#include "support/qt/DesktopSeams.h"

#include <QApplication>
#include <QCursor>
#include <QMetaObject>
#include <QProcess>

namespace {

struct Hooks {
    std::function<void()> beep;
    std::function<bool(const QString&)> openUrl;
    std::function<QPoint()> pointer;
};

Hooks& TheHooks() {
    static Hooks hooks;
    return hooks;
}

// Runs done on a later turn of the event loop, as the real outcome arrives.
void ReportLater(std::function<void(bool)> done, bool ok) {
    if (!done) return;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [done = std::move(done), ok] { done(ok); },
        Qt::QueuedConnection);
}

// Watches one handler process and reports how it ended.
class HandlerRun : public QObject {
  public:
    HandlerRun(const QString& url, std::function<void(bool)> done) : done_(std::move(done)) {
        process_ = new QProcess(this);
        process_->setProgram(QStringLiteral("xdg-open"));
        process_->setArguments({url});
        process_->setStandardInputFile(QProcess::nullDevice());
        process_->setStandardOutputFile(QProcess::nullDevice());
        process_->setStandardErrorFile(QProcess::nullDevice());
        connect(process_, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
            Finish(status == QProcess::NormalExit && code == 0);
        });
        connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart) Finish(false);
        });
        // Some handlers run the browser in the foreground; destroying the QProcess
        // would kill it, so a run still going at exit is let go instead.
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] {
            disconnect(process_, nullptr, this, nullptr);
            setParent(nullptr);
            done_ = {};
        });
        setParent(QCoreApplication::instance());
        process_->start();
    }

  private:
    void Finish(bool ok) {
        if (finished_) return;
        finished_ = true;
        if (done_) done_(ok);
        deleteLater();
    }

    QProcess* process_;
    std::function<void(bool)> done_;
    bool finished_ = false;
};

}  // namespace

void DefaultBeep() {
    if (TheHooks().beep) {
        TheHooks().beep();
        return;
    }
    QApplication::beep();
}

void OpenUrlWithDefaultHandler(const QString& url, std::function<void(bool ok)> done) {
    // Without an application there is no loop to report the outcome on.
    if (!QCoreApplication::instance()) {
        if (done) done(false);
        return;
    }
    if (TheHooks().openUrl) {
        ReportLater(std::move(done), TheHooks().openUrl(url));
        return;
    }
    new HandlerRun(url, std::move(done));
}

QPoint PointerPosition() {
    return TheHooks().pointer ? TheHooks().pointer() : QCursor::pos();
}

void SetBeepHook(std::function<void()> hook) {
    TheHooks().beep = std::move(hook);
}

void SetOpenUrlHook(std::function<bool(const QString&)> hook) {
    TheHooks().openUrl = std::move(hook);
}

void SetPointerPositionHook(std::function<QPoint()> hook) {
    TheHooks().pointer = std::move(hook);
}
