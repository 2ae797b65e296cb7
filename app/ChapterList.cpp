#include "app/ChapterList.h"

#include <QHeaderView>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

struct TChapterList::Chapter {
    QTreeWidgetItem* item = nullptr;
    QTextCursor start;  // moves with the text; its paragraph is the chapter's first
    // Where that paragraph started and ended before the latest change.
    int first = 0, end = 0;
    bool alive = true;
};

namespace {
QTreeWidgetItem* ItemOf(QTreeWidget* tree, QTreeWidgetItem* parent) {
    return parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree);
}
}  // namespace

TChapterList::TChapterList(QWidget* parent, QPlainTextEdit* box)
    : QGroupBox("Chapters", parent),
      box_(box),
      tree_(new QTreeWidget(this)),
      pruneTimer_(new QTimer(this)) {
    setObjectName("gbEditChapters");
    tree_->setObjectName("tvChapters");
    tree_->setHeaderHidden(true);
    tree_->setColumnCount(1);
    tree_->setUniformRowHeights(true);
    tree_->header()->setStretchLastSection(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 4, 8, 8);
    layout->addWidget(tree_);
    pruneTimer_->setSingleShot(true);
    pruneTimer_->setInterval(0);
    connect(pruneTimer_, &QTimer::timeout, this, [this] { Prune(); });
    connect(box_->document(), &QTextDocument::contentsChange, this,
            [this](int position, int removed, int) { Edited(position, removed); });
    connect(tree_, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item) { Choose(item, false); });
    connect(tree_, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item) { Choose(item, true); });
}

void TChapterList::Clear() {
    const bool wasEmpty = chapters_.empty();
    // The marks stay in the box's paragraphs but point at nothing.
    chapters_.clear();
    tree_->clear();
    if (!wasEmpty) emit EmptyChanged(true);
}

void TChapterList::Show(const documents::Document& document) {
    Clear();
    QTextDocument* text = box_->document();
    // A chapter's paragraph: the line breaks before its offset.
    size_t paragraph = 0, counted = 0;
    std::vector<QTreeWidgetItem*> parents;  // the last item of each level above
    for (const documents::Chapter& c : document.chapters) {
        paragraph += static_cast<size_t>(
            std::count(document.text.begin() + static_cast<std::ptrdiff_t>(counted),
                       document.text.begin() + static_cast<std::ptrdiff_t>(c.offset), '\n'));
        counted = c.offset;
        QTextBlock block = text->findBlockByNumber(static_cast<int>(paragraph));
        if (!block.isValid()) continue;
        auto chapter = std::make_shared<Chapter>();
        parents.resize(static_cast<size_t>(std::clamp(c.level - 1, 0, int(parents.size()))));
        chapter->item = ItemOf(tree_, parents.empty() ? nullptr : parents.back());
        parents.push_back(chapter->item);
        chapter->item->setText(0, QString::fromStdString(c.title.empty() ? "(untitled)" : c.title));
        chapter->item->setToolTip(0, chapter->item->text(0));
        chapter->item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        // Front and back matter are left out until the user ticks them.
        chapter->item->setCheckState(
            0, c.kind == documents::ChapterKind::Body ? Qt::Checked : Qt::Unchecked);
        chapter->start = QTextCursor(block);
        chapters_.push_back(std::move(chapter));
    }
    Remember();
    tree_->expandAll();
    if (!chapters_.empty()) emit EmptyChanged(false);
}

void TChapterList::Choose(QTreeWidgetItem* item, bool focusBox) {
    for (const auto& chapter : chapters_) {
        if (chapter->item != item || !chapter->alive) continue;
        QTextCursor caret(chapter->start.block());
        box_->setTextCursor(caret);
        box_->ensureCursorVisible();
        if (focusBox) box_->setFocus(Qt::OtherFocusReason);
        return;
    }
}

std::vector<std::pair<int, int>> TChapterList::SkippedParagraphs() const {
    std::vector<std::pair<int, int>> skipped;
    for (size_t i = 0; i < chapters_.size(); ++i) {
        const Chapter& c = *chapters_[i];
        if (!c.alive || c.item->checkState(0) == Qt::Checked) continue;
        const int first = c.start.block().blockNumber();
        int end = box_->document()->blockCount();
        for (size_t k = i + 1; k < chapters_.size(); ++k)
            if (chapters_[k]->alive) {
                end = chapters_[k]->start.block().blockNumber();
                break;
            }
        if (end <= first) continue;
        if (!skipped.empty() && skipped.back().second >= first)
            skipped.back().second = std::max(skipped.back().second, end);
        else
            skipped.emplace_back(first, end);
    }
    return skipped;
}

std::vector<std::pair<QString, int>> TChapterList::TickedChapters() const {
    std::vector<std::pair<QString, int>> ticked;
    for (const auto& c : chapters_)
        if (c->alive && c->item->checkState(0) == Qt::Checked)
            ticked.emplace_back(c->item->text(0), c->start.block().blockNumber());
    return ticked;
}

void TChapterList::Remember() {
    for (auto& chapter : chapters_) {
        const QTextBlock block = chapter->start.block();
        chapter->first = block.position();
        chapter->end = block.position() + block.length() - 1;
    }
}

void TChapterList::Edited(int position, int removed) {
    if (chapters_.empty()) return;
    const int removedEnd = position + removed;
    for (auto& chapter : chapters_) {
        // Its start is gone when the break before it went (it no longer starts a
        // paragraph) or its whole first paragraph did.
        if (removed > 0 && ((position < chapter->first && removedEnd >= chapter->first) ||
                            (position <= chapter->first && removedEnd >= chapter->end)))
            chapter->alive = false;
    }
    Remember();
    if (std::any_of(chapters_.begin(), chapters_.end(), [](const auto& c) { return !c->alive; }))
        pruneTimer_->start();
}

void TChapterList::Prune() {
    QTreeWidgetItem* current = tree_->currentItem();
    for (auto it = chapters_.begin(); it != chapters_.end();) {
        if ((*it)->alive) {
            ++it;
            continue;
        }
        QTreeWidgetItem* item = (*it)->item;
        // Its sub-chapters move up to its parent.
        QTreeWidgetItem* parent = item->parent();
        const QList<QTreeWidgetItem*> children = item->takeChildren();
        const int index = parent ? parent->indexOfChild(item) : tree_->indexOfTopLevelItem(item);
        if (parent)
            parent->insertChildren(index + 1, children);
        else
            tree_->insertTopLevelItems(index + 1, children);
        if (item == current) current = nullptr;
        delete item;
        it = chapters_.erase(it);
    }
    if (chapters_.empty()) {
        tree_->clear();
        emit EmptyChanged(true);
    }
}
