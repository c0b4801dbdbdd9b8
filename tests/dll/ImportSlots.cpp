// The import and export address slots of a module loaded in this process,
// read from its PE tables and rewritten in place: how the Windows tests
// point a real binary's kernel32 calls at simulated devices.
#include "ImportSlots.h"

#include <cstdint>
#include <cstring>

namespace {

template <typename T> T *At(HMODULE module, DWORD rva)
{
    return reinterpret_cast<T *>(reinterpret_cast<BYTE *>(module) + rva);
}

} // namespace

DWORD *ImportSlot(HMODULE module, const char *dll, const char *function)
{
    auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(module);
    auto *nt = At<IMAGE_NT_HEADERS32>(module, static_cast<DWORD>(dos->e_lfanew));
    const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto *desc = At<IMAGE_IMPORT_DESCRIPTOR>(module, dir.VirtualAddress); desc->Name; ++desc) {
        if (_stricmp(At<char>(module, desc->Name), dll) != 0)
            continue;
        auto *names = At<IMAGE_THUNK_DATA32>(module, desc->OriginalFirstThunk);
        auto *slots = At<IMAGE_THUNK_DATA32>(module, desc->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL32(names->u1.Ordinal))
                continue;
            auto *byName = At<IMAGE_IMPORT_BY_NAME>(module, names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char *>(byName->Name), function) == 0)
                return &slots->u1.Function;
        }
    }
    return nullptr;
}

DWORD *ExportSlot(HMODULE module, const char *function)
{
    auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(module);
    auto *nt = At<IMAGE_NT_HEADERS32>(module, static_cast<DWORD>(dos->e_lfanew));
    const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    auto *exports = At<IMAGE_EXPORT_DIRECTORY>(module, dir.VirtualAddress);
    auto *names = At<DWORD>(module, exports->AddressOfNames);
    auto *ordinals = At<WORD>(module, exports->AddressOfNameOrdinals);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        if (std::strcmp(At<char>(module, names[i]), function) == 0)
            return At<DWORD>(module, exports->AddressOfFunctions) + ordinals[i];
    return nullptr;
}

void WriteSlot(DWORD *slot, DWORD value)
{
    DWORD old = 0;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old);
    *slot = value;
    VirtualProtect(slot, sizeof *slot, old, &old);
}

DWORD AddressOf(FARPROC proc) { return static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(proc)); }

bool RedirectImport(HMODULE module, const char *dll, const char *function, FARPROC replacement)
{
    DWORD *slot = ImportSlot(module, dll, function);
    if (slot)
        WriteSlot(slot, AddressOf(replacement));
    return slot != nullptr;
}

