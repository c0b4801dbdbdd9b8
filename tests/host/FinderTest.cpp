// Tests of the key finder.
#include <gtest/gtest.h>
