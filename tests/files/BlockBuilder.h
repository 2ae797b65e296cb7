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

// A little-endian 64-bit ELF file with no program headers and the sections "" (null),
// ".shstrtab" and sectionName holding contents.
inline std::string MinimalElf(const std::string& sectionName, const std::string& contents) {
    const std::string names = std::string("\0.shstrtab\0", 11) + sectionName + '\0';
    std::string elf;
    elf +=
        "\x7f"
        "ELF";
    elf += '\x02';  // 64-bit
    elf += '\x01';  // little-endian
    elf += '\x01';  // version
    elf.append(9, '\0');
    Put16(elf, 2);     // executable
    Put16(elf, 0x3E);  // x86-64
    Put32(elf, 1);
    Put64(elf, 0);  // entry
    Put64(elf, 0);  // program headers
    const uint64_t namesAt = 64, contentsAt = namesAt + names.size();
    const uint64_t tableAt = (contentsAt + contents.size() + 7) & ~uint64_t{7};
    Put64(elf, tableAt);
    Put32(elf, 0);
    Put16(elf, 64);  // header size
    Put16(elf, 0);
    Put16(elf, 0);
    Put16(elf, 64);  // section header size
    Put16(elf, 3);   // sections
    Put16(elf, 1);   // names section index
    elf += names;
    elf += contents;
    elf.resize(tableAt, '\0');
    auto header = [&](uint32_t name, uint32_t type, uint64_t offset, uint64_t size) {
        Put32(elf, name);
        Put32(elf, type);
        Put64(elf, 0);
        Put64(elf, 0);
        Put64(elf, offset);
        Put64(elf, size);
        Put32(elf, 0);
        Put32(elf, 0);
        Put64(elf, 1);
        Put64(elf, 0);
    };
    header(0, 0, 0, 0);
    header(1, 3, namesAt, names.size());
    header(11, 1, contentsAt, contents.size());
    return elf;
}
