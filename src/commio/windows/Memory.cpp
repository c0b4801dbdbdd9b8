// The io.dll's memory: the C runtime's heap (msvcrt's malloc and free,
// which the DLL imports anyway). The io.dll allocates with malloc alone
// (the file's text while the map is read, a comm event's wait record) and
// checks for a null; nothing of it deletes through a class's destructor,
// but the deleting destructors the compiler makes for classes with virtual
// functions name operator delete. With it defined here, nothing of the C++
// runtime is linked in: no exception support, unwinder or demangler, and
// no emergency pool for exceptions to hold across loads.
#include <cstdlib>
#include <new>

void operator delete(void *block) noexcept { std::free(block); }
void operator delete(void *block, std::size_t) noexcept { std::free(block); }
