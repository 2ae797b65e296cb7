// Markup walked as XML and as lenient HTML, and imported as an HTML page and as Markdown.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzDocument.h"
#include "documents/Import.h"
#include "documents/Markup.h"
#include "support/Errors.h"

namespace {

// Start and end tags must pair up in both modes, however the markup is broken.
class Balance : public documents::MarkupHandler {
  public:
    size_t depth = 0;
    void StartElement(std::string_view, const documents::MarkupAttributes&) override {
        if (++depth > documents::kDeepestMarkup) __builtin_trap();
    }
    void EndElement(std::string_view) override {
        if (depth-- == 0) __builtin_trap();
    }
    void Text(std::string_view) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (auto mode : {documents::MarkupMode::Xml, documents::MarkupMode::Html}) {
        Balance balance;
        try {
            documents::WalkMarkup(bytes, mode, balance);
            if (balance.depth != 0) __builtin_trap();
        } catch (const documents::MarkupError&) {
        }
    }
    for (auto format : {documents::Format::Html, documents::Format::Markdown}) {
        try {
            CheckDocument(documents::ImportBytes("fuzz", bytes, format));
        } catch (const EDocumentError&) {
        }
    }
    return 0;
}
