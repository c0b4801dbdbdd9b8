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

int RunFind(portsetup::KeySearch &search, const std::vector<portsetup::PortInfo> &ports, bool writeMap,
            const FindConsole &console)
{
    search.Begin(ports, console.ticks());
    bool interrupted = false;
    while (!search.Poll(console.ticks()))
        if (console.interrupted(10)) {
            interrupted = true;
            break;
        }
    const portsetup::Finding finding = search.End(interrupted ? "Stopped (Ctrl+C). " : "");
    const FindEnding ending = EndOfFind(finding, writeMap, interrupted);
    if (!ending.said.empty())
        console.print(ending.said);
    if (!ending.writeMap)
        return ending.status;
    return console.writeMap(finding) ? KeyTestOk : KeyTestCannotRun;
}

} // namespace keytest
