#!/usr/bin/env python3
"""The shipped key tester's `--find` and `--ports` in a CPU emulator: the real
zelbin-keytest.exe, its main called with a command line, over a PC answered
here. Windows lists COM5 (a USB adapter, in the Ports class) and COM6 (held
by another program) through SetupAPI, and COM1 through the registry's
serial devices and the DOS device names; each serial call reaches a small
simulated driver whose key follows a script on the tester's own clock
(GetTickCount, moved on by each of its waits). The map file lives in a
simulated folder.

For each case: the transcript, the exit status, the map and its .bak, and
how every port was used: DTR and RTS off at the first SetCommState after
the open, RTS off again before the close, DTR never on, each port opened
closed once; and after a search, the Ctrl+C handler taken away again.

Usage: check-keytest-emulated.py zelbin-keytest.exe --nm NM [--show]
Prints 'N passed, N failed'; exits non-zero on any failure. --show prints
each case's transcript."""

import os
import struct
import sys

sys.path.insert(0, os.path.dirname(__file__))
from Checks import Checks  # noqa: E402
from EmulatedDll import EmulatedDll, UnexpectedImport, symbol_address  # noqa: E402
from EmulatedRuntime import Runtime  # noqa: E402

PORTS_CLASS = bytes.fromhex("78e9364d25e3ce11bfc108002be10318")  # {4D36E978-E325-11CE-BFC1-08002BE10318}
LISTED = [("COM5", "USB Serial Port (COM5)", "USB\\VID_1209&PID_5A4B\\ZK0001"),
          ("COM6", "Communications Port (COM6)", "ACPI\\PNP0501\\1")]
DEVICE_SET, SERIALCOMM_KEY, FAKE_IO_MODULE = 0x7000, 0x8800, 0x50000000
CTS, DSR = 0x10, 0x20
INVALID = 0xFFFFFFFF
WAIT_OBJECT_0, WAIT_TIMEOUT = 0, 0x102
DCB_SIZE = 28
FOLDER = "C:\\find"
OLD_MAP = b"any = COM3 # by hand\n"
MAP_LINE = "any = COM5 usb=1209:5A4B:ZK0001"


class Case:
    def __init__(self, name, args, line=DSR, rests_on=False, presses=(500, 900, 1300), held_ms=150,
                 down_until=0, stop_at=None, status=0, says=(), map_line=None, searches=True, old_map=OLD_MAP):
        self.name, self.args = name, args
        self.line, self.rests_on = line, rests_on
        self.presses, self.held_ms = presses, held_ms  # ms after COM5's RTS comes on
        self.down_until = down_until  # pressed from the start until then
        self.stop_at = stop_at        # Ctrl+C at this tester time (ms from the first tick)
        self.status, self.says, self.map_line = status, says, map_line
        self.searches = searches  # a --find run, with its Ctrl+C handler
        self.old_map = old_map    # io-ports.txt before the run


