#include "keytest/CsvLog.h"

#include <cstdio>

#include "portsetup/TextFile.h"

namespace keytest {

namespace {

std::string Fixed(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

} // namespace

CsvLog::CsvLog(std::ostream &out) : out_(out)
{
    out_ << "time,seconds,event,press,held_ms,gap_ms,chatter,dtr" << portsetup::WindowsLineEnd;
    out_.flush();
}

void CsvLog::Write(const KeyEvent &event, const std::string &wallClock, bool dtr)
{
    out_ << wallClock << ',' << Fixed(event.seconds, 3) << ',';
    if (event.kind == KeyEvent::Kind::DriverLost || event.kind == KeyEvent::Kind::DriverBack) {
        // No key figures belong to it, and while the driver is away the
        // lines read nothing: DTR is unknown, not off.
        out_ << (event.kind == KeyEvent::Kind::DriverLost ? "driver_lost" : "driver_back") << ",,,,," << portsetup::WindowsLineEnd;
    } else {
        const bool press = event.kind == KeyEvent::Kind::Press;
        out_ << (press ? "press" : "release") << ',' << event.press << ','
             << (event.heldMs >= 0 ? Fixed(event.heldMs, 1) : "") << ','
             << (event.gapMs >= 0 ? Fixed(event.gapMs, 1) : "") << ',' << (event.chatter ? 1 : 0) << ','
             << (dtr ? 1 : 0) << portsetup::WindowsLineEnd;
    }
    // A test may end by the console closing: each line is on disk at once.
    out_.flush();
}

std::string FormatWallClock(int year, int month, int day, int hour, int minute, int second, int millisecond)
{
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", year, month, day, hour, minute, second,
                  millisecond);
    return text;
}

} // namespace keytest
