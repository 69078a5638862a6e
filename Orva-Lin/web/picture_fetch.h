// The picture fetch workers and their cache: member pictures for the group
// list and the peers window, and the channel's shared picture for the share
// window, each kind fetched on a thread of its own so that a slow web host
// never holds up the panel, nor a slow member picture the shared one. Windows ask, draw what is cached, and redraw when told
// that a picture arrived.
#pragma once

#include <windows.h>

#include <cstdint>

#include "Orva-Lin/net/channel_grids.h"

// Posted to every watching window when a member's fetch has ended;
// wParam: the member number.
inline constexpr UINT kMemberPictureArrived = WM_APP + 40;
// Posted to the window that asked for a channel's shared picture.
inline constexpr UINT kSharePictureArrived = WM_APP + 41;

// Starts the workers the first time (later calls do nothing). False when
// they could not be started; callers then draw blank cells.
bool startPictureWorker();

// Opens a member-picture window (its class already registered) at the
// main window's offset (dx from its left or, when fromRight, from its right;
// dy from its top), starts the worker and watches pictures for it. None when
// the window could not be made.
HWND openMemberPictureWindow(const wchar_t* className, const wchar_t* title, int dx, bool fromRight, int dy);

// A window that wants kMemberPictureArrived (at most a few at once).
void watchMemberPictures(HWND window);
void unwatchMemberPictures(HWND window);

// What the cache has for `member` (asking the worker for it when it is new
// or old), with the picture stretched into the cell when there is one.
grids::Fetch drawMemberPicture(HDC dc, std::int32_t member, int x, int y, int width, int height);

// Asks for the shared picture of a channel; the worker posts
// kSharePictureArrived to `notify` when the fetch has ended.
void requestSharePicture(int channel, HWND notify);
// The decoded picture of the last request that answered, handed over to
// the caller when it is the picture of `channel`; none while nothing new
// has arrived, and none (the stale one freed) when it belongs to another.
HBITMAP takeSharePicture(int channel);
