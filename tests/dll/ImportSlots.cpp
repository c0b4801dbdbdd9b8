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

IMAGE_NT_HEADERS *Headers(HMODULE module)
{
    return At<IMAGE_NT_HEADERS>(module, static_cast<DWORD>(reinterpret_cast<IMAGE_DOS_HEADER *>(module)->e_lfanew));
}

const IMAGE_DATA_DIRECTORY &Directory(HMODULE module, int entry)
{
    return Headers(module)->OptionalHeader.DataDirectory[entry];
}

// The import address slot through which `module` calls `function` of
// `dll`, imported by name; null when there is none.
ULONG_PTR *ImportSlot(HMODULE module, const char *dll, const char *function)
{
    const IMAGE_DATA_DIRECTORY &dir = Directory(module, IMAGE_DIRECTORY_ENTRY_IMPORT);
    for (auto *desc = At<IMAGE_IMPORT_DESCRIPTOR>(module, dir.VirtualAddress); desc->Name; ++desc) {
        if (_stricmp(At<char>(module, desc->Name), dll) != 0)
            continue;
        auto *names = At<IMAGE_THUNK_DATA>(module, desc->OriginalFirstThunk);
        auto *slots = At<IMAGE_THUNK_DATA>(module, desc->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            auto *byName = At<IMAGE_IMPORT_BY_NAME>(module, static_cast<DWORD>(names->u1.AddressOfData));
            if (std::strcmp(reinterpret_cast<const char *>(byName->Name), function) == 0)
                return &slots->u1.Function;
        }
    }
    return nullptr;
}

// The export address slot (an address relative to `module`) of
// `function`, exported by name; null when there is none.
DWORD *ExportSlot(HMODULE module, const char *function)
{
    const IMAGE_DATA_DIRECTORY &dir = Directory(module, IMAGE_DIRECTORY_ENTRY_EXPORT);
    auto *exports = At<IMAGE_EXPORT_DIRECTORY>(module, dir.VirtualAddress);
    auto *names = At<DWORD>(module, exports->AddressOfNames);
    auto *ordinals = At<WORD>(module, exports->AddressOfNameOrdinals);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        if (std::strcmp(At<char>(module, names[i]), function) == 0)
            return At<DWORD>(module, exports->AddressOfFunctions) + ordinals[i];
    return nullptr;
}

// Writes a slot, whatever the protection of its page.
template <typename Slot> void WriteSlot(Slot *slot, Slot value)
{
    DWORD old = 0;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old);
    *slot = value;
    VirtualProtect(slot, sizeof *slot, old, &old);
}

std::uintptr_t AddressOf(const void *p) { return reinterpret_cast<std::uintptr_t>(p); }

// Whether a distance needs more than the 32 bits of an export slot: never on
// x86, where every address has 32 bits.
bool BeyondSlot(std::uintptr_t distance) { return (distance >> 16 >> 16) != 0; }

// An indirect jump to `target` ("jmp [rip+0]" and the address after it),
// placed in the first free 64 KB above `module`, within the 4 GB an export
// slot reaches. Null when no place is free.
void *JumpAbove(HMODULE module, FARPROC target)
{
    constexpr std::uintptr_t kGranule = 0x10000;
    const std::uintptr_t base = AddressOf(module);
    std::uintptr_t at = (base + Headers(module)->OptionalHeader.SizeOfImage + kGranule - 1) & ~(kGranule - 1);
    for (; !BeyondSlot(at + kGranule - base); at += kGranule) {
        void *page = VirtualAlloc(reinterpret_cast<void *>(at), 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        if (!page)
            continue;
        auto *code = static_cast<BYTE *>(page);
        const BYTE jump[] = {0xFF, 0x25, 0x00, 0x00, 0x00, 0x00};
        std::memcpy(code, jump, sizeof jump);
        const std::uintptr_t to = reinterpret_cast<std::uintptr_t>(target);
        std::memcpy(code + sizeof jump, &to, sizeof to);
        DWORD old = 0;
        VirtualProtect(page, 4096, PAGE_EXECUTE_READ, &old);
        FlushInstructionCache(GetCurrentProcess(), page, 4096);
        return page;
    }
    return nullptr;
}

} // namespace

bool RedirectImport(HMODULE module, const char *dll, const char *function, FARPROC replacement)
{
    ULONG_PTR *slot = ImportSlot(module, dll, function);
    if (slot)
        WriteSlot<ULONG_PTR>(slot, static_cast<ULONG_PTR>(AddressOf(reinterpret_cast<const void *>(replacement))));
    return slot != nullptr;
}

// An export slot holds 32 bits that the loader adds to the module's address.
// On x86 every address is reached that way (the sum wraps at 4 GB); on x64
// only those up to 4 GB above the module, so a replacement elsewhere is
// reached through a jump placed there.
ExportRedirect::ExportRedirect(HMODULE module, const char *function, FARPROC replacement)
    : slot_(ExportSlot(module, function))
{
    if (!slot_)
        return;
    old_ = *slot_;
    std::uintptr_t target = AddressOf(reinterpret_cast<const void *>(replacement));
    if (BeyondSlot(target - AddressOf(module))) {
        jump_ = JumpAbove(module, replacement);
        if (!jump_) {
            slot_ = nullptr;
            return;
        }
        target = AddressOf(jump_);
    }
    WriteSlot<DWORD>(slot_, static_cast<DWORD>(target - AddressOf(module)));
}

ExportRedirect::~ExportRedirect()
{
    if (slot_)
        WriteSlot<DWORD>(slot_, old_);
    if (jump_)
        VirtualFree(jump_, 0, MEM_RELEASE);
}
