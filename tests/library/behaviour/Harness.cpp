#include "Harness.h"

#include <cstdio>

#include "testsupport/LibraryUartSetUp.h"

namespace {

std::string Port(unsigned port)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", port & 0xFFFFu);
    return text;
}

} // namespace

std::vector<std::string> KeyLibraryTest::StartCalls(const std::string &device, std::uint16_t base,
                                                    const std::string &handle)
{
    std::vector<std::string> calls = {
        "IsDriverInstalled() -> 1",
        "CreateFileA(\"" + device + "\", 0xC0000000, 0, NULL, 3, 0, NULL) -> " + handle,
    };
    for (const testsupport::RegisterWrite &write : testsupport::LibraryUartSetUp) {
        char value[8];
        std::snprintf(value, sizeof value, "0x%02X", write.value);
        calls.push_back("PortOut(" + Port(base + write.offset) + ", " + value + ")");
    }
    return calls;
}

std::vector<std::string> KeyLibraryTest::TakeCalls()
{
    std::vector<std::string> calls = lib.Transcript();
    lib.ClearTranscript();
    return calls;
}
