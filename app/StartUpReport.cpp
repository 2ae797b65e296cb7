#include "app/StartUpReport.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextDocument>

#include "app/fmMain.h"

QString StartUpReport(const TFormMain& form) {
    QString out;
    auto line = [&out](const char* key, const QString& value) {
        out += QString::fromLatin1(key) + ": " + value + "\n";
    };
    line("caption", form.windowTitle());
    const QTextDocument* readme = form.mmHelpReadme->document();
    const int readmeLines = readme->isEmpty() ? 0 : readme->blockCount();
    line("readme-lines", QString::number(readmeLines));
    line("readme-first-line", readmeLines ? readme->firstBlock().text() : QString());
    line("engines", QString::number(form.cbVoiceEngines->count()));
    for (int i = 0; i < form.cbVoiceEngines->count(); ++i)
        line("engine", form.cbVoiceEngines->itemText(i));
    line("selected", form.cbVoiceEngines->currentText());
    line("status", form.sbMain->currentMessage());
    return out;
}
