// The self-closing "Info du Superviseur" notice that announces a closing.
#pragma once

// Shows the notice (UTF-8 text) and pumps its own message loop on the
// calling thread until the window is gone (at most 10 seconds).
void showCustomDialog(const char* utf8Text);
