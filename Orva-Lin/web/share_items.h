// Records of the shared-picture board's canvas.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kShareItemCount = 100;
inline constexpr std::uint8_t kShareItemEnd = 0;
inline constexpr std::uint8_t kShareItemPicture = 4;

struct ShareItem {
  std::uint8_t reserved[2];
  std::uint8_t kind;  // kShareItemEnd ends the list
  std::uint8_t pad;
  std::uint32_t position;  // two 16-bit halves
  char text[260];
};

extern ShareItem shareItems[kShareItemCount];

// One shared picture, then the end of the list.
void resetShareItems();
