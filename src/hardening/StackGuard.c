/*
 * The stack protector's guard value and its failure path, linked into every
 * binary that ships. The compiler's own runtime for this seeds the guard
 * from the Windows crypto provider, which would add an ADVAPI32.dll import
 * and load a provider DLL while the loader lock is held; this one seeds it
 * from kernel32 alone, as Windows compilers seed their stack cookie, and
 * ends the process the way Windows expects a broken stack to end it.
 */
#include <stdint.h>
#include <windows.h>

/* Read in every protected function's prologue and epilogue. A fixed value
 * until the constructor below runs; nothing protected is on the stack then. */
void *__stack_chk_guard = (void *)(uintptr_t)0x2B992DDFu;

/* Runs before any other constructor of the image, inside the loader's
 * start-up of the image. Must not be protected itself: it changes the guard
 * its own epilogue would check. */
__attribute__((constructor(101), no_stack_protector)) static void SeedStackGuard(void)
{
    FILETIME now;
    LARGE_INTEGER counter;
    GetSystemTimeAsFileTime(&now);
    QueryPerformanceCounter(&counter);
    uintptr_t seed = (uintptr_t)now.dwLowDateTime ^ (uintptr_t)now.dwHighDateTime;
    seed ^= (uintptr_t)GetCurrentProcessId() ^ ((uintptr_t)GetCurrentThreadId() << 16);
    seed ^= (uintptr_t)GetTickCount() ^ (uintptr_t)counter.LowPart ^ (uintptr_t)counter.HighPart;
    seed ^= (uintptr_t)&seed; /* the stack's place, which address space layout randomisation moves */
    if (seed == 0)
        seed = (uintptr_t)0x2B992DDFu;
    __stack_chk_guard = (void *)seed;
}

#ifndef PF_FASTFAIL_AVAILABLE
#define PF_FASTFAIL_AVAILABLE 23
#endif
#define ZELBIN_FAST_FAIL_STACK_COOKIE_CHECK_FAILURE 2
#define ZELBIN_STATUS_STACK_BUFFER_OVERRUN 0xC0000409u

/* A protected function found its guard overwritten: the stack is no longer
 * to be trusted, so nothing here returns, unwinds or calls the C runtime.
 * Windows records either way of ending as a stack buffer overrun. */
__attribute__((noreturn)) void __stack_chk_fail(void)
{
    if (IsProcessorFeaturePresent(PF_FASTFAIL_AVAILABLE)) {
        __asm__ volatile("int $0x29" : : "c"(ZELBIN_FAST_FAIL_STACK_COOKIE_CHECK_FAILURE));
    }
    TerminateProcess(GetCurrentProcess(), ZELBIN_STATUS_STACK_BUFFER_OVERRUN);
    for (;;) {
    }
}
