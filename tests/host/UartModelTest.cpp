// Tests of the UART register model.
#include <gtest/gtest.h>
