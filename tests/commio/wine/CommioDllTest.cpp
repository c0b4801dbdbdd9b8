// The real Zelbin_Serial.dll over the real comm-port io.dll, under Wine.
//
// Both DLLs' device and comm calls into kernel32 are pointed at simulated
// COM devices, and each call is recorded with its arguments as Win32 sees
// them: the open, the DCB, the escape codes and the modem status reads.
// A second group lets io.dll reach the Wine prefix's own COM1, a link to
// /dev/null on which every comm call fails.
#include <windows.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Zelbin_SerialLoader.h"
#include "CommPortIo.h"
#include "comdevices/ComDevices.h"
#include "LoadedLibrary.h"

namespace {

using Calls = std::vector<std::string>;

sim::ComDevices devices;
Calls calls;
std::map<HANDLE, std::string> labels; // simulated handle -> "c1"
std::map<HANDLE, DCB> states;         // what GetCommState answers per handle

bool IsSimulated(HANDLE handle) { return devices.IsOpen(handle); }

std::string Label(HANDLE handle)
{
    const auto it = labels.find(handle);
    return it == labels.end() ? "?" : it->second;
}

bool NamesComDevice(const char *name)
{
    if (!name)
        return false;
    const std::string text = name;
    const std::string bare = text.compare(0, 4, "\\\\.\\") == 0 ? text.substr(4) : text;
    return bare.size() > 3 && _strnicmp(bare.c_str(), "COM", 3) == 0;
}

// Reports a failure as kernel32 does.
template <typename T> T Failed(std::uint32_t error, T value)
{
    SetLastError(error);
    return value;
}

HANDLE WINAPI FakeCreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD flags, HANDLE templateFile)
{
    if (!NamesComDevice(name)) // the port map file, the runtime's own files
        return CreateFileA(name, access, share, security, disposition, flags, templateFile);
    commio::DeviceHandle handle = nullptr;
    const std::uint32_t error = devices.Open(name, handle);
    char line[200];
    std::snprintf(line, sizeof line, "CreateFileA(\"%s\", 0x%08lX, %lu, %s, %lu, 0x%lX, %s)", name, access, share,
                  security ? "security" : "NULL", disposition, flags, templateFile ? "template" : "NULL");
    if (error) {
        calls.push_back(std::string(line) + " fails " + std::to_string(error));
        return Failed(error, INVALID_HANDLE_VALUE);
    }
    labels[handle] = "c" + std::to_string(labels.size() + 1);
    DCB initial{};
    initial.DCBlength = sizeof initial;
    initial.BaudRate = 9600;
    initial.ByteSize = 8;
    initial.fBinary = TRUE;
    initial.fDtrControl = DTR_CONTROL_ENABLE; // a driver's usual defaults
    initial.fRtsControl = RTS_CONTROL_ENABLE;
    states[handle] = initial;
    calls.push_back(std::string(line) + " -> " + labels[handle]);
    return handle;
}

BOOL WINAPI FakeCloseHandle(HANDLE handle)
{
    if (handle == INVALID_HANDLE_VALUE) {
        calls.push_back("CloseHandle(INVALID_HANDLE_VALUE)");
        return Failed(ERROR_INVALID_HANDLE, FALSE);
    }
    if (!IsSimulated(handle))
        return CloseHandle(handle);
    calls.push_back("CloseHandle(" + Label(handle) + ")");
    devices.Close(handle);
    return TRUE;
}

BOOL WINAPI FakeGetCommState(HANDLE handle, LPDCB dcb)
{
    calls.push_back("GetCommState(" + Label(handle) + ")");
    if (!IsSimulated(handle))
        return Failed(ERROR_INVALID_HANDLE, FALSE);
    *dcb = states[handle];
    return TRUE;
}

