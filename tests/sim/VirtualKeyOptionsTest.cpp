// The virtual key's command line: each command with its port and options,
// each complaint, and the key events tap and script build.
#include <gtest/gtest.h>

#include "SimTest.h"
#include "virtualkey/VirtualKeyOptions.h"

namespace {

struct VirtualKeyCase {
    std::vector<std::string> args;
    std::string error; // a fragment of the complaint; empty: accepted
    VirtualKeyCommand command = VirtualKeyCommand::Help;
    std::uint16_t port = 0;
};

std::ostream &operator<<(std::ostream &os, const VirtualKeyCase &c)
{
    for (const std::string &arg : c.args)
        os << "'" << arg << "' ";
    return os;
}

class VirtualKeyCommandLine : public ::testing::TestWithParam<VirtualKeyCase> {};

TEST_P(VirtualKeyCommandLine, AcceptsOrNamesTheProblem)
{
    VirtualKeyOptions options;
    const std::string error = ParseVirtualKeyOptions(GetParam().args, options);
    if (!GetParam().error.empty()) {
        EXPECT_NE(error.find(GetParam().error), std::string::npos) << "got: " << error;
        return;
    }
    ASSERT_EQ(error, "");
    EXPECT_EQ(options.command, GetParam().command);
    EXPECT_EQ(options.port, GetParam().port);
}

using VK = VirtualKeyCommand;
INSTANTIATE_TEST_SUITE_P(Cases, VirtualKeyCommandLine, ::testing::Values(
    VirtualKeyCase{{}, "a command is needed"},
    VirtualKeyCase{{"--help"}, "", VK::Help},
    VirtualKeyCase{{"hold"}, "unknown command 'hold'"},
    VirtualKeyCase{{"press"}, "", VK::Press, 0},
    VirtualKeyCase{{"press", "com2"}, "", VK::Press, 0x2F8},
    VirtualKeyCase{{"release", "2E8h"}, "", VK::Release, 0x2E8},
    VirtualKeyCase{{"press", "COM9"}, "bad argument 'COM9'"},
    VirtualKeyCase{{"press", "0"}, "bad argument '0'"},
    VirtualKeyCase{{"press", "12345"}, "bad argument"},
    VirtualKeyCase{{"press", "COM1", "COM2"}, "bad argument 'COM2'"},
    VirtualKeyCase{{"press", "--ms", "50"}, "not an option of press"},
    VirtualKeyCase{{"tap", "COM3", "--ms", "150", "--bounce", "3", "--bounce-ms", "20"}, "", VK::Tap, 0x3E8},
    VirtualKeyCase{{"tap", "--ms", "0"}, "--ms"},
    VirtualKeyCase{{"tap", "--bounce", "101"}, "--bounce"},
    VirtualKeyCase{{"tap", "--bounce-ms"}, "--bounce-ms"},
    VirtualKeyCase{{"tap", "--ms", "--bounce", "2"}, "--ms"},
    VirtualKeyCase{{"script", "tap@0 bounce@300", "COM4", "--ms", "80"}, "", VK::Script, 0x2E8},
    VirtualKeyCase{{"script"}, "script needs a script text"},
    VirtualKeyCase{{"script", "hold@5"}, "bad script"},
    VirtualKeyCase{{"script", "tap@0", "--bounce", "2"}, "not an option of script"},
    VirtualKeyCase{{"show", "3F8"}, "", VK::Show, 0x3F8},
    VirtualKeyCase{{"watch", "--seconds", "2.5", "--interval", "20"}, "", VK::Watch, 0},
    VirtualKeyCase{{"watch", "--seconds", "0"}, "--seconds"},
    VirtualKeyCase{{"watch", "--interval", "--seconds", "1"}, "--interval"},
    VirtualKeyCase{{"driver"}, "driver needs on or off"},
    VirtualKeyCase{{"driver", "maybe"}, "bad argument 'maybe'"},
    VirtualKeyCase{{"driver", "on", "off"}, "bad argument 'off'"},
    VirtualKeyCase{{"driver", "COM1", "on"}, "bad argument 'COM1'"},
    VirtualKeyCase{{"driver", "off"}, "", VK::Driver, 0}));

TEST(VirtualKeyCommandLine, BuildsWhatTapAndScriptPlay)
{
    VirtualKeyOptions tap, script, driver;
    ASSERT_EQ(ParseVirtualKeyOptions({"tap", "--bounce", "1", "--bounce-ms", "20", "--ms", "50"}, tap), "");
    EXPECT_EQ(TimelineOf(tap.events), (Timeline{{0, true}, {20, false}, {40, true}, {90, false}}));

    // --ms after the script text still sets its taps' length.
    ASSERT_EQ(ParseVirtualKeyOptions({"script", "tap@10", "--ms", "30"}, script), "");
    ASSERT_EQ(script.events.size(), 2u);
    EXPECT_EQ(script.events[1].atMs, 40u);

    ASSERT_EQ(ParseVirtualKeyOptions({"driver", "on"}, driver), "");
    EXPECT_TRUE(driver.driverOn);
}

} // namespace
