// Resource identifiers of Talvo.exe.
#pragma once

#define IDI_TALVO_ICON 101
