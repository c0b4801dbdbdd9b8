// The DLL's memory: the C runtime's heap (msvcrt's malloc and free, which
// the DLL imports anyway). The library asks only for the non-throwing
// operator new and gives blocks back with the plain delete; with these
// defined here, nothing of the C++ runtime is linked in: no exception
// support, unwinder or demangler, and an allocation that fails is a null
// the library checks, never an exception.
#include <cstdlib>
#include <new>

void *operator new(std::size_t size, const std::nothrow_t &) noexcept { return std::malloc(size ? size : 1); }
void operator delete(void *block) noexcept { std::free(block); }
void operator delete(void *block, std::size_t) noexcept { std::free(block); }
