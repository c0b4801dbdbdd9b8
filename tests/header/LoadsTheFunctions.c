/* A host that loads the library at run time through the header's loader,
 * compiled as C and as C++ with every warning an error: the header must
 * give no cast warning in either language. */
#include <windows.h>

#include "Zelbin_SerialLoader.h"

int LoadsTheFunctions(void)
{
    ZelbinFunctions functions;
    const char *missing = ZelbinLoadFunctions(LoadLibraryA("Zelbin_Serial.dll"), &functions);
    if (missing)
        return 1;
    functions.StartListen("COM2");
    functions.SetToggled(functions.IsZBToggle());
    functions.StopListen();
    return functions.IsCustom() == 1 ? 0 : 1;
}
