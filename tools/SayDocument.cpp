#include "tools/SayDocument.h"

#include <cstdio>
#include <new>

#include "documents/Import.h"
#include "lexicon/Store.h"
#include "tools/SayInput.h"

namespace {

// A whole number of at most 9 digits at list[at], moving at past it; nullopt for none.
std::optional<size_t> Number(const std::string& list, size_t& at) {
    size_t value = 0, digits = 0;
    while (at < list.size() && list[at] >= '0' && list[at] <= '9' && digits < 9) {
        value = value * 10 + static_cast<size_t>(list[at++] - '0');
        ++digits;
    }
    if (digits == 0 || (at < list.size() && list[at] >= '0' && list[at] <= '9'))
        return std::nullopt;
    return value;
}

}  // namespace

std::vector<bool> ParseChapterList(const std::string& list, size_t count) {
    std::vector<bool> chosen(count, false);
    const auto wrong = [&](const std::string& why) {
        throw EUsageError("--only '" + list + "': " + why);
    };
    if (count == 0) wrong("the input has no chapters (--chapters lists them)");
    size_t at = 0;
    do {
        const std::optional<size_t> first = Number(list, at);
        std::optional<size_t> last = first;
        if (at < list.size() && list[at] == '-') {
            ++at;
            last = Number(list, at);
        }
        if (!first || !last) wrong("chapters are numbers or ranges such as 3-7,9");
        if (*first > *last)
            wrong("the range " + std::to_string(*first) + "-" + std::to_string(*last) +
                  " runs backwards");
        if (*first < 1 || *last > count)
            wrong("there are chapters 1 to " + std::to_string(count) + " only");
        for (size_t n = *first; n <= *last; ++n) chosen[n - 1] = true;
    } while (at < list.size() && list[at++] == ',' && at < list.size());
    if (at != list.size() || list.empty() || list.back() == ',')
        wrong("chapters are numbers or ranges such as 3-7,9");
    return chosen;
}

std::string ChosenText(const documents::Document& document, const std::vector<bool>& chosen,
                       std::vector<containers::ChapterStart>* starts) {
    std::string text;
    const auto& chapters = document.chapters;
    for (size_t i = 0; i < chapters.size(); ++i) {
        if (!chosen[i]) continue;
        const size_t end = i + 1 < chapters.size() ? chapters[i + 1].offset : document.text.size();
        if (end <= chapters[i].offset) continue;
        if (!text.empty()) text += '\n';
        if (starts) starts->push_back({chapters[i].title, static_cast<uint32_t>(text.size())});
        text.append(document.text, chapters[i].offset, end - chapters[i].offset);
        // The next chapter's separating line break stays with the text before it.
        if (text.back() == '\n') text.pop_back();
    }
    return text;
}

std::string ChapterLines(const documents::Document& document) {
    std::string out;
    const auto& chapters = document.chapters;
    for (size_t i = 0; i < chapters.size(); ++i) {
        const size_t end = i + 1 < chapters.size() ? chapters[i + 1].offset : document.text.size();
        const size_t words = documents::CountWords(
            std::string_view(document.text).substr(chapters[i].offset, end - chapters[i].offset));
        out += std::to_string(i + 1) + "\t" + std::to_string(chapters[i].level) + "\t" +
               documents::ChapterKindName(chapters[i].kind) + "\t" + std::to_string(words) + "\t" +
               chapters[i].title + "\n";
    }
    return out;
}

std::string ReadSayInput(const std::string& input, const std::vector<std::string>& outputs,
                         const DocumentRequest& request, std::optional<std::string>& printed,
                         SayBook& book) {
    const documents::Format format =
        input == "-" ? documents::Format::PlainText : documents::FormatOfName(input);
    if (format == documents::Format::PlainText) {
        if (request.listChapters || !request.only.empty() || request.perChapter)
            throw EUsageError("'" + input + "' is plain text, which has no chapters");
        if (request.printText) {
            // Byte for byte, as the file holds it.
            SayInput in(input);
            printed = in.ReadAll();
            return {};
        }
        return ReadSayText(input, outputs);
    }
    documents::Document document;
    {
        SayInput in(input);
        for (const std::string& output : outputs) in.RefuseAsOutput(output);
        try {
            const std::string bytes = in.ReadAll();
            document = documents::ImportBytes(input, bytes, format);
        } catch (const std::bad_alloc&) {
            throw EOutOfResources("'" + input + "' does not fit into memory");
        }
    }
    if (request.listChapters) {
        printed = ChapterLines(document);
        return {};
    }
    if (request.perChapter && document.chapters.empty())
        throw EUsageError("'" + input + "' has no chapters to make a file of each");
    // The document's own lexicons say its names as its maker wants them.
    std::vector<std::string> problems;
    lexicon::Store::Instance().UseDocumentLexicons(document.metadata.lexicons, input, problems);
    for (const std::string& problem : problems)
        std::fprintf(stderr, "parlen-say: warning: a lexicon is left out: %s\n", problem.c_str());
    std::string text;
    if (request.only.empty()) {
        text = std::move(document.text);
        for (const documents::Chapter& c : document.chapters)
            book.chapters.push_back({c.title, static_cast<uint32_t>(c.offset)});
    } else {
        text = ChosenText(document, ParseChapterList(request.only, document.chapters.size()),
                          &book.chapters);
    }
    if (request.printText) {
        if (!text.empty()) text += '\n';
        printed = std::move(text);
        return {};
    }
    if (text.empty()) throw EDocumentError(input + ": there is no text to speak in it");
    // Each line break before a chapter becomes two bytes.
    size_t breaks = 0, at = 0;
    for (containers::ChapterStart& c : book.chapters) {
        for (; at < c.offset && at < text.size(); ++at) breaks += text[at] == '\n';
        c.offset += static_cast<uint32_t>(breaks);
    }
    EndLinesWithCrLf(text);
    book.tags = {document.metadata.title,
                 document.metadata.authors,
                 document.metadata.coverMediaType,
                 document.metadata.cover,
                 {},
                 0,
                 0,
                 document.metadata.language};
    return text;
}
