// The member's parameters window.
#pragma once

#include <windows.h>

void openParametersWindow();
