#!/usr/bin/env python3
"""The shipped x86 comm-port io.dll's exports in a CPU emulator, called the
stdcall way as Zelbin_Serial.dll calls them: each removes exactly its own
arguments from the stack, before a claim and with a device held; and a
quiet poll of the key line, once the device is held with its line events
watched, makes no kernel32 call and stays within an instruction budget;
it learns the time from the page Windows shares with every process, and
the first poll after a pause of a second reads the lines; and a first call
that finds no memory for the map's text leaves the io.dll idle, holding
nothing, with a status that says so.
What a claim and a poll do otherwise is checked under Wine, over Wine's
own serial driver, in both editions; this is what only the x86 bytes show,
on any machine.

The smallest PC that gets the io.dll there: a port map 'any = COM5' beside
it, and a COM5 whose driver takes every call and keeps a line-event wait
pending.

Usage: check-commio-stdcall.py io.dll [--budget N]
Prints 'N passed, N failed'; exits non-zero on any failure."""

import struct
import sys

sys.path.insert(0, __import__("os").path.dirname(__file__))
from Checks import Checks, run  # noqa: E402
from EmulatedDll import EmulatedDll  # noqa: E402
from EmulatedRuntime import Runtime  # noqa: E402

INVALID_HANDLE = 0xFFFFFFFF
# The page Windows maps into every process (KUSER_SHARED_DATA): its tick
# count's multiplier and low part.
SHARED_USER_DATA, TICK_COUNT_MULTIPLIER, TICK_COUNT = 0x7FFE0000, 0x004, 0x320
MAP, DEVICE, EVENT = 0x7000, 0x7100, 0x7200
STATUS_PENDING = 0x103
ERROR_IO_PENDING = 997
DCB_SIZE = 28
# Each export, the bytes of its stdcall arguments (io.def), and arguments
# that keep to the UART at 3F8h.
EXPORTS = [("IsDriverInstalled", ()), ("PortOut", (0x3FC, 0x0A)), ("PortIn", (0x3FE,)),
           ("GetPortBit", (0x3FE, 4)), ("SetPortBit", (0x3FC, 0)), ("ClrPortBit", (0x3FC, 0)),
           ("CommIoStatus", ()), ("CommIoUartStatus", (0, 0))]


class Pc:
    def __init__(self):
        self.last_error = 0
        self.map = b"any = COM5\r\n"
        self.ticks = 0

    def imports(self):
        def module_file_name(dll, module, buffer, size, *_):
            name = b"C:\\app\\io.dll"
            dll.uc.mem_write(buffer, name + b"\0")
            return len(name)

        def create_file(dll, name, *_):
            path = dll.read_string(name)
            if path.endswith(b"io-ports.txt"):
                return MAP
            if path == b"\\\\.\\COM5":
                return DEVICE
            self.last_error = 2
            return INVALID_HANDLE

        def read_file(dll, handle, buffer, size, read, *_):
            data, self.map = self.map[:size], self.map[size:]
            dll.uc.mem_write(buffer, data)
            dll.uc.mem_write(read, struct.pack("<I", len(data)))
            return 1

        def comm_state(dll, handle, dcb, *_):
            dll.uc.mem_write(dcb, struct.pack("<II", DCB_SIZE, 9600) + b"\0" * (DCB_SIZE - 8))
            return 1

        def modem_status(dll, handle, status, *_):
            dll.uc.mem_write(status, struct.pack("<I", 0))
            return 1

        def wait_comm_event(dll, handle, mask, overlapped, *_):
            dll.uc.mem_write(overlapped, struct.pack("<I", STATUS_PENDING))
            self.last_error = ERROR_IO_PENDING
            return 0

        def tick(dll, *_):
            self.ticks += 1
            return self.ticks

        def set_last_error(dll, error, *_):
            self.last_error = error

        one = (lambda dll, *_: 1)
        k = "kernel32.dll"
        return {
            (k, "GetModuleFileNameA"): (module_file_name, 12),
            (k, "CreateFileA"): (create_file, 28),
            (k, "ReadFile"): (read_file, 20),
            (k, "CloseHandle"): (one, 4),
            (k, "GetCommState"): (comm_state, 8),
            (k, "SetCommState"): (one, 8),
            (k, "EscapeCommFunction"): (one, 8),
            (k, "GetCommModemStatus"): (modem_status, 8),
            (k, "SetCommMask"): (one, 8),
            (k, "WaitCommEvent"): (wait_comm_event, 12),
            (k, "CreateEventA"): (lambda dll, *_: EVENT, 16),
            (k, "CancelIoEx"): (one, 8),
            (k, "GetTickCount"): (tick, 0),
            (k, "SetLastError"): (set_last_error, 4),
            (k, "GetLastError"): (lambda dll, *_: self.last_error, 0),
            (k, "DisableThreadLibraryCalls"): (one, 4),
        }


