#include "platform/ErrorInfo.h"

#include <utility>

namespace {
thread_local std::string description;
}  // namespace

void SetErrorDescription(std::string text) {
    description = std::move(text);
}

std::string TakeErrorDescription() {
    return std::exchange(description, std::string());
}