BOOL WINAPI FakeSetCommState(HANDLE handle, LPDCB dcb)
{
    char line[320];
    std::snprintf(line, sizeof line,
                  "SetCommState(%s, BaudRate=%lu, ByteSize=%u, Parity=%u, StopBits=%u, fBinary=%u, fParity=%u, "
                  "fOutxCtsFlow=%u, fOutxDsrFlow=%u, fDtrControl=%u, fDsrSensitivity=%u, fOutX=%u, fInX=%u, "
                  "fRtsControl=%u)",
                  Label(handle).c_str(), dcb->BaudRate, dcb->ByteSize, dcb->Parity, dcb->StopBits,
                  unsigned(dcb->fBinary), unsigned(dcb->fParity), unsigned(dcb->fOutxCtsFlow),
                  unsigned(dcb->fOutxDsrFlow), unsigned(dcb->fDtrControl), unsigned(dcb->fDsrSensitivity),
                  unsigned(dcb->fOutX), unsigned(dcb->fInX), unsigned(dcb->fRtsControl));
    commio::LineSettings settings{dcb->BaudRate, dcb->ByteSize, dcb->Parity, dcb->StopBits};
    const commio::StateRequest request{&settings, dcb->fDtrControl == DTR_CONTROL_ENABLE,
                                       dcb->fRtsControl == RTS_CONTROL_ENABLE};
    const std::uint32_t error = IsSimulated(handle) ? devices.SetState(handle, request) : ERROR_INVALID_HANDLE;
    if (error) {
        calls.push_back(std::string(line) + " fails " + std::to_string(error));
        return Failed(error, FALSE);
    }
    states[handle] = *dcb;
    calls.push_back(line);
    return TRUE;
}

BOOL WINAPI FakeEscapeCommFunction(HANDLE handle, DWORD code)
{
    static const char *const names[] = {"SETXOFF", "SETXON", "SETRTS", "CLRRTS", "SETDTR", "CLRDTR"};
    std::string line = "EscapeCommFunction(" + Label(handle) + ", " +
                       (code >= 1 && code <= 6 ? names[code - 1] : std::to_string(code)) + ")";
    const std::uint32_t error = IsSimulated(handle) && code >= 3 && code <= 6
                                    ? devices.EscapeFunction(handle, static_cast<commio::Escape>(code))
                                    : ERROR_INVALID_PARAMETER;
    if (error) {
        calls.push_back(line + " fails " + std::to_string(error));
        return Failed(error, FALSE);
    }
    calls.push_back(line);
    return TRUE;
}

BOOL WINAPI FakeGetCommModemStatus(HANDLE handle, LPDWORD status)
{
    std::uint8_t lines = 0;
    const std::uint32_t error = IsSimulated(handle) ? devices.ModemStatus(handle, lines) : ERROR_INVALID_HANDLE;
    if (error) {
        calls.push_back("GetCommModemStatus(" + Label(handle) + ") fails " + std::to_string(error));
        return Failed(error, FALSE);
    }
    *status = lines;
    calls.push_back("GetCommModemStatus(" + Label(handle) + ")");
    return TRUE;
}

DWORD WINAPI FakeGetTickCount() { return devices.Ticks(); }

template <typename Fn> FARPROC Proc(Fn function) { return ZELBIN_PROC_CAST(FARPROC, function); }

std::string ProgramFolder()
{
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of("\\/") + 1);
}

std::string PortMapPath() { return ProgramFolder() + "commio\\io-ports.txt"; }

void WritePortMap(const char *text)
{
    FILE *file = std::fopen(PortMapPath().c_str(), "wb");
    ASSERT_NE(file, nullptr) << PortMapPath();
    std::fputs(text, file);
    std::fclose(file);
}

