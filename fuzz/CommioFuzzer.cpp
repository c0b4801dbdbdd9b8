// Fuzz target: the comm-port io.dll core over simulated COM devices. A port
// map, then register accesses, driver checks and device faults (unplug,
// replug, a USB adapter renumbered, a port list that fails or is empty, a
// failing next call, a port that is no serial port, a refused rate, line
// waits that end with their thread, time passing), with the core's promises
// checked after every step. Maps may carry wiring options and USB
// identities.
//
// Input: one byte N; N > 0: the next N bytes are the port map's text,
// N = 0: the map is picked by the following byte from a few good ones.
// Then operations, each an opcode byte and its arguments:
//   0 PortOut(port, value)   1 PortIn(port)   2 GetPortBit(port, bit)
//   3 SetPortBit(port, bit)  4 ClrPortBit(port, bit)   5 IsDriverInstalled
//   6 device event (device, what[, calls before a fault])
//   7 time passes (byte * 8 ms)
// A port is two bytes: the first picks a base among 3F8h, 2F8h, D040h or
// a raw 16-bit port, the second the register or the low byte.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "commio/CommIo.h"
#include "commio/PortMap.h"
#include "comdevices/ComDevices.h"

namespace {

const char *const kDevices[] = {"COM5", "COM6", "COM7", "COM8"};
// COM5 and COM6 start as USB adapters with these instance IDs.
const char *const kAdapters[] = {"USB\\VID_0403&PID_6001\\A5", "USB\\VID_0403&PID_6001\\A6"};
const char *const kMaps[] = {"any = COM5", "3F8 = COM5", "3F8 = COM5\n2F8 = COM6", "any = COM5\nD040 = COM6",
                             "any = COM5 line=DSR invert debounce=20", "any = usb=0403:6001:A5 COM5 debounce=8",
                             "3F8 = usb=0403:6001:A6 line=DCD\n2F8 = COM7 invert", "any = usb=0403:6001 COM8 line=RI"};
constexpr unsigned kMapCount = sizeof kMaps / sizeof kMaps[0];

[[noreturn]] void Broken(const char *what, const std::string &detail = {})
{
    std::fprintf(stderr, "promise broken: %s\n  %s\n", what, detail.c_str());
    std::abort();
}

class Input {
public:
    Input(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}
    bool Empty() const { return at_ >= size_; }
    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::string Text(std::size_t n)
    {
        n = n < size_ - at_ ? n : size_ - at_;
        std::string text(reinterpret_cast<const char *>(data_ + at_), n);
        at_ += n;
        return text;
    }
    std::uint16_t Port()
    {
        static const std::uint16_t bases[] = {0x3F8, 0x2F8, 0xD040};
        const std::uint8_t pick = Byte();
        const std::uint8_t low = Byte();
        if ((pick & 3) < 3)
            return static_cast<std::uint16_t>(bases[pick & 3] + (low & 7));
        return static_cast<std::uint16_t>(pick << 8 | low);
    }

private:
    const std::uint8_t *data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

class Checker {
public:
    Checker(sim::ComDevices &devices, commio::CommIo &io, const commio::PortMapResult &map)
        : devices_(devices), io_(io), map_(map)
    {
    }

    // The COM name a mapping gives, as the simulator names it; empty for
    // an adapter alone.
    static std::string DeviceOf(const commio::PortMapping &m)
    {
        std::string name = m.path.size() > 4 ? std::string(m.path.view().substr(4)) : std::string();
        for (char &c : name)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 32);
        return name;
    }

    // Whether the mapping may hold this device: by its COM name, or as the
    // port that carries its adapter.
    bool MayHold(const commio::PortMapping &m, const std::string &name) const
    {
        if (DeviceOf(m) == name)
            return true;
        const sim::ComDevices::Device *device = devices_.Find(name);
        return m.hasUsb && device && !device->instanceId.empty() &&
               commio::InstanceIdMatches(device->instanceId, m.usb);
    }

    bool Mapped(const std::string &device) const
    {
        for (const commio::PortMapping &m : map_.uarts)
            if (MayHold(m, device))
                return true;
        return false;
    }