CASES = [
    Case("a key on DSR is found and its map written", ["--find", "--write-map", "--io", FOLDER + "\\io.dll"],
         says=["Finding the key on 3 serial ports.",
               "  watching COM1",
               "  watching COM5 (USB Serial Port (COM5))",
               "  skipped  COM6 (Communications Port (COM6)): held by another program",
               "  COM5 DSR changed (3)",
               "Every port searched is closed, its lines off.",
               "The key is on COM5, USB Serial Port, line DSR, closes when pressed (3 presses seen).",
               "The adapter is USB 1209:5A4B, serial ZK0001.",
               "  " + MAP_LINE + " line=DSR",
               "Not searched: COM6: held by another program.",
               "Wrote C:\\find\\io-ports.txt (the previous one is C:\\find\\io-ports.txt.bak) and read it back"],
         map_line=MAP_LINE + " line=DSR"),
    Case("a normally closed key, held open as the search begins", ["--find", "--io", FOLDER + "\\io.dll"],
         line=CTS, rests_on=True, down_until=400, presses=(700, 1100, 1500),
         says=["  COM5 CTS changed (1)", "  COM5 CTS changed (2)", "  COM5 CTS changed (3)",
               "  COM5 CTS changed (4)",  # the let-go at the start counts here, not in the finding
               "The key is on COM5, USB Serial Port, line CTS, opens when pressed (3 presses seen).",
               "  " + MAP_LINE + " invert",
               "zelbin-keytest --find --write-map writes that line to io-ports.txt for you."]),
    Case("long presses, and one more before the search ends", ["--find", "--io", FOLDER + "\\io.dll"],
         presses=(500, 2000, 3500, 5000), held_ms=1000,
         says=["The key is on COM5, USB Serial Port, line DSR, closes when pressed (4 presses seen).",
               "  " + MAP_LINE + " line=DSR"]),
    Case("a key pressed and held to the end", ["--find", "--write-map", "--seconds", "3", "--io",
                                               FOLDER + "\\io.dll"],
         presses=(500,), held_ms=10000, status=5,
         says=["A line changed and didn't change back: COM5 DSR.", "That is a key held down"]),
    Case("no key pressed", ["--find", "--write-map", "--seconds", "1", "--io", FOLDER + "\\io.dll"], presses=(),
         status=5, says=["Every port searched is closed, its lines off.", "No line changed on COM1 and COM5."]),
    Case("--ports lists every port with its state and its map line", ["--ports", "--io", FOLDER + "\\io.dll"],
         searches=False, old_map=b"# the key\r\nany = COM5 line=DSR\r\n",
         says=["COM1", "  device  : \\Device\\Serial0", "  now     : free",
               "COM5  USB Serial Port (COM5)", "  identity: USB 1209:5A4B, serial ZK0001", "  now     : free",
               "  map     : line 2 of io-ports.txt",
               "COM6  Communications Port (COM6)", "  now     : held by another program"]),
    Case("Ctrl+C after the first press", ["--find", "--write-map", "--io", FOLDER + "\\io.dll"], stop_at=800,
         status=5, says=["  COM5 DSR changed (1)",
                         "Stopped (Ctrl+C). Every port searched is closed, its lines off.",
                         "The key is on COM5, USB Serial Port, line DSR, closes when pressed (1 press seen).",
                         "The search was stopped before its end, so io-ports.txt is left as it was"]),
]


