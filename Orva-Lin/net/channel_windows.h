// The group list (all channels) and the peers window (the current channel),
// opened and closed from the main panel.
#pragma once

void toggleGroupList();
void togglePeersWindow();
