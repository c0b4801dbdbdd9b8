#include "Harness.h"

#include <cstdio>

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
    auto out = [base](unsigned offset, const char *value) {
        return "PortOut(" + Port(base + offset) + ", " + value + ")";
    };
    return {
        "IsDriverInstalled() -> 1",
        "CreateFileA(\"" + device + "\", 0xC0000000, 0, NULL, 3, 0, NULL) -> " + handle,
        out(3, "0x80"), out(0, "0x30"), out(1, "0x00"), out(3, "0x0B"),
        out(1, "0x00"), out(2, "0xC1"), out(4, "0x0A"),
    };
}

std::vector<std::string> KeyLibraryTest::TakeCalls()
{
    std::vector<std::string> calls = lib.Transcript();
    lib.ClearTranscript();
    return calls;
}
