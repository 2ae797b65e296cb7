#pragma once
// Test helpers: hand-made version blocks and minimal ELF files holding them, so that
// the reader can be fed shapes no resource compiler produces.
#include <cstdint>
#include <string>
#include <vector>

struct TestNode {
    std::u16string key;
    uint16_t type = 0;     // 1: text
    std::string value;     // raw bytes
    int valueLength = -1;  // -1: derived from value (UTF-16 units for text)
    std::vector<TestNode> children;
};

inline void Put16(std::string& s, uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8 & 0xFF);
}
inline void Put32(std::string& s, uint32_t v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}
inline void Put64(std::string& s, uint64_t v) {
    Put32(s, static_cast<uint32_t>(v));
    Put32(s, static_cast<uint32_t>(v >> 32));
}

inline std::string Utf16Bytes(const std::u16string& text, bool terminate = true) {
    std::string s;
    for (char16_t c : text) Put16(s, c);
    if (terminate) Put16(s, 0);
    return s;
}

inline std::string SerializeNode(const TestNode& n) {
    std::string s(6, '\0');
    s += Utf16Bytes(n.key);
    while (s.size() % 4) s += '\0';
    s += n.value;
    for (const TestNode& c : n.children) {
        while (s.size() % 4) s += '\0';
        s += SerializeNode(c);
    }
    const size_t vl = n.valueLength >= 0 ? static_cast<size_t>(n.valueLength)
                      : n.type == 1      ? n.value.size() / 2
                                         : n.value.size();
    s[0] = static_cast<char>(s.size() & 0xFF);
    s[1] = static_cast<char>(s.size() >> 8);
    s[2] = static_cast<char>(vl & 0xFF);
    s[3] = static_cast<char>(vl >> 8);
    s[4] = static_cast<char>(n.type);
    return s;
}

inline std::string FixedPart(uint32_t fileMS, uint32_t fileLS, uint32_t dateMS, uint32_t dateLS) {
    std::string s;
    for (uint32_t v : {0xFEEF04BDu, 0x10000u, fileMS, fileLS, fileMS, fileLS, 0x3Fu, 0u, 4u, 1u, 0u,
                       dateMS, dateLS})
        Put32(s, v);
    return s;
}

inline TestNode TextValue(const std::u16string& key, const std::u16string& text) {
    return TestNode{key, 1, Utf16Bytes(text), -1, {}};
}

// An ELF file of the given class and byte order with no program headers and the
// sections "" (null), ".shstrtab" and sectionName holding contents.
inline std::string MinimalElf(const std::string& sectionName, const std::string& contents,
                              bool is64 = true, bool bigEndian = false) {
    const std::string names = std::string("\0.shstrtab\0", 11) + sectionName + '\0';
    std::string elf;
    auto put = [&](uint64_t v, int width) {
        for (int i = 0; i < width; ++i) {
            const int shift = 8 * (bigEndian ? width - 1 - i : i);
            elf += static_cast<char>(v >> shift & 0xFF);
        }
    };
    const int word = is64 ? 8 : 4;
    const uint64_t headerSize = is64 ? 64 : 52, entrySize = is64 ? 64 : 40;
    elf +=
        "\x7f"
        "ELF";
    elf += is64 ? '\x02' : '\x01';
    elf += bigEndian ? '\x02' : '\x01';
    elf += '\x01';
    elf.append(9, '\0');
    put(2, 2);  // executable
    put(is64 ? 0x3E : 0x03, 2);
    put(1, 4);
    put(0, word);  // entry
    put(0, word);  // program headers
    const uint64_t namesAt = headerSize, contentsAt = namesAt + names.size();
    const uint64_t tableAt = (contentsAt + contents.size() + 7) & ~uint64_t{7};
    put(tableAt, word);
    put(0, 4);
    put(headerSize, 2);
    put(0, 2);
    put(0, 2);
    put(entrySize, 2);
    put(3, 2);  // sections
    put(1, 2);  // names section index
    elf += names;
    elf += contents;
    elf.resize(tableAt, '\0');
    auto header = [&](uint32_t name, uint32_t type, uint64_t offset, uint64_t size) {
        put(name, 4);
        put(type, 4);
        put(0, word);  // flags
        put(0, word);  // address
        put(offset, word);
        put(size, word);
        put(0, 4);  // link
        put(0, 4);  // info
        put(1, word);
        put(0, word);
    };
    header(0, 0, 0, 0);
    header(1, 3, namesAt, names.size());
    header(11, 1, contentsAt, contents.size());
    return elf;
}
