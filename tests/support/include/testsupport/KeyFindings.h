// A key found on COM5, as the finder reports one: for the tests of what is
// said of a finding and of the map written for it.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "portsetup/KeyFinder.h"

namespace testsupport {

// `friendlyName`: what Windows calls the adapter ("" where it says nothing);
// `also`: other lines of the port that changed.
inline portsetup::Finding FoundOnCom5(int line, bool opens, unsigned presses = 3,
                                    std::string friendlyName = "USB Serial Port (COM5)", std::vector<int> also = {})
{
    portsetup::Finding f;
    f.kind = portsetup::Finding::Kind::Found;
    f.port = "COM5";
    f.friendlyName = std::move(friendlyName);
    f.line = line;
    f.opensWhenPressed = opens;
    f.presses = presses;
    f.alsoChanged = std::move(also);
    f.watched = {"COM5"};
    return f;
}

} // namespace testsupport