    void After(const std::string &step, bool wroteUnmapped, std::size_t callsBefore)
    {
        for (const char *name : kDevices) {
            const sim::ComDevices::Device *device = devices_.Find(name);
            if (!Mapped(name) && (device->held || device->dtr || device->rts))
                Broken("a device no line maps was opened or had its lines changed", step + " " + name);
        }
        if (devices_.HandlesHeld() > map_.uarts.size())
            Broken("more devices held than mapped", step);
        if (wroteUnmapped && devices_.Calls().size() != callsBefore)
            Broken("a write to a port no line maps reached a device", step);
        // A held device's outputs are the register file's, unless looped
        // back, where one mapping alone may hold it. Ports 0 to 7 are always
        // `any`'s: explicit bases start at 100h.
        for (const char *name : kDevices) {
            const sim::ComDevices::Device *device = devices_.Find(name);
            const commio::PortMapping *holder = nullptr;
            int candidates = 0;
            for (const commio::PortMapping &m : map_.uarts)
                if (MayHold(m, name)) {
                    holder = &m;
                    ++candidates;
                }
            if (!device->held || candidates != 1)
                continue;
            const uart::Uart16550 *regs = io_.RegistersAt(holder->any ? std::uint16_t{0} : holder->base);
            if (!regs || (regs->mcr & uart::Uart16550::MCR_LOOP))
                continue;
            if (device->dtr != ((regs->mcr & uart::ModemLine::Dtr.Mask()) != 0) ||
                device->rts != ((regs->mcr & uart::ModemLine::Rts.Mask()) != 0))
                Broken("a held device's DTR or RTS differs from the modem control register", step);
        }
        CheckDebounce(step);
    }

    // A debounced key line, as the UART shows it, changes at most once in
    // any debounce interval. Loopback feeds the status from the outputs, so
    // the watch starts again after it.
    void CheckDebounce(const std::string &step)
    {
        const std::uint32_t now = devices_.Ticks();
        for (std::size_t i = 0; i < map_.uarts.size() && i < kWatches; ++i) {
            const commio::PortMapping &m = map_.uarts[i];
            const uart::Uart16550 *regs = io_.RegistersAt(m.any ? std::uint16_t{0} : m.base);
            Watch &watch = watches_[i];
            if (!regs || m.debounceMs == 0)
                continue;
            if (regs->mcr & uart::Uart16550::MCR_LOOP) {
                watch = Watch{};
                watch.looped = true;
                continue;
            }
            const bool cts = (regs->inputs & uart::Uart16550::MSR_CTS) != 0;
            if (watch.looped) {
                watch = Watch{};
                watch.cts = cts;
                continue;
            }
            if (cts == watch.cts)
                continue;
            if (watch.changed && now - watch.at < m.debounceMs)
                Broken("a debounced key line changed twice within its debounce time",
                       step + " at " + std::to_string(now) + " ms, last change at " + std::to_string(watch.at));
            watch.cts = cts;
            watch.changed = true;
            watch.at = now;
        }
    }

private:
    struct Watch {
        bool cts = false, changed = false, looped = false;
        std::uint32_t at = 0;
    };
    static constexpr std::size_t kWatches = commio::MaxMappedUarts;
    sim::ComDevices &devices_;
    commio::CommIo &io_;
    const commio::PortMapResult &map_;
    Watch watches_[kWatches];
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Input input(data, size);
    const std::uint8_t mapLength = input.Byte();
    const std::string mapText = mapLength ? input.Text(mapLength) : kMaps[input.Byte() % kMapCount];
    const commio::PortMapResult map = commio::ParsePortMap(mapText);

    sim::ComDevices devices;
    devices.SetRecording(true);
    for (const char *name : kDevices)
        devices.Plug(name);
    devices.PlugAdapter(kDevices[0], kAdapters[0]);
    devices.PlugAdapter(kDevices[1], kAdapters[1]);
    // Comm events: two devices signal their line changes, one takes waits
    // and never completes them, one has none.
    devices.Find(kDevices[0])->refuseEvents = 0;
    devices.Find(kDevices[1])->refuseEvents = 0;
    devices.Find(kDevices[2])->refuseEvents = 0;
    devices.Find(kDevices[2])->silent = true;
    bool listed = true;
    commio::CommIo io(devices);
    if (map.error.empty())
        io.Configure(map.uarts);
    else
        io.ConfigureFailed(map.error.c_str());
    Checker checker(devices, io, map);

