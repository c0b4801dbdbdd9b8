// Fuzz target: a parameter text and a sequence of host calls and world
// events, run against the library over the simulator, with every call the
// library makes checked against what it promises.
//
// The checker never looks at the library's own state. Which device and base
// a parameter text selects comes from a model of the text rules written
// here; whether the library listens follows from the calls it made (a
// driver answer, a device open, a close).
//
// Input: the parameter text, a newline, then one operation per byte:
//   s start   x stop    p poll    t set toggled  f clear toggled
//   d key down   u key up   D driver present   N driver absent
//   o devices COM1-COM4 can't be opened (again: they can)
//   v GetPortBit answers 0x0100 for set (again: 1)
//   w the driver check answers FFh for present (again: 1)
//   U unload, then load a fresh copy
// Any other byte picks an operation by its value.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "Zelbin_Serial.h"
#include "library/Zelbin_SerialCore.h"
#include "sim/SimUart.h"
#include "sim/World.h"
#include "testsupport/LibraryUartSetUp.h"

namespace {

const char kOps[] = "sxptfduDNovwU";

using Op = sim::Call::Op;

// ---- The parameter text, modelled from its rules ---------------------------

// What a character of a lower-cased address is worth: a hex digit's value,
// -1 for the other characters from '0' to 'f', nothing where decoding stops.
std::optional<int> Worth(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c > '9' && c < 'a')
        return -1;
    return std::nullopt;
}

