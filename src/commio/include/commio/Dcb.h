// The serial driver's DCB as the comm-port io.dll's portable settings block
// (DeviceSettings) and back, field by field: the Windows binding's, and the
// Windows tests' that stand a simulated device behind a real DCB.
#pragma once

#include <windows.h>

#include "commio/CommApi.h"

namespace commio {

DeviceSettings FromDcb(const DCB &dcb);
// With DCBlength filled in; each bitfield takes the low bits of its member.
DCB ToDcb(const DeviceSettings &settings);

} // namespace commio
