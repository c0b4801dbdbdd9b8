/* A C host linked against the import library, the way a MinGW host links:
 * proves the header is C, the import library binds the stdcall names, and
 * the loader resolves them to functions that work. Exits 0 on success. */
#include <stdio.h>

#include "HostSession.h"

int main(void)
{
    int failed = RunHostSession(NULL, 0x03F8);
    if (failed)
        printf("session step %d did not do its work\n", failed);
    return failed ? 1 : 0;
}
