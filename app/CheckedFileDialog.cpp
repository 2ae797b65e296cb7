#include "app/CheckedFileDialog.h"

#include <QFileInfo>
#include <QMessageBox>

TCheckedFileDialog::TCheckedFileDialog(QWidget* parent, const QString& caption)
    : QFileDialog(parent, caption) {
    setOption(QFileDialog::DontUseNativeDialog);
}

void TCheckedFileDialog::accept() {
    const QStringList files = selectedFiles();
    if (!files.isEmpty()) {
        const QFileInfo chosen(files.constFirst());
        if (!chosen.isDir() && !chosen.absoluteDir().exists()) {
            QMessageBox::warning(this, windowTitle(),
                                 QDir::toNativeSeparators(chosen.absoluteFilePath()) +
                                     "\nPath does not exist.\nCheck the path and try again.");
            return;
        }
    }
    QFileDialog::accept();
}
