#include "app/LexiconDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/ErrorGuard.h"
#include "lexicon/Pls.h"
#include "lexicon/Store.h"

using lexicon::Entry;
using lexicon::Lexicon;
using lexicon::Scope;

namespace {
QString Q(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}
std::string S(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), size_t(bytes.size()));
}
template <class W>
W* Named(W* widget, const char* name, const char* description) {
    widget->setAccessibleName(QString::fromUtf8(name));
    widget->setAccessibleDescription(QString::fromUtf8(description));
    return widget;
}
}  // namespace

TLexiconDialog::TLexiconDialog(QWidget* parent, std::string voice, std::string language,
                               Speaker speak)
    : QDialog(parent),
      voice_(std::move(voice)),
      language_(std::move(language)),
      speak_(std::move(speak)) {
    setObjectName("LexiconDialog");
    setWindowTitle("Lexicon");
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* scopeLabel = new QLabel("&Show:", this);
    cbScope = Named(new QComboBox(this), "Show scope", "Which lexicons' entries the list shows.");
    cbScope->addItems({"All scopes", "Global", Q("Language: " + language_), Q("Voice: " + voice_)});
    scopeLabel->setBuddy(cbScope);
    top->addWidget(scopeLabel);
    top->addWidget(cbScope, 1);
    layout->addLayout(top);
    tbEntries = Named(new QTableWidget(0, 5, this), "Entries",
                      "Each entry: the word or pattern, what is said instead, and its scope.");
    tbEntries->setHorizontalHeaderLabels(
        {"Word or pattern", "Match", "Say as", "Phonemes", "Scope"});
    tbEntries->setSelectionBehavior(QAbstractItemView::SelectRows);
    tbEntries->setSelectionMode(QAbstractItemView::SingleSelection);
    tbEntries->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tbEntries->setTabKeyNavigation(false);
    tbEntries->horizontalHeader()->setStretchLastSection(true);
    tbEntries->verticalHeader()->hide();
    layout->addWidget(tbEntries, 1);
    auto* buttons = new QHBoxLayout;
    const auto button = [&](const char* caption, const char* name, const char* description,
                            void (TLexiconDialog::*action)()) {
        auto* b = Named(new QPushButton(caption, this), name, description);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this,
                [this, action] { Guarded([this, action] { (this->*action)(); }); });
        buttons->addWidget(b);
        return b;
    };
    btAdd = button("&Add...", "Add entry", "Adds an entry to a lexicon.", &TLexiconDialog::Add);
    btEdit = button("&Edit...", "Edit entry", "Changes the chosen entry.", &TLexiconDialog::Edit);
    btDelete =
        button("&Delete", "Delete entry", "Removes the chosen entry.", &TLexiconDialog::Delete);
    btTest = button("&Test", "Test entry",
                    "Says the chosen entry's word with the current voice, without the entry and "
                    "then with it.",
                    &TLexiconDialog::Test);
    btImport = button("&Import...", "Import lexicon", "Adds the entries of a lexicon file (.pls).",
                      &TLexiconDialog::Import);
    btExport = button("E&xport...", "Export lexicon",
                      "Writes the chosen entry's lexicon into a lexicon file (.pls).",
                      &TLexiconDialog::Export);
    btClose =
        Named(new QPushButton("Close", this), "Close", "Closes the dialog; every change is saved.");
    connect(btClose, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(btClose);
    layout->addLayout(buttons);
    connect(cbScope, &QComboBox::currentIndexChanged, this, [this] { Fill(); });
    connect(tbEntries, &QTableWidget::cellDoubleClicked, this,
            [this] { Guarded([this] { Edit(); }); });
    resize(640, 400);
    // A folder that cannot be read is never written over: the list stays closed.
    const bool read = Guarded([this] { lexicons_ = lexicon::Store::Instance().UserLexicons(); });
    for (QPushButton* b : {btAdd, btEdit, btDelete, btImport}) b->setEnabled(read);
    Fill();
}

bool TLexiconDialog::Guarded(const std::function<void()>& action) {
    try {
        action();
        return true;
    } catch (const std::exception& e) {
        ErrorGuard::ShowError(e.what());
        return false;
    }
}

Lexicon& TLexiconDialog::LexiconOf(Scope scope) {
    for (Lexicon& l : lexicons_) {
        if (l.scope != scope) continue;
        if (scope == Scope::Global || (scope == Scope::Voice && l.voice == voice_) ||
            (scope == Scope::Language && l.language == language_))
            return l;
    }
    Lexicon made;
    made.scope = scope;
    made.language = scope == Scope::Global ? "" : language_;
    if (scope == Scope::Voice) made.voice = voice_;
    lexicons_.push_back(std::move(made));
    return lexicons_.back();
}

