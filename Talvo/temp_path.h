// Where Talvo writes its sound files: "<temporary folder>Orva-Lin\<name>".
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

inline constexpr std::size_t kMaxPathChars = 260;   // MAX_PATH, terminator included
inline constexpr std::u16string_view kTempSubfolder = u"Orva-Lin\\";

// Writes the zero-terminated path of fileName into out (kMaxPathChars
// wide) and returns its length. tempFolder is the system's temporary folder
// with its trailing backslash, empty when it could not be had. The whole
// path, file name included, must fit a MAX_PATH buffer; when it does not
// (or there is no folder) the bare file name is used.
std::size_t tempFilePathInto(std::u16string_view tempFolder, std::u16string_view fileName,
                             std::span<char16_t, kMaxPathChars> out);
