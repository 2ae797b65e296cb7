#pragma once
// What every imported document keeps to, whatever the file held.
#include "documents/Document.h"

inline void CheckDocument(const documents::Document& document) {
    size_t last = 0;
    for (const auto& chapter : document.chapters) {
        if (chapter.offset < last) __builtin_trap();
        if (!document.text.empty() && chapter.offset >= document.text.size()) __builtin_trap();
        last = chapter.offset;
    }
    if (!document.text.empty() && document.text.back() == '\n') __builtin_trap();
    if (document.text.find("\n\n") != std::string::npos) __builtin_trap();
}
