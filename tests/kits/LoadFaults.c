/* The C loader header's diagnosis of a DLL that won't load, for each fault
 * folder named on the command line: loads FOLDER\Zelbin_Serial.dll as the
 * header's comment shows and prints one line, tab-separated, for
 * check-load-faults.py: the folder, the DLL's full path, the io.dll beside
 * it, this process's architecture and ZelbinDescribeLoadFailure's words.
 * With --bare FAULT: loads "Zelbin_Serial.dll" by its bare name, which
 * Windows looks for beside this program first. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "Zelbin_SerialLoader.h"

static void Report(const char *fault, const char *path, HMODULE module, DWORD error)
{
    char full[MAX_PATH + 8], io[MAX_PATH + 8], why[1200];
    if (strchr(path, '\\'))
        snprintf(full, sizeof full, "%s", path);
    else
        ZelbinInFolderOf(0, path, full);
    ZelbinInFolderOf(full, "io.dll", io);
    if (module) {
        FreeLibrary(module);
        snprintf(why, sizeof why, "loaded");
    } else {
        ZelbinDescribeLoadFailure(path, error, why, sizeof why);
    }
    printf("%s\t%s\t%s\t%s\t%s\n", fault, full, io, sizeof(void *) == 8 ? "x64" : "x86", why);
}

int main(int argc, char **argv)
{
    char path[MAX_PATH + 8];
    HMODULE module;
    int i;
    /* No dialog box for a DLL that won't load: the message is the header's. */
    SetErrorMode(SEM_FAILCRITICALERRORS);
    if (argc == 3 && strcmp(argv[1], "--bare") == 0) {
        module = LoadLibraryA("Zelbin_Serial.dll");
        Report(argv[2], "Zelbin_Serial.dll", module, GetLastError());
        return 0;
    }
    for (i = 1; i < argc; ++i) {
        char relative[MAX_PATH];
        snprintf(relative, sizeof relative, "%s\\Zelbin_Serial.dll", argv[i]);
        if (!GetFullPathNameA(relative, sizeof path, path, 0))
            return 2;
        module = LoadLibraryExA(path, 0, LOAD_WITH_ALTERED_SEARCH_PATH);
        Report(argv[i], path, module, GetLastError());
    }
    return 0;
}
