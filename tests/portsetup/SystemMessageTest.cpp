// Windows' error texts made to fit in a sentence: the subject filled in,
// the line break and the closing full stop dropped, the code added.
#include <gtest/gtest.h>

#include "portsetup/SystemMessage.h"

using namespace portsetup; // the port set-up's own names, unqualified as in its own code

namespace {

TEST(SystemMessage, FillsInTheSubjectAndDropsTheLineBreak)
{
    EXPECT_EQ(TidySystemMessage("Bad EXE format for %1.\r\n", "C:\\k\\io.dll", 193),
              "Bad EXE format for C:\\k\\io.dll (error 193)");
    EXPECT_EQ(TidySystemMessage("%1 is not a valid Win32 application.\r\n", "x.dll", 193),
              "x.dll is not a valid Win32 application (error 193)");
    // A dropped placeholder takes one of the spaces around it along.
    EXPECT_EQ(TidySystemMessage("The file %1!s! and %2 differ.\r\n", "a", 1), "The file a and differ (error 1)");
    EXPECT_EQ(TidySystemMessage("Access is denied.\r\n", "COM1", 5), "Access is denied (error 5)");
    EXPECT_EQ(TidySystemMessage("Two\r\nlines.\r\n", "", 7), "Two lines (error 7)");
    EXPECT_EQ(TidySystemMessage("", "x", 12345), "system error (error 12345)");
    EXPECT_EQ(TidySystemMessage("50% done at %12.", "x", 1), "50% done at (error 1)");
}

} // namespace
