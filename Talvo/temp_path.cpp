#include "Talvo/temp_path.h"

#include <algorithm>

std::size_t tempFilePathInto(std::u16string_view tempFolder, std::u16string_view fileName,
                             std::span<char16_t, kMaxPathChars> out) {
  std::size_t n = 0;
  auto append = [&](std::u16string_view s) { n = std::copy(s.begin(), s.end(), out.begin() + n) - out.begin(); };
  const std::size_t whole = tempFolder.size() + kTempSubfolder.size() + fileName.size();
  if (!tempFolder.empty() && whole < kMaxPathChars) {
    append(tempFolder);
    append(kTempSubfolder);
  }
  // A bare name that cannot fit either is cut: CreateFile then fails on a
  // name that is not the caller's, rather than anything writing past out.
  fileName = fileName.substr(0, std::min(fileName.size(), kMaxPathChars - 1 - n));
  append(fileName);
  out[n] = 0;
  return n;
}
