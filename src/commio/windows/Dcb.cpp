// The DCB and the comm-port io.dll's portable settings block, field by field;
// the settings themselves are the core's business.
#include "commio/Dcb.h"

#include <type_traits>

namespace commio {

DeviceSettings FromDcb(const DCB &dcb)
{
    DeviceSettings s{};
#define COMMIO_FROM_DCB(type, name, bits) s.name = static_cast<type>(dcb.name);
    COMMIO_SETTINGS_FIELDS(COMMIO_FROM_DCB)
#undef COMMIO_FROM_DCB
    return s;
}

DCB ToDcb(const DeviceSettings &s)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    // A bitfield takes its member's low bits.
#define COMMIO_TO_DCB(type, name, bits)                                                                         \
    dcb.name = static_cast<decltype(dcb.name)>(static_cast<std::make_unsigned_t<type>>(s.name) & ((1ull << bits) - 1));
    COMMIO_SETTINGS_FIELDS(COMMIO_TO_DCB)
#undef COMMIO_TO_DCB
    return dcb;
}

} // namespace commio
