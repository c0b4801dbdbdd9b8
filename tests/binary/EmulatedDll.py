"""Runs the exports of a 32-bit Windows DLL in a CPU emulator, with its
imports answered by Python stand-ins: the shipped machine code, exactly as
a host would call it, on a machine that can't run Windows programs.

Only the imports a test provides may be called; any other call stops the
run with its name. Instructions are counted inside the DLL's own image."""

import struct

import pefile
from unicorn import Uc, UcError, UC_ARCH_X86, UC_MODE_32, UC_HOOK_CODE, UC_PROT_ALL
from unicorn.x86_const import UC_X86_REG_EAX, UC_X86_REG_ESP, UC_X86_REG_EIP

STUBS = 0x10000000  # one byte per import: where its address points
STACK = 0x20000000
STACK_SIZE = 0x100000
HEAP = 0x30000000
HEAP_SIZE = 0x1000000
RETURN = STUBS + 0xFFFF0  # where an export returns to


class UnexpectedImport(Exception):
    pass


class EmulatedDll:
    def __init__(self, path, imports):
        """imports: {(dll lower-case, name): (handler, stdcall argument bytes)}.
        A handler gets the emulated DLL and its stack arguments (as 32-bit
        words) and returns EAX."""
        self.pe = pefile.PE(path)
        self.base = self.pe.OPTIONAL_HEADER.ImageBase
        self.size = self.pe.OPTIONAL_HEADER.SizeOfImage
        self.uc = Uc(UC_ARCH_X86, UC_MODE_32)
        self.uc.mem_map(self.base, (self.size + 0xFFF) & ~0xFFF, UC_PROT_ALL)
        self.uc.mem_write(self.base, self.pe.get_memory_mapped_image())
        self.uc.mem_map(STUBS, 0x100000, UC_PROT_ALL)
        self.uc.mem_map(STACK, STACK_SIZE, UC_PROT_ALL)
        self.uc.mem_map(HEAP, HEAP_SIZE, UC_PROT_ALL)
        self.heap_next = HEAP
        self.stubs = {}
        self.imports = imports
        self.calls = []  # (dll, name) of every import called, in order
        stub = STUBS
        for entry in self.pe.DIRECTORY_ENTRY_IMPORT:
            dll = entry.dll.decode().lower()
            for imp in entry.imports:
                name = imp.name.decode() if imp.name else "#%d" % imp.ordinal
                self.uc.mem_write(imp.address, struct.pack("<I", stub))
                self.uc.mem_write(stub, b"\xc3")
                self.stubs[stub] = (dll, name)
                stub += 1
        self.exports = {e.name.decode(): self.base + e.address for e in self.pe.DIRECTORY_ENTRY_EXPORT.symbols}
        self.counted = 0
        self.uc.hook_add(UC_HOOK_CODE, self._count, begin=self.base, end=self.base + self.size - 1)
        self.uc.hook_add(UC_HOOK_CODE, self._import, begin=STUBS, end=STUBS + 0xFFFFF)
        self.error = None

    # Memory helpers for stand-ins.
    def read_string(self, address):
        data = b""
        while True:
            byte = bytes(self.uc.mem_read(address + len(data), 1))
            if byte == b"\0":
                return data
            data += byte

    def malloc(self, size):
        address = self.heap_next
        self.heap_next += (max(size, 1) + 15) & ~15
        if self.heap_next > HEAP + HEAP_SIZE:
            raise MemoryError("emulated heap exhausted")
        return address

    def put_string(self, text):
        address = self.malloc(len(text) + 1)
        self.uc.mem_write(address, text + b"\0")
        return address

    def _count(self, uc, address, size, user):
        self.counted += 1

    def _import(self, uc, address, size, user):
        if address == RETURN:
            uc.emu_stop()
            return
        dll, name = self.stubs[address]
        esp = uc.reg_read(UC_X86_REG_ESP)
        handler = self.imports.get((dll, name))
        if handler is None:
            self.error = UnexpectedImport("%s!%s" % (dll, name))
            uc.emu_stop()
            return
        function, arg_bytes = handler
        words = struct.unpack("<8I", bytes(uc.mem_read(esp + 4, 32)))
        self.calls.append((dll, name))
        result = function(self, *words)
        ret = struct.unpack("<I", bytes(uc.mem_read(esp, 4)))[0]
        uc.reg_write(UC_X86_REG_EAX, (result or 0) & 0xFFFFFFFF)
        uc.reg_write(UC_X86_REG_ESP, esp + 4 + arg_bytes)
        uc.reg_write(UC_X86_REG_EIP, ret)

    def call(self, export, *args):
        """Calls an export the stdcall way; returns (EAX, instructions
        executed in the DLL's image, ESP balanced?)."""
        return self.call_at(self.exports[export], *args, name=export)

    def call_at(self, address, *args, name=None):
        """Calls the stdcall function at `address`, as call() does."""
        export = name or "%#x" % address
        esp = STACK + STACK_SIZE - 0x1000
        frame = struct.pack("<I", RETURN) + b"".join(struct.pack("<I", a & 0xFFFFFFFF) for a in args)
        esp -= len(frame)
        self.uc.mem_write(esp, frame)
        self.uc.reg_write(UC_X86_REG_ESP, esp)
        self.uc.mem_write(RETURN, b"\xc3")
        self.stubs.setdefault(RETURN, ("", ""))
        self.counted = 0
        self.error = None
        try:
            self.uc.emu_start(address, RETURN, count=1_000_000)
        except UcError as e:
            raise RuntimeError("%s faulted at %#x: %s" % (export, self.uc.reg_read(UC_X86_REG_EIP), e))
        if self.error:
            raise self.error
        if self.uc.reg_read(UC_X86_REG_EIP) != RETURN:
            raise RuntimeError("%s did not return within a million instructions" % export)
        balanced = self.uc.reg_read(UC_X86_REG_ESP) == esp + len(frame)
        return self.uc.reg_read(UC_X86_REG_EAX), self.counted, balanced
