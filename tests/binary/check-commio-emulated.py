#!/usr/bin/env python3
"""The shipped comm-port io.dll's machine code in a CPU emulator, loaded as
the Windows loader would (its global constructors, then DllMain), with
kernel32 and the C runtime answered here by a small simulated serial
driver: the Win32 calls of a claim and a start, the device control block
after each SetCommState from settings filled with 00h and with FFh, a
GetCommState failure, an adapter found by its USB identity through SetupAPI
(and the COM name beside it where no port is listed), and how the port map
file is read.

Every fake leaves 0xDEADBEEF as the last error unless it fails, so an error
read from the wrong call shows in the status text.

Usage: check-commio-emulated.py io.dll --nm NM
Prints 'N passed, N failed'; exits non-zero on any failure."""

import struct
import sys

sys.path.insert(0, __import__("os").path.dirname(__file__))
from Checks import Checks, run  # noqa: E402
from EmulatedDll import EmulatedDll, symbol_address  # noqa: E402
from EmulatedRuntime import Runtime  # noqa: E402

INVALID_HANDLE = 0xFFFFFFFF
POISON = 0xDEADBEEF
MODULE_PATH = b"C:\\app\\commio\\io.dll"
MAP_HANDLE = 0x7000
DEVICE_SET = 0x7100
DLL_PROCESS_ATTACH = 1
DLL_PROCESS_DETACH = 0
STATUS_PENDING = 0x103
REFRESH_READS = 10  # CommIo::RefreshReads: every this many modem status reads read the device
STATUS_CANCELLED = 0xC0000120

# The DCB: DCBlength, BaudRate, the flag word, wReserved, XonLim, XoffLim,
# ByteSize, Parity, StopBits, XonChar, XoffChar, ErrorChar, EofChar,
# EvtChar, wReserved1: 28 bytes.
DCB_FORMAT = "<III3H8BH"
DCB_SIZE = struct.calcsize(DCB_FORMAT)
FLAGS = [("fBinary", 0, 1), ("fParity", 1, 1), ("fOutxCtsFlow", 2, 1), ("fOutxDsrFlow", 3, 1),
         ("fDtrControl", 4, 2), ("fDsrSensitivity", 6, 1), ("fTXContinueOnXoff", 7, 1), ("fOutX", 8, 1),
         ("fInX", 9, 1), ("fErrorChar", 10, 1), ("fNull", 11, 1), ("fRtsControl", 12, 2),
         ("fAbortOnError", 14, 1), ("fDummy2", 15, 17)]
TAIL = ["wReserved", "XonLim", "XoffLim", "ByteSize", "Parity", "StopBits", "XonChar", "XoffChar", "ErrorChar",
        "EofChar", "EvtChar", "wReserved1"]


def decode_dcb(data):
    words = struct.unpack(DCB_FORMAT, data)
    fields = {"DCBlength": words[0], "BaudRate": words[1]}
    for name, shift, width in FLAGS:
        fields[name] = (words[2] >> shift) & ((1 << width) - 1)
    fields.update(zip(TAIL, words[3:]))
    return fields


def changes(before, after):
    return ", ".join("%s %d->%d" % (k, before[k], after[k]) for k in before if before[k] != after[k])


class Device:
    def __init__(self, fill):
        data = bytearray([fill]) * DCB_SIZE
        data[0:4] = struct.pack("<I", DCB_SIZE)
        self.dcb = bytes(data)
        self.fail_get = 0
        self.held = False
        self.lines = 0  # CTS 10h, DSR 20h, RI 40h, DCD 80h


