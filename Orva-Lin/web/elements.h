// Fields of the web host's small XML documents, found by a plain tag search
// over the bytes of one response.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Copies the text between the first "<name>" of `body` and the first
// "</name>" after it into `field` (terminated). The search never looks past
// `body`. A missing element, or a value that does not fit `size` bytes with
// its terminator, leaves `field` untouched: a value is dropped whole, never
// cut. A name whose tags would exceed 63 characters matches nothing.
bool extractElement(std::span<const char> body, const char* name, char* field, std::size_t size);

// The BACKGROUND text is a Windows colour value in hexadecimal (blue digits
// first): leading blanks and an optional "0x" are skipped, the hex digits
// that follow are read, and only the colour's 24 bits are kept. A text with
// no hex digit keeps `current`.
std::uint32_t parseBackground(const char* text, std::uint32_t current);
