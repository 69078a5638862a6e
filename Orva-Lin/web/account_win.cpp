#include "Orva-Lin/web/account.h"

// The web client is not part of this build yet: every request reports a
// connection that could not be made, which shows nothing to the member.
std::int32_t fetchAccountResource(std::int32_t, AccountKind) { return -1; }

void CALLBACK accountRefreshTick(HWND, UINT, UINT_PTR, DWORD) {}
