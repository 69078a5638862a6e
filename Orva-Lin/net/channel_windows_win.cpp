#include "Orva-Lin/net/channel_windows.h"

// Neither window is part of this build yet; a click on the channel frame or
// the NETWORK ring opens nothing.
void toggleGroupList() {}
void togglePeersWindow() {}
