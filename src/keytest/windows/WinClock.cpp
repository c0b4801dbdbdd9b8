#include "WinClock.h"

#include <mmsystem.h>

#include "keytest/CsvLog.h"

namespace keytest {

Clock::Clock()
{
    QueryPerformanceFrequency(&frequency_);
    QueryPerformanceCounter(&start_);
    GetSystemTimeAsFileTime(&wallStart_);
}

double Clock::Seconds()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - start_.QuadPart) / static_cast<double>(frequency_.QuadPart);
}

std::string Clock::WallClock(double seconds)
{
    ULARGE_INTEGER utc;
    utc.LowPart = wallStart_.dwLowDateTime;
    utc.HighPart = wallStart_.dwHighDateTime;
    utc.QuadPart += static_cast<ULONGLONG>(seconds * 1e7); // 100 ns units
    const FILETIME at{utc.LowPart, utc.HighPart};
    FILETIME local;
    SYSTEMTIME t;
    if (!FileTimeToLocalFileTime(&at, &local) || !FileTimeToSystemTime(&local, &t))
        return "?";
    return FormatWallClock(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
}

TimerResolution::TimerResolution()
{
    TIMECAPS caps;
    if (timeGetDevCaps(&caps, sizeof caps) != MMSYSERR_NOERROR)
        return;
    const UINT period = caps.wPeriodMin < 1 ? 1 : caps.wPeriodMin;
    if (timeBeginPeriod(period) == TIMERR_NOERROR)
        period_ = period;
}

TimerResolution::~TimerResolution()
{
    if (period_)
        timeEndPeriod(period_);
}

} // namespace keytest