// The comm-port io.dll from its own folder, then the key library, which
// binds to it: a module named io.dll is loaded already.
class CommioDll : public ::testing::Test {
protected:
    void Load(const char *portMap, bool simulated)
    {
        if (portMap)
            WritePortMap(portMap);
        io_ = LoadLibraryA((ProgramFolder() + "commio\\io.dll").c_str());
        ASSERT_NE(io_, nullptr) << GetLastError();
        if (simulated) {
            const struct {
                const char *name;
                FARPROC fake;
            } redirects[] = {
                {"CreateFileA", Proc(FakeCreateFileA)},
                {"CloseHandle", Proc(FakeCloseHandle)},
                {"GetCommState", Proc(FakeGetCommState)},
                {"SetCommState", Proc(FakeSetCommState)},
                {"EscapeCommFunction", Proc(FakeEscapeCommFunction)},
                {"GetCommModemStatus", Proc(FakeGetCommModemStatus)},
                {"GetTickCount", Proc(FakeGetTickCount)},
            };
            for (const auto &redirect : redirects)
                EXPECT_TRUE(RedirectImport(io_, "KERNEL32.dll", redirect.name, redirect.fake)) << redirect.name;
        }
        key_ = LoadLibraryA("Zelbin_Serial.dll");
        ASSERT_NE(key_, nullptr) << GetLastError();
        ASSERT_EQ(ZelbinLoadFunctions(key_, &zelbin), nullptr);
        if (simulated) {
            EXPECT_TRUE(RedirectImport(key_, "KERNEL32.dll", "CreateFileA", Proc(FakeCreateFileA)));
            EXPECT_TRUE(RedirectImport(key_, "KERNEL32.dll", "CloseHandle", Proc(FakeCloseHandle)));
        }
        driverInstalled = ZELBIN_PROC_CAST(decltype(&IsDriverInstalled), GetProcAddress(io_, "IsDriverInstalled"));
        status = ZELBIN_PROC_CAST(decltype(&CommIoStatus), GetProcAddress(io_, "CommIoStatus"));
        ASSERT_NE(driverInstalled, nullptr);
        ASSERT_NE(status, nullptr);
    }

    void SetUp() override
    {
        devices.Reset();
        calls.clear();
        labels.clear();
        states.clear();
    }

    void TearDown() override
    {
        if (key_) {
            if (zelbin.StopListen)
                zelbin.StopListen();
            FreeLibrary(key_);
        }
        if (io_)
            FreeLibrary(io_); // releases what it holds
        DeleteFileA(PortMapPath().c_str());
        EXPECT_EQ(devices.HandlesHeld(), 0u);
        EXPECT_EQ(devices.BadCloses(), 0u);
    }

    Calls Take()
    {
        Calls taken;
        taken.swap(calls);
        return taken;
    }

    HMODULE io_ = nullptr, key_ = nullptr;
    ZelbinFunctions zelbin{};
    decltype(&IsDriverInstalled) driverInstalled = nullptr;
    decltype(&CommIoStatus) status = nullptr;
};

const char *const kClaimDcb =
    "SetCommState(c1, BaudRate=9600, ByteSize=8, Parity=0, StopBits=0, fBinary=1, fParity=0, fOutxCtsFlow=0, "
    "fOutxDsrFlow=0, fDtrControl=0, fDsrSensitivity=0, fOutX=0, fInX=0, fRtsControl=0)";
const char *const kLibraryDcb =
    "SetCommState(c1, BaudRate=2400, ByteSize=8, Parity=1, StopBits=0, fBinary=1, fParity=1, fOutxCtsFlow=0, "
    "fOutxDsrFlow=0, fDtrControl=0, fDsrSensitivity=0, fOutX=0, fInX=0, fRtsControl=0)";

TEST_F(CommioDll, AStartClaimsSetsUpAndRaisesRts)
{
    devices.Plug("COM5");
    Load("any = COM5\r\n", true);
    zelbin.StartListen("COM5;3F8h");
    EXPECT_EQ(Take(), (Calls{
                          "CreateFileA(\"\\\\.\\COM5\", 0xC0000000, 0, NULL, 3, 0x0, NULL) -> c1",
                          "GetCommState(c1)",
                          kClaimDcb,
                          "CreateFileA(\"COM5\", 0xC0000000, 0, NULL, 3, 0x0, NULL) fails 5",
                          "GetCommState(c1)",
                          kLibraryDcb,
                          "EscapeCommFunction(c1, SETRTS)",
                      }));
    EXPECT_STREQ(status(), "COM5 for any UART: held");
}

