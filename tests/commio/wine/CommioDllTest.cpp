// The real Zelbin_Serial.dll over the real comm-port io.dll, under Wine.
//
// Both DLLs' device and comm calls into kernel32 are pointed at simulated
// COM devices, and each call is recorded with its arguments as Win32 sees
// them: the open, the DCB, the escape codes and the modem status reads.
// The devices' settings blocks start from a driver's defaults, or filled
// with 00h or FFh (every flow-control and handshake field set), and each
// fake poisons the last error first, so that an error read from the wrong
// call can't pass. A second group lets io.dll reach the Wine prefix's own
// COM1, a link to /dev/null on which every comm call fails.
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "Zelbin_SerialLoader.h"
#include "CommPortIo.h"
#include "comdevices/ComDevices.h"
#include "commio/CommIo.h"
#include "commio/Dcb.h"
#include "LoadedLibrary.h"

namespace {

using Calls = std::vector<std::string>;

sim::ComDevices devices;
Calls calls;
// The comm event calls are recorded only when a test asks, as the
// simulated devices do (their devices have no events unless asked).
bool recordEvents = false;
std::map<HANDLE, std::string> labels; // simulated handle -> "c1"

// What a fake leaves as the last error when it doesn't fail: no code the
// io.dll could mistake for a real one.
constexpr DWORD kPoison = 0xDEADBEEF;
void Poison() { SetLastError(kPoison); }

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
    Poison();
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
    calls.push_back(std::string(line) + " -> " + labels[handle]);
    return handle;
}

// The io.dll's wait records' events, made and closed: a record is freed
// with its event.
std::set<HANDLE> eventsMade;
std::size_t eventsClosed = 0;

HANDLE WINAPI FakeCreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manual, BOOL initial, LPCSTR name)
{
    HANDLE event = CreateEventA(security, manual, initial, name);
    if (event)
        eventsMade.insert(event);
    return event;
}

BOOL WINAPI FakeCloseHandle(HANDLE handle)
{
    if (eventsMade.erase(handle))
        ++eventsClosed;
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
    Poison();
    commio::DeviceSettings settings{};
    const std::uint32_t error = IsSimulated(handle) ? devices.GetState(handle, settings) : ERROR_INVALID_HANDLE;
    if (error) {
        calls.push_back("GetCommState(" + Label(handle) + ") fails " + std::to_string(error));
        return Failed(error, FALSE);
    }
    calls.push_back("GetCommState(" + Label(handle) + ")");
    if (dcb->DCBlength != sizeof(DCB))
        calls.push_back("  (DCBlength " + std::to_string(dcb->DCBlength) + ")");
    *dcb = commio::ToDcb(settings);
    return TRUE;
}

BOOL WINAPI FakeSetCommState(HANDLE handle, LPDCB dcb)
{
    Poison();
    char line[320];
    std::snprintf(line, sizeof line,
                  "SetCommState(%s, BaudRate=%lu, ByteSize=%u, Parity=%u, StopBits=%u, fBinary=%u, fParity=%u, "
                  "fOutxCtsFlow=%u, fOutxDsrFlow=%u, fDtrControl=%u, fDsrSensitivity=%u, fOutX=%u, fInX=%u, "
                  "fRtsControl=%u)",
                  Label(handle).c_str(), dcb->BaudRate, dcb->ByteSize, dcb->Parity, dcb->StopBits,
                  unsigned(dcb->fBinary), unsigned(dcb->fParity), unsigned(dcb->fOutxCtsFlow),
                  unsigned(dcb->fOutxDsrFlow), unsigned(dcb->fDtrControl), unsigned(dcb->fDsrSensitivity),
                  unsigned(dcb->fOutX), unsigned(dcb->fInX), unsigned(dcb->fRtsControl));
    const std::uint32_t error = IsSimulated(handle) ? devices.SetState(handle, commio::FromDcb(*dcb)) : ERROR_INVALID_HANDLE;
    if (error) {
        calls.push_back(std::string(line) + " fails " + std::to_string(error));
        return Failed(error, FALSE);
    }
    calls.push_back(line);
    if (dcb->DCBlength != sizeof(DCB))
        calls.push_back("  (DCBlength " + std::to_string(dcb->DCBlength) + ")");
    return TRUE;
}

