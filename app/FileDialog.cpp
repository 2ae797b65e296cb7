#include "app/FileDialog.h"

#include <QFileInfo>
#include <QWidget>
#include <algorithm>

#include "app/CheckedFileDialog.h"

namespace {
TFileDialog::ExecuteHook& Hook() {
    static TFileDialog::ExecuteHook hook;
    return hook;
}
}  // namespace

TFileDialog::TFileDialog(Kind kind, const QString& title, const QList<Entry>& entries,
                         QObject* owner)
    : QObject(owner), kind_(kind), title_(title), entries_(entries) {
    Q_ASSERT(!entries_.isEmpty());
}

TFileDialog::TFileDialog(Kind kind, const QString& title, const QString& filterName,
                         const QString& pattern, const QString& defaultExt, QObject* owner)
    : TFileDialog(kind, title, {{filterName, pattern, defaultExt}}, owner) {}

QStringList TFileDialog::Filters() const {
    QStringList filters;
    for (const Entry& e : entries_) filters << e.name + " (" + e.pattern + ")";
    return filters;
}

void TFileDialog::SetExecuteHook(ExecuteHook hook) {
    Hook() = std::move(hook);
}

bool TFileDialog::Execute(QWidget* parent) {
    QString chosen;
    int chosenEntry = entryIndex_;
    if (Hook()) {
        chosen = Hook()(*this);
        if (chosen.isEmpty()) return false;
        // A typed name without a dot gets the default extension, as in the dialog.
        if (!QFileInfo(chosen).fileName().contains('.')) chosen += "." + DefaultExt();
    } else {
        TCheckedFileDialog dialog(parent, title_);
        const QStringList filters = Filters();
        dialog.setNameFilters(filters);
        dialog.selectNameFilter(filters.at(entryIndex_));
        dialog.setDefaultSuffix(DefaultExt());
        // The extension a bare name gets follows the entry the user picks.
        connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString& filter) {
            const qsizetype i = filters.indexOf(filter);
            if (i >= 0) dialog.setDefaultSuffix(entries_.at(i).defaultExt);
        });
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
        chosenEntry = std::max<int>(0, int(filters.indexOf(dialog.selectedNameFilter())));
    }
    Remember(chosen, chosenEntry);
    return true;
}

void TFileDialog::Remember(const QString& chosen, int chosenEntry) {
    fileName_ = chosen;
    entryIndex_ = chosenEntry;
    const QString suffix = QFileInfo(chosen).suffix();
    for (int i = 0; i < entries_.size(); ++i)
        if (entries_.at(i).defaultExt.compare(suffix, Qt::CaseInsensitive) == 0) entryIndex_ = i;
}
