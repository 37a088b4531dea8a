#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

std::mutex destroyMutex;
std::vector<std::string> destroyed;
std::map<Layer *, std::string> names;

int32_t ZL_CALL RecordDestroy(Layer *layer, void *unused) {
    std::lock_guard<std::mutex> lock(destroyMutex);
    EXPECT_EQ(unused, nullptr);
    destroyed.push_back(names.count(layer) != 0 ? names[layer] : "?");
    return 0;
}

class LifetimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        destroyed.clear();
        names.clear();
    }
    Layer *Named(Layer *layer, const std::string &name) {
        names[layer] = name;
        layer->destroy = RecordDestroy;
        return layer;
    }
};

TEST_F(LifetimeTest, CreateLayerRefusesSizesThatAreNotPositive) {
    EXPECT_EQ(CreateLayer(0, 10, 1), nullptr);
    EXPECT_EQ(CreateLayer(10, -1, 1), nullptr);
    EXPECT_EQ(CreateLayer(10, 10, 0), nullptr);
    EXPECT_EQ(CreateLayer(-5, -5, 1), nullptr);
}

TEST_F(LifetimeTest, CreateLayerRefusesByteCountsBeyond32Bits) {
    // 65536 x 16384 x 4 bytes is exactly 2^32: one byte too many.
    EXPECT_EQ(CreateLayer(65536, 16384, 1), nullptr);
    EXPECT_EQ(CreateLayer(65536, 8192, 2), nullptr);
    EXPECT_EQ(CreateLayer(0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF), nullptr);
    // A row whose stride would not fit a signed 32-bit value.
    EXPECT_EQ(CreateLayer(0x20000000, 1, 1), nullptr);
}

TEST_F(LifetimeTest, CreateLayerMakesAZeroedOwningRoot) {
    Layer *layer = CreateLayer(3, 2, 1);
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(layer->width, 3);
    EXPECT_EQ(layer->height, 2);
    EXPECT_EQ(layer->rowBytes, 12);
    EXPECT_EQ(layer->flags, 16u);
    EXPECT_EQ(layer->refCount, 1);
    EXPECT_EQ(layer->root, layer);
    EXPECT_EQ(layer->parent, nullptr);
    EXPECT_EQ(layer->bounds.left, 0);
    EXPECT_EQ(layer->bounds.top, 0);
    EXPECT_EQ(layer->bounds.right, 3);
    EXPECT_EQ(layer->bounds.bottom, 2);
    EXPECT_EQ(layer->clipRect.left | layer->clipRect.top | layer->clipRect.right | layer->clipRect.bottom, 0);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(layer->pixels[i], 0u);
    EXPECT_EQ(DeleteLayer(layer), 1);
}

TEST_F(LifetimeTest, CompatibleLayerWrapsHostMemoryAndNeverFreesIt) {
    std::vector<uint32_t> pixels(20, 0xDEADBEEF);
    Layer *layer = CreateCompatibleLayer(pixels.data(), 4, 5, 16);
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(layer->pixels, pixels.data());
    EXPECT_EQ(layer->flags, 0u);
    EXPECT_EQ(layer->rowBytes, 16);
    EXPECT_EQ(layer->bounds.right, 4);
    EXPECT_EQ(layer->bounds.bottom, 5);
    EXPECT_EQ(DeleteLayer(layer), 1);
    // The host's buffer is still intact (under ASan a free of it would abort).
    EXPECT_EQ(pixels[19], 0xDEADBEEFu);
    // Nothing is validated: a negative size is stored as given.
    Layer *odd = CreateCompatibleLayer(nullptr, -3, 7, -12);
    ASSERT_NE(odd, nullptr);
    EXPECT_EQ(odd->width, -3);
    EXPECT_EQ(odd->rowBytes, -12);
    EXPECT_EQ(DeleteLayer(odd), 1);
}

TEST_F(LifetimeTest, ClippedChildrenAreInsertedAtTheHead) {
    Layer *root = CreateLayer(8, 8, 1);
    Layer *first = CreateClippedLayer(root);
    Layer *second = CreateClippedLayer(root);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(first->flags, 2u);
    EXPECT_EQ(root->firstChild, second);
    EXPECT_EQ(second->nextSibling, first);
    EXPECT_EQ(first->prevSibling, second);
    EXPECT_EQ(second->prevSibling, nullptr);
    EXPECT_EQ(first->root, root);
    EXPECT_EQ(first->pixels, root->pixels);
    EXPECT_EQ(first->rowBytes, root->rowBytes);
    EXPECT_EQ(first->clipRect.right, 8);
    EXPECT_EQ(root->refCount, 3);
    EXPECT_EQ(CreateClippedLayer(nullptr), nullptr);
    DeleteLayer(first);
    EXPECT_EQ(root->firstChild, second);
    EXPECT_EQ(second->nextSibling, nullptr);
    DeleteLayer(second);
    EXPECT_EQ(root->firstChild, nullptr);
    EXPECT_EQ(DeleteLayer(root), 1);
}