class World:
    """kernel32 and msvcrt as the io.dll sees them; the log holds the Win32
    calls of interest, a line each."""

    def __init__(self, port_map, devices, listed=()):
        self.port_map = port_map  # bytes, or None for no file
        self.devices = devices    # "COM5" -> Device
        self.listed = list(listed)  # the Ports class: (instance ID, PortName) of each device
        self.handles = {}         # handle -> device name
        self.next_handle = 0x100
        self.last_error = 0
        self.ticks = 1000
        self.log = []
        self.runtime = Runtime()
        self.waits = {}           # handle -> (OVERLAPPED, event mask) of a WaitCommEvent started
        self.next_event = 0x6000
        self.slow_cancel = False  # a driver that gives a cancelled wait back only later
        self.uc = None            # the emulator, once loaded: where waits are completed in place

    def set_ticks(self, ticks):
        """GetTickCount's answer."""
        self.ticks = ticks & 0xFFFFFFFF

    def change_lines(self, name, lines, events):
        """The device's lines change: a pending wait completes with `events`."""
        self.devices[name].lines = lines
        for handle, (overlapped, mask) in self.waits.items():
            if self.handles.get(handle) == name and self.status_word(overlapped) == STATUS_PENDING:
                self.uc.mem_write(mask, struct.pack("<I", events))
                self.uc.mem_write(overlapped, struct.pack("<I", 0))

    def cancel_waits(self, name):
        """The device's pending waits end cancelled, as at their thread's exit."""
        for handle, (overlapped, _) in self.waits.items():
            if self.handles.get(handle) == name and self.status_word(overlapped) == STATUS_PENDING:
                self.uc.mem_write(overlapped, struct.pack("<I", STATUS_CANCELLED))

    def status_word(self, overlapped):
        return struct.unpack("<I", bytes(self.uc.mem_read(overlapped, 4)))[0]

    def take(self):
        log, self.log = self.log, []
        return log

    def fail(self, error, result=0):
        self.last_error = error
        return result

    def ok(self, result=1):
        self.last_error = POISON
        return result

    def imports(self):
        def get_module_file_name(dll, module, buffer, size, *_):
            self.log.append("GetModuleFileNameA(%d)" % size)
            dll.uc.mem_write(buffer, MODULE_PATH + b"\0")
            return self.ok(len(MODULE_PATH))

        def create_file(dll, name, access, share, security, disposition, flags, template, *_):
            path = dll.read_string(name).decode("latin-1")
            line = 'CreateFileA("%s", 0x%08X, %d, %s, %d, 0x%X, %s)' % (
                path, access, share, "NULL" if security == 0 else "?", disposition, flags,
                "NULL" if template == 0 else "?")
            if path.lower().endswith("io-ports.txt"):
                if self.port_map is None:
                    self.log.append(line + " fails 2")
                    return self.fail(2, INVALID_HANDLE)
                self.log.append(line + " -> map")
                self.map_offset = 0
                return self.ok(MAP_HANDLE)
            bare = path[4:] if path.startswith("\\\\.\\") else path
            device = self.devices.get(bare.upper())
            if device is None or device.held:
                error = 2 if device is None else 5
                self.log.append(line + " fails %d" % error)
                return self.fail(error, INVALID_HANDLE)
            device.held = True
            self.next_handle += 4
            self.handles[self.next_handle] = bare.upper()
            self.log.append(line + " -> h%d" % (self.next_handle // 4 - 64))
            return self.ok(self.next_handle)

        def label(handle):
            if handle == MAP_HANDLE:
                return "map"
            if 0x6000 < handle < 0x7000:
                return "event%d" % ((handle - 0x6000) // 4)
            return "h%d" % (handle // 4 - 64)

        def read_file(dll, handle, buffer, size, got, overlapped, *_):
            data = self.port_map[self.map_offset:self.map_offset + size]
            self.map_offset += len(data)
            dll.uc.mem_write(buffer, data)
            dll.uc.mem_write(got, struct.pack("<I", len(data)))
            self.log.append("ReadFile(%s, %d) -> %d" % (label(handle), size, len(data)))
            return self.ok(1)

        def close_handle(dll, handle, *_):
            pending = handle in self.waits and self.status_word(self.waits[handle][0]) == STATUS_PENDING
            self.log.append("CloseHandle(%s)%s" % (label(handle), " with a wait pending" if pending else ""))
            if handle in self.handles:
                self.devices[self.handles.pop(handle)].held = False
            return self.ok(1)

        def create_event(dll, security, manual, initial, name, *_):
            self.next_event += 4
            self.log.append("CreateEventA(%s, %d, %d, %s)" % ("NULL" if security == 0 else "?", manual, initial,
                                                            "NULL" if name == 0 else "?"))
            return self.ok(self.next_event)

        def set_comm_mask(dll, handle, mask, *_):
            self.log.append("SetCommMask(%s, 0x%X)" % (label(handle), mask))
            return self.ok(1) if handle in self.handles else self.fail(6)

        def wait_comm_event(dll, handle, mask, overlapped, *_):
            if overlapped == 0:
                self.log.append("WaitCommEvent(%s) without an OVERLAPPED" % label(handle))
                return self.fail(87)
            event = struct.unpack("<I", bytes(dll.uc.mem_read(overlapped + 16, 4)))[0]
            self.log.append("WaitCommEvent(%s%s)" % (label(handle), "" if event else ", no event"))
            dll.uc.mem_write(overlapped, struct.pack("<I", STATUS_PENDING))
            self.waits[handle] = (overlapped, mask)
            return self.fail(997)  # ERROR_IO_PENDING

        def get_overlapped_result(dll, handle, overlapped, transferred, wait, *_):
            status = self.status_word(overlapped)
            known = self.waits.get(handle, (None,))[0] == overlapped
            self.log.append("GetOverlappedResult(%s, %s)%s" % (
                label(handle), "TRUE" if wait else "FALSE",
                "" if known else " of no wait started"))
            if status == STATUS_PENDING:
                if wait:
                    self.log.append("  ...would wait for ever")
                return self.fail(996)  # ERROR_IO_INCOMPLETE
            self.waits.pop(handle, None)
            if status == STATUS_CANCELLED:
                return self.fail(995)
            return self.ok(1)

        def cancel_io_ex(dll, handle, overlapped, *_):
            self.log.append("CancelIoEx(%s)" % label(handle))
            if self.waits.get(handle, (None,))[0] == overlapped and self.status_word(overlapped) == STATUS_PENDING:
                if not self.slow_cancel:
                    dll.uc.mem_write(overlapped, struct.pack("<I", STATUS_CANCELLED))
                return self.ok(1)
            return self.fail(1168)  # ERROR_NOT_FOUND

        def device_of(handle):
            name = self.handles.get(handle)
            return self.devices[name] if name else None

        def get_comm_state(dll, handle, dcb, *_):
            device = device_of(handle)
            length = struct.unpack("<I", bytes(dll.uc.mem_read(dcb, 4)))[0]
            if device is None or device.fail_get:
                error = device.fail_get if device else 6
                self.log.append("GetCommState(%s) fails %d" % (label(handle), error))
                return self.fail(error)
            self.log.append("GetCommState(%s)%s" % (label(handle), "" if length == DCB_SIZE else
                                                    " with DCBlength %d" % length))
            dll.uc.mem_write(dcb, device.dcb)
            return self.ok(1)

        def set_comm_state(dll, handle, dcb, *_):
            device = device_of(handle)
            data = bytes(dll.uc.mem_read(dcb, DCB_SIZE))
            fields = decode_dcb(data)
            self.log.append("SetCommState(%s, %d baud, dtr %d, rts %d)" % (
                label(handle), fields["BaudRate"], fields["fDtrControl"], fields["fRtsControl"]))
            if device is None:
                return self.fail(6)
            device.dcb = data
            return self.ok(1)

        def escape(dll, handle, code, *_):
            names = {3: "SETRTS", 4: "CLRRTS", 5: "SETDTR", 6: "CLRDTR"}
            self.log.append("EscapeCommFunction(%s, %s)" % (label(handle), names.get(code, str(code))))
            return self.ok(1) if device_of(handle) else self.fail(6)

        def modem_status(dll, handle, status, *_):
            device = device_of(handle)
            self.log.append("GetCommModemStatus(%s)" % label(handle))
            if device is None:
                return self.fail(6)
            dll.uc.mem_write(status, struct.pack("<I", device.lines))
            return self.ok(1)

        def tick_count(dll, *_):
            return self.ticks

        def set_last_error(dll, error, *_):
            self.last_error = error

        def get_last_error(dll, *_):
            return self.last_error

        def disable_thread_calls(dll, module, *_):
            self.log.append("DisableThreadLibraryCalls")
            return self.ok(1)

        # SetupAPI's Ports class, and each device's PortName in its key.
        def class_devs(dll, guid, *_):
            self.log.append("SetupDiGetClassDevsA")
            return self.ok(DEVICE_SET)

        def enum_device(dll, device_set, index, data, *_):
            if index >= len(self.listed):
                return self.fail(259)  # ERROR_NO_MORE_ITEMS
            dll.uc.mem_write(data + 20, struct.pack("<I", index + 1))  # DevInst, after cbSize and the GUID
            return self.ok(1)

        def listed(dll, data):
            return self.listed[struct.unpack("<I", bytes(dll.uc.mem_read(data + 20, 4)))[0] - 1]

        def instance_id(dll, device_set, data, buffer, size, *_):
            text = listed(dll, data)[0].encode() + b"\0"
            if size < len(text):
                return self.fail(122)
            dll.uc.mem_write(buffer, text)
            return self.ok(1)

        def device_key(dll, device_set, data, *_):
            return self.ok(0x9000 + 4 * struct.unpack("<I", bytes(dll.uc.mem_read(data + 20, 4)))[0])

        def reg_query(dll, key, name, reserved, kind, data, size, *_):
            if dll.read_string(name) != b"PortName" or not 0x9000 < key <= 0x9000 + 4 * len(self.listed):
                return 2
            value = self.listed[(key - 0x9000) // 4 - 1][1].encode() + b"\0"
            dll.uc.mem_write(kind, struct.pack("<I", 1))
            dll.uc.mem_write(data, value)
            dll.uc.mem_write(size, struct.pack("<I", len(value)))
            return 0

        k, s, a = "kernel32.dll", "setupapi.dll", "advapi32.dll"
        return {
            **self.runtime.imports(),
            (s, "SetupDiGetClassDevsA"): (class_devs, 16),
            (s, "SetupDiEnumDeviceInfo"): (enum_device, 12),
            (s, "SetupDiGetDeviceInstanceIdA"): (instance_id, 20),
            (s, "SetupDiOpenDevRegKey"): (device_key, 24),
            (s, "SetupDiDestroyDeviceInfoList"): (lambda dll, *_: self.ok(1), 4),
            (a, "RegQueryValueExA"): (reg_query, 24),
            (a, "RegCloseKey"): (lambda dll, *_: 0, 4),
            (k, "GetModuleFileNameA"): (get_module_file_name, 12),
            (k, "CreateFileA"): (create_file, 28),
            (k, "ReadFile"): (read_file, 20),
            (k, "CloseHandle"): (close_handle, 4),
            (k, "GetCommState"): (get_comm_state, 8),
            (k, "SetCommState"): (set_comm_state, 8),
            (k, "EscapeCommFunction"): (escape, 8),
            (k, "GetCommModemStatus"): (modem_status, 8),
            (k, "GetTickCount"): (tick_count, 0),
            (k, "CreateEventA"): (create_event, 16),
            (k, "SetCommMask"): (set_comm_mask, 8),
            (k, "WaitCommEvent"): (wait_comm_event, 12),
            (k, "GetOverlappedResult"): (get_overlapped_result, 16),
            (k, "CancelIoEx"): (cancel_io_ex, 8),
            (k, "SetLastError"): (set_last_error, 4),
            (k, "GetLastError"): (get_last_error, 0),
            (k, "DisableThreadLibraryCalls"): (disable_thread_calls, 4),
        }


class LoadedIoDll:
    """The io.dll once the loader is done with it: its data imports pointed
    at data, its global constructors run, its DllMain told of the attach."""

    def __init__(self, path, nm, world):
        self.world = world
        self.dll = EmulatedDll(path, world.imports())
        world.uc = self.dll.uc
        self.dll.point_data_imports()
        ctors = symbol_address(nm, path, "__CTOR_LIST__")
        words = []
        at = ctors + 4  # the first word is a count or -1
        while True:
            (word,) = struct.unpack("<I", bytes(self.dll.uc.mem_read(at, 4)))
            if word == 0:
                break
            words.append(word)
            at += 4
        for ctor in reversed(words):  # the order the runtime runs them in
            self.dll.call_at(ctor, name="constructor %#x" % ctor)
        self.dll_main = symbol_address(nm, path, "_DllMain@12")
        self.attach, _, _ = self.dll.call_at(self.dll_main, self.dll.base, DLL_PROCESS_ATTACH, 0, name="DllMain")

    def detach(self):
        result, _, _ = self.dll.call_at(self.dll_main, self.dll.base, DLL_PROCESS_DETACH, 0, name="DllMain")
        return result

    def call(self, export, *args):
        result, _, balanced = self.dll.call(export, *args)
        if not balanced:
            raise RuntimeError("%s did not remove exactly its arguments" % export)
        return result

    def status(self):
        return self.dll.read_string(self.call("CommIoStatus")).decode("latin-1")


LIBRARY_SET_UP = [(0x3FB, 0x80), (0x3F8, 0x30), (0x3F9, 0x00), (0x3FB, 0x0B), (0x3F9, 0x00), (0x3FA, 0xC1),
                  (0x3FC, 0x0A)]

# What the io.dll may change in the device control block, by fill, after the
# claim and after the key library's set-up (2400 8O1).
EXPECTED_CLAIM = {
    0x00: "fBinary 0->1",
    0xFF: "fOutxCtsFlow 1->0, fOutxDsrFlow 1->0, fDtrControl 3->0, fDsrSensitivity 1->0, fOutX 1->0, fInX 1->0, "
          "fRtsControl 3->0, fAbortOnError 1->0",
}
EXPECTED_SET_UP = {
    0x00: "BaudRate 0->2400, fParity 0->1, ByteSize 0->8, Parity 0->1",
    0xFF: "BaudRate 4294967295->2400, ByteSize 255->8, Parity 255->1, StopBits 255->0",
}
CLAIM_CALLS = [
    "GetModuleFileNameA(260)",
    'CreateFileA("C:\\app\\commio\\io-ports.txt", 0x80000000, 1, NULL, 3, 0x0, NULL) -> map',
    "ReadFile(map, 16385) -> %d",
    "CloseHandle(map)",
    'CreateFileA("\\\\.\\COM5", 0xC0000000, 0, NULL, 3, 0x40000000, NULL) -> h1',
    "GetCommState(h1)",
    "SetCommState(h1, %d baud, dtr 0, rts 0)",
    "CreateEventA(NULL, 1, 0, NULL)",
    "SetCommMask(h1, 0x138)",
    "WaitCommEvent(h1)",
]


def main():
    path = sys.argv[1]
    nm = sys.argv[sys.argv.index("--nm") + 1]
    check = Checks()

    def load(port_map, devices, listed=()):
        world = World(port_map, devices, listed)
        return world, LoadedIoDll(path, nm, world)

    for fill in (0x00, 0xFF):
        port_map = b"any = COM5\r\n"
        device = Device(fill)
        world, io = load(port_map, {"COM5": device})
        check("fill %02Xh: the load calls only DisableThreadLibraryCalls and answers TRUE" % fill,
              io.attach == 1 and world.take() == ["DisableThreadLibraryCalls"], world.log)
        before = decode_dcb(device.dcb)
        result = io.call("IsDriverInstalled")
        claim = world.take()
        expected = list(CLAIM_CALLS)
        expected[2] %= len(port_map)
        expected[6] %= before["BaudRate"]
        check("fill %02Xh: the claim reads the map, opens COM5, reads and sets its state" % fill,
              result & 0xFF == 1 and claim == expected, claim)
        after = decode_dcb(device.dcb)
        check("fill %02Xh: the claim changes only the io.dll's own DCB fields" % fill,
              changes(before, after) == EXPECTED_CLAIM[fill], changes(before, after))
        for port, value in LIBRARY_SET_UP:
            io.call("PortOut", port, value)
        start = world.take()
        check("fill %02Xh: the key library's set-up is one state change and RTS on" % fill,
              start == ["GetCommState(h1)", "SetCommState(h1, 2400 baud, dtr 0, rts 0)",
                        "EscapeCommFunction(h1, SETRTS)"], start)
        set_up = decode_dcb(device.dcb)
        check("fill %02Xh: the set-up changes only the line format and parity check" % fill,
              changes(after, set_up) == EXPECTED_SET_UP[fill], changes(after, set_up))
        io.call("SetPortBit", 0x3FC, 0)
        io.call("PortOut", 0x3FB, 0x80)
        io.call("PortOut", 0x3F8, 0x01)
        io.call("PortOut", 0x3FB, 0x03)
        lines_on = decode_dcb(device.dcb)
        calls = world.take()
        check("fill %02Xh: a format with DTR and RTS on holds both with ENABLE (1), no handshake" % fill,
              calls == ["EscapeCommFunction(h1, SETDTR)", "GetCommState(h1)",
                        "SetCommState(h1, 115200 baud, dtr 1, rts 1)"] and lines_on["fDtrControl"] == 1
              and lines_on["fRtsControl"] == 1 and lines_on["fOutxCtsFlow"] == 0 and lines_on["fOutX"] == 0
              and lines_on["fInX"] == 0, (calls, lines_on))
        status = io.status()
        check("fill %02Xh: the status text says COM5 is held and its events watched" % fill,
              status == "COM5 for any UART: held, line events watched", status)

    # Polls: the first reads the lines; then quiet ones make no kernel32 call
    # at all; one after a change takes the wait's result, reads the lines
    # once and starts the wait again.
    world, io = load(b"any = COM5\r\n", {"COM5": Device(0x00)})
    io.call("IsDriverInstalled")
    world.take()
    first = io.call("GetPortBit", 0x3FE, 4) & 0xFFFF
    calls = world.take()
    check("the first poll reads the lines once", first == 0 and calls == ["GetCommModemStatus(h1)"], calls)
    quiet = []
    for _ in range(REFRESH_READS - 1):
        quiet.append(io.call("IsDriverInstalled") & 0xFF)
        quiet.append(io.call("GetPortBit", 0x3FE, 4) & 0xFFFF)
        world.set_ticks(world.ticks + 5)
    calls = world.take()
    check("quiet polls make no kernel32 call, not even for the time", quiet == [1, 0] * (REFRESH_READS - 1)
          and calls == [], (quiet, calls))
    # A completed wait collected: its result, a read of the lines, the wait
    # again and the lines read again, now that the wait watches them.
    collected = ["GetOverlappedResult(h1, TRUE)", "GetCommModemStatus(h1)", "WaitCommEvent(h1)",
                 "GetCommModemStatus(h1)"]

    def poll():
        return io.call("GetPortBit", 0x3FE, 4) & 0xFFFF, world.take()

    world.change_lines("COM5", 0x10, 0x08)
    pressed = poll()
    check("a poll after a change: the result, the lines read around the wait again", pressed == (1, collected),
          pressed)
    world.change_lines("COM5", 0x00, 0x08)
    world.change_lines("COM5", 0x10, 0x08)  # released and pressed again before the wait was looked at
    polls = [io.call("GetPortBit", 0x3FE, 4) & 0xFFFF for _ in range(3)]
    check("a release and press between two polls shows up once, then the true level", polls == [0, 1, 1], polls)
    world.take()
    for _ in range(REFRESH_READS):  # up to the next refresh, which starts the count again
        io.call("GetPortBit", 0x3FE, 4)
        if world.take():
            break
    for _ in range(REFRESH_READS - 1):
        io.call("GetPortBit", 0x3FE, 4)
    before = world.take()
    io.call("GetPortBit", 0x3FE, 4)
    refresh = world.take()
    check("with nothing signalled the lines are read again at every %dth read, with no clock" % REFRESH_READS,
          before == [] and refresh == ["GetCommModemStatus(h1)"], (before, refresh))
    # Windows ends a thread's pending waits when the thread exits: the wait
    # reads as cancelled, and the device is as it was.
    world.cancel_waits("COM5")
    held = poll()
    status = io.status()
    check("a wait cancelled with its thread keeps the device: the lines read, the wait started again",
          held == (1, collected) and status.startswith("COM5 for any UART: held, line events watched"),
          (held, status))
    world.change_lines("COM5", 0x00, 0x08)
    released = poll()
    check("the wait started again reports the next change", released == (0, collected), released)
    io.detach()
    calls = world.take()
    check("unload cancels the pending wait and, the driver done with it, collects it before the handle is closed",
          calls == ["CancelIoEx(h1)", "GetOverlappedResult(h1, TRUE)", "CloseHandle(event1)", "CloseHandle(h1)"],
          calls)
    # A driver slow to give a cancelled wait back: the unload, under the
    # loader lock, waits for nothing and leaves the record (outside the
    # image) to the driver.
    world, io = load(b"any = COM5\r\n", {"COM5": Device(0x00)})
    io.call("IsDriverInstalled")
    io.call("GetPortBit", 0x3FE, 4)
    record = next(iter(world.waits.values()))[0] if world.waits else None
    world.take()
    world.slow_cancel = True
    io.detach()
    calls = world.take()
    outside = record is not None and not (io.dll.base <= record < io.dll.base + io.dll.size)
    check("unload with the driver still holding the wait waits for nothing and keeps the record, outside the image",
          calls == ["CancelIoEx(h1)", "CloseHandle(h1) with a wait pending"] and outside, (calls, record))

    # An adapter named by its USB identity is looked up in the Ports class at
    # the claim: Windows gave it COM7 now.
    world, io = load(b"any = COM5 usb=1209:5A4B:ZK0001\r\n", {"COM5": Device(0x00), "COM7": Device(0x00)},
                     [("ACPI\\PNP0501\\1", "COM1"), ("USB\\VID_1209&PID_5A4B\\ZK0001", "COM7")])
    result = io.call("IsDriverInstalled") & 0xFF
    calls = world.take()
    status = io.status()
    opens = [call for call in calls if call.startswith('CreateFileA("\\\\.\\')]
    check("a usb= adapter renumbered by Windows is found in the Ports class and its new port opened",
          result == 1 and "SetupDiGetClassDevsA" in calls and len(opens) == 1 and "COM7" in opens[0], calls)
    check("the status text says which port carries the adapter now",
          status.startswith("usb=1209:5A4B:ZK0001 on COM7 for any UART: held"), status)
    # Where the class lists no port at all (as under Wine), the COM name
    # beside the identity is used, and the status text says why.
    world, io = load(b"any = COM5 usb=1209:5A4B:ZK0001\r\n", {"COM5": Device(0x00)}, [])
    result = io.call("IsDriverInstalled") & 0xFF
    calls = world.take()
    status = io.status()
    check("without a port list the COM name beside the identity is opened, and the status text says why",
          result == 1 and any(call.startswith('CreateFileA("\\\\.\\COM5"') for call in calls) and
          status.startswith("usb=1209:5A4B:ZK0001 (no ports listed, so COM5) for any UART: held"), (calls, status))

    device = Device(0x00)
    device.fail_get = 31
    world, io = load(b"any = COM5", {"COM5": device})
    result = io.call("IsDriverInstalled") & 0xFF
    calls = world.take()
    status = io.status()
    check("a GetCommState failure closes the device and sets nothing",
          result == 0 and calls[-2:] == ["GetCommState(h1) fails 31", "CloseHandle(h1)"], calls)
    check("the status text names GetCommState and its error",
          status == "COM5 for any UART: not held, GetCommState failed (error 31); retrying", status)

    maps = [
        ("a map of exactly 16384 bytes is read", b"any = COM5\n" + b"\n" * (16384 - 11),
         "COM5 for any UART: held, line events watched"),
        ("a map one byte longer is refused, not cut short", b"any = COM5\n" + b"\n" * (16384 - 10),
         "io-ports.txt: longer than 16384 bytes"),
        ("a map far too long is refused", b"any = COM5\n" + b"#" * 100000, "io-ports.txt: longer than 16384 bytes"),
        ("a bad line is named with its number", b"any = COM5\r\nspeed = 9600\r\n",
         "io-ports.txt line 2: unknown key 'speed'; the key is 'any' or a UART base such as 3F8"),
        ("a whole-file error names no line", b"# nothing\r\n",
         "io-ports.txt: names no COM device; add a line such as 'any = COM3'"),
        ("no map file says where to put one", None,
         "no io-ports.txt beside io.dll in C:\\app\\commio\\: put one there naming the COM port, such as 'any = COM3'"),
    ]
    for name, port_map, expected in maps:
        world, io = load(port_map, {"COM5": Device(0x00)})
        installed = io.call("IsDriverInstalled") & 0xFF
        status = io.status()
        check(name, status == expected and installed == (1 if expected.startswith("COM5") else 0),
              "%r, IsDriverInstalled %d" % (status, installed))

    return check.summary()


if __name__ == "__main__":
    run(main, "the io.dll")
