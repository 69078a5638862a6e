// Fix-ups of texts from the web host.
#pragma once

// Replaces every "&#xE9;" of a zero-terminated text by the UTF-8 bytes of
// "é" (0xC3 0xA9), in place; the text can only get shorter.
void decodeEacute(char* text);
