// The key tester's check before it listens: which libraries are in use,
// whether the driver answers, what the parameter text selects, and the
// warnings, the device Windows can't open among them.
#pragma once

#include <string>
#include <vector>

#include "keytest/PortPlan.h"
#include "WinLibraries.h"

namespace keytest {

// The lines, as the console prints them and the window shows them at Start.
std::vector<std::string> PreflightLines(const Libraries &libraries, const PortPlan &plan);
void PrintPreflight(const Libraries &libraries, const PortPlan &plan);

} // namespace keytest
