#pragma once
// The toolkit's own file dialog, the same on every desktop, so that the default
// extension, the overwrite prompt and the existence checks always hold. It also
// refuses a name in a folder that does not exist: it says so and stays open, so that
// the user can mend the name instead of finding nothing saved.
#include <QFileDialog>

class TCheckedFileDialog : public QFileDialog {
    Q_OBJECT
  public:
    TCheckedFileDialog(QWidget* parent, const QString& caption);

    void accept() override;
};
