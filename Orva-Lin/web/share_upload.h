// "Envoyer": a picture file from the member's disk becomes the channel's
// shared picture on the web host.
#pragma once

#include <windows.h>

#include <cstdint>

// Posted to the share window when an upload has ended; wParam: the HTTP
// status, or -1 when the exchange failed.
inline constexpr UINT kShareUploadDone = WM_APP + 42;

// Results of uploadSharedImage besides -1 (refused or failed) and 0 (no
// file chosen): the record is on its way and kShareUploadDone will follow.
inline constexpr std::int32_t kUploadStarted = 1;

// Asks for a file (the dialog runs here, on the user-interface thread),
// reads it into the upload record and hands the POST to a thread of its
// own. One upload at a time: a second "Envoyer" while one is on its way is
// refused (-1).
std::int32_t uploadSharedImage(std::int32_t channel, HWND notify);