BOOL WINAPI FakeEscapeCommFunction(HANDLE handle, DWORD code)
{
    Poison();
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
    Poison();
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

void RecordEvent(const std::string &line, std::uint32_t error)
{
    if (recordEvents)
        calls.push_back(error ? line + " fails " + std::to_string(error) : line);
}

// The io.dll's wait records are real OVERLAPPEDs. Each watched handle has a
// simulated driver's record standing for the io.dll's: the simulated
// driver completes it, and the completion is mirrored into the OVERLAPPED
// and the mask the io.dll passed, as a driver completes them in place.
std::map<HANDLE, commio::CommWait *> simulatedWaits; // by handle, made at SetCommMask
struct Mirrored {
    LPOVERLAPPED overlapped;
    LPDWORD mask;
};
std::map<const commio::CommWait *, Mirrored> mirrors; // the io.dll's record a simulated one stands for

bool completionsLate = false; // the driver's completions reach the records only later, by hand

void Mirror(const sim::ComDevices::Wait &wait)
{
    if (completionsLate)
        return;
    const auto it = mirrors.find(&wait);
    if (it == mirrors.end())
        return;
    *it->second.mask = wait.completedEvents;
    it->second.overlapped->Internal = wait.status; // no longer STATUS_PENDING
    if (it->second.overlapped->hEvent)
        SetEvent(it->second.overlapped->hEvent);
}

sim::ComDevices::Wait *SimulatedFor(LPOVERLAPPED overlapped)
{
    for (const auto &[wait, mirror] : mirrors)
        if (mirror.overlapped == overlapped)
            return static_cast<sim::ComDevices::Wait *>(const_cast<commio::CommWait *>(wait));
    return nullptr;
}

BOOL WINAPI FakeSetCommMask(HANDLE handle, DWORD mask)
{
    Poison();
    const std::uint32_t error =
        IsSimulated(handle) ? devices.WatchLines(handle, simulatedWaits[handle], mask) : ERROR_INVALID_HANDLE;
    char text[16];
    std::snprintf(text, sizeof text, "0x%lX", mask);
    RecordEvent("SetCommMask(" + Label(handle) + ", " + text + ")", error);
    return error ? Failed(error, FALSE) : TRUE;
}

// Runs inside the next WaitCommEvent, once the wait has started.
std::function<void()> whileNextWaitStarts;
// The next WaitCommEvent is refused with this code (0: as the driver says).
DWORD nextWaitRefused = 0;

BOOL WINAPI FakeWaitCommEvent(HANDLE handle, LPDWORD mask, LPOVERLAPPED overlapped)
{
    Poison();
    std::uint32_t error = ERROR_INVALID_PARAMETER;
    const auto simulated = simulatedWaits.find(handle);
    if (const DWORD refused = std::exchange(nextWaitRefused, 0)) {
        RecordEvent("WaitCommEvent(" + Label(handle) + ")", refused);
        return Failed(refused, FALSE);
    }
    if (overlapped && mask && simulated != simulatedWaits.end() && simulated->second) {
        mirrors[simulated->second] = {overlapped, mask};
        overlapped->Internal = STATUS_PENDING;
        if (overlapped->hEvent)
            ResetEvent(overlapped->hEvent); // as the call does
        error = IsSimulated(handle) ? devices.StartWait(handle, *simulated->second) : ERROR_INVALID_HANDLE;
        if (error) {
            overlapped->Internal = error;
        } else if (whileNextWaitStarts) {
            // Wine's serial driver: its thread can end the wait (the mask,
            // the record, the event) before the call returns, and the call
            // then writes "pending" into the record over the result.
            std::exchange(whileNextWaitStarts, nullptr)();
            overlapped->Internal = STATUS_PENDING;
        }
    }
    RecordEvent("WaitCommEvent(" + Label(handle) + ")", error);
    return Failed(error ? error : ERROR_IO_PENDING, FALSE);
}

BOOL WINAPI FakeGetOverlappedResult(HANDLE handle, LPOVERLAPPED overlapped, LPDWORD bytes, BOOL wait)
{
    Poison();
    *bytes = 0;
    sim::ComDevices::Wait *simulated = SimulatedFor(overlapped);
    const bool pending = simulated && simulated->pending;
    // Without waiting, kernel32 goes by the record alone.
    const bool recordPending = !wait && overlapped->Internal == STATUS_PENDING;
    const std::uint32_t error = !simulated               ? ERROR_INVALID_PARAMETER
                                : pending || recordPending ? ERROR_IO_INCOMPLETE
                                                           : devices.WaitResult(handle, *simulated);
    RecordEvent("GetOverlappedResult(" + Label(handle) + (wait ? ", TRUE)" : ", FALSE)") +
                    (pending && wait ? " would wait for ever" : ""),
                error);
    return error ? Failed(error, FALSE) : TRUE;
}

BOOL WINAPI FakeCancelIoEx(HANDLE handle, LPOVERLAPPED overlapped)
{
    Poison();
    const bool pending = overlapped && SimulatedFor(overlapped) && devices.Cancel(handle);
    RecordEvent("CancelIoEx(" + Label(handle) + ")", pending ? 0 : ERROR_NOT_FOUND);
    return pending ? TRUE : Failed(ERROR_NOT_FOUND, FALSE);
}

template <typename Fn> FARPROC Proc(Fn function) { return ZELBIN_PROC_CAST(FARPROC, function); }

std::string ProgramFolder()
{
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of("\\/") + 1);
}

