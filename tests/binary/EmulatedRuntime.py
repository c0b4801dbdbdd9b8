"""The C runtime and the runtime support from kernel32 that a MinGW-built
image calls besides its real work, answered for the CPU emulator: the heap,
memory and string functions, errno and the locale's decimal point, one
thread's locks and thread-local slots, the stack guard's seed, and no
shared unwinder. A check adds the calls it is about on top of these."""

import struct


class Runtime:
    def __init__(self):
        self.sizes = {}  # heap block -> size, for realloc
        self.tls = {}
        self.errno = None
        self.lconv = None

    def set_errno(self, dll, value):
        dll.uc.mem_write(self._errno(dll), struct.pack("<I", value))

    def _errno(self, dll, *_):
        if self.errno is None:
            self.errno = dll.malloc(4)
        return self.errno

    def imports(self):
        def malloc(dll, size, *_):
            address = dll.malloc(size)
            self.sizes[address] = size
            return address

        def calloc(dll, count, size, *_):
            address = malloc(dll, count * size)
            dll.uc.mem_write(address, b"\0" * (count * size))
            return address

        def realloc(dll, block, size, *_):
            address = malloc(dll, size)
            if block:
                old = self.sizes.get(block, 0)
                dll.uc.mem_write(address, bytes(dll.uc.mem_read(block, min(old, size))))
            return address

        def memcpy(dll, dest, src, n, *_):
            if n:
                dll.uc.mem_write(dest, bytes(dll.uc.mem_read(src, n)))
            return dest

        def memcmp(dll, a, b, n, *_):
            x, y = bytes(dll.uc.mem_read(a, n)), bytes(dll.uc.mem_read(b, n))
            return 0 if x == y else (0xFFFFFFFF if x < y else 1)

        def memset(dll, dest, c, n, *_):
            if n:
                dll.uc.mem_write(dest, bytes([c & 0xFF]) * n)
            return dest

        def memchr(dll, s, c, n, *_):
            data = bytes(dll.uc.mem_read(s, n))
            at = data.find(bytes([c & 0xFF]))
            return 0 if at < 0 else s + at

        def strlen(dll, s, *_):
            return len(dll.read_string(s))

        def strchr(dll, s, c, *_):
            data = dll.read_string(s) + b"\0"
            at = data.find(bytes([c & 0xFF]))
            return 0 if at < 0 else s + at

        def strcmp(dll, a, b, *_):
            x, y = dll.read_string(a), dll.read_string(b)
            return 0 if x == y else (0xFFFFFFFF if x < y else 1)

        def atoi(dll, s, *_):
            text = dll.read_string(s).lstrip()
            sign = -1 if text[:1] == b"-" else 1
            digits = text.lstrip(b"+-")
            digits = digits[:len(digits) - len(digits.lstrip(b"0123456789"))]
            return sign * int(digits or b"0")

        def tolower(dll, c, *_):
            return c + 32 if ord("A") <= c <= ord("Z") else c

        def nothing(dll, *_):
            return 0

        def one(dll, *_):
            return 1

        def localeconv(dll, *_):
            if self.lconv is None:
                point = dll.put_string(b".")
                empty = dll.put_string(b"")
                self.lconv = dll.malloc(64)
                dll.uc.mem_write(self.lconv, struct.pack("<3I", point, empty, empty) + b"\0" * 52)
            return self.lconv

        k, c = "kernel32.dll", "msvcrt.dll"
        return {
            (k, "InitializeCriticalSection"): (nothing, 4),
            (k, "DeleteCriticalSection"): (nothing, 4),
            (k, "EnterCriticalSection"): (nothing, 4),
            (k, "LeaveCriticalSection"): (nothing, 4),
            (k, "GetCurrentThreadId"): (one, 0),
            # The stack guard's seed, at the image's start-up.
            (k, "GetCurrentProcessId"): (one, 0),
            (k, "GetSystemTimeAsFileTime"): (lambda dll, at, *_: dll.uc.mem_write(at, bytes(range(8))), 4),
            (k, "QueryPerformanceCounter"): (lambda dll, at, *_: dll.uc.mem_write(at, bytes(range(8, 16))) or 1, 4),
            # The runtime looks for a shared unwinder and finds none: it
            # uses its own.
            (k, "GetModuleHandleA"): (nothing, 4),
            (k, "GetModuleHandleW"): (nothing, 4),
            (k, "GetProcAddress"): (nothing, 8),
            # One thread: the runtime's locks are always free.
            (k, "CreateSemaphoreW"): (lambda dll, *_: 0x5000, 16),
            (k, "WaitForSingleObject"): (nothing, 8),
            (k, "ReleaseSemaphore"): (one, 12),
            (k, "TlsAlloc"): (one, 0),
            (k, "TlsGetValue"): (lambda dll, index, *_: self.tls.get(index, 0), 4),
            (k, "TlsSetValue"): (lambda dll, index, value, *_: self.tls.__setitem__(index, value) or 1, 8),
            (c, "malloc"): (malloc, 0),
            (c, "calloc"): (calloc, 0),
            (c, "realloc"): (realloc, 0),
            (c, "free"): (nothing, 0),
            (c, "memcpy"): (memcpy, 0),
            (c, "memmove"): (memcpy, 0),
            (c, "memcmp"): (memcmp, 0),
            (c, "memchr"): (memchr, 0),
            (c, "memset"): (memset, 0),
            (c, "strlen"): (strlen, 0),
            (c, "strchr"): (strchr, 0),
            (c, "strcmp"): (strcmp, 0),
            (c, "tolower"): (tolower, 0),
            (c, "atoi"): (atoi, 0),
            (c, "_lock"): (nothing, 0),
            (c, "_unlock"): (nothing, 0),
            (c, "localeconv"): (localeconv, 0),
            (c, "_errno"): (self._errno, 0),
            (c, "_onexit"): (lambda dll, function, *_: function, 0),
        }
