#include "keytest/FindEnding.h"

#include "keytest/KeyTestOptions.h"

namespace keytest {

FindEnding EndOfFind(const portsetup::Finding &finding, bool writeMap, bool interrupted)
{
    if (finding.kind != portsetup::Finding::Kind::Found)
        return {KeyTestNoKeyFound, "", false};
    if (!writeMap)
        return {KeyTestOk, "zelbin-keytest --find --write-map writes that line to io-ports.txt for you.", false};
    if (interrupted)
        return {KeyTestNoKeyFound,
                "The search was stopped before its end, so io-ports.txt is left as it was; search again to write it.",
                false};
    return {KeyTestOk, "", true};
}

} // namespace keytest