TEST_F(LifetimeTest, UnlinkingAMiddleChildKeepsTheListLinked) {
    Layer *root = CreateLayer(4, 4, 1);
    Layer *oldest = CreateClippedLayer(root);
    Layer *middle = CreateClippedLayer(root);
    Layer *newest = CreateClippedLayer(root);
    DeleteLayer(middle);
    EXPECT_EQ(newest->nextSibling, oldest);
    EXPECT_EQ(oldest->prevSibling, newest);
    DeleteLayer(newest);
    DeleteLayer(oldest);
    EXPECT_EQ(DeleteLayer(root), 1);
}

TEST_F(LifetimeTest, RootOutlivesItsChildAndIsFreedAfterIt) {
    Layer *root = Named(CreateLayer(4, 4, 1), "root");
    Layer *child = Named(CreateClippedLayer(root), "child");
    EXPECT_EQ(root->refCount, 2);
    EXPECT_EQ(DeleteLayer(root), 0);
    EXPECT_TRUE(destroyed.empty());
    EXPECT_EQ(root->refCount, 1);
    EXPECT_EQ(DeleteLayer(child), 1);
    EXPECT_EQ(destroyed, (std::vector<std::string>{"child", "root"}));
}

TEST_F(LifetimeTest, ReferencesOnAChildAlsoCountOnTheRoot) {
    Layer *root = CreateLayer(4, 4, 1);
    Layer *child = CreateClippedLayer(root);
    Layer *grandchild = CreateClippedLayer(child);
    EXPECT_EQ(root->refCount, 3);
    EXPECT_EQ(AddRefCountLayer(grandchild), 1);
    EXPECT_EQ(grandchild->refCount, 2);
    EXPECT_EQ(child->refCount, 1);  // an intermediate parent holds no extra reference
    EXPECT_EQ(root->refCount, 4);
    EXPECT_EQ(DeleteLayer(grandchild), 0);
    EXPECT_EQ(grandchild->refCount, 1);
    EXPECT_EQ(root->refCount, 3);
    EXPECT_EQ(AddRefCountLayer(nullptr), 0);
    EXPECT_EQ(DeleteLayer(nullptr), 0);
    DeleteLayer(grandchild);
    DeleteLayer(child);
    EXPECT_EQ(DeleteLayer(root), 1);
}

TEST_F(LifetimeTest, FreeingAParentDetachesItsRemainingChildren) {
    Layer *root = Named(CreateLayer(10, 10, 1), "root");
    Layer *parent = Named(CreateClippedLayer(root), "parent");
    Layer *orphanA = Named(CreateClippedLayer(parent), "a");
    Layer *orphanB = Named(CreateClippedLayer(parent), "b");
    EXPECT_EQ(DeleteLayer(parent), 1);
    for (Layer *orphan : {orphanA, orphanB}) {
        EXPECT_EQ(orphan->parent, nullptr);
        EXPECT_EQ(orphan->prevSibling, nullptr);
        EXPECT_EQ(orphan->nextSibling, nullptr);
        EXPECT_EQ(orphan->root, root);
    }
    // A detached child can still be used and deleted, and then releases the root.
    EXPECT_EQ(AddRefCountLayer(orphanA), 1);
    EXPECT_EQ(DeleteLayer(orphanA), 0);
    EXPECT_EQ(DeleteLayer(root), 0);
    EXPECT_EQ(DeleteLayer(orphanA), 1);
    EXPECT_EQ(DeleteLayer(orphanB), 1);
    EXPECT_EQ(destroyed, (std::vector<std::string>{"parent", "a", "b", "root"}));
}

TEST_F(LifetimeTest, ConcurrentDeletionOfChildrenFreesTheRootOnce) {
    constexpr int kThreads = 4;
    constexpr int kChildrenPerThread = 200;
    for (int round = 0; round < 5; ++round) {
        destroyed.clear();
        names.clear();
        Layer *root = Named(CreateLayer(16, 16, 1), "root");
        std::vector<std::vector<Layer *>> perThread(kThreads);
        for (int t = 0; t < kThreads; ++t)
            for (int i = 0; i < kChildrenPerThread; ++i) perThread[t].push_back(Named(CreateClippedLayer(root), "c"));
        EXPECT_EQ(DeleteLayer(root), 0);
        std::atomic<int> freed{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                for (Layer *child : perThread[t]) freed += DeleteLayer(child);
            });
        }
        for (std::thread &thread : threads) thread.join();
        EXPECT_EQ(freed.load(), kThreads * kChildrenPerThread);
        ASSERT_EQ(destroyed.size(), static_cast<size_t>(kThreads * kChildrenPerThread + 1));
        EXPECT_EQ(destroyed.back(), "root");
        EXPECT_EQ(std::count(destroyed.begin(), destroyed.end(), "root"), 1);
    }
}

}  // namespace

// A host whose exit handler, registered before the library first deleted a
// layer, deletes a layer while the process exits. Run in a fresh process so
// that the first deletion really comes after the handler.
Layer *exitTimeLayer = nullptr;
void DeleteLayerAtExit() {
    if (DeleteLayer(exitTimeLayer) != 1) std::_Exit(3);
}

TEST(LifetimeDeathTest, ExitHandlerRegisteredBeforeTheFirstDeletionMayDeleteLayers) {
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_EXIT(
        {
            exitTimeLayer = CreateLayer(2, 2, 1);
            std::atexit(DeleteLayerAtExit);
            DeleteLayer(CreateLayer(1, 1, 1));
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}
