// Requests for the member's own account and for the member last heard.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "Orva-Lin/web/service_paths.h"

// The member's own profile, UTF-8, filled at start-up (the parameters
// window shows it).
struct OwnProfileFields {
  char firstName[64];  // PRENOM
  char city[64];       // VILLE
  char phrase[128];    // PHRASE
  char day[64];        // JOUR
  char email[128];     // EMAIL
  char folder[64];     // FOLDER
};
extern OwnProfileFields ownProfile;

// The member's own profile or parameters (the talker kinds return 0: the
// talker card fetches on its own worker). Body length on success (0 for a
// non-200 status or an empty body), -1 when the connection or request
// failed, 1 when no session could be opened.
std::int32_t fetchAccountResource(std::int32_t number, AccountKind kind);

// Account refresh timer: asks the talker card's worker for the talker's
// picture and card when the talker changes or the panel was repainted.
void CALLBACK accountRefreshTick(HWND, UINT, UINT_PTR, DWORD);

// Posted to the main window when the talker card's worker has ended an
// exchange; the window then calls showArrivedTalkerCard.
inline constexpr UINT kTalkerCardArrived = WM_APP + 43;
void showArrivedTalkerCard();
