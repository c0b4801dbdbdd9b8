#include "keytest/Preflight.h"

namespace keytest {

bool PreflightTriesDevice(const PortPlan &plan, bool driver, bool commio)
{
    return plan.baseAccepted && driver && !commio;
}

std::vector<std::string> FormatPreflight(const PreflightFacts &facts, const PortPlan &plan,
                                         const SystemText &systemText)
{
    std::vector<std::string> lines = {
        "Key tester for Zelbin_Serial.dll",
        "  library: " + facts.dllPath,
        "  version: " + facts.dllVersion,
        "  io.dll : " + facts.ioPath,
        "           " + facts.ioKind,
        std::string("  driver : ") + (facts.driver ? "answers (IsDriverInstalled -> 1)"
                                                   : "does not answer (IsDriverInstalled -> 0): the library will stay "
                                                     "idle"),
        "  port   : device \"" + plan.portName + "\", UART at " + HexBase(plan.base) + " (address text \"" +
            plan.addressText + "\")",
    };
    std::vector<std::string> warnings = plan.warnings;
    if (facts.commio) {
        // The driver check above is what makes the comm-port io.dll claim
        // its device, so its status is read after it: held, or why not.
        const ExplainedStatus status = ExplainIoStatus(facts.commioStatus, systemText);
        lines.push_back("  device : " + (status.text.empty() ? "(the comm-port io.dll gives no status)" : status.text));
        if (facts.driver && !facts.commioStatus.uarts.empty())
            lines.push_back("  events : " + DescribeLineEvents(ReadLineEvents(facts.commioStatus.uarts)));
        if (!facts.driver) {
            warnings.push_back("The comm-port io.dll holds no device, so nothing can be tested: see its status "
                               "above, and io-ports.txt beside it. It reads io-ports.txt once, as it loads: after "
                               "a change, start the tester again, and a host that runs.");
            for (const std::string &advice : status.advice)
                warnings.push_back("What to do: " + advice + ".");
        }
    } else if (!plan.baseAccepted) {
        lines.push_back("  device : not tried: with a refused base the library opens nothing");
    } else if (!facts.driver) {
        lines.push_back("  device : not tried: without the driver the library opens nothing");
        warnings.push_back("The driver does not answer, so nothing can be tested: install the driver of this "
                           "io.dll (as administrator), or on a PC without a legacy port use the comm-port io.dll.");
    } else if (facts.deviceTried && facts.deviceProblem.empty()) {
        lines.push_back("  device : opens (tried exclusively and closed again)");
    } else if (facts.deviceTried) {
        lines.push_back("  device : cannot be opened");
        warnings.push_back("Windows can't open the device \"" + plan.portName + "\": " + facts.deviceProblem +
                           ". The library drives the UART all the same, but doesn't hold the port.");
    }
    if (!facts.deviceName.empty())
        lines.push_back("  name   : " + facts.deviceName);
    if (!facts.wiringWarning.empty())
        warnings.push_back(facts.wiringWarning);
    lines.push_back("ZelbinIsCustom -> " + std::to_string(facts.isCustom));
    for (const std::string &warning : warnings)
        lines.push_back("Warning: " + warning);
    return lines;
}

} // namespace keytest
