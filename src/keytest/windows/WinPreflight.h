// The key tester's check before it listens: which libraries are in use,
// whether the driver answers, what the parameter text selects, and the
// warnings, the device Windows can't open among them.
#pragma once

#include "keytest/PortPlan.h"
#include "WinLibraries.h"

namespace keytest {

void PrintPreflight(const Libraries &libraries, const PortPlan &plan);

} // namespace keytest
