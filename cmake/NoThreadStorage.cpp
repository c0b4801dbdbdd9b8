// Linked into every shipped DLL: they keep no thread-local data, so they
// carry no thread-local storage directory. The MinGW start-up asks for this
// one callback; defined here as none, the runtime's TLS support (and its
// directory) is never linked. A loader sets up such a directory for every
// running thread at each load, and Wine's faults or hangs doing so while
// its serial driver's wait thread ends, as it does just after an unload.
#include <windows.h>

extern "C" const PIMAGE_TLS_CALLBACK __dyn_tls_init_callback = nullptr;