void TLexiconDialog::Fill() {
    const int filter = cbScope->currentIndex();  // 0 all, else the scope + 1
    rows_.clear();
    for (size_t l = 0; l < lexicons_.size(); ++l) {
        const Lexicon& lex = lexicons_[l];
        if (filter > 0 && int(lex.scope) != filter - 1) continue;
        for (size_t e = 0; e < lex.entries.size(); ++e) rows_.push_back({l, e});
    }
    tbEntries->setRowCount(int(rows_.size()));
    for (int r = 0; r < int(rows_.size()); ++r) {
        const Lexicon& lex = lexicons_[rows_[size_t(r)].lexicon];
        const Entry& e = lex.entries[rows_[size_t(r)].entry];
        std::string scope = lexicon::ScopeName(lex.scope);
        if (lex.scope == Scope::Language) scope += ": " + lex.language;
        if (lex.scope == Scope::Voice) scope += ": " + lex.voice;
        const std::string match =
            std::string(e.regex ? "pattern" : "word") + (e.matchCase ? ", case" : "");
        const std::string phonemes =
            e.alphabet.empty() ? e.phonemes : e.phonemes + " (" + e.alphabet + ")";
        int c = 0;
        for (const std::string& text : {e.word, match, e.respelling, phonemes, scope})
            tbEntries->setItem(r, c++, new QTableWidgetItem(Q(text)));
    }
    tbEntries->resizeColumnsToContents();
    if (!rows_.empty() && tbEntries->currentRow() < 0) tbEntries->selectRow(0);
}

void TLexiconDialog::SaveOrRestore(const std::vector<Lexicon>& before) {
    try {
        lexicon::SaveLexiconFolder(lexicon::UserLexiconFolder(), lexicons_);
    } catch (...) {
        lexicons_ = before;  // nothing changes that was not saved
        throw;
    }
    lexicon::Store::Instance().SetUserLexicons(lexicons_);
    Fill();
}

int TLexiconDialog::CurrentRow() const {
    const int row = tbEntries->currentRow();
    return row >= 0 && row < int(rows_.size()) ? row : -1;
}

void TLexiconDialog::PutEntry(Scope scope, const Entry& entry, int replacing) {
    if (const std::string problem = lexicon::EntryProblem(entry); !problem.empty())
        throw lexicon::LexiconError("The entry \"" + entry.word + "\" cannot be used: " + problem);
    const std::vector<Lexicon> before = lexicons_;
    if (replacing >= 0) {
        const Row row = rows_[size_t(replacing)];
        lexicons_[row.lexicon].entries.erase(lexicons_[row.lexicon].entries.begin() +
                                             std::ptrdiff_t(row.entry));
    }
    LexiconOf(scope).entries.push_back(entry);
    SaveOrRestore(before);
    tbEntries->selectRow(tbEntries->rowCount() - 1);
}

bool TLexiconDialog::EditEntry(Scope& scope, Entry& entry) {
    if (editEntry) return editEntry(scope, entry);
    QDialog editor(this);
    editor.setWindowTitle("Lexicon entry");
    auto* form = new QFormLayout(&editor);
    auto* word = Named(new QLineEdit(Q(entry.word), &editor), "Word or pattern",
                       "The word or words to say otherwise, or a regular expression.");
    auto* regex = Named(new QCheckBox("&Regular expression", &editor), "Regular expression",
                        "The word is a regular expression (PCRE syntax).");
    auto* matchCase = Named(new QCheckBox("&Match letter case", &editor), "Match letter case",
                            "Only text in this letter case is said otherwise.");
    auto* respelling = Named(new QLineEdit(Q(entry.respelling), &editor), "Say as",
                             "A respelling, said as text by every voice.");
    auto* phonemes = Named(new QLineEdit(Q(entry.phonemes), &editor), "espeak-ng phonemes",
                           "Phonemes for espeak-ng voices, which then use them in place of the "
                           "respelling.");
    auto* scopes = Named(new QComboBox(&editor), "Scope", "Which voices the entry is for.");
    scopes->addItems({"Global", Q("Language: " + language_), Q("Voice: " + voice_)});
    regex->setChecked(entry.regex);
    matchCase->setChecked(entry.matchCase);
    scopes->setCurrentIndex(int(scope));
    form->addRow("&Word:", word);
    form->addRow(regex);
    form->addRow(matchCase);
    form->addRow("&Say as:", respelling);
    form->addRow("&Phonemes:", phonemes);
    form->addRow("S&cope:", scopes);
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &editor);
    connect(box, &QDialogButtonBox::accepted, &editor, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, &editor, &QDialog::reject);
    form->addRow(box);
    if (editor.exec() != QDialog::Accepted) return false;
    entry.word = S(word->text());
    entry.regex = regex->isChecked();
    entry.matchCase = matchCase->isChecked();
    entry.respelling = S(respelling->text());
    if (S(phonemes->text()) != entry.phonemes) entry.alphabet.clear();  // typed: espeak-ng's
    entry.phonemes = S(phonemes->text());
    scope = Scope(scopes->currentIndex());
    return true;
}

