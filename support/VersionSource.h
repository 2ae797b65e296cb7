#pragma once
// Where version blocks live in executable files: in our ELF executables the section
// ".parlen_version" holds the block; in Windows PE executables it is the first
// RT_VERSION entry of the resource section.
#include <string>

inline constexpr const char* kVersionSectionName = ".parlen_version";

enum class TBlockSearch {
    kFound,
    kNoBlock,     // the file is readable but holds no version block
    kUnreadable,  // the file cannot be read or its structure is broken
};

// Reads the raw block bytes of fileName into block.
TBlockSearch ReadVersionBlock(const std::string& fileName, std::string& block);

// The path of the running executable with links resolved, or empty.
std::string OwnExecutablePath();
