#include "support/qt/ComboBoxStrings.h"

#include <QComboBox>

#include "support/Errors.h"
#include "support/qt/TextCodec.h"

TComboBoxStrings::TComboBoxStrings(QComboBox* box) : box_(box) {}

int TComboBoxStrings::LineCount() const {
    return box_ ? box_->count() : 0;
}

std::string TComboBoxStrings::LineAt(int index) const {
    if (!box_ || index < 0 || index >= box_->count())
        throw EStringListError("List index out of bounds (" + std::to_string(index) + ")");
    return EncodeText(box_->itemText(index));
}

int TComboBoxStrings::AppendLine(const std::string& text) {
    if (!box_) throw EOutOfResources("Unable to insert a line");
    const int before = box_->count();
    box_->addItem(DecodeText(text));
    if (box_->count() != before + 1) throw EOutOfResources("Unable to insert a line");
    return before;
}

void TComboBoxStrings::ClearLines() {
    if (!box_) return;
    if (box_->isEditable()) {
        const QString shown = box_->currentText();
        box_->clear();
        box_->setEditText(shown);
    } else {
        box_->clear();
    }
}

int TComboBoxStrings::FindLine(const std::string& text) const {
    if (!box_) return -1;
    // Fixed-string matching without Qt::MatchCaseSensitive compares whole texts ignoring case.
    return box_->findText(DecodeText(text), Qt::MatchFixedString);
}

void TComboBoxStrings::SetUpdateState(bool updating) {
    if (!box_) return;
    box_->setUpdatesEnabled(!updating);
    if (!updating && box_->isVisible()) box_->repaint();
}
