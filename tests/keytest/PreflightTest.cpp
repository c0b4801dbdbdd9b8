// What the key tester says before it listens: the device line, the line
// events and the warnings for each kind of set-up.
#include <gtest/gtest.h>

#include <algorithm>

#include "KeyTesterTest.h"
#include "keytest/PortPlan.h"
#include "keytest/Preflight.h"

using namespace keytest; // the key tester's own names, unqualified as in its own code

namespace {

struct PreflightCase {
    const char *name;
    const char *params;
    bool driver, commio;
    const char *commioStatus;
    std::vector<CommIoUart> uarts; // the io.dll's records
    const char *deviceProblem; // null: the tester doesn't try the device
    std::string deviceLine;
    std::vector<std::string> warnings; // each in full, in order
};

std::ostream &operator<<(std::ostream &os, const PreflightCase &c) { return os << c.name; }

class PreflightCases : public ::testing::TestWithParam<PreflightCase> {};

TEST_P(PreflightCases, SaysWhatIsWrongAndOnlyThat)
{
    const PreflightCase &c = GetParam();
    const PortPlan plan = PlanPort(c.params);
    EXPECT_EQ(PreflightTriesDevice(plan, c.driver, c.commio), c.deviceProblem != nullptr);
    PreflightFacts facts;
    facts.driver = c.driver;
    facts.commio = c.commio;
    facts.commioStatus = {c.commioStatus, c.uarts};
    facts.deviceTried = c.deviceProblem != nullptr;
    facts.deviceProblem = c.deviceProblem ? c.deviceProblem : "";
    facts.isCustom = 1;
    const std::vector<std::string> lines = FormatPreflight(facts, plan, SystemTextOf);
    std::vector<std::string> devices, warnings;
    for (const std::string &line : lines) {
        if (line.rfind("  device : ", 0) == 0)
            devices.push_back(line);
        if (line.rfind("Warning: ", 0) == 0)
            warnings.push_back(line.substr(9));
    }
    EXPECT_EQ(devices, std::vector<std::string>{c.deviceLine});
    EXPECT_EQ(warnings, c.warnings);
}

CommIoUart Held(std::uint32_t events)
{
    CommIoUart uart{};
    uart.link = COMMIO_LINK_HELD;
    uart.events = events;
    uart.edgesRecovered = 1;
    return uart;
}

CommIoUart NotOpened(std::uint32_t error)
{
    CommIoUart uart{};
    uart.link = COMMIO_LINK_NOT_HELD;
    uart.failedCall = COMMIO_CALL_CREATE_FILE;
    uart.error = error;
    return uart;
}

const std::string NoDevice = "The comm-port io.dll holds no device, so nothing can be tested: see its status above, "
                             "and io-ports.txt beside it. It reads io-ports.txt once, as it loads: after a change, "
                             "start the tester again, and a host that runs.";

const std::string NoCom9 = "Windows can't open the device \"COM9\": The system cannot find the file specified "
                           "(error 2). The library drives the UART all the same, but doesn't hold the port.";

INSTANTIATE_TEST_SUITE_P(Cases, PreflightCases, ::testing::Values(
    PreflightCase{"a device that opens", "COM2", true, false, "", {}, "", "  device : opens (tried exclusively and "
                                                                          "closed again)", {}},
    PreflightCase{"a device Windows can't open", "COM9;2E8h", true, false, "", {},
                  "The system cannot find the file specified (error 2)", "  device : cannot be opened", {NoCom9}},
    // The library opens nothing after a refused base: nothing to say of
    // the device.
    PreflightCase{"a refused base", "COM9;2E8", true, false, "", {}, nullptr,
                  "  device : not tried: with a refused base the library opens nothing",
                  {"The address text '2E8' ends in a hex digit: the library drops the last character as the suffix "
                   "and reads 002Eh. Write it with a suffix, such as '2E8h'.",
                   "The base 002Eh lies outside 0100h to FFF9h: the library refuses it, opens nothing and reports no "
                   "press."}},
    PreflightCase{"no driver", "COM2", false, false, "", {}, nullptr,
                  "  device : not tried: without the driver the library opens nothing",
                  {"The driver does not answer, so nothing can be tested: install the driver of this io.dll (as "
                   "administrator), or on a PC without a legacy port use the comm-port io.dll."}},
    PreflightCase{"the comm-port io.dll holding its device", "COM5;3F8h", true, true, "COM5 for any UART: held",
                  {Held(COMMIO_EVENTS_WATCHED)}, nullptr, "  device : COM5 for any UART: held", {}},
    PreflightCase{"the comm-port io.dll holding none", "COM1", false, true,
                  "COM9 for any UART: not held, CreateFile failed (error 2); retrying", {NotOpened(2)}, nullptr,
                  "  device : COM9 for any UART: not held, CreateFile failed (error 2: The system cannot find the "
                  "file specified); retrying",
                  {NoDevice,
                   "What to do: the port is not there now: plug the adapter in; if it is plugged in, `zelbin-keytest "
                   "--ports` lists the ports this PC has: name one of them in io-ports.txt."}},
    PreflightCase{"the comm-port io.dll without a map", "COM1", false, true,
                  "no io-ports.txt beside io.dll in C:\\Host\\: put one there naming the COM port, such as 'any = COM3'",
                  {}, nullptr,
                  "  device : no io-ports.txt beside io.dll in C:\\Host\\: put one there naming the COM port, such "
                  "as 'any = COM3'",
                  {NoDevice}}));

// Where the set-up's files lie: an io.dll that isn't the one a host loading
// that Zelbin_Serial.dll gets is said, with what to move; where the io.dll
// came from Windows' search path, no map beside it is offered as the way on.
TEST(PreflightSetUp, AnIoDllNotBesideTheDllIsSaidWithWhatToMove)
{
    const std::string searched =
        "The io.dll in use, C:\\windows\\system32\\io.dll, is not beside Zelbin_Serial.dll (C:\\Host\\): there "
        "is none there, so Windows took this one from its search path, as it does for the host, and a comm-port "
        "io.dll reads io-ports.txt beside itself, in C:\\windows\\system32\\. Put the io.dll and io-ports.txt beside "
        "Zelbin_Serial.dll: the zip's x64\\ folder.";
    const struct {
        const char *name;
        const char *ioPath, *ioFolder;
        bool ioGiven, ioBesideDll;
        std::vector<std::string> warnings;
    } cases[] = {
        {"beside the DLL", "C:\\Host\\io.dll", "C:\\Host\\", false, true, {}},
        {"beside the DLL, named in another case", "c:\\host\\io.dll", "c:\\host\\", true, true, {}},
        {"from the search path", "C:\\windows\\system32\\io.dll", "C:\\windows\\system32\\", false, false,
         {searched,
          "The comm-port io.dll holds no device, so nothing can be tested: put it and io-ports.txt beside "
          "Zelbin_Serial.dll, as said above; a map beside the io.dll in use helps no host. It reads io-ports.txt "
          "once, as it loads: after a change, start the tester again, and a host that runs."}},
        {"given with --io, none beside the DLL", "C:\\Test\\io.dll", "C:\\Test\\", true, false,
         {"There is no io.dll beside C:\\Host\\Zelbin_Serial.dll: a host that loads it from there can't start it "
          "(Windows: module not found). This test used C:\\Test\\io.dll, given with --io. Copy that io.dll, with "
          "io-ports.txt, beside Zelbin_Serial.dll.",
          NoDevice}},
        {"given with --io, another beside the DLL", "C:\\Test\\io.dll", "C:\\Test\\", true, true,
         {"A host that loads C:\\Host\\Zelbin_Serial.dll takes the io.dll beside it, C:\\Host\\io.dll, not "
          "C:\\Test\\io.dll, given with --io, which this test used.",
          NoDevice}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PreflightFacts facts;
        facts.dllPath = "C:\\Host\\Zelbin_Serial.dll";
        facts.dllFolder = "C:\\Host\\";
        facts.ioPath = c.ioPath;
        facts.ioFolder = c.ioFolder;
        facts.ioGiven = c.ioGiven;
        facts.ioBesideDll = c.ioBesideDll;
        facts.commioInRelease = "the zip's x64\\ folder";
        facts.commio = true;
        facts.driver = c.warnings.empty();
        facts.commioStatus = {c.warnings.empty() ? "COM5 for any UART: held" : "no io-ports.txt beside io.dll", {}};
        std::vector<std::string> warnings;
        for (const std::string &line : FormatPreflight(facts, PlanPort("COM5;3F8h"), SystemTextOf))
            if (line.rfind("Warning: ", 0) == 0)
                warnings.push_back(line.substr(9));
        EXPECT_EQ(warnings, c.warnings);
    }
}

// The map reads the key on a line its adapter doesn't report: said last,
// as the word the technician acts on, also while the io.dll holds the port.
TEST(PreflightWiring, AMapOnALineTheAdapterDoesNotReportIsWarnedOfLast)
{
    PreflightFacts facts;
    facts.driver = true;
    facts.commio = true;
    facts.commioStatus = {"COM5 for any UART: held", {Held(COMMIO_EVENTS_WATCHED)}};
    facts.wiringWarning = "io-ports.txt line 1 reads the key on CTS of COM5, ...";
    const std::vector<std::string> lines = FormatPreflight(facts, PlanPort("com5"), SystemTextOf);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Warning: io-ports.txt line 1 reads the key on CTS of COM5, ...");
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string &l) { return l.rfind("Warning: ", 0) == 0; }),
              2); // the name's own warning, then this one
}

TEST(LineEventsPreflight, ShowsWhetherEventsAreWatchedAndTheRecoveredEdges)
{
    const PortPlan plan = PlanPort("COM5;3F8h");
    PreflightFacts facts;
    facts.driver = true;
    facts.commio = true;
    // From the records, whatever the text says.
    facts.commioStatus = {"COM5 for any UART: held", {Held(COMMIO_EVENTS_WATCHED)}};
    std::vector<std::string> events;
    for (const std::string &line : FormatPreflight(facts, plan, SystemTextOf))
        if (line.rfind("  events : ", 0) == 0)
            events.push_back(line);
    EXPECT_EQ(events, std::vector<std::string>{"  events : watched (a poll makes no device call unless a line "
                                               "changed), 1 edge recovered between polls"});
    facts.driver = false; // holding nothing: nothing to say of events
    for (const std::string &line : FormatPreflight(facts, plan, SystemTextOf))
        EXPECT_NE(line.rfind("  events : ", 0), 0u) << line;
}

} // namespace
