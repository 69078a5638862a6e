// The one thread that speaks, from the queue of speech_queue.h: the typed
// text keyed around by 'T' and 'R', then the client's texts in arrival
// order. The window and the link thread only queue, so neither waits for
// an utterance and the window can close while one is under way.
#pragma once

#include <windows.h>

#include <cstddef>

// Posted to the companion window when a typed text has been spoken (wParam
// 1) or failed (0): the editor is cleared only after a success.
inline constexpr UINT kTypedSpokenMessage = WM_APP + 2;

// Starts the thread; false when it could not be started.
bool startSpeaker(HWND window);

// Queue a text; false when it was dropped (queue full, or empty text).
bool sayTyped(const wchar_t* text, std::size_t length);
bool sayText(const wchar_t* text, std::size_t length);
template <std::size_t N>
bool sayText(const wchar_t (&text)[N]) {
  return sayText(text, N - 1);
}

// Stops what is playing, drops what waits and waits up to `waitMs` for the
// thread to end; true when it has ended (or never ran).
bool stopSpeaker(DWORD waitMs);