std::string PortMapPath() { return ProgramFolder() + "commio\\io-ports.txt"; }

void WritePortMap(const std::string &text)
{
    FILE *file = std::fopen(PortMapPath().c_str(), "wb");
    ASSERT_NE(file, nullptr) << PortMapPath();
    std::fwrite(text.data(), 1, text.size(), file);
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
                {"SetCommMask", Proc(FakeSetCommMask)},
                {"WaitCommEvent", Proc(FakeWaitCommEvent)},
                {"GetOverlappedResult", Proc(FakeGetOverlappedResult)},
                {"CancelIoEx", Proc(FakeCancelIoEx)},
                {"CreateEventA", Proc(FakeCreateEventA)},
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
        uarts = ZELBIN_PROC_CAST(CommIoUartStatusFn, GetProcAddress(io_, "CommIoUartStatus"));
        ASSERT_NE(driverInstalled, nullptr);
        ASSERT_NE(status, nullptr);
        ASSERT_NE(uarts, nullptr);
    }

    void SetUp() override
    {
        devices.Reset();
        devices.onComplete = Mirror;
        simulatedWaits.clear();
        mirrors.clear();
        recordEvents = false;
        nextWaitRefused = 0;
        calls.clear();
        labels.clear();
        eventsMade.clear();
        eventsClosed = 0;
        completionsLate = false;
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

    // Both DLLs unloaded, the key library first; the calls the io.dll made
    // meanwhile.
    Calls UnloadBoth()
    {
        FreeLibrary(key_);
        key_ = nullptr;
        FreeLibrary(io_);
        io_ = nullptr;
        return Take();
    }

    HMODULE io_ = nullptr, key_ = nullptr;
    ZelbinFunctions zelbin{};
    decltype(&IsDriverInstalled) driverInstalled = nullptr;
    decltype(&CommIoStatus) status = nullptr;
    CommIoUartStatusFn uarts = nullptr;
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
                          "CreateFileA(\"\\\\.\\COM5\", 0xC0000000, 0, NULL, 3, 0x40000000, NULL) -> c1",
                          "GetCommState(c1)",
                          kClaimDcb,
                          "CreateFileA(\"COM5\", 0xC0000000, 0, NULL, 3, 0x0, NULL) fails 5",
                          "GetCommState(c1)",
                          kLibraryDcb,
                          "EscapeCommFunction(c1, SETRTS)",
                      }));
    EXPECT_STREQ(status(), "COM5 for any UART: held");
}

