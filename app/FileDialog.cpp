#include "app/FileDialog.h"

#include <QFileInfo>
#include <QWidget>

#include "app/CheckedFileDialog.h"

namespace {
TFileDialog::ExecuteHook& Hook() {
    static TFileDialog::ExecuteHook hook;
    return hook;
}
}  // namespace

TFileDialog::TFileDialog(Kind kind, const QString& title, const QString& filterName,
                         const QString& pattern, const QString& defaultExt, QObject* owner)
    : QObject(owner),
      kind_(kind),
      title_(title),
      filter_(filterName + " (" + pattern + ")"),
      defaultExt_(defaultExt) {}

void TFileDialog::SetExecuteHook(ExecuteHook hook) {
    Hook() = std::move(hook);
}

bool TFileDialog::Execute(QWidget* parent) {
    QString chosen;
    if (Hook()) {
        chosen = Hook()(*this);
        if (chosen.isEmpty()) return false;
        // A typed name without a dot gets the default extension, as in the dialog.
        if (!QFileInfo(chosen).fileName().contains('.')) chosen += "." + defaultExt_;
    } else {
        TCheckedFileDialog dialog(parent, title_);
        dialog.setNameFilter(filter_);
        dialog.setDefaultSuffix(defaultExt_);
        dialog.setSizeGripEnabled(true);
        if (kind_ == dkOpen) {
            dialog.setAcceptMode(QFileDialog::AcceptOpen);
            dialog.setFileMode(QFileDialog::ExistingFile);  // file and folder must exist
        } else {
            dialog.setAcceptMode(QFileDialog::AcceptSave);  // asks before overwriting
            dialog.setFileMode(QFileDialog::AnyFile);
        }
        if (!fileName_.isEmpty()) {
            QFileInfo last(fileName_);
            if (last.dir().exists()) dialog.setDirectory(last.dir());
            dialog.selectFile(last.fileName());
        }
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
        chosen = dialog.selectedFiles().constFirst();
    }
    fileName_ = chosen;
    return true;
}
