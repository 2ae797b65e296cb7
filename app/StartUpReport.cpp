#include "app/StartUpReport.h"

#include <QComboBox>
#include <QDir>
#include <QFontInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextDocument>

#include "app/fmMain.h"

QString StartUpReport(const TFormMain& form) {
    QString out;
    auto line = [&out](const char* key, const QString& value) {
        out += QString::fromLatin1(key) + ": " + value + "\n";
    };
    line("caption", form.windowTitle());
    line("application-title", QGuiApplication::applicationDisplayName());
    line("application", QGuiApplication::applicationName() + " " +
                            QGuiApplication::applicationVersion() + " " +
                            QGuiApplication::desktopFileName());
    // Where the icon came from (the theme's name, or the sizes built in) and how many
    // sizes it has.
    const QIcon icon = form.windowIcon();
    line("icon", (icon.name().isEmpty() ? QStringLiteral("built-in") : icon.name()) + " " +
                     QString::number(icon.availableSizes().size()));
    line("client-size", QString("%1x%2").arg(form.width()).arg(form.height()));
    line("font", QFontInfo(form.font()).family() + " " + QString::number(form.font().pointSize()));
    const QTextDocument* readme = form.mmHelpReadme->document();
    const int readmeLines = readme->isEmpty() ? 0 : readme->blockCount();
    line("readme-lines", QString::number(readmeLines));
    line("readme-first-line", readmeLines ? readme->firstBlock().text() : QString());
    line("engines", QString::number(form.cbVoiceEngines->count()));
    for (int i = 0; i < form.cbVoiceEngines->count(); ++i)
        line("engine", form.cbVoiceEngines->itemText(i));
    line("selected", QString::number(form.cbVoiceEngines->currentIndex()) + " " +
                         form.cbVoiceEngines->currentText());
    line("status", form.sbMain->currentMessage());
    return out;
}

void SaveScreenshots(TFormMain& form, const QString& folder) {
    QDir().mkpath(folder);
    const int shown = form.pcMain->currentIndex();
    form.pcMain->setCurrentWidget(form.tsMainHelp);
    form.grab().save(folder + "/help-page.png");
    form.pcMain->setCurrentWidget(form.tsMainEdit);
    form.grab().save(folder + "/edit-page.png");
    form.pcMain->setCurrentIndex(shown);
}