// The records through the export, called as its type declares it (stdcall
// on x86): one for each mapped UART, no more bytes than the caller's size,
// and the same facts the text gives.
TEST_F(CommioDll, TheRecordsSayWhatTheTextSays)
{
    devices.Plug("COM5");
    Load("3F8 = COM5\r\nany = COM9\r\n", true);
    EXPECT_EQ(driverInstalled(), 1);
    EXPECT_STREQ(status(), "COM5 for 03F8h: held; COM9 for any UART: not held, CreateFile failed (error 2); retrying");
    CommIoUart held{}, missing{}, older{};
    held.size = missing.size = sizeof held;
    older.size = offsetof(CommIoUart, failedCall);
    older.failedCall = 0xDEADBEEF;
    EXPECT_EQ(uarts(0, &held), 2u);
    EXPECT_EQ(uarts(1, &missing), 2u);
    EXPECT_EQ(uarts(1, &older), 2u);
    EXPECT_EQ(uarts(2, nullptr), 2u);
    EXPECT_EQ(held.size, sizeof held);
    EXPECT_EQ(held.base, 0x3F8);
    EXPECT_EQ(held.link, COMMIO_LINK_HELD);
    EXPECT_STREQ(held.device, "COM5");
    EXPECT_EQ(missing.any, 1);
    EXPECT_EQ(missing.link, COMMIO_LINK_NOT_HELD);
    EXPECT_EQ(missing.failedCall, static_cast<std::uint32_t>(COMMIO_CALL_CREATE_FILE));
    EXPECT_EQ(missing.error, static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_STREQ(missing.device, "COM9");
    EXPECT_EQ(older.size, offsetof(CommIoUart, failedCall));
    EXPECT_EQ(older.link, COMMIO_LINK_NOT_HELD);
    EXPECT_EQ(older.failedCall, 0xDEADBEEFu);
}

TEST_F(CommioDll, APollIsOneModemStatusCallAndDtrFollowsTheToggle)
{
    devices.Plug("COM5");
    Load("any = COM5", true);
    zelbin.StartListen("COM5;3F8h");
    Take();
    int presses = 0;
    for (int i = 0; i < 10; ++i) {
        devices.SetInput("COM5", uart::ModemLine::Cts, i >= 3 && i < 6);
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

TEST_F(CommioDll, WithLineEventsAQuietPollMakesNoCallAndAShortPressIsReportedOnce)
{
    devices.Plug("COM5").refuseEvents = 0;
    recordEvents = true;
    Load("any = COM5", true);
    zelbin.StartListen("COM5;3F8h");
    const Calls start = Take();
    ASSERT_GE(start.size(), 2u);
    EXPECT_EQ(start[0], "CreateFileA(\"\\\\.\\COM5\", 0xC0000000, 0, NULL, 3, 0x40000000, NULL) -> c1");
    EXPECT_NE(std::find(start.begin(), start.end(), "SetCommMask(c1, 0x8)"), start.end());
    EXPECT_NE(std::find(start.begin(), start.end(), "WaitCommEvent(c1)"), start.end());
    EXPECT_STREQ(status(), "COM5 for any UART: held, line events watched");
    EXPECT_EQ(zelbin.IsZBToggle(), 0);
    Take();
    for (int i = 1; i < commio::CommIo::RefreshReads; ++i)
        EXPECT_EQ(zelbin.IsZBToggle(), 0);
    EXPECT_EQ(Take(), Calls{}) << "quiet polls make no call, not even for the time";
    devices.SetInput("COM5", uart::ModemLine::Cts, true);
    devices.SetInput("COM5", uart::ModemLine::Cts, false);
    int presses = 0;
    for (int i = 0; i < 3; ++i)
        presses += zelbin.IsZBToggle();
    EXPECT_EQ(presses, 1);
    const Calls change = Take();
    ASSERT_GE(change.size(), 4u);
    EXPECT_EQ(Calls(change.begin(), change.begin() + 4),
              (Calls{"GetOverlappedResult(c1, TRUE)", "GetCommModemStatus(c1)", "WaitCommEvent(c1)",
                     "GetCommModemStatus(c1)"}));
    const Calls unload = UnloadBoth();
    EXPECT_NE(std::find(unload.begin(), unload.end(), "CancelIoEx(c1)"), unload.end());
    EXPECT_EQ(devices.ClosedWithWaitPending(), 0u);
}

// Under Wine, a wait that a line change ends while WaitCommEvent is still
// on its way back has its record marked pending again over the result,
// though the wait is over and its event set. The io.dll takes it as over:
// the change is shown and the next wait armed, so a later press is seen.
TEST_F(CommioDll, AWaitEndedWhileItStartedIsCollectedAndArmedAgain)
{
    devices.Plug("COM5").refuseEvents = 0;
    recordEvents = true;
    Load("any = COM5", true);
    zelbin.StartListen("COM5;3F8h");
    EXPECT_EQ(zelbin.IsZBToggle(), 0);
    const auto key = [](bool down) { devices.SetInput("COM5", uart::ModemLine::Cts, down); };
    key(true);
    whileNextWaitStarts = [&key] { key(false); }; // released as the next wait starts
    std::string answers;
    for (int i = 0; i < 4; ++i)
        answers += static_cast<char>('0' + zelbin.IsZBToggle());
    key(true); // a press between two polls
    key(false);
    for (int i = 0; i < 3; ++i)
        answers += static_cast<char>('0' + zelbin.IsZBToggle());
    EXPECT_EQ(answers, "1000100") << "each press reported once, the second too";
    EXPECT_FALSE(whileNextWaitStarts);
    EXPECT_EQ(devices.WaitsPending(), 1u) << "a wait armed again";
}

// The wait's record through its life, as the io.dll's binding to kernel32
// handles it: nothing it does waits, in a poll or at the unload.
DWORD Elapsed(DWORD since) { return GetTickCount() - since; }

TEST_F(CommioDll, ARefusedWaitIsFreedAtOnceAndTheLinesAreReadAtEveryPoll)
{
    devices.Plug("COM5").refuseEvents = 0;
    nextWaitRefused = ERROR_INVALID_FUNCTION;
    Load("any = COM5", true);
    zelbin.StartListen("COM5;3F8h");
    EXPECT_STREQ(status(), "COM5 for any UART: held, line events refused by WaitCommEvent (error 1), lines read at "
                           "every poll");
    EXPECT_EQ(eventsMade.size(), 0u) << "the refusal set the event, and the record was freed with it";
    EXPECT_EQ(eventsClosed, 1u);
    Take();
    devices.SetInput("COM5", uart::ModemLine::Cts, true);
    EXPECT_EQ(zelbin.IsZBToggle(), 1);
    EXPECT_EQ(Take(), Calls{"GetCommModemStatus(c1)"});
    const DWORD start = GetTickCount();
    UnloadBoth();
    EXPECT_LT(Elapsed(start), 500u);
}

// A driver slow to end a cancelled wait (Wine's ends a serial wait only as
// its handle closes): a poll that loses the device returns at once, the
// record is left to the driver, which completes it as the handle closes,
// and it is freed at the next watch, the reopen's.
TEST_F(CommioDll, ACancelTheDriverIsSlowToEndHoldsUpNoPoll)
{
    devices.Plug("COM5").refuseEvents = 0;
    devices.Find("COM5")->slowCancel = true;
    recordEvents = true;
    Load("any = COM5", true);
    zelbin.StartListen("COM5;3F8h");
    EXPECT_EQ(zelbin.IsZBToggle(), 0);
    ASSERT_EQ(eventsMade.size(), 1u);
    devices.Find("COM5")->failNext = ERROR_GEN_FAILURE;
    const DWORD start = GetTickCount();
    for (int i = 0; i < commio::CommIo::RefreshReads; ++i) // the refresh read fails
        zelbin.IsZBToggle();
    EXPECT_LT(Elapsed(start), 500u) << "the poll waited for the driver";
    EXPECT_EQ(driverInstalled(), 0);
    const Calls loss = Take();
    EXPECT_NE(std::find(loss.begin(), loss.end(), "CancelIoEx(c1)"), loss.end());
    EXPECT_EQ(eventsClosed, 0u) << "left to the driver, not freed under its hand";
    EXPECT_EQ(devices.ClosedWithWaitPending(), 1u) << "the driver completes it at the close";
    devices.Find("COM5")->slowCancel = false;
    devices.Advance(commio::CommIo::RetryIntervalMs);
    EXPECT_EQ(driverInstalled(), 1);
    EXPECT_EQ(eventsClosed, 1u) << "freed at the reopen's watch, once given back";
    devices.SetInput("COM5", uart::ModemLine::Cts, true);
    EXPECT_EQ(zelbin.IsZBToggle(), 1);
}

// The io.dll unloaded while the driver still holds its wait's record: slow
// to give up a pending wait, or (Wine) ending it in steps, the mask
// written and the event not yet set. Its loader callback makes no call
// that waits for the driver, and gives the record a short while after the
// close, 50 ms at most: one given back as the handle closes, or a few
// milliseconds later from the driver's own thread (Wine's), is freed; else
// the record, outside the io.dll's image, is left to
// the driver, which completes it there after the unload, into no memory
// allocated since. Then the io.dll is loaded again, and a press is a press.
enum class GivenBack { AtTheClose, SoonAfter, AfterTheUnload };

struct DriverAtUnload {
    const char *name;
    DWORD maskWritten;   // the events the driver wrote before the unload
    GivenBack givenBack; // SoonAfter: from a thread of the driver's, 15 ms on
};

// The driver's own thread giving a cancelled wait's record back a while
// after the close, as Wine's does.
struct LateGiver {
    LPOVERLAPPED record;
    DWORD afterMs;
    HANDLE running; // set once the thread runs: a thread's start waits for the loader
};

DWORD WINAPI GiveBackLate(LPVOID context)
{
    const auto *giver = static_cast<const LateGiver *>(context);
    SetEvent(giver->running);
    Sleep(giver->afterMs);
    giver->record->Internal = ERROR_OPERATION_ABORTED;
    SetEvent(giver->record->hEvent);
    return 0;
}

std::ostream &operator<<(std::ostream &os, const DriverAtUnload &c) { return os << c.name; }

class CommioDllUnload : public CommioDll, public ::testing::WithParamInterface<DriverAtUnload> {
protected:
    void ReloadAndPress()
    {
        completionsLate = false;
        mirrors.clear();
        simulatedWaits.clear();
        devices.Find("COM5")->slowCancel = false;
        Load(nullptr, true);
        zelbin.StartListen("COM5;3F8h");
        EXPECT_EQ(zelbin.IsZBToggle(), 0);
        devices.SetInput("COM5", uart::ModemLine::Cts, true);
        EXPECT_EQ(zelbin.IsZBToggle(), 1);
        EXPECT_STREQ(status(), "COM5 for any UART: held, line events watched");
    }
};

TEST_P(CommioDllUnload, ItFreesTheRecordGivenBackAtTheCloseAndLeavesTheRestToTheDriver)
{
    devices.Plug("COM5").refuseEvents = 0;
    devices.Find("COM5")->slowCancel = true;
    recordEvents = true;
    Load("any = COM5", true);
    zelbin.StartListen("COM5;3F8h");
    EXPECT_EQ(zelbin.IsZBToggle(), 0);
    ASSERT_EQ(mirrors.size(), 1u);
    const LPOVERLAPPED record = mirrors.begin()->second.overlapped;
    const LPDWORD mask = mirrors.begin()->second.mask;
    const auto base = reinterpret_cast<std::uintptr_t>(io_);
    const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(io_);
    const auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + static_cast<std::uintptr_t>(dos->e_lfanew));
    const auto at = reinterpret_cast<std::uintptr_t>(record);
    EXPECT_FALSE(at >= base && at < base + nt->OptionalHeader.SizeOfImage) << "the record in the io.dll's own image";

    zelbin.StopListen();
    Take();
    *mask = GetParam().maskWritten;
    const GivenBack givenBack = GetParam().givenBack;
    completionsLate = givenBack != GivenBack::AtTheClose; // the close's completion reaches the record later
    eventsClosed = 0;
    LateGiver giver{record, 15, CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    const HANDLE late =
        givenBack == GivenBack::SoonAfter ? CreateThread(nullptr, 0, GiveBackLate, &giver, 0, nullptr) : nullptr;
    if (late)
        WaitForSingleObject(giver.running, INFINITE);
    CloseHandle(giver.running);
    const DWORD start = GetTickCount();
    const Calls unload = UnloadBoth();
    const DWORD took = Elapsed(start);
    if (late) {
        WaitForSingleObject(late, INFINITE);
        CloseHandle(late);
    }
    EXPECT_LT(took, givenBack == GivenBack::AfterTheUnload ? 50u + 100u : 500u)
        << "the unload waited past its bound under the loader lock";
    EXPECT_NE(std::find(unload.begin(), unload.end(), "CancelIoEx(c1)"), unload.end());
    for (const std::string &call : unload)
        EXPECT_EQ(call.rfind("GetOverlappedResult", 0), std::string::npos) << "waited under the loader lock: " << call;
    EXPECT_EQ(devices.ClosedWithWaitPending(), 1u) << "the driver completes it at the close";
    EXPECT_EQ(eventsClosed, givenBack == GivenBack::AfterTheUnload ? 0u : 1u)
        << "freed once given back, else left to the driver";
    if (givenBack != GivenBack::AfterTheUnload)
        return ReloadAndPress();

    // The driver's late completion, where the record was, after memory
    // was allocated: a record freed under the driver's hand shows here.
    std::vector<std::vector<char>> blocks;
    for (int i = 0; i < 1000; ++i)
        blocks.emplace_back(static_cast<std::size_t>(16 + i % 200), static_cast<char>(i));
    record->Internal = ERROR_OPERATION_ABORTED;
    record->InternalHigh = 0x5A5A5A5A;
    *mask = 0;
    for (std::size_t i = 0; i < blocks.size(); ++i)
        EXPECT_EQ(std::count(blocks[i].begin(), blocks[i].end(), static_cast<char>(i)),
                  static_cast<std::ptrdiff_t>(blocks[i].size()))
            << "memory allocated after the unload changed";
    ReloadAndPress();
}

const DriverAtUnload kDriversAtUnload[] = {
    {"SlowToGiveUpAPendingWait", 0, GivenBack::AfterTheUnload},
    {"EndingTheWaitWithTheEventNotYetSet", EV_CTS, GivenBack::AfterTheUnload},
    {"GivingItBackAsTheHandleCloses", 0, GivenBack::AtTheClose},
    {"GivingItBackFromItsOwnThreadSoonAfter", 0, GivenBack::SoonAfter},
};
INSTANTIATE_TEST_SUITE_P(Table, CommioDllUnload, ::testing::ValuesIn(kDriversAtUnload),
                         [](const auto &row) { return std::string(row.param.name); });

// A normally closed key on DSR whose contacts bounce, with the map's
// wiring: the unchanged library reports one press per press, the first
// at the poll that sees the line fall.
TEST_F(CommioDll, ABouncingNormallyClosedKeyOnDsrIsOnePressPerPress)
{
    devices.Plug("COM5");
    devices.SetInput("COM5", uart::ModemLine::Dsr, true); // the key at rest holds DSR up
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
            devices.SetInput("COM5", uart::ModemLine::Dsr, edge % 2 == 1);
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
            devices.SetInput("COM5", uart::ModemLine::Dsr, edge % 2 == 0);
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
    devices.SetInput("COM5", uart::ModemLine::Cts, true);
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

// The device's settings block before the claim, as a driver might leave it:
// only the io.dll's own fields change, whatever was there, and DTR and RTS
// are held by the driver at exactly ENABLE or DISABLE.
struct FillCase {
    const char *name;
    std::uint8_t fill;
    std::string changes; // sim::DescribeChanges after the start and the host's DTR on
};

std::ostream &operator<<(std::ostream &os, const FillCase &f) { return os << f.name; }

class CommioDllFill : public CommioDll, public ::testing::WithParamInterface<FillCase> {};

TEST_P(CommioDllFill, OnlyTheIoDllsFieldsChange)
{
    const commio::DeviceSettings before = sim::ComDevices::FilledWith(GetParam().fill);
    devices.StartFrom(before);
    devices.Plug("COM5");
    Load("any = COM5", true);
    zelbin.StartListen("COM5;3F8h");
    zelbin.SetToggled(1);
    const commio::DeviceSettings &now = devices.Find("COM5")->settings;
    EXPECT_EQ(sim::DescribeChanges(before, now), GetParam().changes);
    EXPECT_EQ(now.fDtrControl, DTR_CONTROL_DISABLE); // the last SetCommState; DTR by escape since
    EXPECT_EQ(now.fRtsControl, RTS_CONTROL_DISABLE);
    EXPECT_TRUE(devices.Find("COM5")->rts);
    EXPECT_TRUE(devices.Find("COM5")->dtr);
    EXPECT_STREQ(status(), "COM5 for any UART: held");
    // A format while both lines are on carries them as ENABLE.
    Take();
    const auto portOut = ZELBIN_PROC_CAST(decltype(&PortOut), GetProcAddress(io_, "PortOut"));
    ASSERT_NE(portOut, nullptr);
    portOut(0x3FB, 0x80);
    portOut(0x3F8, 0x01);
    portOut(0x3FB, 0x03);
    EXPECT_EQ(now.BaudRate, 115200u);
    EXPECT_EQ(now.fDtrControl, DTR_CONTROL_ENABLE);
    EXPECT_EQ(now.fRtsControl, RTS_CONTROL_ENABLE);
    EXPECT_EQ(now.fOutxCtsFlow, 0);
    EXPECT_EQ(now.fOutX, 0);
    EXPECT_EQ(now.fInX, 0);
    EXPECT_EQ(Take().size(), 2u); // GetCommState, SetCommState
}

const FillCase kFills[] = {
    {"Zeros", 0x00, "BaudRate 0->2400, fBinary 0->1, fParity 0->1, ByteSize 0->8, Parity 0->1"},
    {"Ones", 0xFF,
     "BaudRate 4294967295->2400, fOutxCtsFlow 1->0, fOutxDsrFlow 1->0, fDtrControl 3->0, fDsrSensitivity 1->0, "
     "fOutX 1->0, fInX 1->0, fRtsControl 3->0, fAbortOnError 1->0, ByteSize 255->8, Parity 255->1, StopBits 255->0"},
};
INSTANTIATE_TEST_SUITE_P(Table, CommioDllFill, ::testing::ValuesIn(kFills),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(CommioDll, AGetCommStateFailureIsReportedUnderItsName)
{
    devices.Plug("COM5").failGetState = ERROR_GEN_FAILURE;
    Load("any = COM5", true);
    EXPECT_EQ(driverInstalled(), 0);
    EXPECT_EQ(Take(), (Calls{"CreateFileA(\"\\\\.\\COM5\", 0xC0000000, 0, NULL, 3, 0x40000000, NULL) -> c1",
                             "GetCommState(c1) fails 31", "CloseHandle(c1)"}));
    EXPECT_STREQ(status(), "COM5 for any UART: not held, GetCommState failed (error 31); retrying");
}

// The port map file as the real io.dll reads it, beside itself.
struct MapFileCase {
    const char *name;
    std::string text;
    const char *status;
};

std::ostream &operator<<(std::ostream &os, const MapFileCase &m) { return os << m.name; }

class CommioDllMapFile : public CommioDll, public ::testing::WithParamInterface<MapFileCase> {};

TEST_P(CommioDllMapFile, IsReadWholeAndRefusedWithWhereAndWhy)
{
    devices.Plug("COM5"); // what a map read whole names is claimed
    WritePortMap(GetParam().text);
    Load(nullptr, true);
    EXPECT_EQ(driverInstalled(), std::string(GetParam().status).rfind("COM5", 0) == 0 ? 1 : 0);
    EXPECT_STREQ(status(), GetParam().status);
}

const MapFileCase kMapFiles[] = {
    {"ExactlyTheLimit", "any = COM5\n" + std::string(16384 - 11, '\n'), "COM5 for any UART: held"},
    {"OneByteTooLong", "any = COM5\n" + std::string(16384 - 10, '\n'), "io-ports.txt: longer than 16384 bytes"},
    {"FarTooLong", "any = COM5\n" + std::string(100000, '#'), "io-ports.txt: longer than 16384 bytes"},
    {"ABadLine", "any = COM5\r\nspeed = 9600\r\n",
     "io-ports.txt line 2: unknown key 'speed'; the key is 'any' or a UART base such as 3F8"},
    {"NoMapping", "# nothing yet\r\n", "io-ports.txt: names no COM device; add a line such as 'any = COM3'"},
};
INSTANTIATE_TEST_SUITE_P(Table, CommioDllMapFile, ::testing::ValuesIn(kMapFiles),
                         [](const auto &row) { return std::string(row.param.name); });

} // namespace
