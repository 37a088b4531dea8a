#include <gtest/gtest.h>
#include "blend/blend.h"
TEST(Tables, Placeholder) { EXPECT_EQ(zl::ProductTable[255 * 256 + 255], 65280); }
