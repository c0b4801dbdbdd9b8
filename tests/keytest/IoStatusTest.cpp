// The comm-port io.dll's status as the key tester reads it: the text for
// people, with the system's message beside each code, and what the tester
// concludes (advice, line events) from the io.dll's records alone, however
// the text is worded.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "KeyTesterTest.h"
#include "comdevices/ComDevices.h"
#include "commio/CommIo.h"
#include "commio/PortMap.h"
#include "keytest/IoStatus.h"
#include "testsupport/RefusedOpens.h"

using namespace keytest; // the key tester's own names, unqualified as in its own code

namespace {

const std::string NotThere = "the port is not there now: plug the adapter in; if it is plugged in, `zelbin-keytest "
                             "--ports` lists the ports this PC has: name one of them in io-ports.txt";
const std::string InUse = "the port is in use: close the other program that holds it (a terminal, a modem or device "
                          "tool); the io.dll takes the port at its next try";
const std::string Unplugged = "the device stopped answering, as an unplugged adapter does: plug it in again; the "
                              "io.dll tries again about twice a second";
const std::string LineFormat =
    "the adapter refuses the library's line format; the key lines still work, since no data flows";
const std::string AdapterAway = "the adapter is not there now: plug the adapter in; the io.dll looks for it about "
                                "twice a second";

// ---- The text, for people ----------------------------------------------------

// Each whole "(error N)" of up to nine digits gets the system's text; other
// text is kept as it is, and a text alone calls for no advice.
TEST(IoStatusText, PutsTheSystemsTextBesideEachCode)
{
    const struct {
        const char *status;
        const char *text; // null: as it is
    } cases[] = {
        {"COM5 for any UART: held", nullptr},
        {"COM9 for any UART: not held, CreateFile failed (error 2); retrying",
         "COM9 for any UART: not held, CreateFile failed (error 2: The system cannot find the file specified); "
         "retrying"},
        {"COM3 for 03F8h: not held, open failed (error 5); COM4 for 02F8h: held, 2400 baud refused by "
         "SetCommState (error 22)",
         "COM3 for 03F8h: not held, open failed (error 5: Access is denied); COM4 for 02F8h: held, 2400 baud "
         "refused by SetCommState (error 22: The device does not recognize the command)"},
        {"COM5 for any UART: not held, open failed (error 4242); retrying", nullptr}, // no text for the code
        {"io-ports.txt line 2: unknown device '(error 2'", nullptr},
        {"x (error ) y (error 2x) z (error 2)",
         "x (error ) y (error 2x) z (error 2: The system cannot find the file specified)"},
        {"open failed (error 000000005)", "open failed (error 000000005: Access is denied)"},
        {"open failed (error 0000000005)", nullptr},
        {"open failed (error 5", nullptr},
        {"open failed (error 5) (error", "open failed (error 5: Access is denied) (error"},
        {"", nullptr},
    };
    for (const auto &c : cases) {
        const ExplainedStatus explained = ExplainIoStatus({c.status, {}}, SystemTextOf);
        EXPECT_EQ(explained.text, c.text ? c.text : c.status);
        EXPECT_EQ(explained.advice, std::vector<std::string>{}) << c.status;
    }
}

// ---- The advice, from the records -------------------------------------------

CommIoUart Record(std::uint8_t link, std::uint32_t call, std::uint32_t error)
{
    CommIoUart uart{};
    uart.size = sizeof uart;
    uart.link = link;
    uart.failedCall = call;
    uart.error = error;
    return uart;
}

// Each code's advice: at the open, a code says whether the port is there
// and whether another program holds it; from a later call, the codes a
// removed device answers with.
TEST(IoStatusAdvice, EachRecordGetsTheAdviceItsCodeCallsFor)
{
    const struct {
        std::uint8_t link;
        std::uint32_t call, code;
        std::string advice; // empty: none
    } cases[] = {
        {COMMIO_LINK_NOT_HELD, COMMIO_CALL_CREATE_FILE, 2, NotThere},
        {COMMIO_LINK_NOT_HELD, COMMIO_CALL_CREATE_FILE, 3, NotThere},
        {COMMIO_LINK_NOT_HELD, COMMIO_CALL_CREATE_FILE, 123, NotThere},
        {COMMIO_LINK_NOT_HELD, COMMIO_CALL_CREATE_FILE, 5, InUse},
        {COMMIO_LINK_NOT_HELD, COMMIO_CALL_CREATE_FILE, 32, InUse},
        {COMMIO_LINK_NOT_HELD, COMMIO_CALL_GET_COMM_MODEM_STATUS, 5, Unplugged},
        {COMMIO_LINK_NOT_HELD, COMMIO_CALL_SET_COMM_STATE, 32, ""},
        {COMMIO_LINK_NOT_HELD, COMMIO_CALL_WAIT_COMM_EVENT, 1167, Unplugged},
        {COMMIO_LINK_NOT_HELD, COMMIO_CALL_ESCAPE_COMM_FUNCTION, 6, Unplugged},
        {COMMIO_LINK_NOT_HELD, COMMIO_CALL_GET_COMM_STATE, 22, Unplugged},
        {COMMIO_LINK_NOT_HELD, COMMIO_CALL_GET_COMM_MODEM_STATUS, 31, Unplugged},
        {COMMIO_LINK_NOT_HELD, COMMIO_CALL_GET_COMM_MODEM_STATUS, 995, Unplugged},
        {COMMIO_LINK_NOT_HELD, COMMIO_CALL_GET_COMM_MODEM_STATUS, 1617, Unplugged},
        {COMMIO_LINK_HELD, COMMIO_CALL_SET_COMM_STATE, 87, LineFormat},
        {COMMIO_LINK_HELD, COMMIO_CALL_SET_COMM_STATE, 5, Unplugged},
        {COMMIO_LINK_NOT_HELD, COMMIO_CALL_CREATE_FILE, 1, ""},
        {COMMIO_LINK_NOT_HELD, COMMIO_CALL_CREATE_FILE, 4242, ""},
        {COMMIO_LINK_HELD, COMMIO_CALL_NONE, 0, ""},
        {COMMIO_LINK_NOT_YET_OPENED, COMMIO_CALL_NONE, 0, ""},
    };
    for (const auto &c : cases) {
        const ExplainedStatus explained = ExplainIoStatus({"", {Record(c.link, c.call, c.code)}}, nullptr);
        EXPECT_EQ(explained.advice, c.advice.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.advice})
            << "call " << c.call << ", error " << c.code;
    }
}

