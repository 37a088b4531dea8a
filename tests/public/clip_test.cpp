#include <gtest/gtest.h>

#include <climits>

#include "test_support.h"

namespace {

using zltest::ExpectRect;
using zltest::HostCanvas;

// Opens and closes a one-layer access, leaving the visible fields computed.
void Touch(Layer *layer) {
    LayerAccess access;
    BeginLayerAccess(&access, layer, nullptr);
    EndLayerAccess(&access);
}

class ClipTest : public ::testing::Test {
protected:
    HostCanvas root{100, 50};
    Layer *child = CreateClippedLayer(root.layer());
    void TearDown() override { DeleteLayer(child); }
};

TEST_F(ClipTest, PlacesAWindowInItsParent) {
    EXPECT_EQ(ClipLayerXYWH(child, 10, 20, 30, 5), 1);
    ExpectRect(child->clipRect, 10, 20, 40, 25);
    ExpectRect(child->bounds, 10, 20, 40, 25);
}

TEST_F(ClipTest, MovingAParentMovesEveryDescendant) {
    ClipLayerXYWH(child, 10, 20, 30, 5);
    Layer *grandchild = CreateClippedLayer(child);
    Layer *greatGrandchild = CreateClippedLayer(grandchild);
    LayerRect rect{5, 5, 15, 10};
    EXPECT_EQ(ClipLayer(grandchild, &rect), 1);
    ClipLayerXYWH(greatGrandchild, 1, 2, 3, 4);
    ExpectRect(grandchild->bounds, 15, 25, 25, 30);
    ExpectRect(greatGrandchild->bounds, 16, 27, 19, 31);
    ClipLayerXYWH(child, 0, 0, 30, 5);
    ExpectRect(grandchild->bounds, 5, 5, 15, 10);
    ExpectRect(grandchild->clipRect, 5, 5, 15, 10);
    ExpectRect(greatGrandchild->bounds, 6, 7, 9, 11);
    ExpectRect(greatGrandchild->clipRect, 1, 2, 4, 6);
    DeleteLayer(greatGrandchild);
    DeleteLayer(grandchild);
}

TEST_F(ClipTest, DeepTreesAreReplacedWithoutRecursion) {
    std::vector<Layer *> chain{child};
    for (int i = 0; i < 100000; ++i) chain.push_back(CreateClippedLayer(chain.back()));
    ClipLayerXYWH(child, 3, 4, 10, 10);
    ExpectRect(chain.back()->bounds, 3, 4, 103, 54);  // each window has its parent's creation size
    for (size_t i = chain.size() - 1; i > 0; --i) DeleteLayer(chain[i]);
}

TEST_F(ClipTest, VisiblePartIsCutByTheRoot) {
    ClipLayerXYWH(child, 90, 40, 30, 30);
    Touch(child);
    ExpectRect(child->visibleBounds, 90, 40, 100, 50);
    ExpectRect(child->visibleRect, 0, 0, 10, 10);
    EXPECT_EQ(child->width, 10);
    EXPECT_EQ(child->height, 10);

    ClipLayerXYWH(child, -5, -5, 15, 15);
    Touch(child);
    ExpectRect(child->visibleBounds, 0, 0, 10, 10);
    ExpectRect(child->visibleRect, 5, 5, 15, 15);
    EXPECT_EQ(child->width, 10);

    ClipLayerXYWH(child, 200, 0, 10, 10);
    Touch(child);
    EXPECT_EQ(child->width, -100);
}

TEST_F(ClipTest, VisiblePartIsCutByEveryAncestor) {
    ClipLayerXYWH(child, 10, 10, 20, 20);
    Layer *inner = CreateClippedLayer(child);
    ClipLayerXYWH(inner, 15, -5, 20, 10);  // sticks out right and above its parent
    Touch(inner);
    ExpectRect(inner->visibleBounds, 25, 10, 30, 15);
    ExpectRect(inner->visibleRect, 0, 5, 5, 10);
    DeleteLayer(inner);
}

TEST_F(ClipTest, RootsAreNotClipped) {
    LayerRect rect{1, 2, 3, 4};
    EXPECT_EQ(ClipLayer(root.layer(), &rect), 0);
    EXPECT_EQ(ClipLayerXYWH(root.layer(), 1, 2, 3, 4), 1);
    ExpectRect(root.layer()->clipRect, 0, 0, 0, 0);
    ExpectRect(root.layer()->bounds, 0, 0, 100, 50);
    EXPECT_EQ(ClipLayer(child, nullptr), 0);
    EXPECT_EQ(ClipLayer(nullptr, &rect), 0);
    EXPECT_EQ(ClipLayerXYWH(nullptr, 1, 2, 3, 4), 1);
}

TEST_F(ClipTest, CoordinatesWrapAroundWithoutFault) {
    ClipLayerXYWH(child, INT_MAX, INT_MAX, 10, 10);
    ExpectRect(child->clipRect, INT_MAX, INT_MAX, INT_MIN + 9, INT_MIN + 9);
    ExpectRect(child->bounds, INT_MAX, INT_MAX, INT_MIN + 9, INT_MIN + 9);
    Touch(child);
    LayerRect rect{INT_MIN, INT_MIN, INT_MAX, INT_MAX};
    EXPECT_EQ(ClipLayer(child, &rect), 1);
    ExpectRect(child->bounds, INT_MIN, INT_MIN, INT_MAX, INT_MAX);
}

TEST_F(ClipTest, UnionRectIsInTheFirstLayersCoordinates) {
    Layer *other = CreateClippedLayer(root.layer());
    ClipLayerXYWH(child, 10, 10, 40, 40);
    ClipLayerXYWH(other, 30, 0, 50, 20);
    LayerRect out{};
    EXPECT_EQ(GetUnionRectRef(child, other, &out), 1);
    ExpectRect(out, 20, 0, 40, 10);
    ClipLayerXYWH(other, 70, 70, 5, 5);
    EXPECT_EQ(GetUnionRectRef(child, other, &out), 1);
    EXPECT_LE(out.right, out.left);  // disjoint layers: an empty rectangle, as computed

    HostCanvas elsewhere{10, 10};
    LayerRect untouched{1, 2, 3, 4};
    EXPECT_EQ(GetUnionRectRef(child, elsewhere.layer(), &untouched), 0);
    ExpectRect(untouched, 1, 2, 3, 4);
    EXPECT_EQ(GetUnionRectRef(child, nullptr, &untouched), 0);
    EXPECT_EQ(GetUnionRectRef(child, other, nullptr), 0);
    DeleteLayer(other);
}

TEST_F(ClipTest, ClippingAChildWhoseParentIsGoneKeepsItsPlace) {
    Layer *parent = CreateClippedLayer(root.layer());
    ClipLayerXYWH(parent, 90, 40, 10, 10);
    Layer *orphan = CreateClippedLayer(parent);
    ClipLayerXYWH(orphan, 2, 2, 5, 5);
    Layer *grandchild = CreateClippedLayer(orphan);
    ClipLayerXYWH(grandchild, 1, 1, 2, 2);
    EXPECT_EQ(DeleteLayer(parent), 1);
    ASSERT_EQ(orphan->parent, nullptr);

    // Refused: nothing to place it in. The window is stored, nothing moves.
    LayerRect rect{0, 0, 50, 50};
    EXPECT_EQ(ClipLayer(orphan, &rect), 0);
    EXPECT_EQ(ClipLayerXYWH(orphan, -20, -20, 200, 200), 1);
    ExpectRect(orphan->clipRect, -20, -20, 180, 180);
    ExpectRect(orphan->bounds, 92, 42, 97, 47);
    ExpectRect(grandchild->bounds, 93, 43, 95, 45);

    // The orphan still draws exactly where it was, inside its root.
    EXPECT_EQ(SetLayer(orphan, 0xFF0000FF), 1);
    for (int32_t y = 0; y < 50; ++y)
        for (int32_t x = 0; x < 100; ++x) {
            bool inside = x >= 92 && x < 97 && y >= 42 && y < 47;
            ASSERT_EQ(root.at(x, y), inside ? 0xFF0000FFu : 0u) << x << "," << y;
        }
    DeleteLayer(grandchild);
    DeleteLayer(orphan);
    EXPECT_EQ(root.layer()->refCount, 2);  // the root's own and the fixture's child
}

}  // namespace
