#include "Orva-Lin/web/web_windows.h"

// The parameters window is not part of this build yet.
void openParametersWindow() {}
