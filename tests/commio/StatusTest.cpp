// The io.dll's status records, as a program built apart reads them: only as
// many bytes as the caller says its record has, the size then what was
// filled; and each field as the map and the device have it.
#include <cstring>

#include "CommIoTest.h"

namespace {

constexpr unsigned char Untouched = 0xA5;

CommIoUart Sentinel(std::uint32_t size)
{
    CommIoUart record;
    std::memset(&record, Untouched, sizeof record);
    record.size = size;
    return record;
}

// The bytes from `from` on are as the caller left them.
bool UntouchedFrom(const CommIoUart &record, std::size_t from)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(&record);
    for (std::size_t i = from; i < sizeof record; ++i)
        if (bytes[i] != Untouched)
            return false;
    return true;
}

TEST_F(CommIoTest, ARecordFillsNoMoreThanTheCallerSaysItHas)
{
    Claimed("3F8 = COM5\nany = COM6");
    const struct {
        std::uint32_t index, size;
        std::uint32_t sizeAfter; // what the io.dll says it filled; the bytes after it stay
    } cases[] = {
        {0, 0, 0},                                      // no size: nothing
        {0, 4, 4},                                      // the size alone
        {0, 8, 8},                                      // an older record: its part only
        {1, offsetof(CommIoUart, usbSerial), offsetof(CommIoUart, usbSerial)},
        {0, sizeof(CommIoUart), sizeof(CommIoUart)},    // this record, whole
        {1, sizeof(CommIoUart) + 64, sizeof(CommIoUart)}, // a newer one: what this io.dll knows
        {2, sizeof(CommIoUart), sizeof(CommIoUart)},    // no such UART: nothing
    };
    for (const auto &c : cases) {
        CommIoUart record = Sentinel(c.size);
        EXPECT_EQ(io.UartStatus(c.index, &record), 2u);
        const bool filled = c.index < 2 && c.size > 0;
        EXPECT_EQ(record.size, filled ? c.sizeAfter : c.size) << c.index << " " << c.size;
        EXPECT_TRUE(UntouchedFrom(record, filled ? c.sizeAfter : sizeof record.size)) << c.index << " " << c.size;
        if (filled && c.sizeAfter >= 8) {
            EXPECT_EQ(record.base, c.index == 0 ? 0x3F8 : 0) << c.index;
        }
    }
    EXPECT_EQ(io.UartStatus(0, nullptr), 2u);
    commio::CommIo none(api);
    CommIoUart record = Sentinel(sizeof record);
    EXPECT_EQ(none.UartStatus(0, &record), 0u); // no map read: no UART
    EXPECT_TRUE(UntouchedFrom(record, sizeof record.size));
}

TEST_F(CommIoTest, ARecordSaysWhatTheMapAndTheDeviceSay)
{
    devices.PlugAdapter("COM9", "USB\\VID_0403&PID_6001\\A1B2C3").refuseEvents = 0;
    Map("3F8 = usb=0403:6001:A1B2C3 COM5 line=DSR invert debounce=20\nany = COM12");
    ASSERT_EQ(io.IsDriverInstalled(), 1);
    CommIoUart adapter{}, missing{};
    adapter.size = missing.size = sizeof adapter;
    ASSERT_EQ(io.UartStatus(0, &adapter), 2u);
    io.UartStatus(1, &missing);

    EXPECT_EQ(adapter.base, 0x3F8);
    EXPECT_EQ(adapter.any, 0);
    EXPECT_EQ(adapter.link, COMMIO_LINK_HELD);
    EXPECT_EQ(adapter.failedCall, static_cast<std::uint32_t>(COMMIO_CALL_NONE));
    EXPECT_EQ(adapter.events, static_cast<std::uint32_t>(COMMIO_EVENTS_WATCHED));
    EXPECT_EQ(adapter.keyLine, ModemLine::Dsr.Mask());
    EXPECT_EQ(adapter.invert, 1);
    EXPECT_EQ(adapter.debounceMs, 20);
    EXPECT_EQ(adapter.adapter, COMMIO_ADAPTER_FOUND);
    EXPECT_EQ(adapter.usbVendor, 0x0403);
    EXPECT_EQ(adapter.usbProduct, 0x6001);
    EXPECT_STREQ(adapter.usbSerial, "A1B2C3");
    EXPECT_STREQ(adapter.port, "COM9");
    EXPECT_STREQ(adapter.device, "COM5");

    EXPECT_EQ(missing.any, 1);
    EXPECT_EQ(missing.link, COMMIO_LINK_NOT_HELD);
    EXPECT_EQ(missing.failedCall, static_cast<std::uint32_t>(COMMIO_CALL_CREATE_FILE));
    EXPECT_EQ(missing.error, commio::ErrorFileNotFound);
    EXPECT_EQ(missing.events, static_cast<std::uint32_t>(COMMIO_EVENTS_OFF));
    EXPECT_EQ(missing.keyLine, ModemLine::Cts.Mask());
    EXPECT_EQ(missing.adapter, COMMIO_ADAPTER_NOT_NAMED);
    EXPECT_STREQ(missing.device, "COM12");
    EXPECT_STREQ(missing.port, "");
    // The text says the same, made from these records.
    EXPECT_STREQ(io.Status(), "usb=0403:6001:A1B2C3 on COM9 for 03F8h (key line DSR inverted, debounce 20 ms): "
                              "held, line events watched; COM12 for any UART: not held, CreateFile failed (error 2); "
                              "retrying");
}

} // namespace
