#include "uart/ModemLines.h"

namespace uart {

const char *LineName(int line)
{
    static const char *const names[LineCount] = {"CTS", "DSR", "DCD", "RI", "RTS", "DTR"};
    return line >= 0 && line < LineCount ? names[line] : "?";
}

} // namespace uart
