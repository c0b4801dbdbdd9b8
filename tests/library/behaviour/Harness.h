// What the behaviour tests need from a build of the key library: its five
// exports, a fresh load and an unload, and a hand on the simulated world.
// The host tests bind it to the library and simulator linked in; the DLL
// tests bind it to Zelbin_Serial.dll and the stand-in io.dll under a PE loader.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

class Harness {
public:
    virtual ~Harness() = default;

    virtual void StartListen(const char *params) = 0;
    virtual void StopListen() = 0;
    virtual std::uint8_t IsZBToggle() = 0;
    virtual void SetToggled(std::uint8_t toggled) = 0;
    virtual std::uint8_t IsCustom() = 0;

    // A new PC and a freshly loaded library, as in a new process.
    virtual void Fresh() = 0;
    // Detaches the library from the process, then attaches a fresh copy.
    virtual void Unload() = 0;
    virtual void Load() = 0;

    virtual void SetDriverInstalled(bool present) = 0;
    virtual void SetBitSetValue(std::uint16_t value) = 0;
    virtual void SetDriverValue(std::uint8_t value) = 0;
    virtual void SetCts(std::uint16_t base, bool level) = 0;
    virtual std::uint8_t Mcr(std::uint16_t base) = 0;
    virtual void SetDeviceExists(const char *name, bool exists) = 0;
    virtual int HandlesHeld() = 0;
    virtual std::vector<std::string> Transcript() = 0;
    virtual void ClearTranscript() = 0;
};

// Provided by the test program that binds the harness.
Harness &TheHarness();

// Base fixture: every test starts on a new PC with a freshly loaded library.
class KeyLibraryTest : public ::testing::Test {
protected:
    void SetUp() override { TheHarness().Fresh(); }
    Harness &lib = TheHarness();

    // The calls one start makes when the driver is present.
    static std::vector<std::string> StartCalls(const std::string &device, std::uint16_t base,
                                               const std::string &handle = "h1");
    // Everything recorded so far; clears the record.
    std::vector<std::string> TakeCalls();
};
