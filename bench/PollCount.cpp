// Polls the listening library a given number of times, for counting the
// instructions of one poll under callgrind.
#include <cstdlib>

#include "Zelbin_Serial.h"
#include "library/Zelbin_SerialCore.h"

int main(int argc, char **argv)
{
    const long polls = argc > 1 ? std::atol(argv[1]) : 100000;
    library::Load();
    ZelbinStartListen("COM1");
    unsigned presses = 0;
    for (long i = 0; i < polls; ++i)
        presses += ZelbinIsZBToggle();
    ZelbinStopListen();
    return presses == 0 ? 0 : 1;
}
