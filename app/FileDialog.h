#pragma once
// An open-file or save-file dialog kept by the window as a member: its settings are
// fixed when the window is built, and it offers the name last chosen in it the next
// time it opens.
#include <QObject>
#include <QString>
#include <functional>

class QWidget;

class TFileDialog : public QObject {
    Q_OBJECT
  public:
    enum Kind { dkOpen, dkSave };

    TFileDialog(Kind kind, const QString& title, const QString& filterName, const QString& pattern,
                const QString& defaultExt, QObject* owner);

    // Runs the dialog modally; true when the user confirmed a name.
    bool Execute(QWidget* parent);

    Kind DialogKind() const { return kind_; }
    QString Title() const { return title_; }
    QString Filter() const { return filter_; }
    QString DefaultExt() const { return defaultExt_; }
    QString FileName() const { return fileName_; }
    void SetFileName(const QString& name) { fileName_ = name; }

    // Test seam: when set, Execute asks the hook instead of a person. The hook sees the
    // dialog (and the name it would offer) and returns the chosen name, or an empty
    // string to cancel.
    using ExecuteHook = std::function<QString(const TFileDialog& dialog)>;
    static void SetExecuteHook(ExecuteHook hook);

  private:
    Kind kind_;
    QString title_;
    QString filter_;
    QString defaultExt_;
    QString fileName_;
};
