// A DCB as the simulated COM devices' settings block and back, field by
// field, written apart from the io.dll's own binding so that a fault in
// that binding shows against it.
#pragma once

#include <windows.h>

#include "commio/CommApi.h"

commio::DeviceSettings FromDcb(const DCB &dcb);
void ToDcb(const commio::DeviceSettings &s, DCB &dcb);
