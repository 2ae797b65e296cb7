#pragma once
// Shared set-up of the tests that run on the real speech service: one application
// object and apartment for the test program, and a way to wait for notifications.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QProcessEnvironment>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "platform/ClassRegistry.h"
#include "platform/service/SpeechService.h"

inline void StartRealService() {
    static int argc = 1;
    static char name[] = "test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = [] {
        auto* a = new QCoreApplication(argc, argv);
        CoInitialize(nullptr);
        RegisterSpeechService();
        return a;
    }();
    (void)app;
}

// Dispatches messages until done() holds or ms milliseconds have passed.
inline bool WaitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

struct SayOutcome {
    int code = -1;
    std::string out, err;
};

// Runs the real parlen-say with changed environment entries: "NAME=value" sets one,
// a bare "NAME" removes it.
// during, when given, runs with the process started and its input closed.
inline SayOutcome RunParlenSay(const QStringList& args, const QByteArray& input,
                               const QStringList& env = {}, int ms = 60000,
                               const std::function<void(QProcess&)>& during = {}) {
    const char* bin = std::getenv("PARLEN_BIN_DIR");
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (const QString& entry : env) {
        const qsizetype eq = entry.indexOf('=');
        if (eq < 0)
            e.remove(entry);
        else
            e.insert(entry.left(eq), entry.mid(eq + 1));
    }
    p.setProcessEnvironment(e);
    p.start(QString(bin ? bin : ".") + "/parlen-say", args);
    SayOutcome r;
    if (!p.waitForStarted()) return r;
    p.write(input);
    p.closeWriteChannel();
    if (during) during(p);
    if (!p.waitForFinished(ms)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
}
