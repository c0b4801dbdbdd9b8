// Fuzz target: a parameter text and a sequence of host calls and world
// events, run against the library over the simulator, with the library's
// promises checked after every step.
//
// Input: the parameter text, a newline, then one operation per byte:
//   s start   x stop    p poll    t set toggled  f clear toggled
//   d key down   u key up   D driver present   N driver absent
//   o devices COM1-COM4 can't be opened (again: they can)
//   v GetPortBit answers 0x0100 for set (again: 1)
//   U unload, then load a fresh copy
// Any other byte picks an operation by its value.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "Zelbin_Serial.h"
#include "Zelbin_SerialCore.h"
#include "sim/World.h"

namespace {

const char kOps[] = "sxptfduDNovU";

[[noreturn]] void Broken(const std::string &what, const std::string &detail)
{
    std::fprintf(stderr, "promise broken: %s\n  %s\n", what.c_str(), detail.c_str());
    std::abort();
}

void Expect(bool holds, const char *what, const std::string &detail = {})
{
    if (!holds)
        Broken(what, detail);
}

bool IsPortAccess(const sim::Call &call)
{
    using Op = sim::Call::Op;
    return call.op == Op::PortOut || call.op == Op::GetPortBit || call.op == Op::SetPortBit ||
           call.op == Op::ClrPortBit;
}

class Checker {
public:
    explicit Checker(sim::World &world) : world_(world) {}

    void Step(char op)
    {
        const bool wasListening = PortOpen;
        const std::size_t before = world_.Calls().size();
        int answer = -1;
        switch (op) {
        case 's': ZelbinStartListen(params_.c_str()); break;
        case 'x': ZelbinStopListen(); break;
        case 'p': answer = ZelbinIsZBToggle(); break;
        case 't': ZelbinSetToggled(1); break;
        case 'f': ZelbinSetToggled(0); break;
        case 'd':
        case 'u':
            if (sim::Uart16550 *uart = world_.UartAt(PortBase))
                uart->SetCts(op == 'd');
            break;
        case 'D': world_.SetDriverInstalled(true); break;
        case 'N': world_.SetDriverInstalled(false); break;
        case 'o':
            devicesFail_ = !devicesFail_;
            for (const sim::StandardPort &port : sim::StandardPorts)
                world_.SetDeviceExists(port.name, !devicesFail_);
            break;
        case 'v':
            bitSetValue_ = bitSetValue_ == 1 ? 0x0100 : 1;
            world_.SetBitSetValue(bitSetValue_);
            break;
        case 'U':
            LibraryUnload();
            orphans_ += instanceHandles_;
            instanceHandles_ = 0;
            // A fresh copy of the library in the same process.
            ClearPortStateAsInANewProcess();
            LibraryLoad();
            lastSeenLevel_ = false;
            break;
        default: break;
        }
        CheckCalls(op, before, wasListening, answer);
        CheckHandles();
    }

    void SetParams(std::string params) { params_ = std::move(params); }

private:
    void CheckCalls(char op, std::size_t from, bool wasListening, int answer)
    {
        const auto &calls = world_.Calls();
        const std::string where = std::string("operation '") + op + "'";
        const sim::Call *bitRead = nullptr;
        for (std::size_t i = from; i < calls.size(); ++i) {
            const sim::Call &call = calls[i];
            const std::string line = where + ": " + sim::Describe(call);
            if (IsPortAccess(call)) {
                Expect(PortOpen, "no port access while idle", line);
                Expect(static_cast<std::uint16_t>(call.port - PortBase) < 7,
                       "port accesses stay within the seven registers from the base", line);
                if (call.op == sim::Call::Op::GetPortBit)
                    bitRead = &call;
            }
            if (call.op == sim::Call::Op::CreateFileA && call.handle != sim::InvalidHandle()) {
                ++instanceHandles_;
                closes_[call.handle] = 0;
            }
            if (call.op == sim::Call::Op::CloseHandle && call.handle != sim::InvalidHandle()) {
                const auto entry = closes_.find(call.handle);
                Expect(entry != closes_.end(), "only handles the library opened are closed", line);
                Expect(++entry->second == 1, "a device is closed at most once", line);
                --instanceHandles_;
            }
        }
        if ((op == 'p' || op == 't' || op == 'f') && !wasListening)
            Expect(calls.size() == from, "an idle library makes no call at all", where);
        if (op == 'p') {
            Expect(answer == 0 || answer == 1, "a poll answers exactly 0 or 1", where);
            if (bitRead) {
                const bool level = bitRead->result != 0;
                Expect(answer == (level && !lastSeenLevel_ ? 1 : 0),
                       "a poll answers 1 only for a change from clear to set since the last read", where);
                lastSeenLevel_ = level;
            } else {
                Expect(answer == 0, "a poll that reads nothing answers 0", where);
            }
        }
    }

    void CheckHandles()
    {
        // Opened by this copy of the library: held while listening (at most
        // one), all closed once it is idle. Copies that were unloaded keep
        // theirs.
        Expect(instanceHandles_ == (PortOpen && sim::IsSimHandle(PortHandle) ? 1 : 0),
               "every device opened is closed by stop or restart, or is the one still held",
               "open by this copy: " + std::to_string(instanceHandles_));
        Expect(world_.HandlesHeld() == static_cast<std::size_t>(instanceHandles_ + orphans_),
               "the world holds exactly the handles not yet closed");
    }

    sim::World &world_;
    std::string params_;
    std::map<sim::Handle, int> closes_;
    int instanceHandles_ = 0;
    int orphans_ = 0;
    bool lastSeenLevel_ = false;
    bool devicesFail_ = false;
    std::uint16_t bitSetValue_ = 1;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    sim::World &world = sim::TheWorld();
    world.Reset();
    ClearPortStateAsInANewProcess();
    LibraryLoad();

    const std::string input(reinterpret_cast<const char *>(data), size);
    const std::size_t newline = input.find('\n');
    // The parameter text reaches the library NUL-terminated, as from a host.
    std::string params = input.substr(0, newline);
    params = params.substr(0, params.find('\0'));
    const std::string ops = newline == std::string::npos ? std::string("spx") : input.substr(newline + 1);

    Checker checker(world);
    checker.SetParams(params);
    for (const char byte : ops) {
        char op = byte;
        if (std::string(kOps).find(op) == std::string::npos)
            op = kOps[static_cast<unsigned char>(byte) % (sizeof kOps - 1)];
        checker.Step(op);
    }
    ZelbinStopListen();
    return 0;
}
