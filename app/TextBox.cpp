#include "app/TextBox.h"

#include <QKeyEvent>
#include <QMimeData>

TTextBox::TTextBox(QWidget* parent) : QPlainTextEdit(parent) {}

void TTextBox::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::InsertLineSeparator)) {
        // The same key without its line-separator modifier breaks the paragraph.
        const Qt::KeyboardModifiers plain =
            event->modifiers() & ~(Qt::ShiftModifier | Qt::MetaModifier);
        QKeyEvent paragraph(event->type(), event->key(), plain, event->text(),
                            event->isAutoRepeat(), ushort(event->count()));
        QPlainTextEdit::keyPressEvent(&paragraph);
        event->setAccepted(paragraph.isAccepted());
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void TTextBox::insertFromMimeData(const QMimeData* source) {
    if (!source || !source->hasText()) {
        QPlainTextEdit::insertFromMimeData(source);
        return;
    }
    QString text = source->text();
    if (!text.contains(QChar::LineSeparator) && !text.contains(QChar::ParagraphSeparator)) {
        QPlainTextEdit::insertFromMimeData(source);
        return;
    }
    text.replace(QChar::LineSeparator, u'\n').replace(QChar::ParagraphSeparator, u'\n');
    QMimeData plain;
    plain.setText(text);
    QPlainTextEdit::insertFromMimeData(&plain);
}
