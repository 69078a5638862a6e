// The main panel as a screen reader sees it, and the change notices that
// let it announce what changed. Every function runs on the user-interface
// thread.
#pragma once

#include <windows.h>

#include <cstdint>

LRESULT answerMainObject(HWND w, WPARAM wp, LPARAM lp);

// Called where the panel notices a change, as it draws it.
void noticeChannelShown(bool channelChanged, bool countChanged);
// The server panel's lamps as drawn now and before: the six indicators in
// the order it draws them, then the five SERVER LOAD lamps.
void noticeLampsShown(const std::uint32_t* now, const std::uint32_t* before);
// The talker card's texts (UTF-8) as just drawn.
void noticeTalkerShown(const char* firstName, const char* city, const char* phrase);

// Posted to the main window by whichever thread shows a supervisor notice
// (wParam: the notice window), so that this thread announces it.
inline constexpr UINT kNoticeShown = WM_APP + 60;
void noticeSupervisorNotice(HWND notice);
