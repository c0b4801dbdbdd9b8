/* A program linked the toolchain's plain way, without the shipped
 * binaries' hardening: the hardening check must refuse it. */
#include <stdio.h>
#include <string.h>

int main(int argc, char **argv)
{
    char copy[64];
    strncpy(copy, argc > 0 ? argv[0] : "", sizeof copy - 1);
    copy[sizeof copy - 1] = '\0';
    return puts(copy) < 0;
}
