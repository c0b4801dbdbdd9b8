// The sanitized host build catches an index past a container's end that
// lies within the memory the container holds: AddressSanitizer can't see
// such a read (a vector's spare capacity, a string's own buffer), the
// standard library's bounds checks can.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

// The index comes from a call, so that no compiler sees it is past the end.
std::size_t Past(std::size_t size) { return size; }

TEST(SanitizedBuild, CatchesAnIndexPastTheEndWithinTheContainersOwnMemory)
{
    std::vector<int> vector(2, 7);
    vector.reserve(16);
    std::string text = "ab"; // in the string's own buffer, room for 15
    const struct {
        const char *name;
        std::function<int(std::size_t)> at;
        std::size_t size;
    } cases[] = {
        {"vector", [&](std::size_t i) { return vector[i]; }, vector.size()},
        {"string", [&](std::size_t i) { return static_cast<int>(text[i]); }, text.size() + 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NE(c.at(c.size - 1), -1) << "the last element reads";
        EXPECT_DEATH(c.at(Past(c.size)), "");
    }
}

} // namespace