// One line for each kind of advice, in the order the UARTs come, however
// many records call for it.
TEST(IoStatusAdvice, OneLineForEachKindInOrder)
{
    const ExplainedStatus explained = ExplainIoStatus(
        {"", {Record(COMMIO_LINK_NOT_HELD, COMMIO_CALL_GET_COMM_MODEM_STATUS, 5),
              Record(COMMIO_LINK_NOT_HELD, COMMIO_CALL_CREATE_FILE, 2), Record(COMMIO_LINK_HELD, COMMIO_CALL_NONE, 0),
              Record(COMMIO_LINK_NOT_HELD, COMMIO_CALL_CREATE_FILE, 3),
              Record(COMMIO_LINK_NOT_HELD, COMMIO_CALL_CREATE_FILE, 32)}},
        nullptr);
    EXPECT_EQ(explained.advice, (std::vector<std::string>{Unplugged, NotThere, InUse}));
}

// ---- The real io.dll core's records, whatever its text says ---------------------

// A set-up of the io.dll's core over simulated COM devices, and what the
// tester makes of its records: the advice, and the line events.
struct Scene {
    const char *name;
    const char *map;
    std::function<void(sim::ComDevices &, testsupport::RefusedOpens &)> before; // before the first claim
    std::function<void(commio::CommIo &, sim::ComDevices &)> after;             // after it
    std::vector<std::string> advice;
    std::string events; // DescribeLineEvents of the records
};

