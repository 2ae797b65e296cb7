#pragma once
// An open-file or save-file dialog kept by the window as a member: its settings are
// fixed when the window is built, and it offers the name last chosen in it, with the
// entry of its list that name's type belongs to, the next time it opens.
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

class TFileDialog : public QObject {
    Q_OBJECT
  public:
    enum Kind { dkOpen, dkSave };

    // One entry of the dialog's type list: its name, its pattern ("*.wav") and the
    // extension a name typed without one gets while the entry is chosen.
    struct Entry {
        QString name;
        QString pattern;
        QString defaultExt;
    };

    TFileDialog(Kind kind, const QString& title, const QList<Entry>& entries, QObject* owner);
    TFileDialog(Kind kind, const QString& title, const QString& filterName, const QString& pattern,
                const QString& defaultExt, QObject* owner);

    // Runs the dialog modally; true when the user confirmed a name.
    bool Execute(QWidget* parent);

    Kind DialogKind() const { return kind_; }
    QString Title() const { return title_; }
    // Every entry as the list shows it ("Audio Files (.wav) (*.wav)"), the first one
    // chosen until the user picks another.
    QStringList Filters() const;
    // The chosen entry as the list shows it, and the extension it gives.
    QString Filter() const { return Filters().at(entryIndex_); }
    QString DefaultExt() const { return entries_.at(entryIndex_).defaultExt; }
    QString FileName() const { return fileName_; }
    void SetFileName(const QString& name) { fileName_ = name; }

    // Test seam: when set, Execute asks the hook instead of a person. The hook sees the
    // dialog (and the name it would offer) and returns the chosen name, or an empty
    // string to cancel.
    using ExecuteHook = std::function<QString(const TFileDialog& dialog)>;
    static void SetExecuteHook(ExecuteHook hook);

  private:
    // Remembers the name and the entry to offer next: the one whose extension the name
    // has, else the one chosen in the dialog.
    void Remember(const QString& chosen, int chosenEntry);

    Kind kind_;
    QString title_;
    QList<Entry> entries_;
    int entryIndex_ = 0;
    QString fileName_;
};
