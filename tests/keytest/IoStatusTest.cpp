// The comm-port io.dll's status text as the key tester reads it: each error
// code with the system's text beside it and the advice it calls for, and
// what it says of line events.
#include <gtest/gtest.h>

#include <string>

#include "KeyTesterTest.h"
#include "comdevices/ComDevices.h"
#include "commio/CommIo.h"
#include "commio/PortMap.h"
#include "keytest/IoStatus.h"
#include "testsupport/RefusedOpens.h"

using namespace keytest; // the key tester's own names, unqualified as in its own code

namespace {

const std::string NoSuchPort = "no such port on this PC: see `zelbin-keytest --ports` for the ports it has, and name "
                               "one of them in io-ports.txt";
const std::string InUse = "the port is in use: close the other program that holds it (a terminal, a modem or device "
                          "tool); the io.dll takes the port at its next try";
const std::string Unplugged = "the device stopped answering, as an unplugged adapter does: plug it in again; the "
                              "io.dll tries again about twice a second";
const std::string LineFormat =
    "the adapter refuses the library's line format; the key lines still work, since no data flows";

struct StatusCase {
    const char *status;
    const char *text; // null: the status as it is, no code in it the system has a text for
    std::vector<std::string> advice;
};

std::ostream &operator<<(std::ostream &os, const StatusCase &c) { return os << c.status; }

class IoStatusCases : public ::testing::TestWithParam<StatusCase> {};

TEST_P(IoStatusCases, PutsTheSystemsTextBesideEachCodeAndAdvises)
{
    const ExplainedStatus explained = ExplainIoStatus(GetParam().status, SystemTextOf);
    EXPECT_EQ(explained.text, GetParam().text ? GetParam().text : GetParam().status);
    EXPECT_EQ(explained.advice, GetParam().advice);
}

INSTANTIATE_TEST_SUITE_P(Cases, IoStatusCases, ::testing::Values(
    StatusCase{"COM5 for any UART: held", nullptr, {}},
    StatusCase{"COM9 for any UART: not held, CreateFile failed (error 2); retrying",
               "COM9 for any UART: not held, CreateFile failed (error 2: The system cannot find the file specified); "
               "retrying",
               {NoSuchPort}},
    StatusCase{"COM3 for 03F8h: not held, open failed (error 5); retrying; COM4 for 02F8h: not held, "
               "GetCommModemStatus failed (error 22); retrying; COM6 for 03E8h: not held, open failed (error 5)",
               "COM3 for 03F8h: not held, open failed (error 5: Access is denied); retrying; COM4 for 02F8h: not "
               "held, GetCommModemStatus failed (error 22: The device does not recognize the command); retrying; "
               "COM6 for 03E8h: not held, open failed (error 5: Access is denied)",
               {InUse, Unplugged}},
    // Access denied at the open is a port another program holds; from a
    // later call, a device that went away, as a removed device answers.
    // The call is the one named in the same UART's part of the text,
    // wherever that part stands.
    StatusCase{"COM5 for any UART: not held, CreateFile failed (error 5); retrying",
               "COM5 for any UART: not held, CreateFile failed (error 5: Access is denied); retrying", {InUse}},
    StatusCase{"COM5 for any UART: not held, GetCommModemStatus failed (error 5); retrying",
               "COM5 for any UART: not held, GetCommModemStatus failed (error 5: Access is denied); retrying",
               {Unplugged}},
    StatusCase{"COM5 for any UART: held, GetCommState failed (error 5)",
               "COM5 for any UART: held, GetCommState failed (error 5: Access is denied)", {Unplugged}},
    StatusCase{"COM4 for 02F8h: not held, GetCommModemStatus failed (error 5); retrying; COM3 for 03F8h: not held, "
               "open failed (error 5); retrying",
               "COM4 for 02F8h: not held, GetCommModemStatus failed (error 5: Access is denied); retrying; COM3 for "
               "03F8h: not held, open failed (error 5: Access is denied); retrying",
               {Unplugged, InUse}},
    StatusCase{"COM3 for 03F8h: not held, open failed (error 5); retrying; COM4 for 02F8h: not held, "
               "GetCommModemStatus failed (error 5)",
               "COM3 for 03F8h: not held, open failed (error 5: Access is denied); retrying; COM4 for 02F8h: not "
               "held, GetCommModemStatus failed (error 5: Access is denied)",
               {InUse, Unplugged}},
    StatusCase{"COM2 for 02F8h: not held, CreateFile failed (error 2); retrying; COM4 for 02E8h: held, SetCommState "
               "failed (error 5); COM6 for 03E8h: not held, open failed (error 5)",
               "COM2 for 02F8h: not held, CreateFile failed (error 2: The system cannot find the file specified); "
               "retrying; COM4 for 02E8h: held, SetCommState failed (error 5: Access is denied); COM6 for 03E8h: not "
               "held, open failed (error 5: Access is denied)",
               {NoSuchPort, Unplugged, InUse}},
    // A sharing violation says the same of the open, as the port list and
    // the search read it, and nothing of a later call.
    StatusCase{"COM5 for any UART: not held, CreateFile failed (error 32); retrying", nullptr, {InUse}},
    StatusCase{"COM5 for any UART: not held, SetCommState failed (error 32); retrying", nullptr, {}},
    // One line for each kind of advice, however many codes call for it.
    StatusCase{"COM2 for 02F8h: not held, open failed (error 2); COM3 for 03F8h: not held, open failed (error 3); "
               "COM4 for 02E8h: not held, open failed (error 123)",
               "COM2 for 02F8h: not held, open failed (error 2: The system cannot find the file specified); COM3 for "
               "03F8h: not held, open failed (error 3); COM4 for 02E8h: not held, open failed (error 123)",
               {NoSuchPort}},
    // A code the system has no text for keeps its number alone.
    StatusCase{"COM5 for any UART: held, 2400 baud refused by SetCommState (error 87)", nullptr, {LineFormat}},
    StatusCase{"COM5 for any UART: not held, open failed (error 4242); retrying", nullptr, {}},
    // Only a whole "(error N)" of up to nine digits is a code.
    StatusCase{"io-ports.txt line 2: unknown device '(error 2'", nullptr, {}},
    StatusCase{"x (error ) y (error 2x) z (error 2)",
               "x (error ) y (error 2x) z (error 2: The system cannot find the file specified)", {NoSuchPort}},
    StatusCase{"open failed (error 000000005)", "open failed (error 000000005: Access is denied)", {InUse}},
    StatusCase{"open failed (error 0000000005)", nullptr, {}},
    StatusCase{"open failed (error 5", nullptr, {}},
    StatusCase{"open failed (error 5) (error", "open failed (error 5: Access is denied) (error", {InUse}},
    StatusCase{"", nullptr, {}}));

// Each code's advice, also without the system's texts.
TEST(IoStatusAdvice, EachCodeGetsItsAdvice)
{
    const struct {
        unsigned long code;
        std::string advice; // empty: none
    } cases[] = {
        {2, NoSuchPort}, {3, NoSuchPort},   {123, NoSuchPort},  {6, Unplugged},     {22, Unplugged},
        {31, Unplugged}, {995, Unplugged},  {1167, Unplugged},  {1617, Unplugged},  {87, LineFormat},
        {1, ""},         {4, ""},           {124, ""},          {1618, ""},
    };
    for (const auto &c : cases) {
        const std::string status = "COM5 for any UART: not held, SetCommState failed (error " +
                                   std::to_string(c.code) + "); retrying";
        const ExplainedStatus explained = ExplainIoStatus(status, nullptr);
        EXPECT_EQ(explained.text, status);
        EXPECT_EQ(explained.advice, c.advice.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.advice})
            << c.code;
    }
}

