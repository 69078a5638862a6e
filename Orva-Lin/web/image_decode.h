// Pictures from a web response body into GDI bitmaps (none on failure).
#pragma once

#include <windows.h>

#include <cstdint>

// A PNG only (the member pictures): none unless the body starts with the
// PNG signature. Transparent pixels come out black.
HBITMAP decodePngBytes(const std::uint8_t* body, std::uint32_t length);

// decodePngBytes scaled to width by height at decode, so that what a cache
// keeps is the size it shows, whatever the size of the file.
HBITMAP decodePngScaled(const std::uint8_t* body, std::uint32_t length, int width, int height);

// Any format GDI+ reads (PNG, JPEG, BMP, GIF, ...), drawn into a 32-bit
// ARGB bitmap of its own size. A picture too big to hold is refused before
// any pixel is made.
HBITMAP decodeImageResponse(const std::uint8_t* body, std::uint32_t length);
