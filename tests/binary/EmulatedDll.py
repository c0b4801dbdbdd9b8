"""Runs the exports of a 32-bit Windows DLL in a CPU emulator, with its
imports answered by Python stand-ins: the shipped machine code, exactly as
a host would call it, on a machine that can't run Windows programs.

Only the imports a test provides may be called; any other call stops the
run with its name. Instructions are counted inside the DLL's own image."""

import struct
import subprocess

import pefile
from unicorn import Uc, UcError, UC_ARCH_X86, UC_MODE_32, UC_HOOK_CODE, UC_PROT_ALL
from unicorn.x86_const import (UC_X86_REG_DS, UC_X86_REG_EAX, UC_X86_REG_EIP, UC_X86_REG_ES, UC_X86_REG_ESP,
                               UC_X86_REG_FS, UC_X86_REG_GDTR, UC_X86_REG_SS)

STUBS = 0x10000000  # one byte per import: where its address points
STACK = 0x20000000
STACK_SIZE = 0x100000
HEAP = 0x30000000
HEAP_SIZE = 0x1000000
RETURN = STUBS + 0xFFFF0  # where an export returns to
TEB = 0x40000000  # the thread's information block, at fs:0
GDT = 0x41000000  # the descriptors that give fs its base
INITTERM = 0x11000000  # the C runtime's constructor walker, as machine code

# _initterm(first, last): calls each non-null function pointer in [first,
# last). It must run as emulated code, since the constructors it calls are.
INITTERM_CODE = bytes.fromhex(
    "56" "57"  # push esi; push edi
    "8b74240c" "8b7c2410"  # mov esi, [esp+12]; mov edi, [esp+16]
    "39fe" "730d"  # loop: cmp esi, edi; jae done
    "8b06" "85c0" "7402" "ffd0"  # mov eax, [esi]; test eax, eax; jz next; call eax
    "83c604" "ebef"  # next: add esi, 4; jmp loop
    "5f" "5e" "c3")  # done: pop edi; pop esi; ret


def _descriptor(base, limit, access, flags):
    return struct.pack("<HHBBBB", limit & 0xFFFF, base & 0xFFFF, (base >> 16) & 0xFF, access,
                       ((limit >> 16) & 0xF) | (flags << 4), (base >> 24) & 0xFF)


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
        # A program has no exports; its functions are found by symbol.
        exported = getattr(self.pe, "DIRECTORY_ENTRY_EXPORT", None)
        self.exports = {e.name.decode(): self.base + e.address for e in exported.symbols} if exported else {}
        self.counted = 0
        self.uc.hook_add(UC_HOOK_CODE, self._count, begin=self.base, end=self.base + self.size - 1)
        self.uc.hook_add(UC_HOOK_CODE, self._import, begin=STUBS, end=STUBS + 0xFFFFF)
        self.error = None
        self._segments()

    def _segments(self):
        """Flat data segments and an fs that points at a thread information
        block, as Windows gives every thread: start-up code reads fs:[18h]."""
        uc = self.uc
        uc.mem_map(TEB, 0x1000, UC_PROT_ALL)
        uc.mem_write(TEB + 0x04, struct.pack("<I", STACK + STACK_SIZE))  # stack top
        uc.mem_write(TEB + 0x08, struct.pack("<I", STACK))  # stack bottom
        uc.mem_write(TEB + 0x18, struct.pack("<I", TEB))  # the block's own address
        uc.mem_map(GDT, 0x1000, UC_PROT_ALL)
        uc.mem_write(GDT + 8 * 2, _descriptor(0, 0xFFFFF, 0x93, 0xC))  # data, 4 GiB
        uc.mem_write(GDT + 8 * 3, _descriptor(TEB, 0xFFF, 0xF3, 0x4))  # the TEB
        uc.reg_write(UC_X86_REG_GDTR, (0, GDT, 0x1000, 0))
        for register in (UC_X86_REG_DS, UC_X86_REG_ES, UC_X86_REG_SS):
            uc.reg_write(register, 2 << 3)
        uc.reg_write(UC_X86_REG_FS, (3 << 3) | 3)

    def call_entry_point(self, reason):
        """Runs the image's entry point as the loader does, the C runtime's
        start-up included: _initterm runs the image's constructors here, so
        the test answers only what they call. Returns EAX."""
        self.uc.mem_map(INITTERM, 0x1000, UC_PROT_ALL)
        self.uc.mem_write(INITTERM, INITTERM_CODE)
        for entry in self.pe.DIRECTORY_ENTRY_IMPORT:
            for imp in entry.imports:
                if entry.dll.decode().lower() == "msvcrt.dll" and imp.name == b"_initterm":
                    self.uc.mem_write(imp.address, struct.pack("<I", INITTERM))
        entry_point = self.base + self.pe.OPTIONAL_HEADER.AddressOfEntryPoint
        result, _, balanced = self.call_at(entry_point, self.base, reason, 0, name="the entry point")
        if not balanced:
            raise RuntimeError("the entry point left the stack unbalanced")
        return result

    def point_data_imports(self):
        """Variables imported by address: the slot must hold the variable's
        address, not a function's. The C runtime's FILE array (_iob: stdin,
        stdout, stderr first) and its character size."""
        data = {"__mb_cur_max": struct.pack("<I", 1), "_iob": b"\0" * 32 * 20}
        self.data_imports = {}
        for entry in self.pe.DIRECTORY_ENTRY_IMPORT:
            for imp in entry.imports:
                name = imp.name.decode() if imp.name else ""
                if name in data:
                    address = self.malloc(len(data[name]))
                    self.uc.mem_write(address, data[name])
                    self.uc.mem_write(imp.address, struct.pack("<I", address))
                    self.data_imports[name] = address

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

    def call(self, export, *args, limit=1_000_000):
        """Calls an export the stdcall way; returns (EAX, instructions
        executed in the DLL's image, ESP balanced?). `limit`: instructions
        (all of them, the imports' stubs included) before it counts as hung."""
        return self.call_at(self.exports[export], *args, name=export, limit=limit)

    def call_at(self, address, *args, name=None, limit=1_000_000):
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
            self.uc.emu_start(address, RETURN, count=limit)
        except UcError as e:
            raise RuntimeError("%s faulted at %#x: %s" % (export, self.uc.reg_read(UC_X86_REG_EIP), e))
        if self.error:
            raise self.error
        if self.uc.reg_read(UC_X86_REG_EIP) != RETURN:
            raise RuntimeError("%s did not return within %d instructions" % (export, limit))
        balanced = self.uc.reg_read(UC_X86_REG_ESP) == esp + len(frame)
        return self.uc.reg_read(UC_X86_REG_EAX), self.counted, balanced


def symbol_address(nm, path, name):
    """The address of `name` in the symbols beside the image (NAME.debug)."""
    for line in subprocess.run([nm, path + ".debug"], capture_output=True, text=True, check=True).stdout.splitlines():
        fields = line.split()
        if len(fields) == 3 and fields[2] == name:
            return int(fields[0], 16)
    raise LookupError("no symbol %s in %s.debug" % (name, path))
