/* A host built the way MSVC builds one (MSVC ABI, no MinGW runtime) and
 * linked with the COFF import library Zelbin_Serial.lib: proves that
 * library binds the stdcall symbols to the undecorated exports. Exits 0 on
 * success. No C runtime: its entry point is its own. */
#include "Zelbin_Serial.h"
__declspec(dllimport) void __stdcall ExitProcess(unsigned int code);
void __cdecl HostEntry(void)
{
    ZelbinBool custom = ZelbinIsCustom();
    ZelbinStartListen("COM3");
    ZelbinSetToggled(1);
    ZelbinBool pressed = ZelbinIsZBToggle();
    ZelbinStopListen();
    ExitProcess(custom == 1 && pressed == 0 ? 0 : 1);
}
