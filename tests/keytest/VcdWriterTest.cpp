// The key tester's VCD trace, as a waveform reader takes it.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "keytest/VcdWriter.h"

using namespace keytest; // the key tester's own names, unqualified as in its own code

namespace {

// What a reader would reject or misread: times that don't rise, and a press
// pulse left high at the end of the trace.
TEST(VcdWriter, KeepsTimesRisingAndEndsAPressPulse)
{
    std::ostringstream out;
    VcdWriter vcd(out, "now");
    vcd.Sample(0.0100004, false, false, true, false);
    vcd.Sample(0.0100004, true, false, true, true); // the clock stood still
    vcd.Sample(0.005, true, true, true, false);     // ... or stepped back
    vcd.Sample(0.02, true, true, true, false);      // no change: nothing written
    vcd.Sample(0.03, true, true, true, true);
    vcd.Finish(0.03);
    std::string text = out.str();
    // A Windows text file, as every record the tester writes: each line
    // ends in CR LF, and none in LF alone.
    std::size_t lines = 0;
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1), ++lines)
        EXPECT_EQ(text[at - 1], '\r') << "line " << lines + 1;
    EXPECT_GT(lines, 10u);
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    const std::string body = text.substr(text.find("$enddefinitions"));
    EXPECT_NE(body.find("#10000\n$dumpvars\n0!\n0\"\n1#\n0$\n$end\n#10001\n1!\n1$\n#10002\n1\"\n0$\n"
                        "#30000\n1$\n#30001\n0$\n"),
              std::string::npos)
        << body;
    EXPECT_EQ(body.find("#20000"), std::string::npos);
}

} // namespace