void TLexiconDialog::Add() {
    Scope scope = cbScope->currentIndex() > 0 ? Scope(cbScope->currentIndex() - 1) : Scope::Global;
    Entry entry;
    if (EditEntry(scope, entry)) PutEntry(scope, entry);
}

void TLexiconDialog::Edit() {
    const int row = CurrentRow();
    if (row < 0) return;
    const Row at = rows_[size_t(row)];
    Scope scope = lexicons_[at.lexicon].scope;
    Entry entry = lexicons_[at.lexicon].entries[at.entry];
    if (EditEntry(scope, entry)) PutEntry(scope, entry, row);
}

void TLexiconDialog::Delete() {
    const int row = CurrentRow();
    if (row < 0) return;
    const std::vector<Lexicon> before = lexicons_;
    const Row at = rows_[size_t(row)];
    auto& entries = lexicons_[at.lexicon].entries;
    entries.erase(entries.begin() + std::ptrdiff_t(at.entry));
    std::erase_if(lexicons_, [](const Lexicon& l) { return l.entries.empty(); });
    SaveOrRestore(before);
    tbEntries->selectRow(std::min(row, tbEntries->rowCount() - 1));
}

void TLexiconDialog::Test() {
    const int row = CurrentRow();
    if (row < 0 || !speak_) return;
    const Row at = rows_[size_t(row)];
    const Entry& entry = lexicons_[at.lexicon].entries[at.entry];
    // A pattern has no one word to say: its respelling stands for what it matches.
    const std::string word = entry.regex ? entry.respelling : entry.word;
    // Each text takes the lexicons in force when it is handed over: the first is said
    // without the entry, the second with it.
    std::vector<Lexicon> without = lexicons_;
    without[at.lexicon].entries.erase(without[at.lexicon].entries.begin() +
                                      std::ptrdiff_t(at.entry));
    lexicon::Store& store = lexicon::Store::Instance();
    store.SetUserLexicons(without);
    try {
        speak_(word);
    } catch (...) {
        store.SetUserLexicons(lexicons_);
        throw;
    }
    store.SetUserLexicons(lexicons_);
    speak_(word);
}

void TLexiconDialog::ImportFile(const std::string& path) {
    const Lexicon read = lexicon::LoadPlsFile(path);
    const std::vector<Lexicon> before = lexicons_;
    Lexicon* into = nullptr;
    for (Lexicon& l : lexicons_)
        if (l.scope == read.scope && l.language == read.language && l.voice == read.voice)
            into = &l;
    if (into)
        into->entries.insert(into->entries.end(), read.entries.begin(), read.entries.end());
    else
        lexicons_.push_back(read);
    SaveOrRestore(before);
}

void TLexiconDialog::ExportFile(const std::string& path, Scope scope) {
    lexicon::SavePlsFile(path, LexiconOf(scope));
}

void TLexiconDialog::Import() {
    QFileDialog dialog(this, "Import lexicon", QString(), "Lexicon files (*.pls);;All files (*)");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() == QDialog::Accepted) ImportFile(S(dialog.selectedFiles().value(0)));
}

void TLexiconDialog::Export() {
    const int row = CurrentRow();
    QFileDialog dialog(this, "Export lexicon", QString(), "Lexicon files (*.pls)");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix("pls");
    if (dialog.exec() != QDialog::Accepted) return;
    const std::string path = S(dialog.selectedFiles().value(0));
    // The chosen entry's lexicon, else the one of the scope shown.
    if (row >= 0)
        lexicon::SavePlsFile(path, lexicons_[rows_[size_t(row)].lexicon]);
    else
        ExportFile(
            path, cbScope->currentIndex() > 0 ? Scope(cbScope->currentIndex() - 1) : Scope::Global);
}
