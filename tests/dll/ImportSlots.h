// A loaded module's import and export address slots, found by name in its
// PE tables and rewritten in place. Free of the test framework, so that a
// test DLL loaded into a real program can use it too.
#pragma once

#include <windows.h>

// The import address slot through which `module` calls `function` of
// `dll`, imported by name; null when there is none.
DWORD *ImportSlot(HMODULE module, const char *dll, const char *function);
// The export address slot (an address relative to `module`) of
// `function`, exported by name; null when there is none.
DWORD *ExportSlot(HMODULE module, const char *function);
// Writes a slot, whatever the protection of its page.
void WriteSlot(DWORD *slot, DWORD value);
DWORD AddressOf(FARPROC proc);

// Points one import of `module` at `replacement`; false when `module` does
// not import `function` from `dll` by name.
bool RedirectImport(HMODULE module, const char *dll, const char *function, FARPROC replacement);
