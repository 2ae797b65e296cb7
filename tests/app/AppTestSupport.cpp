#include "AppTestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include "support/DesktopSeams.h"

UiRecorder::UiRecorder() {
    ErrorGuard::SetErrorBoxHook([this](const QString& title, const QString& text) {
        boxes.push_back({title, text});
    });
    SetBeepHook([this] { ++beeps; });
    TFileDialog::SetExecuteHook([this](const TFileDialog& dialog) {
        dialogTitles.push_back(dialog.Title());
        offeredNames.push_back(dialog.FileName());
        if (answers.empty()) return QString();
        QString name = answers.front();
        answers.pop_front();
        return name;
    });
}

UiRecorder::~UiRecorder() {
    ErrorGuard::SetErrorBoxHook({});
    SetBeepHook({});
    TFileDialog::SetExecuteHook({});
}

std::string ProgramPath() {
    QByteArray dir = qgetenv("PARLEN_BIN_DIR");
    return (dir.isEmpty() ? std::string(PARLEN_TEST_BIN_DIR) : dir.toStdString()) + "/parlenmaker";
}

std::string ReadFileBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return "<missing>";
    return f.readAll().toStdString();
}

void WriteFileBytes(const QString& path, const std::string& bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes.data(), qint64(bytes.size()));
}

bool WaitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (done && done()) return true;
        QThread::msleep(2);
    }
    return done ? done() : true;
}

QString ScratchDir() {
    static std::vector<std::unique_ptr<QTemporaryDir>> dirs;
    dirs.push_back(std::make_unique<QTemporaryDir>());
    return dirs.back()->path();
}