class Pc:
    """Windows as the tester sees it; `log` holds the port calls, a line each."""

    def __init__(self, case):
        self.case = case
        self.runtime = Runtime()
        self.ticks = 1000
        self.last_error = 0
        self.log = []
        self.out = []
        self.handles = {}  # handle -> port
        self.next_handle = 0x100
        self.held = {"COM6"}
        self.rts_on_at = None
        self.events = []
        self.ctrl_handler = []  # (handler, add) of every SetConsoleCtrlHandler
        self.keys = {}
        self.files = {FOLDER + "\\io.dll": b"MZ", FOLDER + "\\io-ports.txt": case.old_map}
        self.open_files = {}
        self.stdout = None

    def key_down(self):
        case = self.case
        if self.ticks - 1000 < case.down_until:
            return True
        if self.rts_on_at is None:
            return False
        since = self.ticks - self.rts_on_at
        return any(at <= since < at + case.held_ms for at in case.presses)

    def lines(self, port):
        if port != "COM5":
            return 0
        on = self.key_down() != self.case.rests_on
        return self.case.line if on else 0

    def fail(self, error, result=0):
        self.last_error = error
        return result

    def imports(self, dll):
        uc = dll.uc

        def w32(address, value):
            uc.mem_write(address, struct.pack("<I", value & 0xFFFFFFFF))

        def text(address):
            return dll.read_string(address).decode("latin-1")

        def put(buffer, value, size):
            data = value.encode() + b"\0"
            if size < len(data):
                return False
            uc.mem_write(buffer, data)
            return True

        # ---- SetupAPI: the Ports class
        def listed(data):
            return LISTED[struct.unpack("<I", bytes(uc.mem_read(data + 20, 4)))[0] - 1]

        def class_devs(_, guid, *__):
            return DEVICE_SET if bytes(uc.mem_read(guid, 16)) == PORTS_CLASS else self.fail(13, INVALID)

        def enum_device(_, device_set, index, data, *__):
            if index >= len(LISTED):
                return self.fail(259)
            w32(data + 20, index + 1)  # DevInst, after cbSize and the class GUID
            return 1

        def instance_id(_, device_set, data, buffer, size, *__):
            return 1 if put(buffer, listed(data)[2], size) else self.fail(122)

        def device_property(_, device_set, data, prop, kind, buffer, size, *__):
            if prop != 12:  # SPDRP_FRIENDLYNAME
                return self.fail(13)
            if kind:
                w32(kind, 1)
            return 1 if put(buffer, listed(data)[1], size) else self.fail(122)

        def device_key(_, device_set, data, *__):
            key = 0x9000 + 4 * len(self.keys)
            self.keys[key] = listed(data)[0]
            return key

        # ---- the registry: the serial devices, and a device's PortName
        def reg_open(_, root, path, options, sam, out, *__):
            if dll.read_string(path) != b"HARDWARE\\DEVICEMAP\\SERIALCOMM":
                return 2
            w32(out, SERIALCOMM_KEY)
            return 0

        def reg_enum(_, key, index, name, name_size, reserved, kind, data, data_size, *__):
            if key != SERIALCOMM_KEY or index > 0:
                return 259
            uc.mem_write(name, b"\\Device\\Serial0\0")
            w32(name_size, 15)
            w32(kind, 1)
            uc.mem_write(data, b"COM1\0")
            w32(data_size, 5)
            return 0

        def reg_query(_, key, name, reserved, kind, data, size, *__):
            if key not in self.keys or dll.read_string(name) != b"PortName":
                return 2
            value = self.keys[key].encode() + b"\0"
            w32(kind, 1)
            uc.mem_write(data, value)
            w32(size, len(value))
            return 0

        def dos_device(_, name, buffer, size, *__):
            targets = {"COM1": "\\Device\\Serial0", "COM5": "\\Device\\VCP0", "LPT1": "\\Device\\Parallel0"}
            if name == 0:
                data = b"".join(n.encode() + b"\0" for n in targets) + b"\0"
                uc.mem_write(buffer, data)
                return len(data)
            target = targets.get(text(name))
            if target is None:
                return self.fail(2)
            uc.mem_write(buffer, target.encode() + b"\0\0")
            return len(target) + 2

        # ---- the serial driver
        def create_file(_, name, *__):
            path = text(name)
            port = path[4:] if path.startswith("\\\\.\\") else path
            if port not in ("COM1", "COM5", "COM6"):
                self.log.append("open %s fails 2" % port)
                return self.fail(2, INVALID)
            if port in self.held:
                self.log.append("open %s fails 5" % port)
                return self.fail(5, INVALID)
            self.held.add(port)
            handle = self.next_handle
            self.next_handle += 4
            self.handles[handle] = port
            self.log.append("open %s" % port)
            return handle

        def close_handle(_, handle, *__):
            port = self.handles.pop(handle, None)
            if port:
                self.held.discard(port)
                self.log.append("close %s" % port)
            return 1

        def get_comm_state(_, handle, dcb, *__):
            if handle not in self.handles:
                return self.fail(6)
            # 9600 baud, binary, DTR and RTS on as a driver leaves them.
            uc.mem_write(dcb, struct.pack("<III", DCB_SIZE, 9600, 0x1 | 1 << 4 | 1 << 12) + bytes(16))
            return 1

        def set_comm_state(_, handle, dcb, *__):
            if handle not in self.handles:
                return self.fail(6)
            flags = struct.unpack("<I", bytes(uc.mem_read(dcb + 8, 4)))[0]
            self.log.append("settings %s: dtr %d, rts %d" % (self.handles[handle], flags >> 4 & 3, flags >> 12 & 3))
            return 1

        def escape(_, handle, code, *__):
            port = self.handles.get(handle)
            if port is None:
                return self.fail(6)
            self.log.append("escape %s %s" % (port, {3: "SETRTS", 4: "CLRRTS", 5: "SETDTR", 6: "CLRDTR"}[code]))
            if code == 3 and port == "COM5" and self.rts_on_at is None:
                self.rts_on_at = self.ticks
            return 1

        def modem_status(_, handle, status, *__):
            if handle not in self.handles:
                return self.fail(6)
            w32(status, self.lines(self.handles[handle]))
            return 1

        # ---- events, waits and the clock
        def create_event(_, *__):
            self.events.append(0x6000 + 4 * len(self.events))
            return self.events[-1]

        def wait(_, handle, ms, *__):
            stop = self.case.stop_at
            if stop is not None and self.events and handle == self.events[0] and self.ticks - 1000 >= stop:
                return WAIT_OBJECT_0  # Ctrl+C: the handler has set the search's stop event
            self.ticks += ms
            return WAIT_TIMEOUT

        def ctrl_handler(_, handler, add, *__):
            self.ctrl_handler.append((handler, add))
            return 1

        # ---- files: the comm-port io.dll's folder
        def full_path(_, name, size, buffer, file_part, *__):
            path = text(name)
            if not path.startswith("C:"):
                path = "C:\\work\\" + path
            if not put(buffer, path, size):
                return len(path) + 1
            if file_part:
                w32(file_part, buffer + path.rfind("\\") + 1)
            return len(path)

        def attributes(_, name, *__):
            path = text(name).rstrip("\\")
            if path in ("C:", FOLDER):
                return 0x10
            return 0x20 if path in self.files else self.fail(2, INVALID)

        def load_library_ex(_, name, file, flags, *__):
            # Loaded as a host loads it, its own folder searched first
            # (LOAD_WITH_ALTERED_SEARCH_PATH).
            return FAKE_IO_MODULE if text(name) == FOLDER + "\\io.dll" and flags == 8 else self.fail(126)

        def get_proc(_, module, name, *__):
            return FAKE_IO_MODULE + 0x1000 if module == FAKE_IO_MODULE and text(name) == "CommIoStatus" else 0

        def fopen(_, name, mode, *__):
            path, how = text(name), text(mode)
            if "r" in how and path not in self.files or path.rsplit("\\", 1)[0] != FOLDER:
                self.runtime.set_errno(dll, 2)
                return 0
            stream = dll.malloc(32)
            self.open_files[stream] = [path, how, bytearray(self.files.get(path, b"") if "r" in how else b""), 0]
            return stream

        def fread(_, buffer, size, count, stream, *__):
            entry = self.open_files[stream]
            chunk = bytes(entry[2][entry[3]:entry[3] + size * count])
            entry[3] += len(chunk)
            if chunk:
                uc.mem_write(buffer, chunk)
            return len(chunk) // size if size else 0

        def fclose(_, stream, *__):
            path, how, data, _position = self.open_files.pop(stream)
            if "w" in how:
                self.files[path] = bytes(data)
            return 0

        def rename(_, old, new, *__):
            a, b = text(old), text(new)
            if a not in self.files or b in self.files:
                self.runtime.set_errno(dll, 17 if b in self.files else 2)
                return INVALID
            self.files[b] = self.files.pop(a)
            return 0

        def remove(_, name, *__):
            path = text(name)
            if path not in self.files:
                self.runtime.set_errno(dll, 2)
                return INVALID
            del self.files[path]
            return 0

        # ---- output
        def stream_of(stream):
            return {self.stdout: "out", self.stdout + 32: "err"}.get(stream)

        def fwrite(_, buffer, size, count, stream, *__):
            data = bytes(uc.mem_read(buffer, size * count))
            if stream in self.open_files:
                self.open_files[stream][2] += data
            else:
                self.out.append((stream_of(stream), data))
            return count

        def fputc(_, c, stream, *__):
            self.out.append((stream_of(stream), bytes([c & 0xFF])))
            return c

        def fputs(_, s, stream, *__):
            self.out.append((stream_of(stream), dll.read_string(s)))
            return 0

        def strtoul(_, s, end, base, *__):
            digits = dll.read_string(s)
            length = len(digits) - len(digits.lstrip(b"0123456789"))
            if end:
                w32(end, s + length)
            return int(digits[:length] or b"0", base or 10)

        def nothing(*_):
            return 0

        def one(*_):
            return 1

        k, c, a, s = "kernel32.dll", "msvcrt.dll", "advapi32.dll", "setupapi.dll"
        return {
            **self.runtime.imports(),
            (k, "SetLastError"): (lambda _, error, *__: setattr(self, "last_error", error), 4),
            (k, "GetLastError"): (lambda *_: self.last_error, 0),
            (k, "GetTickCount"): (lambda *_: self.ticks, 0),
            (k, "QueryPerformanceFrequency"): (lambda _, at, *__: uc.mem_write(at, struct.pack("<Q", 10**7)) or 1, 4),
            (s, "SetupDiGetClassDevsA"): (class_devs, 16),
            (s, "SetupDiEnumDeviceInfo"): (enum_device, 12),
            (s, "SetupDiGetDeviceInstanceIdA"): (instance_id, 20),
            (s, "SetupDiGetDeviceRegistryPropertyA"): (device_property, 28),
            (s, "SetupDiOpenDevRegKey"): (device_key, 24),
            (s, "SetupDiDestroyDeviceInfoList"): (one, 4),
            (a, "RegOpenKeyExA"): (reg_open, 20),
            (a, "RegEnumValueA"): (reg_enum, 32),
            (a, "RegQueryValueExA"): (reg_query, 24),
            (a, "RegCloseKey"): (nothing, 4),
            (k, "QueryDosDeviceA"): (dos_device, 12),
            (k, "CreateFileA"): (create_file, 28),
            (k, "CloseHandle"): (close_handle, 4),
            (k, "GetCommState"): (get_comm_state, 8),
            (k, "SetCommState"): (set_comm_state, 8),
            (k, "EscapeCommFunction"): (escape, 8),
            (k, "GetCommModemStatus"): (modem_status, 8),
            (k, "CreateEventA"): (create_event, 16),
            (k, "SetEvent"): (one, 4),
            (k, "WaitForSingleObject"): (wait, 8),
            (k, "SetConsoleCtrlHandler"): (ctrl_handler, 8),
            (k, "GetFullPathNameA"): (full_path, 16),
            (k, "GetFileAttributesA"): (attributes, 4),
            (k, "LoadLibraryExA"): (load_library_ex, 12),
            (k, "GetProcAddress"): (get_proc, 8),
            (k, "FreeLibrary"): (one, 4),
            (c, "fopen"): (fopen, 0),
            (c, "fread"): (fread, 0),
            (c, "fclose"): (fclose, 0),
            (c, "fflush"): (nothing, 0),
            (c, "ferror"): (nothing, 0),
            (c, "rename"): (rename, 0),
            (c, "remove"): (remove, 0),
            (c, "fwrite"): (fwrite, 0),
            (c, "fputc"): (fputc, 0),
            (c, "fputs"): (fputs, 0),
            (c, "setvbuf"): (nothing, 0),
            (c, "strtoul"): (strtoul, 0),
        }


