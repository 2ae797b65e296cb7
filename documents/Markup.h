#pragma once
// A walker over XML and HTML of our own, telling a handler of each element's start and
// end and of the text between them. Nothing is ever fetched: no external DTD or entity,
// and a document whose own DTD declares entities is refused, so an entity can never
// expand into more than it says. The XHTML 1.0 named entities and numeric references are
// known without any DTD. Elements nest at most kDeepestMarkup deep.
//
// Xml mode refuses what is not well-formed. Html mode reads what a browser would: names
// in any letter case (told in lower case), void elements, unquoted attribute values,
// unclosed paragraphs and list items, stray end tags and a literal "<" or "&".
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace documents {

enum class MarkupMode { Xml, Html };

inline constexpr size_t kDeepestMarkup = 1000;

struct MarkupAttribute {
    std::string_view name;   // as written, with its prefix: "epub:type"
    std::string_view value;  // references resolved
};
using MarkupAttributes = std::vector<MarkupAttribute>;

// Why markup cannot be read; the importer names the file.
class MarkupError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class MarkupHandler {
  public:
    virtual ~MarkupHandler() = default;
    // Names are as written, with their prefix ("w:p"); the views last until the call returns.
    virtual void StartElement(std::string_view name, const MarkupAttributes& attributes) = 0;
    virtual void EndElement(std::string_view name) = 0;
    // Text with references resolved; one run of text may come in several pieces.
    virtual void Text(std::string_view text) = 0;
};

// Walks the bytes (UTF-8, or UTF-16 with its byte order mark); throws MarkupError.
void WalkMarkup(std::string_view bytes, MarkupMode mode, MarkupHandler& handler);

// "w:p" -> "p"
std::string_view LocalName(std::string_view name);
// The value of the attribute with this local name (any prefix), or "" when it has none.
std::string_view AttributeValue(const MarkupAttributes& attributes, std::string_view localName);
bool HasAttribute(const MarkupAttributes& attributes, std::string_view localName);
// Whether a list of tokens separated by white space holds this one.
bool HasToken(std::string_view list, std::string_view token);
// The code point of an XHTML 1.0 named entity ("mdash" -> U+2014), 0 when unknown.
char32_t NamedEntityCode(std::string_view name);
// Resolves the reference at text[i] ('&'), appending its character to out and advancing i
// past it; false (i unchanged) when it is no reference that can be resolved.
bool ResolveReference(std::string_view text, size_t& i, std::string& out);
// Appends text with references resolved; an "&" that starts none is kept as it is (Html
// mode, Markdown), or, when strict (Xml mode), ends it with false.
bool AppendResolved(std::string_view text, std::string& out, bool strict = false);

}  // namespace documents
