// The key tester's check before it listens, as text: which libraries are in
// use, whether the driver answers, what the parameter text selects, the
// device, and the warnings. The front end gathers the facts; what they mean
// for a technician is decided here.
#pragma once

#include <string>
#include <vector>

#include "keytest/IoStatus.h"
#include "keytest/PortPlan.h"

namespace keytest {

struct PreflightFacts {
    std::string dllPath, dllVersion;
    std::string ioPath, ioKind;
    // Where the set-up's files lie: the folders of Zelbin_Serial.dll and of
    // the io.dll in use ("C:\Host\"), whether --io named that io.dll, and
    // whether an io.dll lies beside Zelbin_Serial.dll, which a host loading
    // that DLL takes.
    std::string dllFolder, ioFolder;
    bool ioGiven = false;
    bool ioBesideDll = false;
    bool standIn = false;      // the stand-in io.dll for tests
    std::string commioInRelease; // where the release zip has the comm-port io.dll, for the advice
    bool driver = false;       // IsDriverInstalled answered 1
    bool commio = false;       // the comm-port io.dll, which holds the device itself
    IoDllStatus commioStatus;  // its status text, as it gives it, and its records
    bool deviceTried = false;  // the tester's own exclusive open of the device, closed again at once
    std::string deviceProblem; // why that open failed, Windows' text; empty: it opened
    std::string deviceName;    // what Windows calls the device in use ("COM5 is ..."); empty: nothing known
    std::string wiringWarning; // the map reads the key on a line that device doesn't report; empty: none
    int isCustom = 0;
};

// Whether the tester tries the device itself: only where the library would
// open it, with a base it accepts and a driver that answers, and not with
// the comm-port io.dll, which holds the device already.
bool PreflightTriesDevice(const PortPlan &plan, bool driver, bool commio);

// The lines to print, warnings last ("Warning: ...").
std::vector<std::string> FormatPreflight(const PreflightFacts &facts, const PortPlan &plan,
                                         const SystemText &systemText);

} // namespace keytest
