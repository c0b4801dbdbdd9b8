// Tests of the comm-port io.dll's line events.
#include <gtest/gtest.h>
