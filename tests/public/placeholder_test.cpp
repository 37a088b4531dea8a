#include <gtest/gtest.h>
#include "ZantrelLayer.h"
TEST(Pel, Placeholder) { EXPECT_EQ(CompositPel(0x80FF0000u, 0xFF0000FFu), 0xFF80007Fu); }
