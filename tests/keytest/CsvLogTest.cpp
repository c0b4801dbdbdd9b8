// The key tester's CSV log.
#include <gtest/gtest.h>

#include <sstream>

#include "keytest/CsvLog.h"

using namespace keytest; // the key tester's own names, unqualified as in its own code

namespace {

// Rows as a spreadsheet reads them: a press held 0 ms has its length, the
// wall clock keeps three digits of milliseconds, driver rows carry no key
// figures.
TEST(CsvLog, WritesARowForEachKindOfEvent)
{
    std::ostringstream out;
    CsvLog log(out);
    KeyEvent press;
    press.seconds = 0.1;
    press.press = 1;
    KeyEvent release = press;
    release.kind = KeyEvent::Kind::Release;
    release.heldMs = 0;
    KeyEvent chatter = press;
    chatter.press = 2;
    chatter.seconds = 0.125;
    chatter.gapMs = 25;
    chatter.chatter = true;
    KeyEvent lost;
    lost.kind = KeyEvent::Kind::DriverLost;
    lost.seconds = 1.5;
    KeyEvent back = lost;
    back.kind = KeyEvent::Kind::DriverBack;
    back.seconds = 2;
    log.Write(press, FormatWallClock(2026, 1, 2, 3, 4, 5, 6), true);
    log.Write(release, FormatWallClock(2026, 1, 2, 3, 4, 5, 60), true);
    log.Write(chatter, FormatWallClock(2026, 12, 31, 23, 59, 59, 999), false);
    log.Write(lost, FormatWallClock(2026, 1, 2, 3, 4, 7, 0), false);
    log.Write(back, FormatWallClock(2026, 1, 2, 3, 4, 7, 500), false);
    // A Windows text file: every line ends in CR LF, whoever saves it.
    EXPECT_EQ(out.str(), "time,seconds,event,press,held_ms,gap_ms,chatter,dtr\r\n"
                         "2026-01-02T03:04:05.006,0.100,press,1,,,0,1\r\n"
                         "2026-01-02T03:04:05.060,0.100,release,1,0.0,,0,1\r\n"
                         "2026-12-31T23:59:59.999,0.125,press,2,,25.0,1,0\r\n"
                         "2026-01-02T03:04:07.000,1.500,driver_lost,,,,,\r\n"
                         "2026-01-02T03:04:07.500,2.000,driver_back,,,,,\r\n");
}

} // namespace
