// Requests for the member's own account and for the member last heard.
#pragma once

#include <windows.h>

#include <cstdint>

enum AccountKind : std::int32_t {
  TalkerImage = 0,
  TalkerProfile = 1,
  OwnProfile = 2,
  OwnParameters = 4,
};

// Body length on success (0 for a non-200 status or an empty body), -1 when
// the connection or request failed, 1 when no session could be opened.
std::int32_t fetchAccountResource(std::int32_t number, AccountKind kind);

// Account refresh timer: the talker's picture and card when the talker changes.
void CALLBACK accountRefreshTick(HWND, UINT, UINT_PTR, DWORD);
