// The key tester window's controller over a fake of Windows: the port
// list's texts, the io.dll line, and the search for the key as the window
// runs it (libraries given back, the question, the map written or not,
// the libraries loaded again).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comdevices/ComDevices.h"
#include "keytest/KeyWindowController.h"

using namespace keytest; // the key tester's own names, unqualified as in its own code

namespace {

using portsetup::PortAccess;
using portsetup::PortInfo;

class IdleTarget final : public KeyTestTarget {
public:
    void StartListen(const char *) override {}
    bool IsZBToggle() override { return false; }
    void SetToggled(bool) override {}
    void StopListen() override {}
    bool DriverAnswers() override { return false; }
    LineLevels ReadLines(std::uint16_t) override { return {}; }
    bool UartAnswers(std::uint16_t) override { return false; }
    IoDllStatus IoStatus() override { return {}; }
};

struct FakeHost final : WindowHost {
    std::string loadError;
    IoDescription io;
    std::vector<PortInfo> ports;
    sim::ComDevices devices;
    bool answer = true;
    int loads = 0, unloads = 0, lists = 0;
    std::vector<std::string> asked;
    std::vector<std::string> written; // the port of each finding written, and the base asked for
    std::string mapPath = "C:\\Host\\io-ports.txt";
    IdleTarget target;

