#include "keytest/Preflight.h"

#include "commio/PortMap.h"

namespace keytest {

namespace {

// The io.dll in use is not the one a host loading this Zelbin_Serial.dll
// gets, or none: what the technician is told, else empty.
std::string SetUpWarning(const PreflightFacts &facts)
{
    if (facts.dllFolder.empty() || facts.ioFolder.empty() || commio::EqualsNoCase(facts.dllFolder, facts.ioFolder))
        return {};
    if (!facts.ioGiven)
        return "The io.dll in use, " + facts.ioPath + ", is not beside Zelbin_Serial.dll (" + facts.dllFolder +
               "): there is none there, so Windows took this one from its search path, as it does for the host, "
               "and a comm-port io.dll reads io-ports.txt beside itself, in " + facts.ioFolder +
               ". Put the io.dll and io-ports.txt beside Zelbin_Serial.dll: " + facts.commioInRelease + ".";
    if (!facts.ioBesideDll)
        return "There is no io.dll beside " + facts.dllPath + ": a host that loads it from there can't start it "
               "(Windows: module not found). This test used " + facts.ioPath + ", given with --io. Copy that io.dll, "
               "with io-ports.txt, beside Zelbin_Serial.dll.";
    return "A host that loads " + facts.dllPath + " takes the io.dll beside it, " + facts.dllFolder + "io.dll, not " +
           facts.ioPath + ", given with --io, which this test used.";
}

} // namespace

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
    if (facts.standIn)
        warnings.push_back("This io.dll is the stand-in for tests: it simulates a PC and reads no serial port, so "
                           "a key wired to this PC is never seen, and this test says nothing of it. For a key on a "
                           "COM port, put the comm-port io.dll beside Zelbin_Serial.dll instead: " +
                           facts.commioInRelease + ".");
    const std::string setUp = SetUpWarning(facts);
    if (!setUp.empty())
        warnings.push_back(setUp);
    if (facts.commio) {
        // The driver check above is what makes the comm-port io.dll claim
        // its device, so its status is read after it: held, or why not.
        const ExplainedStatus status = ExplainIoStatus(facts.commioStatus, systemText);
        lines.push_back("  device : " + (status.text.empty() ? "(the comm-port io.dll gives no status)" : status.text));
        if (facts.driver && !facts.commioStatus.uarts.empty())
            lines.push_back("  events : " + DescribeLineEvents(ReadLineEvents(facts.commioStatus.uarts)));
        if (!facts.driver) {
            // An io.dll Windows took from its search path reads a map no
            // host's set-up puts there: the way on is to move it, not to
            // write a map beside it.
            const bool searched = !setUp.empty() && !facts.ioGiven;
            warnings.push_back(std::string("The comm-port io.dll holds no device, so nothing can be tested: ") +
                               (searched ? "put it and io-ports.txt beside Zelbin_Serial.dll, as said above; a map "
                                           "beside the io.dll in use helps no host."
                                         : "see its status above, and io-ports.txt beside it.") +
                               " It reads io-ports.txt once, as it loads: after a change, start the tester again, "
                               "and a host that runs.");
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
