// The poll path and the host's toggles allocate nothing, nor do reading a
// port map, good or bad, the status text and each UART's record: every
// allocation of this test program is counted.
#include "CommIoTest.h"
#include "testsupport/Allocations.h"

namespace {

TEST_F(CommIoTest, PollsAndTogglesAllocateNothing)
{
    Claimed();
    LibrarySetUp(0x3F8);
    devices.SetRecording(false); // the simulator's record allocates; the core must not
    const long before = testsupport::AllocationCount();
    for (int i = 0; i < 1000; ++i) {
        devices.SetInput("COM5", uart::ModemLine::Cts, i % 7 == 0);
        if (io.IsDriverInstalled())
            io.GetPortBit(0x3FE, 4);
        if (i % 100 == 0)
            (i % 200 ? io.ClrPortBit(0x3FC, 0) : io.SetPortBit(0x3FC, 0));
    }
    EXPECT_EQ(testsupport::AllocationCount() - before, 0);
    EXPECT_EQ(devices.ModemStatusCalls(), 1000u);
}

TEST_F(CommIoTest, ReadingAMapAndTheStatusAllocateNothing)
{
    const char *const maps[] = {
        "any = COM5",
        "# a comment\r\n3F8 = COM3 line=DSR invert debounce=20\r\nany = usb=0403:6001:A1B2C3 COM5\r\n",
        "2F8 = \\\\.\\CNCA0\n3F8h = COM256\nany = usb=1A86:7523\n",
        "any = COM5 debounce=300",                 // an option's value
        "3F8 = COM3\n3F8 = COM4",                  // a conflict, with the line it is on
        "any = usb=0403:6001:A1B2C3\nany = COM5", // a second 'any'
        "3F8 = COM3 colour=blue",                   // an unknown option
        "3F8 = COM3 linr=DSR",                       // a mistyped option, with the one meant
        "any = COM5 debounce = 20",                  // blanks around '='
        "# Schl\xC3\xBCssel an COM5\nany = COM5 # \xE9\n", // comments in UTF-8 and a code page
        "any = COM5 \xC3\xA9",                      // other text outside a comment
        "\xFF\xFE" "a",                              // UTF-16
        "",                                          // no device
    };
    devices.SetRecording(false);
    const long before = testsupport::AllocationCount();
    for (const char *text : maps) {
        const commio::PortMapResult map = commio::ParsePortMap(text);
        if (map.error.empty())
            io.Configure(map.uarts);
        else
            io.ConfigureFailed(map.error.c_str());
        EXPECT_NE(*io.Status(), '\0') << text;
        CommIoUart record{};
        record.size = sizeof record;
        for (std::uint32_t i = 0; i < io.UartStatus(0, nullptr); ++i)
            EXPECT_EQ(io.UartStatus(i, &record), map.uarts.size()) << text;
    }
    EXPECT_EQ(testsupport::AllocationCount() - before, 0);
}

} // namespace