def run(path, nm, case):
    """Runs the tester's main with `case`'s command line; returns the PC and
    the exit status."""
    pc = Pc(case)
    imports = {}
    exe = EmulatedDll(path, imports)
    imports.update(pc.imports(exe))
    exe.point_data_imports()
    pc.stdout = exe.data_imports["_iob"] + 32
    words = [b"zelbin-keytest.exe"] + [arg.encode() for arg in case.args]
    pointers = [exe.put_string(word) for word in words]
    argv = exe.malloc(4 * len(pointers) + 4)
    exe.uc.mem_write(argv, b"".join(struct.pack("<I", p) for p in pointers + [0]))
    # main is a cdecl function: it leaves its arguments to the caller.
    status, _, _ = exe.call_at(symbol_address(nm, path, "_main"), len(pointers), argv, name="main",
                               limit=200_000_000)
    return pc, status


def port_use(log):
    """What went wrong in the use of the ports, or ''."""
    opened = [line.split()[1] for line in log if line.startswith("open ") and "fails" not in line]
    for port in set(opened):
        mine = [line for line in log if line.split()[1:2] == [port] or line.startswith(("settings %s:" % port,
                                                                                         "escape %s " % port))]
        closes = sum(1 for line in mine if line == "close " + port)
        if closes != opened.count(port):
            return "%s opened %d times, closed %d" % (port, opened.count(port), closes)
        dtr = rts = False
        for before, after in zip(mine, mine[1:]):
            if before == "open " + port and not after.startswith("settings %s: dtr 0, rts 0" % port):
                return "%s: '%s' after its open" % (port, after)
            if after.startswith("settings "):  # "settings COM5: dtr D, rts R"; 1 is on
                dtr, rts = after.endswith(("dtr 1, rts 0", "dtr 1, rts 1")), after.endswith("rts 1")
            rts = (rts or after == "escape %s SETRTS" % port) and after != "escape %s CLRRTS" % port
            dtr = dtr or after == "escape %s SETDTR" % port
            if dtr:
                return "%s: DTR turned on" % port
            if after == "close " + port and rts:
                return "%s: closed with RTS on" % port
    return ""