// An adapter named by its identity and found, whose open then fails: the
// io.dll's own status text still names the call and its code, so the advice
// for that code follows, as it does for a port named by its COM name. And
// an identity that several ports carry, with a COM name beside it that is
// none of them: nothing is opened, and the text says to give the serial
// number, with no advice about a code.
TEST(IoStatusAdvice, FollowsTheIoDllsTextForAnAdapterNamedByItsIdentity)
{
    const struct {
        const char *map;
        std::vector<std::pair<const char *, const char *>> ports; // COM name, instance ID
        std::uint32_t refused;                                     // the open's code on COM9, 0: none
        std::string status;
        std::vector<std::string> advice;
    } cases[] = {
        {"any = usb=0403:6001:A1B2C3", {{"COM9", "USB\\VID_0403&PID_6001\\A1B2C3"}}, 5,
         "usb=0403:6001:A1B2C3 on COM9 for any UART: not held, CreateFile failed (error 5); retrying", {InUse}},
        {"any = usb=0403:6001:A1B2C3 COM5", {{"COM9", "USB\\VID_0403&PID_6001\\A1B2C3"}}, 32,
         "usb=0403:6001:A1B2C3 on COM9 for any UART: not held, CreateFile failed (error 32); retrying", {InUse}},
        {"any = usb=0403:6001:A1B2C3", {{"COM9", "USB\\VID_0403&PID_6001\\A1B2C3"}}, 2,
         "usb=0403:6001:A1B2C3 on COM9 for any UART: not held, CreateFile failed (error 2); retrying", {NoSuchPort}},
        {"any = usb=0403:6001 COM7",
         {{"COM9", "USB\\VID_0403&PID_6001\\A1"}, {"COM8", "USB\\VID_0403&PID_6001\\B2"},
          {"COM7", "USB\\VID_2341&PID_0043\\99"}},
         0, "usb=0403:6001 (2 ports carry it: give its serial number) for any UART: not held; retrying", {}},
    };
    for (const auto &c : cases) {
        sim::ComDevices devices;
        testsupport::RefusedOpens api(devices);
        if (c.refused)
            api.refused["COM9"] = c.refused;
        for (const auto &port : c.ports)
            devices.PlugAdapter(port.first, port.second);
        commio::CommIo io(api);
        const commio::PortMapResult map = commio::ParsePortMap(c.map);
        ASSERT_EQ(map.error, "") << c.map;
        io.Configure(map.uarts);
        EXPECT_EQ(io.IsDriverInstalled(), 0) << c.map;
        EXPECT_EQ(io.Status(), c.status) << c.map;
        EXPECT_EQ(ExplainIoStatus(io.Status(), nullptr).advice, c.advice) << c.map;
    }
}

