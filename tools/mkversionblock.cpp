// Writes a version block in the published Windows binary format (VS_VERSIONINFO).
// Build-time host tool: mkversionblock OUT FILEVERSION PRODUCTVERSION [Key=Value ...]
// Versions are four dot-separated numbers; the pairs fill the string table "040904E4"
// in the order given; the translation table holds U.S. English with code page 1252.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct Node {
    std::string key;
    bool text = false;
    bool hasValue = true;      // groups of nodes have none
    std::u16string textValue;  // text nodes: without the terminating zero
    std::string binaryValue;
    std::vector<Node> children;
};

// A node that only groups others: marked as text, as resource compilers do, with no value.
Node MakeGroup(std::string key) {
    Node n;
    n.key = std::move(key);
    n.text = true;
    n.hasValue = false;
    return n;
}

Node MakeNode(std::string key, bool text, std::u16string value = {}) {
    Node n;
    n.key = std::move(key);
    n.text = text;
    n.textValue = std::move(value);
    return n;
}

std::u16string Utf8ToUtf16(const std::string& s) {
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        char32_t c;
        size_t n;
        if (b < 0x80) {
            c = b, n = 1;
        } else if ((b & 0xE0) == 0xC0) {
            c = b & 0x1F, n = 2;
        } else if ((b & 0xF0) == 0xE0) {
            c = b & 0x0F, n = 3;
        } else if ((b & 0xF8) == 0xF0) {
            c = b & 0x07, n = 4;
        } else {
            throw std::runtime_error("invalid UTF-8 in a value");
        }
        if (i + n > s.size()) throw std::runtime_error("truncated UTF-8 in a value");
        for (size_t k = 1; k < n; ++k) c = c << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        i += n;
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

void Put16(std::string& out, uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8 & 0xFF);
}

void Put32(std::string& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

void Pad4(std::string& out) {
    while (out.size() % 4 != 0) out += '\0';
}

// A node's length covers its header, key, value and children, not its own trailing
// padding; children start on 32-bit boundaries.
std::string Serialize(const Node& node) {
    std::string out(6, '\0');
    for (char16_t c : Utf8ToUtf16(node.key)) Put16(out, c);
    Put16(out, 0);
    Pad4(out);
    uint32_t valueLength = 0;
    if (node.hasValue && node.text) {
        for (char16_t c : node.textValue) Put16(out, c);
        Put16(out, 0);
        valueLength = static_cast<uint32_t>(node.textValue.size() + 1);
    } else if (node.hasValue) {
        out += node.binaryValue;
        valueLength = static_cast<uint32_t>(node.binaryValue.size());
    }
    for (const Node& child : node.children) {
        Pad4(out);
        out += Serialize(child);
    }
    if (out.size() > 0xFFFF) throw std::runtime_error("version block too large");
    out[0] = static_cast<char>(out.size() & 0xFF);
    out[1] = static_cast<char>(out.size() >> 8);
    out[2] = static_cast<char>(valueLength & 0xFF);
    out[3] = static_cast<char>(valueLength >> 8);
    out[4] = node.text ? 1 : 0;
    return out;
}

// "1.0.1000.1" -> most and least significant halves.
void ParseVersion(const std::string& text, uint32_t& ms, uint32_t& ls) {
    std::istringstream in(text);
    uint32_t part[4];
    char dot;
    if (!(in >> part[0] >> dot >> part[1] >> dot >> part[2] >> dot >> part[3]) || !in.eof())
        throw std::runtime_error("version must be four numbers: " + text);
    for (uint32_t p : part)
        if (p > 0xFFFF) throw std::runtime_error("version part above 65535: " + text);
    ms = part[0] << 16 | part[1];
    ls = part[2] << 16 | part[3];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::cerr << "usage: mkversionblock OUT FILEVERSION PRODUCTVERSION [Key=Value ...]\n";
        return 2;
    }
    try {
        uint32_t fileMS, fileLS, productMS, productLS;
        ParseVersion(argv[2], fileMS, fileLS);
        ParseVersion(argv[3], productMS, productLS);

        Node root = MakeNode("VS_VERSION_INFO", false);
        const uint32_t fixed[13] = {
            0xFEEF04BD, 0x00010000, fileMS, fileLS, productMS, productLS, 0x3F, 0, 4, 1, 0, 0, 0};
        for (uint32_t v : fixed) Put32(root.binaryValue, v);

        Node table = MakeGroup("040904E4");
        for (int i = 4; i < argc; ++i) {
            const std::string pair = argv[i];
            const size_t eq = pair.find('=');
            if (eq == std::string::npos || eq == 0)
                throw std::runtime_error("not Key=Value: " + pair);
            Node value = MakeNode(pair.substr(0, eq), true, Utf8ToUtf16(pair.substr(eq + 1)));
            table.children.push_back(value);
        }
        Node strings = MakeGroup("StringFileInfo");
        strings.children.push_back(table);

        Node translation = MakeNode("Translation", false);
        Put16(translation.binaryValue, 0x0409);
        Put16(translation.binaryValue, 0x04E4);
        Node vars = MakeGroup("VarFileInfo");
        vars.children.push_back(translation);

        root.children.push_back(strings);
        root.children.push_back(vars);
        const std::string block = Serialize(root);

        std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
        out.close();
        if (!out) throw std::runtime_error(std::string("cannot write ") + argv[1]);
    } catch (const std::exception& e) {
        std::cerr << "mkversionblock: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