    while (!input.Empty()) {
        const std::uint8_t op = input.Byte() & 7;
        std::string step = "op " + std::to_string(op);
        const std::size_t callsBefore = devices.Calls().size();
        bool wroteUnmapped = false;
        switch (op) {
        case 0: {
            const std::uint16_t port = input.Port();
            wroteUnmapped = io.RegistersAt(port) == nullptr;
            io.PortOut(port, input.Byte());
            break;
        }
        case 1: {
            const std::uint16_t port = input.Port();
            const std::uint8_t value = io.PortIn(port);
            if (!io.RegistersAt(port) && value != 0xFF)
                Broken("a port no line maps read other than FFh");
            break;
        }
        case 2: {
            const std::uint16_t port = input.Port();
            const std::uint8_t bit = input.Byte();
            const std::uint16_t value = io.GetPortBit(port, bit);
            if (value > 1)
                Broken("a bit read answered more than 1");
            break;
        }
        case 3:
        case 4: {
            const std::uint16_t port = input.Port();
            wroteUnmapped = io.RegistersAt(port) == nullptr;
            if (op == 3)
                io.SetPortBit(port, input.Byte());
            else
                io.ClrPortBit(port, input.Byte());
            break;
        }
        case 5: {
            const std::uint8_t answer = io.IsDriverInstalled();
            if (answer != (devices.HandlesHeld() > 0 ? 1 : 0))
                Broken("IsDriverInstalled disagrees with the devices held");
            if (!map.error.empty() && answer)
                Broken("IsDriverInstalled answered 1 without a port map");
            break;
        }
        case 6: {
            const std::uint8_t which = input.Byte();
            const std::string name = kDevices[which & 3];
            sim::ComDevices::Device *device = devices.Find(name);
            static const std::uint32_t faults[] = {22, 31, 87, 5, 1167, 995, 1};
            switch ((which >> 2) & 7) {
            case 0: devices.Unplug(name); break;
            case 1: // plugged in again; with bit 5, as one of the adapters: renumbered
                if (which & 0x20)
                    devices.PlugAdapter(name, kAdapters[(which >> 6) & 1]);
                else
                    devices.Plug(name);
                break;
            case 2: devices.SetInput(name, uart::InputLines[(which >> 5) & 3], true); break;
            case 3: devices.SetInput(name, uart::InputLines[(which >> 5) & 3], false); break;
            case 4: // a failing call, after 0 to 3 that succeed
                device->failNext = faults[(which >> 5) % 7];
                device->failAfter = input.Byte() & 3;
                break;
            case 5: // with bit 5 the driver's comm events come or go (a wait pending stays so)
                if (which & 0x20)
                    device->refuseEvents = device->refuseEvents ? 0 : faults[(which >> 6) % 7];
                else
                    device->serial = !device->serial;
                break;
            case 6: // with bit 5 the waits end as their thread exits; else the rate limit changes
                if (which & 0x20)
                    devices.EndWaitsWithTheirThread(name);
                else
                    device->maxBaud = device->maxBaud == 921600 ? 9600 : 921600;
                break;
            default: // with bit 5 the port list goes away or comes back; with 6 it fails
                if (which & 0x20)
                    listed = !listed;
                devices.SetPortList(listed, (which & 0x40) ? 1168 : 0);
                io.Status();
                break;
            }
            step += " event " + std::to_string(which);
            break;
        }
        default: devices.Advance(static_cast<std::uint32_t>(input.Byte()) * 8); break;
        }
        checker.After(step, wroteUnmapped, callsBefore);
        if (devices.ClosedWithWaitPending() != 0)
            Broken("a handle was closed with its comm event wait still pending", step);
        if (devices.Calls().size() > 4096)
            devices.TakeCalls();
    }
    io.Release();
    if (devices.WaitsPending() != 0 || devices.ClosedWithWaitPending() != 0)
        Broken("a comm event wait outlived the release");
    if (devices.HandlesHeld() != 0 || devices.Opens() != devices.Closes() || devices.BadCloses() != 0)
        Broken("an open was not closed exactly once",
               std::to_string(devices.Opens()) + " opens, " + std::to_string(devices.Closes()) + " closes");
    return 0;
}
