// One simulated set of COM devices and one comm-port io.dll core over it,
// behind the key library's platform functions (CommioPlatform.cpp).
#pragma once

#include "commio/CommIo.h"
#include "comdevices/ComDevices.h"

sim::ComDevices &TheComDevices();
commio::CommIo &TheCommIo();
// No devices, and a core that has read no port map yet.
void NewCommioWorld();
