#pragma once
// The one text box a line-list fuzz target feeds, on an offscreen application made the
// first time it is asked for.
#include <QApplication>
#include <QPlainTextEdit>

inline QPlainTextEdit& FuzzMemo() {
    static int argc = 1;
    static char name[] = "fuzz_lines";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    (void)app;
    static QPlainTextEdit* memo = new QPlainTextEdit;
    return *memo;
}
