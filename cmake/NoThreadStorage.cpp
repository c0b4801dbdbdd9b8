// Linked into the key library and the comm-port io.dll (see
// zelbin_no_thread_storage): they keep no thread-local data and link no
// C++ runtime, so they need no thread-local storage directory. The MinGW
// DLL start-up asks for this one callback, and calls it only when set;
// defined here as none, the runtime's TLS support (and its directory) is
// never linked. A loader sets such a directory up for every running thread
// at each load, and Wine's faults or hangs doing so while its serial
// driver's wait thread ends, as it does just after an unload.
#include <windows.h>

extern "C" const PIMAGE_TLS_CALLBACK __dyn_tls_init_callback = nullptr;
