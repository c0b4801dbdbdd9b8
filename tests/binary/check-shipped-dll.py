#!/usr/bin/env python3
"""The shipped Zelbin_Serial.dll's machine code, run export by export in a
CPU emulator with io.dll, kernel32 and the C runtime answered here: the
calls it makes, its stack discipline, and how many of its own instructions
one poll costs on the listening path; and a start that runs out of memory
at each of its allocations in turn.

Usage: check-shipped-dll.py Zelbin_Serial.dll [--budget N] [--nm NM]
With --nm, the loader callback (DllMain, found in Zelbin_Serial.dll.debug)
is run too, for process and thread notifications.
Prints 'N passed, N failed'; exits non-zero on any failure."""

import sys

sys.path.insert(0, __import__("os").path.dirname(__file__))
from Checks import Checks, run  # noqa: E402
from EmulatedDll import EmulatedDll, symbol_address  # noqa: E402
from EmulatedRuntime import Runtime  # noqa: E402

INVALID_HANDLE = 0xFFFFFFFF


class World:
    """io.dll and the serial devices, as the DLL sees them."""

    def __init__(self):
        self.log = []
        self.driver = 1
        self.cts = False
        self.next_handle = 0x100
        self.mallocs = 0  # made so far
        self.failing_malloc = None  # the number (as self.mallocs counts them) of the one that fails

    def io(self):
        def driver(dll, *_):
            self.log.append("IsDriverInstalled() -> %d" % self.driver)
            return self.driver

        def port_out(dll, port, value, *_):
            self.log.append("PortOut(0x%04X, 0x%02X)" % (port & 0xFFFF, value & 0xFF))

        def get_bit(dll, port, bit, *_):
            answer = 1 if (port & 0xFFFF) % 8 == 6 and (bit & 0xFF) == 4 and self.cts else 0
            self.log.append("GetPortBit(0x%04X, %d) -> %d" % (port & 0xFFFF, bit & 0xFF, answer))
            return answer

        def set_bit(dll, port, bit, *_):
            self.log.append("SetPortBit(0x%04X, %d)" % (port & 0xFFFF, bit & 0xFF))

        def clr_bit(dll, port, bit, *_):
            self.log.append("ClrPortBit(0x%04X, %d)" % (port & 0xFFFF, bit & 0xFF))

        def create_file(dll, name, access, share, security, disposition, flags, template, *_):
            self.next_handle += 4
            self.log.append('CreateFileA("%s", 0x%08X, %d, %s, %d, %d, %s)' % (
                dll.read_string(name).decode("latin-1"), access, share, "NULL" if security == 0 else "?",
                disposition, flags, "NULL" if template == 0 else "?"))
            return self.next_handle

        def close_handle(dll, handle, *_):
            self.log.append("CloseHandle(0x%X)" % handle)
            return 1

        def malloc(dll, size, *_):
            self.mallocs += 1
            if self.mallocs - 1 == self.failing_malloc:
                return 0
            return dll.malloc(size)

        def calloc(dll, count, size, *_):
            address = dll.malloc(count * size)
            dll.uc.mem_write(address, bytes(count * size))
            return address

        # The memory and string functions as the shared runtime answers
        # them; the heap is this check's own, for its failures.
        shared = Runtime().imports()
        strings = {key: shared[key] for key in shared
                   if key[0] == "msvcrt.dll" and key[1] in ("memcpy", "memmove", "memcmp", "memchr", "memset", "strlen")}

        return {
            **strings,
            ("io.dll", "IsDriverInstalled"): (driver, 0),
            ("io.dll", "PortOut"): (port_out, 8),
            ("io.dll", "GetPortBit"): (get_bit, 8),
            ("io.dll", "SetPortBit"): (set_bit, 8),
            ("io.dll", "ClrPortBit"): (clr_bit, 8),
            ("kernel32.dll", "CreateFileA"): (create_file, 28),
            ("kernel32.dll", "CloseHandle"): (close_handle, 4),
            ("msvcrt.dll", "malloc"): (malloc, 0),
            ("msvcrt.dll", "free"): (lambda dll, *_: 0, 0),
            ("msvcrt.dll", "calloc"): (calloc, 0),
        }

    def start_up(self):
        """What the C runtime's start-up calls besides the library's own
        imports: answered as a single thread with no other module loaded."""
        answers = {
            ("kernel32.dll", "GetModuleHandleA"): (lambda dll, *_: 0, 4),  # no shared compiler runtime
            ("kernel32.dll", "GetCurrentThreadId"): (lambda dll, *_: 0x10, 0),
            ("kernel32.dll", "GetCurrentProcessId"): (lambda dll, *_: 0x20, 0),
            ("kernel32.dll", "GetTickCount"): (lambda dll, *_: 12345, 0),
            ("kernel32.dll", "GetSystemTimeAsFileTime"): (lambda dll, *_: 0, 4),
            ("kernel32.dll", "QueryPerformanceCounter"): (lambda dll, *_: 1, 4),
            ("kernel32.dll", "GetLastError"): (lambda dll, *_: 0, 0),
            ("kernel32.dll", "SetLastError"): (lambda dll, *_: 0, 4),
            ("msvcrt.dll", "_lock"): (lambda dll, *_: 0, 0),
            ("msvcrt.dll", "_unlock"): (lambda dll, *_: 0, 0),
        }
        answers.update(self.io())
        return answers

    def take(self):
        log, self.log = self.log, []
        return log


