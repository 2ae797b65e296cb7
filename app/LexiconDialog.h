#pragma once
// The Lexicon... dialog: the user's pronunciation lexicons (global, the voice's language,
// the voice) in one list, with adding, editing, deleting and testing entries, import and
// export of lexicon files, and a filter by scope. Every change is saved at once into the
// user's lexicon folder and applies to the next text.
#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "lexicon/Lexicon.h"

class QComboBox;
class QPushButton;
class QTableWidget;

class TLexiconDialog : public QDialog {
    Q_OBJECT
  public:
    // Speaks a text with the current voice (the Test button).
    using Speaker = std::function<void(const std::string& text)>;
    TLexiconDialog(QWidget* parent, std::string voice, std::string language, Speaker speak);

    QComboBox* cbScope = nullptr;
    QTableWidget* tbEntries = nullptr;
    QPushButton *btAdd = nullptr, *btEdit = nullptr, *btDelete = nullptr, *btTest = nullptr,
                *btImport = nullptr, *btExport = nullptr, *btClose = nullptr;

    // Adds or replaces an entry in the lexicon of the given scope and saves; throws
    // LexiconError (the dialog shows it) when it cannot be used or saved.
    void PutEntry(lexicon::Scope scope, const lexicon::Entry& entry, int replacing = -1);
    void ImportFile(const std::string& path);
    void ExportFile(const std::string& path, lexicon::Scope scope);
    // Test seam: the entry editor, which otherwise asks the user.
    std::function<bool(lexicon::Scope&, lexicon::Entry&)> editEntry;

  private:
    struct Row {
        size_t lexicon, entry;
    };
    lexicon::Lexicon& LexiconOf(lexicon::Scope scope);
    void Fill();
    // Writes the lexicons into the user's folder and shows them; when that fails they are
    // as before and the error goes on.
    void SaveOrRestore(const std::vector<lexicon::Lexicon>& before);
    int CurrentRow() const;
    bool EditEntry(lexicon::Scope& scope, lexicon::Entry& entry);
    void Add();
    void Edit();
    void Delete();
    void Test();
    void Import();
    void Export();
    bool Guarded(const std::function<void()>& action);

    std::string voice_, language_;
    Speaker speak_;
    std::vector<lexicon::Lexicon> lexicons_;
    std::vector<Row> rows_;
};
