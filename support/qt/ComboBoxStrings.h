#pragma once
// Line list viewing the item list of a drop-down list (QComboBox). It holds no copy of
// the items: every call reads or changes the control.
#include <QPointer>
#include <string>

#include "support/Strings.h"

class QComboBox;

class TComboBoxStrings : public TStrings {
  public:
    explicit TComboBoxStrings(QComboBox* box);
    ~TComboBoxStrings() override = default;

    int LineCount() const override;
    std::string LineAt(int index) const override;
    // Appends an item; fails with EOutOfResources when the control refuses it (its
    // maxCount() is reached).
    int AppendLine(const std::string& text) override;
    // Removes all items; the text in the edit field of an editable box stays.
    void ClearLines() override;
    // The control's own search: first item equal to the whole text ignoring case.
    int FindLine(const std::string& text) const override;

  protected:
    void SetUpdateState(bool updating) override;

  private:
    QPointer<QComboBox> box_;
};
