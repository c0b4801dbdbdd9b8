/* A C host linked against the import library, the way a MinGW host links:
 * proves the header is C, the import library binds the stdcall names, and
 * the loader resolves them. Exits 0 on success. */
#include <stdio.h>

#include "Zelbin_Serial.h"

int main(void)
{
    ZelbinBool custom = ZelbinIsCustom();
    ZelbinStartListen(NULL);
    ZelbinSetToggled(1);
    ZelbinBool pressed = ZelbinIsZBToggle();
    ZelbinStopListen();
    printf("ZelbinIsCustom=%d ZelbinIsZBToggle=%d\n", custom, pressed);
    return custom == 1 && pressed == 0 ? 0 : 1;
}