std::ostream &operator<<(std::ostream &os, const Scene &s) { return os << s.name; }

void Plug(sim::ComDevices &devices, const char *name, bool events)
{
    devices.Plug(name).refuseEvents = events ? 0 : commio::ErrorNotSupported;
}

constexpr std::uint16_t Msr = 0x3FE;

const Scene kScenes[] = {
    {"held, events watched", "any = COM5", [](auto &d, auto &) { Plug(d, "COM5", true); }, nullptr, {},
     "watched (a poll makes no device call unless a line changed), 0 edges recovered between polls"},
    {"held, no events", "any = COM5", [](auto &d, auto &) { Plug(d, "COM5", false); }, nullptr, {},
     "not watched: one modem status read per poll, 0 edges recovered between polls"},
    {"held, events refused", "any = COM5",
     [](auto &d, auto &) { d.Plug("COM5").refuseEvents = commio::ErrorInvalidFunction; }, nullptr, {},
     "refused by the driver: one modem status read per poll, 0 edges recovered between polls"},
    {"a tap between two polls, and a change only the refresh found", "any = COM5",
     [](auto &d, auto &) { d.Plug("COM5").refuseEvents = 0; },
     [](commio::CommIo &io, sim::ComDevices &d) {
         io.GetPortBit(Msr, 4);
         d.SetInput("COM5", uart::ModemLine::Cts, true); // a tap the driver tells, between two polls
         d.SetInput("COM5", uart::ModemLine::Cts, false);
         io.GetPortBit(Msr, 4);
         io.GetPortBit(Msr, 4);
         d.Find("COM5")->silent = true; // then a driver that tells nothing
         io.GetPortBit(Msr, 4);
         d.SetInput("COM5", uart::ModemLine::Cts, true);
         for (int read = 0; read < commio::CommIo::RefreshReads; ++read)
             io.GetPortBit(Msr, 4);
     },
     {},
     "watched (a poll makes no device call unless a line changed), 1 edge recovered between polls, 1 change "
     "found only by the refresh (the driver did not signal them)"},
    {"no such port", "any = COM9", [](auto &, auto &) {}, nullptr, {NotThere},
     "not watched: one modem status read per poll, 0 edges recovered between polls"},
    {"held by another program", "any = COM5",
     [](auto &d, auto &api) {
         Plug(d, "COM5", true);
         api.refused["COM5"] = commio::ErrorSharingViolation;
     },
     nullptr, {InUse}, "not watched: one modem status read per poll, 0 edges recovered between polls"},
    {"unplugged while held", "any = COM5", [](auto &d, auto &) { Plug(d, "COM5", false); },
     [](commio::CommIo &io, sim::ComDevices &d) {
         d.Unplug("COM5");
         io.GetPortBit(Msr, 4);
     },
     {Unplugged}, "not watched: one modem status read per poll, 0 edges recovered between polls"},
    {"a rate the adapter refuses", "any = COM5",
     [](auto &d, auto &) {
         Plug(d, "COM5", true);
         d.Find("COM5")->maxBaud = 1200;
     },
     [](commio::CommIo &io, sim::ComDevices &) {
         io.PortOut(0x3FB, 0x80);
         io.PortOut(0x3F8, 0x30);
         io.PortOut(0x3FB, 0x0B);
     },
     {LineFormat}, "watched (a poll makes no device call unless a line changed), 0 edges recovered between polls"},
    {"an adapter no port carries", "any = usb=0403:6001:A1B2C3",
     [](auto &d, auto &) { d.PlugAdapter("COM8", "USB\\VID_2341&PID_0043\\99"); }, nullptr, {AdapterAway},
     "not watched: one modem status read per poll, 0 edges recovered between polls"},
    {"an adapter found, its open refused", "any = usb=0403:6001:A1B2C3",
     [](auto &d, auto &api) {
         d.PlugAdapter("COM9", "USB\\VID_0403&PID_6001\\A1B2C3");
         api.refused["COM9"] = commio::ErrorAccessDenied;
     },
     nullptr, {InUse}, "not watched: one modem status read per poll, 0 edges recovered between polls"},
    {"several adapters with its IDs", "any = usb=0403:6001 COM7",
     [](auto &d, auto &) {
         d.PlugAdapter("COM9", "USB\\VID_0403&PID_6001\\A1");
         d.PlugAdapter("COM8", "USB\\VID_0403&PID_6001\\B2");
         d.PlugAdapter("COM7", "USB\\VID_2341&PID_0043\\99");
     },
     nullptr, {}, "not watched: one modem status read per poll, 0 edges recovered between polls"},
    {"two UARTs, one held, one missing, one in use", "3F8 = COM5\n2F8 = COM6\nany = COM7",
     [](auto &d, auto &api) {
         Plug(d, "COM5", true);
         Plug(d, "COM7", true);
         api.refused["COM7"] = commio::ErrorAccessDenied;
     },
     nullptr, {NotThere, InUse},
     "watched (a poll makes no device call unless a line changed), 0 edges recovered between polls"},
};

