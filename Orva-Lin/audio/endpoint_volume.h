// Master volume scalars (0.0 to 1.0) of the default capture and render
// endpoints: the MIC GAIN and VOLUME knobs act on the system levels, never on
// samples.
#pragma once

float getCaptureEndpointLevel();  // 0.0 when any step fails
void setCaptureEndpointLevel(float level);
float getRenderEndpointLevel();   // console role
void setRenderEndpointLevel(float level);
