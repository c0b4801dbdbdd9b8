// Loading the key tester's two libraries: Zelbin_Serial.dll and the io.dll
// it uses, with the io.dll operations the tester calls itself.
#pragma once

#include <windows.h>

#include <string>

#include "keytest/KeyTestOptions.h"
#include "keytest/KeyTestSession.h"
#include "CommPortIo.h"
#include "Zelbin_SerialLoader.h"

namespace keytest {

// io-ports.txt beside the comm-port io.dll: the one --io names, else the
// one beside Zelbin_Serial.dll (--dll, else beside this program).
std::string PortMapPathFor(const KeyTestOptions &options);

struct Libraries {
    HMODULE dll = nullptr;
    HMODULE givenIo = nullptr; // the io.dll of --io, loaded before the key library
    std::string dllPath;
    ZelbinFunctions zelbin{};

    std::string ioPath;
    std::string ioKind;  // which io.dll it is, for the preflight
    bool commio = false; // the commio io.dll, which holds the device itself
    bool standIn = false; // the stand-in for tests: a simulated PC
    CommIoStatusFn commioStatus = nullptr; // its status text: the device it holds, or why none
    CommIoUartStatusFn commioUarts = nullptr; // the same as records; null from an io.dll that has none
    IsDriverInstalledFn isDriverInstalled = nullptr;
    GetPortBitFn getPortBit = nullptr;
};

// Loads the io.dll of --io if given, then Zelbin_Serial.dll. Returns an
// empty text on success, else the message for the technician.
std::string LoadLibraries(const KeyTestOptions &options, Libraries &libraries);

// What the comm-port io.dll says of itself now, as it gives it; empty for
// another io.dll.
IoDllStatus ReadIoDllStatus(const Libraries &libraries);

// Unloads both, so that a comm-port io.dll gives back the ports it holds
// and reads its port map again at the next load; `libraries` is left empty.
void UnloadLibraries(Libraries &libraries);

// A test session's calls, to the libraries as loaded: the console tester
// and the window test through the same ones.
class LoadedTarget : public KeyTestTarget {
public:
    explicit LoadedTarget(const Libraries &libraries) : libraries_(libraries) {}
    void StartListen(const char *params) override { libraries_.zelbin.StartListen(params); }
    bool IsZBToggle() override { return libraries_.zelbin.IsZBToggle() != 0; }
    void SetToggled(bool on) override { libraries_.zelbin.SetToggled(on ? 1 : 0); }
    void StopListen() override { libraries_.zelbin.StopListen(); }
    bool DriverAnswers() override { return libraries_.isDriverInstalled() != 0; }
    LineLevels ReadLines(std::uint16_t base) override;
    bool UartAnswers(std::uint16_t base) override;
    IoDllStatus IoStatus() override;
    bool Simulated() override { return libraries_.standIn; }

private:
    const Libraries &libraries_;
};

} // namespace keytest
