// Tests of the port map options and the USB identity.
#include <gtest/gtest.h>