// Every word of the text reworded (each letter moved 13 places on), as a
// new version or another language might word it: digits, spaces and
// punctuation stay.
std::string Reworded(std::string text)
{
    for (char &c : text)
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
            c = static_cast<char>((c >= 'a' ? 'a' : 'A') + ((c >= 'a' ? c - 'a' : c - 'A') + 13) % 26);
    return text;
}

class IoDllRecords : public ::testing::TestWithParam<Scene> {};

TEST_P(IoDllRecords, GiveTheSameAdviceAndEventsWhateverTheTextSays)
{
    const Scene &scene = GetParam();
    sim::ComDevices devices;
    testsupport::RefusedOpens api(devices);
    scene.before(devices, api);
    commio::CommIo io(api);
    const commio::PortMapResult map = commio::ParsePortMap(scene.map);
    ASSERT_EQ(map.error, "") << scene.map;
    io.Configure(map.uarts);
    io.IsDriverInstalled();
    if (scene.after)
        scene.after(io, devices);
    IoDllStatus status;
    status.text = io.Status();
    status.uarts = ReadUartRecords([&io](std::uint32_t i, CommIoUart *u) { return io.UartStatus(i, u); });
    ASSERT_EQ(status.uarts.size(), map.uarts.size());
    for (const std::string &text : {status.text, Reworded(status.text), std::string()}) {
        const IoDllStatus said{text, status.uarts};
        EXPECT_EQ(ExplainIoStatus(said, SystemTextOf).advice, scene.advice) << "said: " << text;
        EXPECT_EQ(DescribeLineEvents(ReadLineEvents(said.uarts)), scene.events) << "said: " << text;
    }
    io.Release();
}

INSTANTIATE_TEST_SUITE_P(Scenes, IoDllRecords, ::testing::ValuesIn(kScenes));

// An io.dll with no records (the stand-in, another port-I/O library, or an
// older comm-port io.dll that gives the text alone): no advice and no line
// events are made up from its text, and reading stops at a sane count
// whatever an io.dll answers.
TEST(IoDllRecordsRead, NoneFromAnIoDllWithoutThemAndAtMostTheLimit)
{
    const ExplainedStatus explained =
        ExplainIoStatus({"COM9 for any UART: not held, CreateFile failed (error 2); retrying", {}}, nullptr);
    EXPECT_EQ(explained.advice, std::vector<std::string>{});
    std::uint32_t calls = 0;
    const std::vector<CommIoUart> many = ReadUartRecords([&calls](std::uint32_t, CommIoUart *u) {
        ++calls;
        u->link = COMMIO_LINK_HELD;
        return 0xFFFFFFFFu;
    });
    EXPECT_EQ(many.size(), MaxUartRecords);
    EXPECT_EQ(calls, MaxUartRecords + 1);
}

} // namespace
