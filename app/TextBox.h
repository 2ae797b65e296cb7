#pragma once
// The window's text box: a plain text editor whose every line break is a paragraph
// break. Shift+Return breaks the line as Return does, and line or paragraph separators
// in pasted or dropped text arrive as breaks, so the lines the box shows are the lines
// that are saved and spoken (the editor's own line separator is saved as a character
// that other editors and the engines do not take for a break). A document file dropped
// on it (EPUB, PDF, ...) is not inserted as its name: the window loads it.
#include <QPlainTextEdit>

class TTextBox : public QPlainTextEdit {
    Q_OBJECT
  public:
    explicit TTextBox(QWidget* parent = nullptr);

  signals:
    void DocumentDropped(const QString& fileName);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;

  private:
    // The local document file the data names, or an empty string.
    static QString DroppedDocument(const QMimeData* source);
};