DLL_PROCESS_ATTACH, DLL_THREAD_ATTACH, DLL_THREAD_DETACH = 1, 2, 3


def main():
    path = sys.argv[1]
    budget = int(sys.argv[sys.argv.index("--budget") + 1]) if "--budget" in sys.argv else 20
    nm = sys.argv[sys.argv.index("--nm") + 1] if "--nm" in sys.argv else None
    world = World()
    dll = EmulatedDll(path, world.io())
    check = Checks()

    def call(export, *args):
        result, count, balanced = dll.call(export, *args)
        if not balanced:
            check(export + " removes exactly its arguments from the stack", False)
        return result & 0xFF, count

    def text(value):
        return dll.put_string(value)

    dll_main = symbol_address(nm, path, "_DllMain@12") if nm else None

    def notify(reason):
        result, _, balanced = dll.call_at(dll_main, dll.base, reason, 0, name="DllMain")
        if not balanced:
            check("DllMain removes exactly its arguments from the stack", False)
        return result

    if dll_main:
        result = notify(DLL_PROCESS_ATTACH)
        check("the load step answers TRUE and calls nothing: no port, no device", result == 1 and world.take() == [],
              world.log)

    result, _ = call("ZelbinIsCustom")
    check("ZelbinIsCustom answers 1 and calls nothing", result == 1 and world.take() == [])

    result, _ = call("ZelbinIsZBToggle")
    call("ZelbinSetToggled", 1)
    call("ZelbinStopListen")
    check("before a start, poll, toggle and stop touch nothing", result == 0 and world.take() == [], world.log)

    call("ZelbinStartListen", text(b"COM2"))
    start = world.take()
    expected = ["IsDriverInstalled() -> 1",
                'CreateFileA("COM2", 0xC0000000, 0, NULL, 3, 0, NULL)',
                "PortOut(0x02FB, 0x80)", "PortOut(0x02F8, 0x30)", "PortOut(0x02F9, 0x00)",
                "PortOut(0x02FB, 0x0B)", "PortOut(0x02F9, 0x00)", "PortOut(0x02FA, 0xC1)",
                "PortOut(0x02FC, 0x0A)"]
    check("a start on COM2 claims the device, then programs the UART at 2F8h", start == expected, start)
    if dll_main:
        notify(DLL_THREAD_ATTACH)
        notify(DLL_THREAD_DETACH)
        check("a thread starting and ending calls nothing (the polls below show the port state kept)",
              world.take() == [], world.log)

    answers, counts = [], []
    for level in (False, True, True, False, True):
        world.cts = level
        result, count = call("ZelbinIsZBToggle")
        answers.append(result)
        counts.append(count)
    polls = world.take()
    check("polls answer 1 only where the key line goes from clear to set", answers == [0, 1, 0, 0, 1], answers)
    check("each poll asks the driver, then reads CTS at base+6",
          polls[:2] == ["IsDriverInstalled() -> 1", "GetPortBit(0x02FE, 4) -> 0"] and len(polls) == 10, polls)
    check("a poll on the listening path executes at most %d of the DLL's instructions (saw %s)"
          % (budget, counts), max(counts) <= budget)

    call("ZelbinSetToggled", 1)
    call("ZelbinSetToggled", 0x100)  # only the low byte is the boolean
    toggles = world.take()
    check("ZelbinSetToggled drives DTR and reads only the low byte of its argument",
          toggles == ["IsDriverInstalled() -> 1", "SetPortBit(0x02FC, 0)",
                      "IsDriverInstalled() -> 1", "ClrPortBit(0x02FC, 0)"], toggles)

    call("ZelbinStartListen", text(b"COM9;2E8"))
    refused = world.take()
    check("a restart onto a base below 0100h releases the device and goes no further",
          refused == ["CloseHandle(0x104)", "IsDriverInstalled() -> 1"], refused)
    result, _ = call("ZelbinIsZBToggle")
    call("ZelbinStopListen")
    check("after a refused start the library is idle", result == 0 and world.take() == [], world.log)

    # A start that runs out of memory, in a library started as Windows starts
    # it (the C runtime's start-up first), while it holds a port: each of the
    # start's allocations is made to fail in turn, the first, the second...
    # The library allocates with the non-throwing operator new and checks
    # for a null: such a start must release the port it held and do nothing
    # else (no device opened, no register written), return normally with
    # its stack balanced, and leave the library idle. Once no allocation
    # fails, the start goes through.
    oom = World()
    fresh = EmulatedDll(path, oom.start_up())
    check("the entry point, C runtime start-up included, answers TRUE for the process attach",
          fresh.call_entry_point(DLL_PROCESS_ATTACH) == 1 and not fresh.error)
    long_name = b"A device name too long for any short-string buffer"
    failing, went_through = 0, False
    while failing < 32 and not went_through:
        fresh.call("ZelbinStartListen", fresh.put_string(b"COM1"))
        held = oom.take()[1]  # the CreateFileA of COM1
        handle = oom.next_handle
        oom.mallocs, oom.failing_malloc = 0, failing
        _, _, balanced = fresh.call("ZelbinStartListen", fresh.put_string(long_name + b";2F8h"))
        oom.failing_malloc = None
        calls = oom.take()
        if oom.mallocs <= failing:
            went_through = balanced and calls[0] == "CloseHandle(0x%X)" % handle and any(
                c.startswith('CreateFileA("%s"' % long_name.decode()) for c in calls)
            check("with no allocation failing, the start goes through (after %d that failed)" % failing,
                  went_through and failing >= 3, calls)
            break
        result, _, _ = fresh.call("ZelbinIsZBToggle")
        after = oom.take()
        check("a start whose allocation %d fails closes the port it held (%s), calls nothing else, returns with "
              "its stack balanced and leaves the library idle" % (failing + 1, held.split('"')[1]),
              balanced and calls == ["CloseHandle(0x%X)" % handle] and result & 0xFF == 0 and after == [],
              calls + after)
        failing += 1
    if not went_through:
        check("a start allocates a bounded number of times", False, "still failing after %d" % failing)

    print("Instructions per poll in the shipped DLL (listening, no io.dll): %d without a change, %d for a press"
          % (counts[2], counts[1]))
    return check.summary()


if __name__ == "__main__":
    run(main, "the DLL")
