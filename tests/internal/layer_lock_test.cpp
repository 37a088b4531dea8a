#include <gtest/gtest.h>

#include "ZantrelLayer.h"
#include "module/platform.h"

namespace {

// No other test in this program deletes a layer: the lock must not exist
// until the first deletion needs it.
TEST(LayerLock, IsCreatedByTheFirstDeletion) {
    EXPECT_FALSE(zl::LayerLockExists());
    Layer *layer = CreateLayer(1, 1, 1);
    EXPECT_FALSE(zl::LayerLockExists());
    EXPECT_EQ(DeleteLayer(layer), 1);
    EXPECT_TRUE(zl::LayerLockExists());
}

}  // namespace
