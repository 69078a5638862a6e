// Master volume scalars (0.0 to 1.0) of the default capture and render
// endpoints: the MIC GAIN and VOLUME knobs act on the system levels, never on
// samples. And the names and icons the parameters window shows.
#pragma once

#include "Orva-Lin/audio/endpoint_description.h"

float getCaptureEndpointLevel();  // 0.0 when any step fails
void setCaptureEndpointLevel(float level);
float getRenderEndpointLevel();   // console role
void setRenderEndpointLevel(float level);

// The active capture endpoint at `position`; `d` is left as it was when there
// is none or a step fails. Returns `position`.
int describeCaptureEndpoint(int position, EndpointDescription& d);
// Position of the default capture endpoint among the active ones, described;
// -1 (after a warning box) when it is not among them.
int describeDefaultCaptureEndpoint(EndpointDescription& d);
// The default render endpoint; the COM status of the last step.
long describeDefaultRenderEndpoint(EndpointDescription& d);
