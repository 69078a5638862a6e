#include "Orva-Lin/transmit.h"

#include <windows.h>

namespace {
CRITICAL_SECTION transmitLock;
int transmitFlag = 0;
}  // namespace

void initTransmitLock() { InitializeCriticalSection(&transmitLock); }

void setTransmitFlag(int on) {
  EnterCriticalSection(&transmitLock);
  transmitFlag = on ? 1 : 0;
  LeaveCriticalSection(&transmitLock);
}

int transmitFlagValue() {
  EnterCriticalSection(&transmitLock);
  const int v = transmitFlag;
  LeaveCriticalSection(&transmitLock);
  return v;
}
