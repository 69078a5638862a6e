// The accessibility object of a painted window: a screen reader asks the
// window (WM_GETOBJECT) and gets an IAccessible whose children are the
// parts the window draws. A window describes its parts with a provider;
// what the provider leaves alone (the window itself, its parent, focus)
// comes from the system's standard object.
#pragma once

#include <windows.h>

inline constexpr int kAccessibleTextChars = 192;

struct AccessibleItem {
  wchar_t name[kAccessibleTextChars];
  wchar_t value[kAccessibleTextChars];        // empty: none
  wchar_t description[kAccessibleTextChars];  // empty: none
  bool acts;                                   // has a default action
  long role;                                   // ROLE_SYSTEM_*
  long state;                                  // STATE_SYSTEM_*
  RECT client;                                 // in the window's client coordinates
};

// Children are numbered from 0 here (1 for the system). Every function
// runs on the window's thread.
struct AccessibleProvider {
  int (*count)(HWND);
  void (*item)(HWND, int index, AccessibleItem&);
  // The child under a client point, or -1.
  int (*hit)(HWND, int x, int y);
  // The default action, done later on the window's thread (posted): the
  // caller gets its answer before a dialog the action opens.
  void (*act)(HWND, int index);
};

// The answer to WM_GETOBJECT: the window's own object for the client area,
// the default answer for anything else.
LRESULT answerAccessibleObject(HWND w, WPARAM wp, LPARAM lp, const AccessibleProvider& provider);

// Tells listening screen readers that a child changed (EVENT_OBJECT_*),
// once one has asked a window of this thread for its object.
void notifyAccessibleChange(HWND w, DWORD event, int index);
bool screenReaderAsked();

// Helpers for providers.
void setAccessibleText(wchar_t (&out)[kAccessibleTextChars], const char* utf8);
void clickLater(HWND w, int x, int y);
