// What the key tester says before it listens: the comm-port io.dll's status
// made readable, and the preflight's device line and warnings for each kind
// of set-up.
#include <gtest/gtest.h>

#include <algorithm>

#include "keytest/IoStatus.h"
#include "keytest/Preflight.h"

using namespace keytest; // the key tester's own names, unqualified as in its own code

namespace {

std::string FakeSystemText(unsigned long code)
{
    switch (code) {
    case 2: return "The system cannot find the file specified";
    case 5: return "Access is denied";
    case 22: return "The device does not recognize the command";
    default: return "";
    }
}

struct StatusCase {
    const char *status;
    const char *text;
    std::vector<std::string> advice; // a fragment of each, in order
};

std::ostream &operator<<(std::ostream &os, const StatusCase &c) { return os << c.status; }

class IoStatusCases : public ::testing::TestWithParam<StatusCase> {};

TEST_P(IoStatusCases, PutsTheSystemsTextBesideEachCodeAndAdvises)
{
    const ExplainedStatus explained = ExplainIoStatus(GetParam().status, FakeSystemText);
    EXPECT_EQ(explained.text, GetParam().text);
    ASSERT_EQ(explained.advice.size(), GetParam().advice.size());
    for (std::size_t i = 0; i < explained.advice.size(); ++i)
        EXPECT_NE(explained.advice[i].find(GetParam().advice[i]), std::string::npos) << explained.advice[i];
}

INSTANTIATE_TEST_SUITE_P(Cases, IoStatusCases, ::testing::Values(
    StatusCase{"COM5 for any UART: held", "COM5 for any UART: held", {}},
    StatusCase{"COM9 for any UART: not held, CreateFile failed (error 2); retrying",
               "COM9 for any UART: not held, CreateFile failed (error 2: The system cannot find the file specified); "
               "retrying",
               {"no such port on this PC: see `zelbin-keytest --ports`"}},
    StatusCase{"COM3 for 03F8h: not held, open failed (error 5); retrying; COM4 for 02F8h: not held, "
               "GetCommModemStatus failed (error 22); retrying; COM6 for 03E8h: not held, open failed (error 5)",
               "COM3 for 03F8h: not held, open failed (error 5: Access is denied); retrying; COM4 for 02F8h: not "
               "held, GetCommModemStatus failed (error 22: The device does not recognize the command); retrying; "
               "COM6 for 03E8h: not held, open failed (error 5: Access is denied)",
               {"the port is in use", "the device stopped answering"}},
    // Access denied after the open is how a removed device answers.
    StatusCase{"COM5 for any UART: not held, GetCommModemStatus failed (error 5); retrying",
               "COM5 for any UART: not held, GetCommModemStatus failed (error 5: Access is denied); retrying",
               {"the device stopped answering"}},
    // A code the system has no text for keeps its number alone.
    StatusCase{"COM5 for any UART: held, 2400 baud refused by SetCommState (error 87)",
               "COM5 for any UART: held, 2400 baud refused by SetCommState (error 87)",
               {"refuses the library's line format"}},
    StatusCase{"COM5 for any UART: not held, open failed (error 4242); retrying",
               "COM5 for any UART: not held, open failed (error 4242); retrying", {}},
    // Only a whole "(error N)" is a code.
    StatusCase{"io-ports.txt line 2: unknown device '(error 2'", "io-ports.txt line 2: unknown device '(error 2'", {}},
    StatusCase{"x (error ) y (error 2x) z (error 2)", "x (error ) y (error 2x) z (error 2: The system cannot find "
                                                      "the file specified)", {"no such port"}},
    StatusCase{"", "", {}}));

struct PreflightCase {
    const char *name;
    const char *params;
    bool driver, commio;
    const char *commioStatus;
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
    facts.commioStatus = c.commioStatus;
    facts.deviceTried = c.deviceProblem != nullptr;
    facts.deviceProblem = c.deviceProblem ? c.deviceProblem : "";
    facts.isCustom = 1;
    const std::vector<std::string> lines = FormatPreflight(facts, plan, FakeSystemText);
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

const std::string NoCom9 = "Windows can't open the device \"COM9\": The system cannot find the file specified "
                           "(error 2). The library drives the UART all the same, but doesn't hold the port.";

INSTANTIATE_TEST_SUITE_P(Cases, PreflightCases, ::testing::Values(
    PreflightCase{"a device that opens", "COM2", true, false, "", "", "  device : opens (tried exclusively and closed "
                                                                      "again)", {}},
    PreflightCase{"a device Windows can't open", "COM9;2E8h", true, false, "",
                  "The system cannot find the file specified (error 2)", "  device : cannot be opened", {NoCom9}},
    // The library opens nothing after a refused base: nothing to say of
    // the device.
    PreflightCase{"a refused base", "COM9;2E8", true, false, "", nullptr,
                  "  device : not tried: with a refused base the library opens nothing",
                  {"The address text '2E8' ends in a hex digit: the library drops the last character as the suffix "
                   "and reads 002Eh. Write it with a suffix, such as '2E8h'.",
                   "The base 002Eh lies outside 0100h to FFF9h: the library refuses it, opens nothing and reports no "
                   "press."}},
    PreflightCase{"no driver", "COM2", false, false, "", nullptr,
                  "  device : not tried: without the driver the library opens nothing",
                  {"The driver does not answer, so nothing can be tested: install the driver of this io.dll (as "
                   "administrator), or on a PC without a legacy port use the comm-port io.dll."}},
    PreflightCase{"the comm-port io.dll holding its device", "COM5;3F8h", true, true, "COM5 for any UART: held",
                  nullptr, "  device : COM5 for any UART: held", {}},
    PreflightCase{"the comm-port io.dll holding none", "COM1", false, true,
                  "COM9 for any UART: not held, CreateFile failed (error 2); retrying", nullptr,
                  "  device : COM9 for any UART: not held, CreateFile failed (error 2: The system cannot find the "
                  "file specified); retrying",
                  {"The comm-port io.dll holds no device, so nothing can be tested: see its status above, and "
                   "io-ports.txt beside it.",
                   "What to do: no such port on this PC: see `zelbin-keytest --ports` for the ports it has, and name "
                   "one of them in io-ports.txt."}},
    PreflightCase{"the comm-port io.dll without a map", "COM1", false, true,
                  "no io-ports.txt beside io.dll in C:\\Host\\: put one there naming the COM port, such as 'any = COM3'",
                  nullptr,
                  "  device : no io-ports.txt beside io.dll in C:\\Host\\: put one there naming the COM port, such "
                  "as 'any = COM3'",
                  {"The comm-port io.dll holds no device, so nothing can be tested: see its status above, and "
                   "io-ports.txt beside it."}}));

// The map reads the key on a line its adapter doesn't report: said last,
// as the word the technician acts on, also while the io.dll holds the port.
TEST(PreflightWiring, AMapOnALineTheAdapterDoesNotReportIsWarnedOfLast)
{
    PreflightFacts facts;
    facts.driver = true;
    facts.commio = true;
    facts.commioStatus = "COM5 for any UART: held";
    facts.wiringWarning = "io-ports.txt line 1 reads the key on CTS of COM5, ...";
    const std::vector<std::string> lines = FormatPreflight(facts, PlanPort("com5"), FakeSystemText);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Warning: io-ports.txt line 1 reads the key on CTS of COM5, ...");
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string &l) { return l.rfind("Warning: ", 0) == 0; }),
              2); // the name's own warning, then this one
}

} // namespace