def out_of_memory(path, check):
    """The first call into a freshly loaded io.dll, with the heap empty
    from then on: the map's text can't be had."""
    pc = Pc()
    imports = Runtime().imports()
    imports.update(pc.imports())
    heap_empty = [False]
    plain_malloc, popped = imports[("msvcrt.dll", "malloc")]
    imports[("msvcrt.dll", "malloc")] = (lambda dll, *args: 0 if heap_empty[0] else plain_malloc(dll, *args), popped)
    dll = EmulatedDll(path, imports)
    dll.point_data_imports()
    dll.call_entry_point(1)
    heap_empty[0] = True
    dll.calls.clear()
    installed = dll.call("IsDriverInstalled")[0] & 0xFF
    opened = [name for _, name in dll.calls if name == "CreateFileA"]
    closed = [name for _, name in dll.calls if name == "CloseHandle"]
    status = dll.read_string(dll.call("CommIoStatus")[0])
    check("with no memory for the map: no device opened, the map's file closed, not installed",
          installed == 0 and len(opened) == 1 and len(closed) == 1, dll.calls)
    check("and the status says so", status == b"out of memory reading the port map", status)


def main():
    path = sys.argv[1]
    budget = int(sys.argv[sys.argv.index("--budget") + 1]) if "--budget" in sys.argv else 150
    pc = Pc()
    imports = Runtime().imports()
    imports.update(pc.imports())
    dll = EmulatedDll(path, imports)
    dll.uc.mem_map(SHARED_USER_DATA, 0x1000)

    def shared_ticks(ms):  # 15.625 ms ticks, as Windows counts them
        dll.uc.mem_write(SHARED_USER_DATA + TICK_COUNT_MULTIPLIER, struct.pack("<I", 0x0FA00000))
        dll.uc.mem_write(SHARED_USER_DATA + TICK_COUNT, struct.pack("<I", ms * 64 // 1000))

    shared_ticks(5000)
    check = Checks()
    dll.point_data_imports()
    check("the load answers TRUE", dll.call_entry_point(1) == 1)

    def each_export(when):
        unbalanced = [name for name, args in EXPORTS if not dll.call(name, *args)[2]]
        check("%s, every export removes exactly its own arguments from the stack" % when, not unbalanced, unbalanced)

    each_export("before the claim")
    installed = dll.call("IsDriverInstalled")[0] & 0xFF
    status = dll.read_string(dll.call("CommIoStatus")[0])
    check("the map's COM5 is claimed with its line events watched", installed == 1 and
          b"COM5 for any UART: held, line events watched" in status, status)
    each_export("with the device held")

    dll.call("GetPortBit", 0x3FE, 4)  # the first read after a claim reads the lines
    dll.calls.clear()
    counts = [dll.call("GetPortBit", 0x3FE, 4)[1] for _ in range(5)]
    check("quiet polls of the key line make no kernel32 call", dll.calls == [], dll.calls)
    check("a quiet poll executes at most %d of the io.dll's instructions (saw %s)" % (budget, counts),
          max(counts) <= budget)

    shared_ticks(5000 + 1100)  # the host paused, or the PC slept
    dll.call("GetPortBit", 0x3FE, 4)
    reads = [name for _, name in dll.calls if name == "GetCommModemStatus"]
    check("the first poll after a pause of a second reads the lines", len(reads) == 1, dll.calls)
    dll.calls.clear()
    dll.call("GetPortBit", 0x3FE, 4)
    check("and the next is quiet again", dll.calls == [], dll.calls)

    out_of_memory(path, check)
    return check.summary()


if __name__ == "__main__":
    run(main, "io.dll")
