// "mini_leds.bmf" read from disk: the directory, a look-up by name and the
// BMP split that is handed to GDI. Every span returned must lie inside the
// file's bytes, or GDI would read past them.
#include <cstddef>
#include <cstdint>

#include "Orva-Lin/led_container.h"

namespace {

void inside(std::span<const std::uint8_t> part, const std::uint8_t* data, std::size_t size) {
  if (part.empty()) return;
  if (part.data() < data || part.data() + part.size() > data + size) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> file(data, size);
  leds::Directory dir;
  if (!leds::readDirectory(file, dir)) return 0;
  if (dir.count > leds::kMaxEntries) __builtin_trap();
  static const char* const kNames[] = {"vert", "rouge", "jaune", "bleu", "led1", ""};
  for (std::uint32_t i = 0; i < dir.count; ++i) {
    const leds::Entry& e = dir.entries[i];
    const auto picture = leds::findPicture(file, dir, e.nameOk ? e.name : kNames[i % 6]);
    inside(picture, data, size);
    leds::Bmp bmp;
    if (leds::parseBmp(picture, bmp)) {
      inside(bmp.info, data, size);
      inside(bmp.bits, data, size);
    }
  }
  return 0;
}
