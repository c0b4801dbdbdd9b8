// A loaded module's import and export address slots, found by name in its
// PE tables and rewritten in place. Free of the test framework, so that a
// test DLL loaded into a real program can use it too. Works on both
// editions: import slots hold addresses (pointer-sized), export slots
// addresses relative to their module (32 bits on both).
#pragma once

#include <windows.h>

// Points one import of `module` at `replacement`; false when `module` does
// not import `function` from `dll` by name.
bool RedirectImport(HMODULE module, const char *dll, const char *function, FARPROC replacement);

// While it lives, `module` exports `function` as `replacement`: a module the
// loader binds meanwhile imports the replacement from the start. Does
// nothing when `module` does not export `function` by name.
class ExportRedirect {
public:
    ExportRedirect(HMODULE module, const char *function, FARPROC replacement);
    ~ExportRedirect();
    ExportRedirect(const ExportRedirect &) = delete;
    ExportRedirect &operator=(const ExportRedirect &) = delete;

private:
    DWORD *slot_;
    DWORD old_ = 0;
    void *jump_ = nullptr; // where a replacement too far from the module is reached from
};
