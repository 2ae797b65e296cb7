#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/Errors.h"
#include "support/StringList.h"

namespace {
// Records the batch notifications of the update bracket.
class BracketedList : public TStringList {
  public:
    std::vector<bool> states;

  protected:
    void SetUpdateState(bool updating) override { states.push_back(updating); }
};
}  // namespace

TEST(StringList, CapacityGrowsOnlyWhenFullByThePolicySteps) {
    TStringList list;
    EXPECT_EQ(list.Capacity(), 0);
    std::vector<int> seen;
    for (int i = 0; i < 220; ++i) {
        const int before = list.Capacity();
        EXPECT_EQ(list.AppendLine("line " + std::to_string(i)), i);
        if (list.Capacity() != before) {
            EXPECT_EQ(before, i) << "grew before the array was full";
            seen.push_back(list.Capacity());
        }
    }
    EXPECT_EQ(seen, (std::vector<int>{4, 8, 12, 28, 44, 60, 76, 95, 118, 147, 183, 228}));
    for (int i = 0; i < 200; ++i) EXPECT_EQ(list.LineAt(i), "line " + std::to_string(i));
    list.ClearLines();
    EXPECT_EQ(list.LineCount(), 0);
    EXPECT_EQ(list.Capacity(), 0);
    list.AppendLine("again");
    EXPECT_EQ(list.Capacity(), 4);
}

TEST(StringList, JoinPutsCrLfAfterEveryLine) {
    TStringList list;
    EXPECT_EQ(list.JoinLines(), "");
    list.AppendLine("");
    EXPECT_EQ(list.JoinLines(), "\r\n");
    list.ClearLines();
    list.AppendLine("1 2 3");
    EXPECT_EQ(list.JoinLines().size(), 7u);
    EXPECT_EQ(list.JoinLines(), "1 2 3\r\n");
    list.AppendLine("");
    list.AppendLine(std::string("a\0b", 3));
    EXPECT_EQ(list.JoinLines(), std::string("1 2 3\r\n\r\na\0b\r\n", 14));
}

TEST(StringList, LineAtOutsideTheListFailsWithTheIndex) {
    TStringList list;
    list.AppendLine("only");
    for (int bad : {-1, 1, 1000}) {
        try {
            list.LineAt(bad);
            ADD_FAILURE() << "no error for " << bad;
        } catch (const EStringListError& e) {
            EXPECT_EQ(e.Message(), "List index out of bounds (" + std::to_string(bad) + ")");
        }
    }
    EXPECT_EQ(list.LineCount(), 1);
    EXPECT_EQ(list.LineAt(0), "only");
}

TEST(StringList, FindLineComparesWholeLinesIgnoringCase) {
    TStringList list;
    EXPECT_EQ(list.FindLine("x"), -1);
    list.AppendLine("alpha");
    list.AppendLine("beta");
    list.AppendLine("BETA");
    EXPECT_EQ(list.FindLine("BETA"), 1);  // the first of two that differ in case
    EXPECT_EQ(list.FindLine("Alpha"), 0);
    EXPECT_EQ(list.FindLine("beta "), -1);  // no trimming
    EXPECT_EQ(list.FindLine("bet"), -1);
    EXPECT_EQ(list.FindLine(""), -1);
    list.AppendLine("\xc3\x84rger");  // "Ärger"
    EXPECT_EQ(list.FindLine("\xc3\xa4RGER"), 3);
    list.AppendLine("");
    EXPECT_EQ(list.FindLine(""), 4);
    list.AppendLine("M\xc4\x81ori \xce\xa3\xce\xbf\xcf\x86\xce\xaf\xce\xb1");  // "Māori Σοφία"
    EXPECT_EQ(list.FindLine("M\xc4\x80ORI \xcf\x83\xce\x9f\xce\xa6\xce\x8a\xce\x91"), 5);
    EXPECT_EQ(list.FindLine("\xe4rger"), -1) << "a Latin-1 byte is not the letter";
}

TEST(StringList, CopyLinesReplacesInSourceOrderInsideABracket) {
    TStringList source;
    source.AppendLine("one");
    source.AppendLine("two");
    source.AppendLine("one");
    BracketedList target;
    target.AppendLine("old");
    target.CopyLines(source);
    target.CopyLines(source);
    EXPECT_EQ(target.JoinLines(), "one\r\ntwo\r\none\r\n");
    // One batch per copy although the copy opens the bracket twice.
    EXPECT_EQ(target.states, (std::vector<bool>{true, false, true, false}));
    EXPECT_EQ(target.UpdateCount(), 0);
}

TEST(StringList, BracketClosesWhenTheCopyFails) {
    // A source that claims one line more than it has makes LineAt fail mid-copy.
    class Lying : public TStringList {
      public:
        int LineCount() const override { return TStringList::LineCount() + 1; }
    } source;
    source.AppendLine("a");
    BracketedList target;
    EXPECT_THROW(target.CopyLines(source), EStringListError);
    EXPECT_EQ(target.UpdateCount(), 0);
    EXPECT_EQ(target.states, (std::vector<bool>{true, false}));
    EXPECT_EQ(target.JoinLines(), "a\r\n");  // what was copied before stays
}

TEST(StringList, OperationsOfOtherKindsAreRefused) {
    TStringList list;
    list.AppendLine("keep");
    EXPECT_THROW(list.SplitText("x"), EInvalidOperation);
    EXPECT_EQ(list.JoinLines(), "keep\r\n");
}
