// The key library, io.dll and the clock as a test scripts them, for the key
// tester's test session and the window that runs one: what the library
// answers to a poll, whether the driver answers and the lines io.dll reads,
// step by step.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "keytest/KeyTestSession.h"
#include "keytest/CsvLog.h"

namespace testsupport {

// One moment of the script: the library's answer to the poll, whether the
// driver answers, and CTS as io.dll reads it then.
struct Step {
    int ms;
    bool pressed;
    bool driver;
    bool cts;
};

class ScriptedTarget : public keytest::KeyTestTarget {
public:
    std::vector<std::string> calls; // the library's calls, in order
    std::uint32_t reads = 0;        // line reads through io.dll
    Step now{0, false, true, false};
    bool dtr = false; // the modem control register's DTR, as the library set it
    bool dsr = false; // a line that is on from the start, where a test wants one
    bool uart = true; // a UART answers at the base
    bool simulated = false; // io.dll is the stand-in

    void StartListen(const char *params) override
    {
        calls.push_back(std::string("StartListen(") + (params ? params : "NULL") + ")");
        dtr = false;
    }
    bool IsZBToggle() override
    {
        calls.push_back("IsZBToggle");
        return now.pressed;
    }
    void SetToggled(bool on) override
    {
        calls.push_back(on ? "SetToggled(1)" : "SetToggled(0)");
        if (now.driver)
            dtr = on;
    }
    void StopListen() override { calls.push_back("StopListen"); }
    bool DriverAnswers() override { return now.driver; }
    uart::LineLevels ReadLines(std::uint16_t) override
    {
        ++reads;
        uart::LineLevels lines;
        lines[uart::ModemLine::Cts] = now.cts;
        lines[uart::ModemLine::Dsr] = dsr;
        lines[uart::ModemLine::Rts] = true;
        lines[uart::ModemLine::Dtr] = dtr;
        return lines;
    }
    bool UartAnswers(std::uint16_t) override { return uart; }
    keytest::IoDllStatus IoStatus() override
    {
        return {"COM5 for any UART: not held, open failed (error 2: no such file)", {}};
    }
    bool Simulated() override { return simulated; }
};

class ScriptedClock : public keytest::KeyTestClock {
public:
    int ms = 0;
    double Seconds() override { return ms / 1000.0; }
    std::string WallClock(double seconds) override
    {
        return keytest::FormatWallClock(2026, 12, 8, 9, 0, 0, static_cast<int>(std::lround(seconds * 1000)));
    }
};

} // namespace testsupport
