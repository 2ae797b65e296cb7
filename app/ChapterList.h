#pragma once
// The chapters of the loaded document beside the text box, each with a tick box: what is
// unticked is left out when the text is spoken or saved as audio. Choosing a chapter puts
// the caret at its start. Each chapter is tied to its first paragraph in the box, so the
// list follows the text as it is edited: a chapter goes when its first paragraph is
// deleted whole or the break before it is (it then starts no paragraph).
#include <QGroupBox>
#include <memory>
#include <utility>
#include <vector>

#include "documents/Document.h"

class QPlainTextEdit;
class QTreeWidget;
class QTreeWidgetItem;
class QTimer;

class TChapterList : public QGroupBox {
    Q_OBJECT
  public:
    TChapterList(QWidget* parent, QPlainTextEdit* box);

    // Lists the chapters of the document now in the box (its paragraph i is the
    // document's i-th); none empties the list.
    void Show(const documents::Document& document);
    void Clear();
    bool Empty() const { return chapters_.empty(); }
    QTreeWidget* Tree() const { return tree_; }

    // The box's paragraphs left out, as [first, end) paragraph numbers in order.
    std::vector<std::pair<int, int>> SkippedParagraphs() const;
    // The ticked chapters' titles and first paragraphs, in order.
    std::vector<std::pair<QString, int>> TickedChapters() const;

    struct Chapter;

  signals:
    // The list became empty or not.
    void EmptyChanged(bool empty);

  private:
    // Keeps where each chapter's first paragraph lies, for telling what an edit deleted.
    void Remember();
    void Edited(int position, int removed);
    void Prune();
    void Choose(QTreeWidgetItem* item, bool focusBox);

    QPlainTextEdit* box_;
    QTreeWidget* tree_;
    QTimer* pruneTimer_;
    std::vector<std::shared_ptr<Chapter>> chapters_;
};
