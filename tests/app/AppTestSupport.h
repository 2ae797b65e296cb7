#pragma once
// Drives the main window without a person: dialogs answer from a queue of names,
// error boxes and beeps are recorded, and the version block is read from the
// program's own executable.
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/ErrorGuard.h"
#include "app/FileDialog.h"
#include "app/fmMain.h"

struct TMSpeechEngineInfo;

struct ShownBox {
    QString title;
    QString text;
};

// Records what the window would have shown or asked.
struct UiRecorder {
    std::vector<ShownBox> boxes;
    int beeps = 0;
    std::deque<QString> answers;        // names the next dialogs return ("" cancels)
    std::vector<QString> dialogTitles;  // titles of the dialogs run
    std::vector<QString> offeredNames;  // the name each dialog offered when opened

    UiRecorder();
    ~UiRecorder();
};

// Path of the program's executable, which carries the version block.
std::string ProgramPath();
// Text of the file, byte for byte.
std::string ReadFileBytes(const QString& path);
void WriteFileBytes(const QString& path, const std::string& bytes);
// Processes events for up to ms milliseconds, or until done() holds.
bool WaitFor(const std::function<bool()>& done, int ms);
// A fresh empty folder for the test's files.
QString ScratchDir();
// The voice panel shows the engine: the bars' ranges and the range labels are the
// engine's, the bars stand at its values.
void ExpectPanelShowsEngine(const TFormMain& form, const TMSpeechEngineInfo& info);
