#include "app/TextBox.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QUrl>

#include "documents/Import.h"
#include "support/qt/TextCodec.h"

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

QString TTextBox::DroppedDocument(const QMimeData* source) {
    if (!source || !source->hasUrls() || source->urls().size() != 1) return {};
    const QUrl url = source->urls().front();
    if (!url.isLocalFile()) return {};
    const QString name = url.toLocalFile();
    return documents::FormatOfName(EncodeText(name)) == documents::Format::PlainText ? QString()
                                                                                     : name;
}

bool TTextBox::canInsertFromMimeData(const QMimeData* source) const {
    return !DroppedDocument(source).isEmpty() || QPlainTextEdit::canInsertFromMimeData(source);
}

void TTextBox::insertFromMimeData(const QMimeData* source) {
    if (const QString document = DroppedDocument(source); !document.isEmpty()) {
        emit DocumentDropped(document);
        return;
    }
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
