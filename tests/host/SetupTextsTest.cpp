// Tests of the map writer, the port list, the status advice, the port plan and the options.
#include <gtest/gtest.h>
