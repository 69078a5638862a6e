// Push-to-talk state: written by the talk key and the companion link, read
// by the audio and receive threads, always under transmitLock.
#pragma once

void initTransmitLock();
void setTransmitFlag(int on);
int transmitFlagValue();
