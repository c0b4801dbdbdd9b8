// The comm-port io.dll's view of the operating system, passed to kernel32
// (and the port list to SetupAPI).
#pragma once

#include "commio/CommApi.h"

namespace commio {

class Win32Comm final : public CommApi {
public:
    std::uint32_t Open(const char *path, DeviceHandle &handle) override;
    std::uint32_t GetState(DeviceHandle handle, DeviceSettings &settings) override;
    std::uint32_t SetState(DeviceHandle handle, const DeviceSettings &settings) override;
    std::uint32_t EscapeFunction(DeviceHandle handle, Escape code) override;
    std::uint32_t ModemStatus(DeviceHandle handle, std::uint8_t &lines) override;
    void Close(DeviceHandle handle) override;
    std::uint32_t ListPorts(PortVisitor visit, void *context) override;
    std::uint32_t Ticks() override;
    std::uint32_t QuietTicks() override;

    std::uint32_t OpenForEvents(const char *path, DeviceHandle &handle) override;
    std::uint32_t WatchLines(DeviceHandle handle, CommWait *&wait, std::uint32_t events) override;
    std::uint32_t StartWait(DeviceHandle handle, CommWait &wait) override;
    bool WaitPending(const CommWait &wait) override;
    std::uint32_t WaitResult(DeviceHandle handle, CommWait &wait) override;
    void EndWait(DeviceHandle handle, CommWait *&wait) override;

    // The DLL is being unloaded: nothing can free a record later, so the
    // records of waits the driver still holds are given what is left of
    // UnloadGraceMs from now to come back, once their device is closed (see
    // Close): at most that long for the whole unload.
    void Unloading();
    static constexpr unsigned UnloadGraceMs = 50;

private:
    bool unloading_ = false;
    std::uint32_t unloadingSince_ = 0;
};

} // namespace commio
