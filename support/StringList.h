#pragma once
#include <memory>
#include <string>

#include "support/Strings.h"

// Line list held in memory. Grows only when full: by 4 slots up to a capacity of 8,
// by 16 up to 64, then by a quarter. Clearing releases the whole array.
class TStringList : public TStrings {
  public:
    TStringList() = default;
    ~TStringList() override = default;

    int LineCount() const override { return count_; }
    std::string LineAt(int index) const override;
    int AppendLine(const std::string& text) override;
    void ClearLines() override;
    std::string JoinLines() const override;

    int Capacity() const { return capacity_; }

  private:
    void Grow();

    std::unique_ptr<std::string[]> lines_;
    int count_ = 0;
    int capacity_ = 0;
};
