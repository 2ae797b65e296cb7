#include "documents/EpubPackage.h"

#include <algorithm>
#include <map>
#include <set>

#include "documents/MarkupTree.h"
#include "documents/TextBuilder.h"

namespace documents {
namespace {

struct ManifestItem {
    std::string path;
    std::string mediaType;
    std::string properties;
};

// Font obfuscation hides fonts from copying, not the text: those fonts are never read.
constexpr std::string_view kObfuscations[] = {"http://www.idpf.org/2008/embedding",
                                              "http://ns.adobe.com/pdf/enc#RC"};

MarkupNode ReadTree(const ZipArchive& zip, const Source& source, const std::string& entry,
                    std::string_view what, MarkupMode mode) {
    const std::string bytes = zip.Read(entry, what, kLargestPart);
    try {
        return ReadMarkupTree(bytes, mode);
    } catch (const MarkupError& error) {
        source.Refuse(std::string(what) + " " + entry + " cannot be read: " + error.what());
    }
}

bool IsFont(const std::string& path, const std::string& mediaType) {
    if (mediaType.find("font") != std::string::npos) return true;
    const size_t dot = path.rfind('.');
    std::string extension = dot == std::string::npos ? "" : path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    return extension == "ttf" || extension == "otf" || extension == "woff" ||
           extension == "woff2" || extension == "ttc";
}

void RefuseProtected(const ZipArchive& zip, const Source& source,
                     const std::map<std::string, ManifestItem>& manifest) {
    std::map<std::string_view, std::string_view> mediaTypes;  // by path
    for (const auto& [id, item] : manifest) mediaTypes.emplace(item.path, item.mediaType);
    if (zip.Has("META-INF/rights.xml")) {
        const MarkupNode rights =
            ReadTree(zip, source, "META-INF/rights.xml", "its rights file", MarkupMode::Xml);
        // An empty declaration grants everything; anything in it is a licence to decrypt.
        for (const auto& top : rights.children)
            for (const auto& child : top.children)
                if (!child.name.empty())
                    source.Refuse("it is protected by DRM (META-INF/rights.xml holds a licence)");
    }
    if (!zip.Has("META-INF/encryption.xml")) return;
    const MarkupNode encryption =
        ReadTree(zip, source, "META-INF/encryption.xml", "its encryption file", MarkupMode::Xml);
    encryption.ForEach("EncryptedData", [&](const MarkupNode& data) {
        std::string algorithm, uri;
        data.ForEach("EncryptionMethod", [&](const MarkupNode& m) {
            if (algorithm.empty()) algorithm = m.Attribute("Algorithm");
        });
        data.ForEach("CipherReference", [&](const MarkupNode& r) {
            if (uri.empty()) uri = r.Attribute("URI");
        });
        const std::string path = ResolveEntryPath("", uri);
        const bool obfuscation = std::find(std::begin(kObfuscations), std::end(kObfuscations),
                                           algorithm) != std::end(kObfuscations);
        if (!obfuscation)
            source.Refuse("its content is encrypted (DRM): " + (path.empty() ? algorithm : path));
        const auto mediaType = mediaTypes.find(path);
        if (!IsFont(path,
                    mediaType == mediaTypes.end() ? std::string() : std::string(mediaType->second)))
            source.Refuse("its entry " + path + " is obfuscated, which only fonts may be");
    });
}

std::string FindPackagePath(const ZipArchive& zip, const Source& source) {
    const MarkupNode container =
        ReadTree(zip, source, "META-INF/container.xml", "its container file", MarkupMode::Xml);
    std::string path, first;
    container.ForEach("rootfile", [&](const MarkupNode& rootfile) {
        const std::string fullPath = ResolveEntryPath("", rootfile.Attribute("full-path"));
        if (first.empty()) first = fullPath;
        if (path.empty() && rootfile.Attribute("media-type") == "application/oebps-package+xml")
            path = fullPath;
    });
    if (path.empty()) path = first;
    if (path.empty())
        source.Refuse("its container file META-INF/container.xml names no package document");
    return path;
}

void ReadNavList(const MarkupNode& list, const std::string& navPath, int level,
                 std::vector<EpubTocEntry>& toc) {
    for (const auto& li : list.children) {
        if (li.name.empty() || LocalName(li.name) != "li") continue;
        const MarkupNode* link = li.Child("a");
        if (link && !link->Attribute("href").empty()) {
            EpubTocEntry entry;
            entry.title = CleanLine(link->AllText());
            if (entry.title.empty()) entry.title = CleanLine(link->Attribute("title"));
            entry.level = level;
            entry.place.path =
                ResolveEntryPath(navPath, link->Attribute("href"), &entry.place.fragment);
            toc.push_back(std::move(entry));
        }
        if (const MarkupNode* sub = li.Child("ol")) ReadNavList(*sub, navPath, level + 1, toc);
    }
}

void ReadNav(const ZipArchive& zip, const Source& source, const std::string& navPath,
             EpubPackage& package) {
    // A nav document is XHTML, read as leniently as the rest of the book's content.
    const MarkupNode nav =
        ReadTree(zip, source, navPath, "its navigation document", MarkupMode::Html);
    nav.ForEach("nav", [&](const MarkupNode& node) {
        const std::string_view types = node.Attribute("type");
        if (HasToken(types, "toc") && package.toc.empty()) {
            if (const MarkupNode* list = node.Child("ol"))
                ReadNavList(*list, navPath, 1, package.toc);
        } else if (HasToken(types, "landmarks")) {
            node.ForEach("a", [&](const MarkupNode& a) {
                EpubLandmark landmark;
                landmark.types = a.Attribute("type");
                landmark.place.path =
                    ResolveEntryPath(navPath, a.Attribute("href"), &landmark.place.fragment);
                package.landmarks.push_back(std::move(landmark));
            });
        }
    });
}

void ReadNavPoints(const MarkupNode& parent, const std::string& ncxPath, int level,
                   std::vector<EpubTocEntry>& toc) {
    for (const auto& point : parent.children) {
        if (point.name.empty() || LocalName(point.name) != "navPoint") continue;
        const MarkupNode* label = point.Child("navLabel");
        const MarkupNode* content = point.Child("content");
        if (content && !content->Attribute("src").empty()) {
            EpubTocEntry entry;
            entry.title = label ? CleanLine(label->AllText()) : std::string();
            entry.level = level;
            entry.place.path =
                ResolveEntryPath(ncxPath, content->Attribute("src"), &entry.place.fragment);
            toc.push_back(std::move(entry));
        }
        ReadNavPoints(point, ncxPath, level + 1, toc);
    }
}

}  // namespace

EpubPackage ReadEpubPackage(const ZipArchive& zip, const Source& source) {
    const std::string opfPath = FindPackagePath(zip, source);
    const MarkupNode opf = ReadTree(zip, source, opfPath, "its package document", MarkupMode::Xml);
    EpubPackage package;

    std::map<std::string, ManifestItem> manifest;
    std::string navPath, ncxPath;
    opf.ForEach("item", [&](const MarkupNode& item) {
        ManifestItem entry{ResolveEntryPath(opfPath, item.Attribute("href")),
                           std::string(item.Attribute("media-type")),
                           std::string(item.Attribute("properties"))};
        if (HasToken(entry.properties, "nav")) navPath = entry.path;
        if (HasToken(entry.properties, "cover-image")) package.coverPath = entry.path;
        if (entry.mediaType == "application/x-dtbncx+xml" && ncxPath.empty()) ncxPath = entry.path;
        if (entry.mediaType == "application/pls+xml") package.lexiconPaths.push_back(entry.path);
        manifest.emplace(item.Attribute("id"), std::move(entry));
    });
    RefuseProtected(zip, source, manifest);

    Metadata& metadata = package.metadata;
    std::string coverId;
    {
        opf.ForEach("metadata", [&](const MarkupNode& m) {
            m.ForEach("title", [&](const MarkupNode& n) {
                if (metadata.title.empty()) metadata.title = n.AllText();
            });
            m.ForEach("creator",
                      [&](const MarkupNode& n) { metadata.authors.push_back(n.AllText()); });
            m.ForEach("language", [&](const MarkupNode& n) {
                if (metadata.language.empty()) metadata.language = n.AllText();
            });
            m.ForEach("meta", [&](const MarkupNode& n) {
                if (n.Attribute("name") == "cover") coverId = n.Attribute("content");
            });
        });
    }
    if (package.coverPath.empty() && !coverId.empty()) {
        const auto it = manifest.find(coverId);
        if (it != manifest.end()) package.coverPath = it->second.path;
    }
    if (!package.coverPath.empty()) {
        for (const auto& [id, item] : manifest)
            if (item.path == package.coverPath) metadata.coverMediaType = item.mediaType;
        if (metadata.coverMediaType.rfind("image/", 0) != 0) package.coverPath.clear();
    }

    std::set<std::string> inSpine;
    opf.ForEach("spine", [&](const MarkupNode& spine) {
        const auto toc = manifest.find(std::string(spine.Attribute("toc")));
        if (toc != manifest.end()) ncxPath = toc->second.path;
        spine.ForEach("itemref", [&](const MarkupNode& ref) {
            const std::string idref(ref.Attribute("idref"));
            const auto it = manifest.find(idref);
            if (it == manifest.end())
                source.Refuse("its spine names an item \"" + idref + "\" that its manifest lacks");
            // A picture in the spine (a cover) has no text to read.
            const std::string& type = it->second.mediaType;
            if (type.rfind("image/", 0) == 0 && type != "image/svg+xml") return;
            // A file listed again (once per fragment) is read once, where it first stands.
            if (inSpine.insert(it->second.path).second) package.spine.push_back(it->second.path);
        });
    });
    if (package.spine.empty())
        source.Refuse("its package document " + opfPath + " lists no text in its spine");

    if (!navPath.empty()) ReadNav(zip, source, navPath, package);
    if (package.toc.empty() && !ncxPath.empty() && zip.Has(ncxPath)) {
        const MarkupNode ncx =
            ReadTree(zip, source, ncxPath, "its table of contents", MarkupMode::Xml);
        ncx.ForEach("navMap",
                    [&](const MarkupNode& map) { ReadNavPoints(map, ncxPath, 1, package.toc); });
    }
    opf.ForEach("guide", [&](const MarkupNode& guide) {
        guide.ForEach("reference", [&](const MarkupNode& ref) {
            EpubLandmark landmark;
            landmark.types = ref.Attribute("type");
            landmark.place.path =
                ResolveEntryPath(opfPath, ref.Attribute("href"), &landmark.place.fragment);
            package.landmarks.push_back(std::move(landmark));
        });
    });
    return package;
}

}  // namespace documents
