#include <gtest/gtest.h>

#include <QComboBox>
#include <QPlainTextEdit>

#include "qt_app.h"
#include "support/qt/ComboBoxStrings.h"
#include "support/Errors.h"
#include "support/qt/MemoStrings.h"
#include "support/StringList.h"

namespace {
std::string Items(const QComboBox& box) {
    std::string all;
    for (int i = 0; i < box.count(); ++i) all += box.itemText(i).toStdString() + "|";
    return all;
}
}  // namespace

TEST(ComboBoxStrings, AppendAddsItemsAndGivesTheirIndex) {
    QComboBox box;
    TComboBoxStrings lines(&box);
    EXPECT_EQ(lines.LineCount(), 0);
    EXPECT_EQ(lines.AppendLine("espeak"), 0);
    EXPECT_EQ(lines.AppendLine("\xc3\x84nne \xff"), 1);  // invalid byte survives
    EXPECT_EQ(lines.AppendLine("espeak"), 2);            // duplicates allowed
    EXPECT_EQ(lines.LineCount(), 3);
    EXPECT_EQ(lines.LineAt(1), "\xc3\x84nne \xff");
    EXPECT_EQ(box.itemText(1), QString::fromUtf8("\xc3\x84nne ") + QChar(0xF7FF));
    EXPECT_THROW(lines.LineAt(3), EStringListError);
}

TEST(ComboBoxStrings, RefusedItemFailsAndKeepsEarlierOnes) {
    QComboBox box;
    box.setMaxCount(2);
    TComboBoxStrings lines(&box);
    lines.AppendLine("a");
    lines.AppendLine("b");
    try {
        lines.AppendLine("c");
        ADD_FAILURE() << "no error";
    } catch (const EOutOfResources& e) {
        EXPECT_EQ(e.Message(), "Unable to insert a line");
    }
    EXPECT_EQ(Items(box), "a|b|");
}

TEST(ComboBoxStrings, ClearRemovesItemsButKeepsTheEditText) {
    QComboBox box;
    box.setEditable(true);
    TComboBoxStrings lines(&box);
    lines.AppendLine("one");
    lines.AppendLine("two");
    box.setEditText("typed");
    lines.ClearLines();
    EXPECT_EQ(box.count(), 0);
    EXPECT_EQ(box.currentText(), "typed");

    QComboBox fixed;
    TComboBoxStrings fixedLines(&fixed);
    fixedLines.AppendLine("x");
    fixedLines.ClearLines();
    EXPECT_EQ(fixed.count(), 0);
}

TEST(ComboBoxStrings, FindLineIsTheControlsCaseIgnoringExactSearch) {
    QComboBox box;
    TComboBoxStrings lines(&box);
    EXPECT_EQ(lines.FindLine("x"), -1);
    lines.AppendLine("English (America)");
    lines.AppendLine("german");
    lines.AppendLine("German");
    EXPECT_EQ(lines.FindLine("GERMAN"), 1);
    EXPECT_EQ(lines.FindLine("english (AMERICA)"), 0);
    EXPECT_EQ(lines.FindLine("English"), -1);  // whole text only
    EXPECT_EQ(lines.FindLine("german "), -1);
    EXPECT_EQ(lines.FindLine("French"), -1);
}

TEST(ComboBoxStrings, CopyingTwiceLeavesOneCopyInSourceOrder) {
    TStringList source;
    for (const char* name : {"kal", "slt", "awb", "kal"}) source.AppendLine(name);
    QComboBox box;
    TComboBoxStrings lines(&box);
    lines.AppendLine("stale");
    lines.CopyLines(source);
    lines.CopyLines(source);
    EXPECT_EQ(Items(box), "kal|slt|awb|kal|");
    EXPECT_EQ(lines.UpdateCount(), 0);
    EXPECT_TRUE(box.updatesEnabled());
}

TEST(ComboBoxStrings, BracketStopsRedrawingUntilTheLastClose) {
    QComboBox box;
    box.show();
    TComboBoxStrings lines(&box);
    lines.BeginLinesUpdate();
    lines.BeginLinesUpdate();
    EXPECT_FALSE(box.updatesEnabled());
    lines.EndLinesUpdate();
    EXPECT_FALSE(box.updatesEnabled());
    lines.EndLinesUpdate();
    EXPECT_TRUE(box.updatesEnabled());
    EXPECT_TRUE(box.isVisible());
}

TEST(ComboBoxStrings, CopyFromATextBoxTakesItsLaidOutLines) {
    QPlainTextEdit memo;
    memo.show();
    TMemoStrings text(&memo);
    text.SplitText("first\nsecond\n");
    QComboBox box;
    TComboBoxStrings lines(&box);
    lines.CopyLines(text);
    EXPECT_EQ(Items(box), "first|second|");
}
