// The console's --find after its search: its exit status, and whether it
// writes the map and says why not.
#include <gtest/gtest.h>

#include "keytest/FindEnding.h"
#include "keytest/KeyTestOptions.h"
#include "portsetup/KeyFinder.h"

using portsetup::Finding;

namespace {

// What the console's --find does after its search: a map is written only
// for a key found by a search that ran to its end, with --write-map.
TEST(FindEnding, WritesTheMapOnlyForAKeyFoundByAWholeSearch)
{
    const struct {
        Finding::Kind kind;
        bool writeMap, interrupted;
        int status;
        bool written, said;
    } cases[] = {
        {Finding::Kind::Found, true, false, keytest::KeyTestOk, true, false},
        {Finding::Kind::Found, false, false, keytest::KeyTestOk, false, true},
        {Finding::Kind::Found, true, true, keytest::KeyTestNoKeyFound, false, true},
        {Finding::Kind::Found, false, true, keytest::KeyTestOk, false, true},
        {Finding::Kind::NoneChanged, true, false, keytest::KeyTestNoKeyFound, false, false},
        {Finding::Kind::SeveralPorts, true, true, keytest::KeyTestNoKeyFound, false, false},
    };
    for (const auto &c : cases) {
        Finding finding;
        finding.kind = c.kind;
        const keytest::FindEnding ending = keytest::EndOfFind(finding, c.writeMap, c.interrupted);
        EXPECT_EQ(ending.status, c.status);
        EXPECT_EQ(ending.writeMap, c.written);
        EXPECT_EQ(!ending.said.empty(), c.said);
    }
}

} // namespace
