#include "support/StringList.h"

#include <utility>

#include "support/Errors.h"

std::string TStringList::LineAt(int index) const {
    if (index < 0 || index >= count_)
        throw EStringListError("List index out of bounds (" + std::to_string(index) + ")");
    return lines_[index];
}

void TStringList::Grow() {
    int delta = capacity_ > 64 ? capacity_ / 4 : (capacity_ > 8 ? 16 : 4);
    auto bigger = std::make_unique<std::string[]>(static_cast<size_t>(capacity_ + delta));
    for (int i = 0; i < count_; ++i) bigger[i] = std::move(lines_[i]);
    lines_ = std::move(bigger);
    capacity_ += delta;
}

int TStringList::AppendLine(const std::string& text) {
    if (count_ == capacity_) Grow();
    lines_[count_] = text;
    return count_++;
}

void TStringList::ClearLines() {
    lines_.reset();
    count_ = 0;
    capacity_ = 0;
}

std::string TStringList::JoinLines() const {
    size_t total = 0;
    for (int i = 0; i < count_; ++i) total += lines_[i].size() + 2;
    std::string result;
    result.reserve(total);
    for (int i = 0; i < count_; ++i) {
        result += lines_[i];
        result += "\r\n";
    }
    return result;
}
