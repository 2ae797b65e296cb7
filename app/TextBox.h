#pragma once
// The window's text box: a plain text editor whose every line break is a paragraph
// break. Shift+Return breaks the line as Return does, and line or paragraph separators
// in pasted or dropped text arrive as breaks, so the lines the box shows are the lines
// that are saved and spoken (the editor's own line separator is saved as a character
// that other editors and the engines do not take for a break).
#include <QPlainTextEdit>

class TTextBox : public QPlainTextEdit {
    Q_OBJECT
  public:
    explicit TTextBox(QWidget* parent = nullptr);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;
};