    std::string LoadLibraries() override { return ++loads, loadError; }
    void UnloadLibraries() override { ++unloads; }
    KeyTestTarget &Target() override { return target; }
    IoDescription DescribeIo() override { return io; }
    std::vector<PortInfo> ListAndProbePorts(std::string &) override { return ++lists, ports; }
    std::vector<PortInfo> PortsToSearch() override { return ports; }
    commio::CommApi &Serial() override { return devices; }
    std::uint32_t Ticks() override { return devices.Ticks(); }
    bool Ask(const std::string &, const std::string &question) override { return asked.push_back(question), answer; }
    std::string MapPath() override { return mapPath; }
    bool WriteMap(const portsetup::Finding &finding, std::optional<std::uint16_t> base,
                  const std::function<void(const std::string &)> &print) override
    {
        written.push_back(finding.port + (base ? " for " + HexBase(*base) : ""));
        print("Wrote " + MapPath());
        return true;
    }
    std::vector<std::string> Preflight(const PortPlan &) override { return {}; }
    SystemText SystemMessages() override
    {
        return [](unsigned long code) { return code == 2 ? std::string("File not found") : std::string(); };
    }
};

CommIoUart NotOpened()
{
    CommIoUart uart{};
    uart.link = COMMIO_LINK_NOT_HELD;
    uart.failedCall = COMMIO_CALL_CREATE_FILE;
    uart.error = 2;
    return uart;
}

PortInfo Port(const char *name, const char *friendly, PortAccess access, std::uint32_t error, int mapLine)
{
    PortInfo port;
    port.name = name;
    port.friendlyName = friendly;
    port.access = access;
    port.accessError = error;
    port.mapLine = mapLine;
    return port;
}

TEST(KeyWindowController, ListsThePortsAsTheConsoleNamesThem)
{
    FakeHost host;
    host.ports = {Port("COM1", "", PortAccess::NotSerial, 1, 0),
                  Port("COM5", "USB Serial Port (COM5)", PortAccess::Free, 0, 2),
                  Port("COM6", "Communications Port (COM6)", PortAccess::Held, 5, 0)};
    KeyWindowModel model;
    KeyWindowController controller(host, model);
    controller.LoadAndList();
    EXPECT_EQ(controller.PortItems(),
              (std::vector<std::string>{
                  "COM1  (opens, but is not a serial port (error 1 at its settings))",
                  "COM5  USB Serial Port (COM5)  (free)  io-ports.txt line 2",
                  "COM6  Communications Port (COM6)  (held by another program (a host or terminal has it open: "
                  "close it first))"}));
    EXPECT_EQ(host.lists, 1);
}

// What the window shows picked as it opens, and the parameter text each
// port gives: the library's own names for COM1 to COM4, the base of a port's
// map line, else the library's default base; so that Start tests what the
// host would.
TEST(KeyWindowController, PicksTheMappedPortAndGivesItsParameters)
{
    const auto mapped = [](PortInfo port, std::uint16_t base) {
        port.mapBase = base;
        return port;
    };
    const struct {
        const char *name;
        std::vector<PortInfo> ports;
        int first;
        std::vector<std::string> parameters;
    } cases[] = {
        {"nothing mapped: the first free port",
         {Port("COM1", "", PortAccess::NotSerial, 1, 0), Port("COM2", "", PortAccess::Free, 0, 0),
          Port("COM5", "USB Serial Port (COM5)", PortAccess::Free, 0, 0)},
         1, {"COM1", "COM2", "COM5;3F8h"}},
        {"the port of the map's first line",
         {Port("COM2", "", PortAccess::Free, 0, 0), mapped(Port("COM12", "", PortAccess::Held, 5, 3), 0x2F8),
          Port("COM5", "", PortAccess::Free, 0, 1)},
         2, {"COM2", "COM12;2F8h", "COM5;3F8h"}},
        {"none to pick", {Port("COM6", "", PortAccess::Held, 5, 0)}, -1, {"COM6;3F8h"}},
    };
    for (const auto &c : cases) {
        FakeHost host;
        host.ports = c.ports;
        KeyWindowModel model;
        KeyWindowController controller(host, model);
        controller.LoadAndList();
        EXPECT_EQ(controller.FirstPort(), c.first) << c.name;
        std::vector<std::string> parameters;
        for (std::size_t i = 0; i < c.ports.size(); ++i)
            parameters.push_back(controller.ParametersFor(i));
        EXPECT_EQ(parameters, c.parameters) << c.name;
        EXPECT_EQ(controller.ParametersFor(c.ports.size()), "") << c.name;
    }
}

TEST(KeyWindowController, SaysWhichIoDllIsLoadedOrWhyNothingCanBeTested)
{
    const struct {
        const char *name;
        std::string loadError;
        IoDescription io;
        std::string line;
        bool leadWithFind; // nothing held: Find first
    } cases[] = {
        {"nothing loaded", "cannot load C:\\Host\\Zelbin_Serial.dll: Module not found (error 126)", {},
         "Cannot test: cannot load C:\\Host\\Zelbin_Serial.dll: Module not found (error 126)", false},
        {"the stand-in",
         "",
         {"C:\\Host\\io.dll", "stand-in io.dll: a simulated PC, no hardware", true, false, {}},
         "io.dll: C:\\Host\\io.dll (stand-in io.dll: a simulated PC, no hardware), driver answers", false},
        {"the comm-port io.dll holding nothing",
         "",
         {"C:\\Host\\io.dll", "commio io.dll, over the Windows serial driver", false, true,
          {"COM9 for any UART: not held, CreateFile failed (error 2); retrying", {NotOpened()}}},
         "io.dll: C:\\Host\\io.dll (commio io.dll, over the Windows serial driver), driver does not answer; COM9 for "
         "any UART: not held, CreateFile failed (error 2: File not found); retrying\nWhat to do: the port is not "
         "there now: plug the adapter in; if it is plugged in, `zelbin-keytest --ports` lists the ports this PC "
         "has: name one of them in io-ports.txt.",
         true},
        {"the comm-port io.dll without a map",
         "",
         {"C:\\Host\\io.dll", "commio io.dll, over the Windows serial driver", false, true,
          {"no io-ports.txt beside io.dll in C:\\Host\\", {}}},
         "io.dll: C:\\Host\\io.dll (commio io.dll, over the Windows serial driver), driver does not answer; no "
         "io-ports.txt beside io.dll in C:\\Host\\",
         true},
    };
    for (const auto &c : cases) {
        FakeHost host;
        host.loadError = c.loadError;
        host.io = c.io;
        KeyWindowModel model;
        KeyWindowController controller(host, model);
        controller.LoadAndList();
        EXPECT_EQ(controller.Loaded(), c.loadError.empty()) << c.name;
        EXPECT_EQ(controller.IoLine(), c.line) << c.name;
        EXPECT_EQ(controller.LeadWithFind(), c.leadWithFind) << c.name;
    }
}

// The search as the window runs it, with a key on COM5's DSR pressed three
// times: the libraries are given back first, and loaded again (with the
// ports listed again) however the search ends; the map line is offered
// only for a key found by a search that ran to its end, and written only
// when the technician says yes.
TEST(KeyWindowController, SearchGivesTheLibrariesBackAndOffersTheMapLine)
{
    const struct {
        const char *name;
        bool pressed;       // the key pressed three times
        const char *stopped; // null: the search runs to its end
        bool answer;
        bool asked, written;
        const char *parameters; // in the window's field as the search ends
        const char *found;      // the parameters for a test of the key found
    } cases[] = {
        {"found, and yes", true, nullptr, true, true, true, "", "COM5;3F8h"},
        {"found, and yes, for the UART the parameters name", true, nullptr, true, true, true, "COM5;2F8h",
         "COM5;2F8h"},
        {"found, and no", true, nullptr, false, true, false, "", "COM5;3F8h"},
        {"found, but stopped", true, "Stopped. ", true, false, false, "", ""},
        {"nothing pressed", false, nullptr, true, false, false, "", ""},
    };
    for (const auto &c : cases) {
        FakeHost host;
        host.answer = c.answer;
        host.ports = {Port("COM5", "USB Serial Port (COM5)", PortAccess::Unknown, 0, 0)};
        host.devices.Plug("COM5");
        KeyWindowModel model;
        KeyWindowController controller(host, model);
        controller.LoadAndList();
        controller.StartFind({3, 6});
        EXPECT_EQ(host.unloads, 1) << c.name;
        EXPECT_FALSE(controller.Loaded()) << c.name << ": a test can't start while the libraries are away";
        EXPECT_EQ(model.CurrentPhase(), KeyWindowModel::Phase::Finding) << c.name;
        EXPECT_EQ(model.StatusText(), "Press the key 3 times now, briefly, with a pause between.") << c.name;
        bool over = false;
        for (std::uint32_t now = 0; now <= 7000 && !over && !(c.stopped && now == 2000); now += 10) {
            for (std::uint32_t press = 500; c.pressed && press <= 1700; press += 600) {
                if (now == press)
                    host.devices.SetInput("COM5", uart::ModemLine::Dsr, true);
                if (now == press + 200)
                    host.devices.SetInput("COM5", uart::ModemLine::Dsr, false);
            }
            over = controller.PollFind();
            host.devices.Advance(10);
        }
        EXPECT_EQ(over, !c.stopped) << c.name;
        controller.EndFind(c.stopped ? c.stopped : "", c.parameters);
        EXPECT_FALSE(controller.Searching()) << c.name;
        EXPECT_EQ(host.devices.HandlesHeld(), 0u) << c.name;
        EXPECT_EQ(host.asked, c.asked ? std::vector<std::string>{"Write the key found to C:\\Host\\io-ports.txt?\n\n"
                                                                 "line 5 added, 'any = COM5 line=DSR': COM5 carries "
                                                                 "the key."}
                                      : std::vector<std::string>{})
            << c.name;
        const std::string written = std::string("COM5") + (*c.parameters ? " for 02F8h" : "");
        EXPECT_EQ(host.written, c.written ? std::vector<std::string>{written} : std::vector<std::string>{}) << c.name;
        EXPECT_EQ(controller.FoundParameters(), c.found) << c.name;
        EXPECT_EQ(host.loads, 2) << c.name;
        EXPECT_EQ(host.lists, 2) << c.name;
        EXPECT_TRUE(controller.Loaded()) << c.name;
        EXPECT_NE(model.CurrentPhase(), KeyWindowModel::Phase::Finding) << c.name;
    }
}

// Closing the window during a search: the ports given back, nothing asked,
// nothing loaded again.
TEST(KeyWindowController, AbandonedSearchGivesThePortsBackAndLoadsNothing)
{
    FakeHost host;
    host.ports = {Port("COM5", "", PortAccess::Unknown, 0, 0)};
    host.devices.Plug("COM5");
    KeyWindowModel model;
    KeyWindowController controller(host, model);
    controller.LoadAndList();
    controller.StartFind({});
    EXPECT_GT(host.devices.HandlesHeld(), 0u);
    controller.AbandonFind();
    EXPECT_EQ(host.devices.HandlesHeld(), 0u);
    EXPECT_TRUE(host.asked.empty());
    EXPECT_EQ(host.loads, 1);
}

} // namespace