TEST_F(CommioDll, APollIsOneModemStatusCallAndDtrFollowsTheToggle)
{
    devices.Plug("COM5");
    Load("any = COM5", true);
    zelbin.StartListen("COM5;3F8h");
    Take();
    int presses = 0;
    for (int i = 0; i < 10; ++i) {
        devices.SetInput("COM5", commio::ModemCts, i >= 3 && i < 6);
        presses += zelbin.IsZBToggle();
    }
    EXPECT_EQ(presses, 1);
    EXPECT_EQ(Take(), Calls(10, "GetCommModemStatus(c1)"));
    zelbin.SetToggled(1);
    zelbin.SetToggled(1);
    zelbin.SetToggled(0);
    EXPECT_EQ(Take(), (Calls{"EscapeCommFunction(c1, SETDTR)", "EscapeCommFunction(c1, CLRDTR)"}));
    EXPECT_EQ(driverInstalled(), 1);
    EXPECT_EQ(Take(), Calls{});
}

// A normally closed key on DSR whose contacts bounce, with the map's
// wiring: the unchanged library reports one press per press, the first
// at the poll that sees the line fall.
TEST_F(CommioDll, ABouncingNormallyClosedKeyOnDsrIsOnePressPerPress)
{
    devices.Plug("COM5");
    devices.SetInput("COM5", commio::ModemDsr, true); // the key at rest holds DSR up
    Load("any = COM5 line=DSR invert debounce=20\r\n", true);
    zelbin.StartListen("COM5;3F8h");
    EXPECT_STREQ(status(), "COM5 for any UART (key line DSR inverted, debounce 20 ms): held");
    int presses = 0;
    auto pollFor = [&](int ms) {
        for (int t = 0; t < ms; ++t) {
            presses += zelbin.IsZBToggle();
            devices.Advance(1);
        }
    };
    pollFor(50);
    for (int press = 1; press <= 3; ++press) {
        for (int edge = 0; edge < 5; ++edge) { // closing: 5 edges 3 ms apart, ending closed
            devices.SetInput("COM5", commio::ModemDsr, edge % 2 == 1);
            if (edge == 0) {
                EXPECT_EQ(zelbin.IsZBToggle(), 1) << "press " << press;
                devices.Advance(1);
                pollFor(2);
            } else {
                pollFor(3);
            }
        }
        pollFor(100);
        for (int edge = 0; edge < 5; ++edge) { // opening: the same, ending open
            devices.SetInput("COM5", commio::ModemDsr, edge % 2 == 0);
            pollFor(3);
        }
        pollFor(100);
    }
    EXPECT_EQ(presses, 0); // beyond the three checked above
}

TEST_F(CommioDll, UnpluggedAndBackTheKeyWorksAgain)
{
    devices.Plug("COM5");
    Load("any = COM5", true);
    zelbin.StartListen("COM5;3F8h");
    devices.Unplug("COM5");
    Take();
    EXPECT_EQ(zelbin.IsZBToggle(), 0);
    EXPECT_EQ(Take(), (Calls{"GetCommModemStatus(c1) fails 22", "CloseHandle(c1)"}));
    EXPECT_EQ(driverInstalled(), 0);
    devices.Plug("COM5");
    devices.Advance(500);
    EXPECT_EQ(driverInstalled(), 1);
    devices.SetInput("COM5", commio::ModemCts, true);
    EXPECT_EQ(zelbin.IsZBToggle(), 1);
}

TEST_F(CommioDll, WithoutAPortMapTheLibraryStaysIdle)
{
    DeleteFileA(PortMapPath().c_str());
    Load(nullptr, false);
    EXPECT_EQ(driverInstalled(), 0);
    EXPECT_EQ(std::string(status()).rfind("no io-ports.txt beside io.dll", 0), 0u) << status();
}

// The prefix's COM1 is a link to /dev/null: it opens, but it is no serial
// port, so every comm call on it fails.
TEST_F(CommioDll, AComPortWhoseCommCallsFailLeavesTheLibraryIdleWithoutHanging)
{
    Load("any = COM1", false);
    const DWORD start = GetTickCount();
    EXPECT_EQ(driverInstalled(), 0);
    EXPECT_NE(std::string(status()).find("COM1 for any UART: not held"), std::string::npos) << status();
    zelbin.StartListen("COM1");
    int presses = 0;
    for (int i = 0; i < 100; ++i)
        presses += zelbin.IsZBToggle();
    zelbin.SetToggled(1);
    zelbin.StopListen();
    EXPECT_EQ(presses, 0);
    EXPECT_LT(GetTickCount() - start, 5000u);
}

} // namespace
