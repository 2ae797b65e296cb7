#pragma once
// TStrings: an ordered list of 8-bit text lines (bytes in the locale's encoding),
// with one interface over three kinds: TStringList in memory, TMemoStrings over a
// text box and TComboBoxStrings over a drop-down list.
#include <string>

class TStrings {
  public:
    TStrings() = default;
    TStrings(const TStrings&) = delete;
    TStrings& operator=(const TStrings&) = delete;
    virtual ~TStrings() = default;

    virtual int LineCount() const = 0;
    virtual std::string LineAt(int index) const = 0;
    // Adds a line at the end and returns its index.
    virtual int AppendLine(const std::string& text);
    virtual void ClearLines();
    // Replaces the contents by the lines of source (source's count read once).
    virtual void CopyLines(const TStrings& source);
    // First line equal to the whole text ignoring letter case, or -1.
    virtual int FindLine(const std::string& text) const;
    // The text form.
    virtual std::string JoinLines() const;
    // Replaces the contents from a text.
    virtual void SplitText(const std::string& text);

    void LoadTextFile(const std::string& fileName);
    void SaveTextFile(const std::string& fileName) const;

    void BeginLinesUpdate();
    void EndLinesUpdate();
    int UpdateCount() const { return updateCount_; }

  protected:
    // Told when the outermost bracket opens (true) and closes (false).
    virtual void SetUpdateState(bool /*updating*/) {}

  private:
    int updateCount_ = 0;
};

// Holds an update bracket open for its lifetime.
class TLinesUpdate {
  public:
    explicit TLinesUpdate(TStrings& lines) : lines_(lines) { lines_.BeginLinesUpdate(); }
    ~TLinesUpdate() { lines_.EndLinesUpdate(); }
    TLinesUpdate(const TLinesUpdate&) = delete;
    TLinesUpdate& operator=(const TLinesUpdate&) = delete;

  private:
    TStrings& lines_;
};

// Whole-string comparison ignoring letter case under the user's locale.
bool SameTextLocale(const std::string& a, const std::string& b);
