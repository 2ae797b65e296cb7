#pragma once
// Names of the files a book is split into, one per chapter: "NN Title.ext", safe on FAT,
// NTFS and ext4 alike.
#include <string>

namespace containers {

// The file name of chapter `number` (from 1) of `count`: the number zero-padded to the
// count's digits (two at least), a blank, the title and ".ext". Characters FAT or NTFS
// refuse (controls, < > : " / \ | ? *) become "_", blanks run together, a name never
// ends in a dot or a blank, an empty title is "Chapter", and the whole name is at most
// 255 bytes, cut on a character boundary. The number makes every name of a book its own,
// in any letter case.
std::string ChapterFileName(size_t number, size_t count, const std::string& title,
                            const std::string& ext);

}  // namespace containers