struct EventsCase {
    const char *name;
    const char *status;
    bool watched, refused;
    unsigned long recovered, refreshFinds;
};

// Printed by its name, not its bytes (padding included).
std::ostream &operator<<(std::ostream &os, const EventsCase &c) { return os << c.name; }

class LineEventsText : public ::testing::TestWithParam<EventsCase> {};

TEST_P(LineEventsText, AreReadFromTheStatus)
{
    const LineEventsStatus events = ReadLineEvents(GetParam().status);
    EXPECT_EQ(events.watched, GetParam().watched);
    EXPECT_EQ(events.refused, GetParam().refused);
    EXPECT_EQ(events.recovered, GetParam().recovered);
    EXPECT_EQ(events.refreshFinds, GetParam().refreshFinds);
}

INSTANTIATE_TEST_SUITE_P(Table, LineEventsText, ::testing::Values(
    EventsCase{"Watched", "COM5 for any UART: held, line events watched", true, false, 0, 0},
    EventsCase{"WithCounts", "COM5 for any UART: held, line events watched; 12 edges recovered between polls, "
                             "3 changes found only by refresh", true, false, 12, 3},
    EventsCase{"Refused", "COM5 for any UART: held, line events refused by SetCommMask (error 1), lines read at "
                          "every poll", false, true, 0, 0},
    EventsCase{"OlderIoDll", "COM5 for any UART: held", false, false, 0, 0},
    EventsCase{"NoNumber", "x; edges recovered between polls", false, false, 0, 0},
    EventsCase{"Empty", "", false, false, 0, 0}),
    [](const ::testing::TestParamInfo<EventsCase> &p) { return std::string(p.param.name); });

} // namespace
