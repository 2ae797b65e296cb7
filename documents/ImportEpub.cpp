// EPUB 2 and 3: the spine's files in order, each read once, with chapters from the nav
// document or the NCX starting where their file's or fragment's text starts.
#include <algorithm>
#include <map>
#include <unordered_map>

#include "documents/EpubPackage.h"
#include "documents/HtmlText.h"
#include "documents/Importers.h"

namespace documents {
namespace {

struct PendingChapter {
    const EpubTocEntry* entry;
    bool started = false;
};

// Starts the chapters of one content file as its text comes.
class EpubFile : public HtmlTextListener {
  public:
    EpubFile(TextBuilder& builder, bool& anyChapter, ChapterKind fileKind,
             const std::map<std::string, ChapterKind>& fragmentKinds, std::string fallbackTitle)
        : builder_(builder),
          anyChapter_(anyChapter),
          fileKind_(fileKind),
          fragmentKinds_(fragmentKinds),
          fallbackTitle_(std::move(fallbackTitle)) {}

    std::vector<const EpubTocEntry*> wholeFile;
    std::unordered_map<std::string, std::vector<PendingChapter>> atFragment;
    const HtmlText* reader = nullptr;  // what the file says of itself

    void BeforeText() override { StartFile(); }

    void ElementWithId(std::string_view id) override {
        const auto it = atFragment.find(std::string(id));
        if (it == atFragment.end()) return;
        StartFile(false);  // a chapter starts here: the file's text needs no other
        for (auto& pending : it->second) Start(pending);
    }

    // Chapters whose place never came start where the next file's text does (the table of
    // contents keeps its titles even for a file without text, such as a picture's page).
    void Finish() {
        StartFile(false);
        std::vector<PendingChapter*> left;
        for (auto& [id, list] : atFragment)
            for (auto& pending : list)
                if (!pending.started) left.push_back(&pending);
        std::sort(left.begin(), left.end(), [](auto* a, auto* b) { return a->entry < b->entry; });
        for (auto* pending : left) Start(*pending);
    }

  private:
    void StartFile(bool withText = true) {
        if (fileStarted_) return;
        fileStarted_ = true;
        const ChapterKind kind =
            fileKind_ != ChapterKind::Body ? fileKind_ : KindOfTypes(reader->OuterTypes());
        for (const auto* entry : wholeFile) {
            builder_.StartChapter(entry->title, entry->level, kind);
            anyChapter_ = true;
        }
        // Text before the first chapter of the book still belongs to one.
        if (!anyChapter_ && withText) {
            std::string title = CleanLine(reader->Title());
            builder_.StartChapter(title.empty() ? fallbackTitle_ : title, 1, kind);
            anyChapter_ = true;
        }
    }

    void Start(PendingChapter& pending) {
        if (pending.started) return;
        pending.started = true;
        const auto& place = pending.entry->place;
        const auto kind = fragmentKinds_.find(place.path + "#" + place.fragment);
        builder_.StartChapter(pending.entry->title, pending.entry->level,
                              kind != fragmentKinds_.end() ? kind->second : fileKind_);
        anyChapter_ = true;
    }

    TextBuilder& builder_;
    bool& anyChapter_;
    ChapterKind fileKind_;
    const std::map<std::string, ChapterKind>& fragmentKinds_;
    std::string fallbackTitle_;
    bool fileStarted_ = false;
};

}  // namespace

Document ImportEpub(const Source& source) {
    const ZipArchive zip(source);
    EpubPackage package = ReadEpubPackage(zip, source);

    // Front and back matter as the landmarks or the guide mark it, by file and by place.
    std::map<std::string, ChapterKind> kinds;
    std::map<std::string, std::string> printedToc;  // file -> the id of its printed toc, or ""
    for (const auto& landmark : package.landmarks) {
        const ChapterKind kind = KindOfTypes(landmark.types);
        kinds[landmark.place.path + "#" + landmark.place.fragment] = kind;
        if (landmark.place.fragment.empty() || !kinds.count(landmark.place.path + "#"))
            kinds.emplace(landmark.place.path + "#", kind);
        if (HasToken(landmark.types, "toc"))
            printedToc[landmark.place.path] = landmark.place.fragment;
    }

    const bool haveToc = !package.toc.empty();
    std::multimap<std::string_view, const EpubTocEntry*> tocByFile;  // in the toc's order
    for (const auto& entry : package.toc) tocByFile.emplace(entry.place.path, &entry);
    TextBuilder builder;
    bool anyChapter = false;
    for (size_t i = 0; i < package.spine.size(); ++i) {
        const std::string& path = package.spine[i];
        const auto toc = printedToc.find(path);
        // A printed table of contents is not read as text: the chapters stand for it.
        if (toc != printedToc.end() && toc->second.empty()) continue;
        const std::string bytes = zip.Read(path, "its content file", kLargestContent);
        const auto kind = kinds.find(path + "#");
        EpubFile file(builder, anyChapter, kind != kinds.end() ? kind->second : ChapterKind::Body,
                      kinds, package.metadata.title.empty() ? path : package.metadata.title);
        const auto [first, last] = tocByFile.equal_range(path);
        for (auto at = first; at != last; ++at) {
            const EpubTocEntry& entry = *at->second;
            // An entry for the printed table of contents would have no text of its own.
            if (toc != printedToc.end() && entry.place.fragment == toc->second) continue;
            if (entry.place.fragment.empty())
                file.wholeFile.push_back(&entry);
            else
                file.atFragment[entry.place.fragment].push_back({&entry});
        }
        HtmlText reader(builder, &file);
        file.reader = &reader;
        reader.headingsAreChapters = !haveToc;
        if (toc != printedToc.end()) reader.skipId = toc->second;
        try {
            // Content that is not well-formed XML is read as a browser would read it.
            WalkMarkup(bytes, MarkupMode::Html, reader);
        } catch (const MarkupError& error) {
            source.Refuse("its content file " + path + " cannot be read: " + error.what());
        }
        file.Finish();
        source.Progress(static_cast<double>(i + 1) / static_cast<double>(package.spine.size()));
    }

    Metadata metadata = std::move(package.metadata);
    if (!package.coverPath.empty()) {
        if (auto cover = zip.ReadIfPresent(package.coverPath, kLargestPicture))
            metadata.cover = std::move(*cover);
        else
            metadata.coverMediaType.clear();
    } else {
        metadata.coverMediaType.clear();
    }
    for (const std::string& path : package.lexiconPaths)
        if (auto lexicon = zip.ReadIfPresent(path, kLargestPart))
            metadata.lexicons.emplace_back(path, std::move(*lexicon));
    return builder.Finish(std::move(metadata));
}

}  // namespace documents
