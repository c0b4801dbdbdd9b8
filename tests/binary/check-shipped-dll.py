#!/usr/bin/env python3
"""The shipped Zelbin_Serial.dll's machine code, run export by export in a
CPU emulator with io.dll, kernel32 and the C runtime answered here: the
calls it makes, its stack discipline, and how many of its own instructions
one poll costs on the listening path.

Usage: check-shipped-dll.py Zelbin_Serial.dll [--budget N] [--nm NM]
With --nm, the loader callback (DllMain, found in Zelbin_Serial.dll.debug)
is run too, for process and thread notifications.
Prints 'N passed, N failed'; exits non-zero on any failure."""

import struct
import subprocess
import sys

sys.path.insert(0, __import__("os").path.dirname(__file__))
from EmulatedDll import EmulatedDll, UnexpectedImport  # noqa: E402

INVALID_HANDLE = 0xFFFFFFFF


class World:
    """io.dll and the serial devices, as the DLL sees them."""

    def __init__(self):
        self.log = []
        self.driver = 1
        self.cts = False
        self.next_handle = 0x100

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
            return dll.malloc(size)

        def memcpy(dll, dest, src, n, *_):
            if n:
                dll.uc.mem_write(dest, bytes(dll.uc.mem_read(src, n)))
            return dest

        def memcmp(dll, a, b, n, *_):
            x, y = bytes(dll.uc.mem_read(a, n)), bytes(dll.uc.mem_read(b, n))
            return 0 if x == y else (-1 if x < y else 1)

        def memset(dll, dest, c, n, *_):
            if n:
                dll.uc.mem_write(dest, bytes([c & 0xFF]) * n)
            return dest

        def strlen(dll, s, *_):
            return len(dll.read_string(s))

        def memchr(dll, s, c, n, *_):
            data = bytes(dll.uc.mem_read(s, n))
            at = data.find(bytes([c & 0xFF]))
            return 0 if at < 0 else s + at

        return {
            ("io.dll", "IsDriverInstalled"): (driver, 0),
            ("io.dll", "PortOut"): (port_out, 8),
            ("io.dll", "GetPortBit"): (get_bit, 8),
            ("io.dll", "SetPortBit"): (set_bit, 8),
            ("io.dll", "ClrPortBit"): (clr_bit, 8),
            ("kernel32.dll", "CreateFileA"): (create_file, 28),
            ("kernel32.dll", "CloseHandle"): (close_handle, 4),
            ("msvcrt.dll", "malloc"): (malloc, 0),
            ("msvcrt.dll", "free"): (lambda dll, *_: 0, 0),
            ("msvcrt.dll", "memcpy"): (memcpy, 0),
            ("msvcrt.dll", "memmove"): (memcpy, 0),
            ("msvcrt.dll", "memcmp"): (memcmp, 0),
            ("msvcrt.dll", "memchr"): (memchr, 0),
            ("msvcrt.dll", "memset"): (memset, 0),
            ("msvcrt.dll", "strlen"): (strlen, 0),
        }

    def take(self):
        log, self.log = self.log, []
        return log


DLL_PROCESS_ATTACH, DLL_THREAD_ATTACH, DLL_THREAD_DETACH = 1, 2, 3


def symbol_address(nm, path, name):
    """The address of `name` in the symbols beside the DLL (NAME.debug)."""
    for line in subprocess.run([nm, path + ".debug"], capture_output=True, text=True, check=True).stdout.splitlines():
        fields = line.split()
        if len(fields) == 3 and fields[2] == name:
            return int(fields[0], 16)
    raise LookupError("no symbol %s in %s.debug" % (name, path))


def main():
    path = sys.argv[1]
    budget = int(sys.argv[sys.argv.index("--budget") + 1]) if "--budget" in sys.argv else 20
    nm = sys.argv[sys.argv.index("--nm") + 1] if "--nm" in sys.argv else None
    world = World()
    dll = EmulatedDll(path, world.io())
    passed = failed = 0

    def check(name, condition, detail=""):
        nonlocal passed, failed
        if condition:
            passed += 1
            print("ok   " + name)
        else:
            failed += 1
            print("FAIL " + name + ("\n     " + str(detail) if detail else ""))

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

    print("Instructions per poll in the shipped DLL (listening, no io.dll): %d without a change, %d for a press"
          % (counts[2], counts[1]))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except UnexpectedImport as e:
        print("FAIL the DLL called an import this check doesn't provide: %s" % e)
        print("0 passed, 1 failed")
        sys.exit(1)
