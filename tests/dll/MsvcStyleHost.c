/* A host built the way MSVC builds one (MSVC ABI, no MinGW runtime) and
 * linked with the COFF import library Zelbin_Serial.lib: proves that
 * library binds the stdcall symbols to the undecorated exports, and that
 * they work. Exits 0 on success, else the failed step's number. No C
 * runtime: its entry point is its own. */
#include "HostSession.h"
__declspec(dllimport) void __stdcall ExitProcess(unsigned int code);
void __cdecl HostEntry(void) { ExitProcess((unsigned int)RunHostSession("COM3", 0x03E8)); }