// "3F8h" -> 0x03F8: the suffix goes, capitals are lowered, zeros pad the
// front to four characters, and the first two pairs give the high and the
// low byte; a pair that can't be read leaves its byte and the next at zero.
std::uint16_t AddressBase(const std::string &address)
{
    std::string text = address.substr(0, address.empty() ? 0 : address.size() - 1);
    for (char &c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    if (text.size() < 4)
        text = std::string(4 - text.size(), '0') + text;
    unsigned high = 0, low = 0;
    const auto h0 = Worth(static_cast<unsigned char>(text[0])), h1 = Worth(static_cast<unsigned char>(text[1]));
    if (h0 && h1) {
        high = static_cast<unsigned>(16 * *h0 + *h1) & 0xFFu;
        const auto l0 = Worth(static_cast<unsigned char>(text[2])), l1 = Worth(static_cast<unsigned char>(text[3]));
        if (l0 && l1)
            low = static_cast<unsigned>(16 * *l0 + *l1) & 0xFFu;
    }
    return static_cast<std::uint16_t>(high << 8 | low);
}

struct Selection {
    std::string device;
    std::uint16_t base;
    bool usable; // a UART's seven registers fit in 0100h..FFFFh
};

// "NAME;ADDRh[;...]" is taken as given; otherwise the one name picks its
// standard port (exact match), anything else COM1. The simulator's PC is
// the reference for the standard ports, not the library's table.
Selection Select(const std::string &params)
{
    const auto semicolon = params.find(';');
    const std::string first = params.substr(0, semicolon);
    const std::string rest = semicolon == std::string::npos ? std::string() : params.substr(semicolon + 1);
    Selection selection{sim::StandardPorts[0].name, sim::StandardPorts[0].base, true};
    if (!rest.empty()) {
        selection = {first, AddressBase(rest.substr(0, rest.find(';'))), true};
    } else {
        for (const sim::StandardPort &port : sim::StandardPorts)
            if (first == port.name)
                selection = {first, port.base, true};
    }
    selection.usable = selection.base >= 0x0100 && selection.base <= 0xFFF9;
    return selection;
}

// ---- The checker ------------------------------------------------------------

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

// A register of the UART at `base`; addresses wrap at 65536.
sim::Call RegisterCall(Op op, std::uint16_t base, unsigned offset, std::uint8_t value)
{
    return sim::PortCall(op, static_cast<std::uint16_t>(base + offset), value);
}

// The calls one host call or event made, read one at a time.
class NewCalls {
public:
    NewCalls(const std::vector<sim::Call> &calls, std::size_t from, char op)
        : calls_(calls), next_(from), where_(std::string("operation '") + op + "'")
    {
    }

    const sim::Call &Next(Op op, const char *what)
    {
        Expect(next_ < calls_.size(), what, where_ + ": no call");
        const sim::Call &call = calls_[next_++];
        Expect(call.op == op, what, where_ + ": " + sim::Describe(call));
        return call;
    }
    // The next call is `expected`, whatever it answered.
    const sim::Call &Next(sim::Call expected, const char *what)
    {
        const sim::Call &call = Next(expected.op, what);
        expected.result = call.result;
        if (expected.op == Op::CreateFileA)
            expected.handle = call.handle; // whether the device opens is the world's business
        Expect(sim::Describe(call) == sim::Describe(expected), what,
               where_ + ": " + sim::Describe(call) + ", expected " + sim::Describe(expected));
        return call;
    }
    void ExpectNoMore()
    {
        if (next_ < calls_.size())
            Broken("no call beyond those promised", where_ + ": " + sim::Describe(calls_[next_]));
    }
    const std::string &Where() const { return where_; }

private:
    const std::vector<sim::Call> &calls_;
    std::size_t next_;
    std::string where_;
};

class Checker {
public:
    Checker(sim::World &world, const std::string &params) : world_(world), params_(params), selection_(Select(params))
    {
    }

    void Step(char op)
    {
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
            if (uart::Uart16550 *uart = world_.UartAt(selection_.base))
                sim::SetCts(*uart, op == 'd');
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
        case 'w':
            driverValue_ = driverValue_ == 1 ? 0xFF : 1;
            world_.SetDriverValue(driverValue_);
            break;
        case 'U':
            library::Unload();
            // A fresh copy of the library in the same process: idle, and the
            // old copy's device stays held until the process ends.
            library::portState = library::PortState{};
            library::Load();
            if (listening_ && sim::IsSimHandle(held_))
                ++orphans_;
            listening_ = false;
            lastLevel_ = false;
            break;
        default: break;
        }
        NewCalls calls(world_.Calls(), before, op);
        switch (op) {
        case 's': CheckStart(calls); break;
        case 'x': CheckStop(calls); break;
        case 'p': CheckPoll(calls, answer); break;
        case 't':
        case 'f': CheckOutput(calls, op == 't'); break;
        default: break;
        }
        calls.ExpectNoMore();
        Expect(world_.HandlesHeld() == static_cast<std::size_t>((listening_ && sim::IsSimHandle(held_) ? 1 : 0) + orphans_),
               "the world holds the listening device and those of unloaded copies, nothing else",
               calls.Where() + ": " + std::to_string(world_.HandlesHeld()) + " held");
    }

private:
    // Releases the held device, if any: a stop, or the first thing a start does.
    void CheckStop(NewCalls &calls)
    {
        if (!listening_)
            return;
        sim::Call close{Op::CloseHandle};
        close.handle = held_;
        calls.Next(close, "the device held is closed by a stop or restart");
        listening_ = false;
    }

    void CheckStart(NewCalls &calls)
    {
        CheckStop(calls);
        const sim::Call &driver = calls.Next(Op::IsDriverInstalled, "a start asks for the driver first");
        if (driver.result == 0 || !selection_.usable)
            return; // idle
        const std::uint16_t base = selection_.base;
        held_ = calls.Next(sim::CreateFileCall(selection_.device.c_str(), 0xC0000000u, 0, nullptr, 3, 0, nullptr),
                           "then opens the selected device, exclusively, for reading and writing")
                    .handle;
        listening_ = true;
        for (const testsupport::RegisterWrite &write : testsupport::LibraryUartSetUp)
            calls.Next(RegisterCall(Op::PortOut, base, write.offset, write.value),
                       "then sets the UART at the selected base to 2400 8O1 with RTS and OUT2 on");
    }

    void CheckPoll(NewCalls &calls, int answer)
    {
        Expect(answer == 0 || answer == 1, "a poll answers exactly 0 or 1", calls.Where());
        if (!listening_ || calls.Next(Op::IsDriverInstalled, "a poll asks for the driver first").result == 0) {
            Expect(answer == 0, "a poll that reads nothing answers 0", calls.Where());
            return;
        }
        const bool level =
            calls.Next(RegisterCall(Op::GetPortBit, selection_.base, 6, 4), "then reads CTS").result != 0;
        Expect(answer == (level && !lastLevel_ ? 1 : 0),
               "a poll answers 1 exactly for a change from clear to set since the last read", calls.Where());
        lastLevel_ = level;
    }

    void CheckOutput(NewCalls &calls, bool on)
    {
        if (!listening_ || calls.Next(Op::IsDriverInstalled, "the output call asks for the driver first").result == 0)
            return;
        calls.Next(RegisterCall(on ? Op::SetPortBit : Op::ClrPortBit, selection_.base, 4, 0), "then drives DTR");
    }

    sim::World &world_;
    const std::string params_;
    const Selection selection_;
    bool listening_ = false;
    sim::Handle held_ = nullptr;
    int orphans_ = 0;
    bool lastLevel_ = false;
    bool devicesFail_ = false;
    std::uint16_t bitSetValue_ = 1;
    std::uint8_t driverValue_ = 1;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    sim::World &world = sim::TheWorld();
    world.Reset();
    library::portState = library::PortState{};
    library::Load();

    const std::string input(reinterpret_cast<const char *>(data), size);
    const std::size_t newline = input.find('\n');
    // The parameter text reaches the library NUL-terminated, as from a host.
    std::string params = input.substr(0, newline);
    params = params.substr(0, params.find('\0'));
    const std::string ops = newline == std::string::npos ? std::string("spx") : input.substr(newline + 1);

    Checker checker(world, params);
    for (const char byte : ops) {
        char op = byte;
        if (std::string(kOps).find(op) == std::string::npos)
            op = kOps[static_cast<unsigned char>(byte) % (sizeof kOps - 1)];
        checker.Step(op);
    }
    checker.Step('x');
    return 0;
}