def main():
    path = sys.argv[1]
    nm = sys.argv[sys.argv.index("--nm") + 1]
    show = "--show" in sys.argv
    check = Checks()

    for case in CASES:
        try:
            pc, status = run(path, nm, case)
        except (RuntimeError, UnexpectedImport) as e:
            check(case.name, False, "the run stopped: %r" % e)
            continue
        out = b"".join(data for stream, data in pc.out if stream == "out").decode("latin-1")
        err = b"".join(data for stream, data in pc.out if stream != "out").decode("latin-1")
        if show:
            print("---- %s (exit status %d)\n%s----" % (case.name, status, out))
        lines = out.splitlines()
        at, missing = 0, None
        for wanted in case.says:  # in this order, each the start of a line
            found = next((i for i in range(at, len(lines)) if lines[i].startswith(wanted)), None)
            if found is None:
                missing = wanted
                break
            at = found + 1
        check(case.name + ": says what it found", missing is None and not err,
              "no line '%s' in order%s" % (missing, "; stderr: " + err if err else ""))
        check(case.name + ": exit status %d" % case.status, status == case.status, "got %d" % status)
        written = pc.files.get(FOLDER + "\\io-ports.txt", b"").decode("latin-1")
        if case.map_line:
            check(case.name + ": the map is written, the old one kept",
                  written.splitlines()[-1:] == [case.map_line] and
                  pc.files.get(FOLDER + "\\io-ports.txt.bak") == case.old_map, repr(written))
        else:
            check(case.name + ": the map is left as it was",
                  written.encode("latin-1") == case.old_map and FOLDER + "\\io-ports.txt.bak" not in pc.files,
                  repr(written))
        problem = port_use(pc.log)
        check(case.name + ": every port claimed with its lines off and given back", not problem, problem)
        if case.searches:
            check(case.name + ": the Ctrl+C handler is taken away after the search",
                      len(pc.ctrl_handler) == 2 and pc.ctrl_handler[0][1] == 1 and pc.ctrl_handler[1] ==
                  (pc.ctrl_handler[0][0], 0), repr(pc.ctrl_handler))

    return check.summary()


if __name__ == "__main__":
    sys.exit(main())
