// Loading the key tester's two libraries: Zelbin_Serial.dll and the io.dll
// it uses, with the io.dll operations the tester calls itself.
#pragma once

#include <windows.h>

#include <string>

#include "keytest/KeyTestOptions.h"
#include "CommPortIo.h"
#include "Zelbin_SerialLoader.h"

struct Libraries {
    HMODULE dll = nullptr;
    std::string dllPath;
    ZelbinFunctions zelbin{};

    std::string ioPath;
    std::string ioKind;  // which io.dll it is, for the preflight
    bool commio = false; // the commio io.dll, which holds the device itself
    CommIoStatusFn commioStatus = nullptr; // its status text: the device it holds, or why none
    IsDriverInstalledFn isDriverInstalled = nullptr;
    GetPortBitFn getPortBit = nullptr;
};

// Loads the io.dll of --io if given, then Zelbin_Serial.dll. Returns an
// empty text on success, else the message for the technician.
std::string LoadLibraries(const KeyTestOptions &options, Libraries &libraries);
