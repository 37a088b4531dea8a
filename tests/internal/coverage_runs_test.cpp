// The coverage run lists that TwoLayerComposit walks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "composite/coverage_runs.h"

namespace {

using zl::BuildCoverageRuns;
using zl::MergeSpans;

uint32_t dummyPixel;

// An open access of the output with one layer whose overlap is `region`;
// the output's visible part is (0, 0, 100, 100) unless given.
LayerAccess Access(LayerRect region, bool hasLayer = true, LayerRect visible = {0, 0, 100, 100}) {
    LayerAccess access{};
    access.region = region;
    access.visible = visible;
    access.pixels2 = hasLayer ? &dummyPixel : nullptr;
    return access;
}

std::vector<uint32_t> Runs(const LayerAccess &a, const LayerAccess &b) {
    uint32_t *runs = BuildCoverageRuns(&a, &b);
    std::vector<uint32_t> words;
    if (runs == nullptr) return words;
    // Groups: header, runs to a 0 word; the list ends with a 0 word.
    const uint32_t *p = runs;
    while (*p != 0) {
        words.push_back(p[0]);
        words.push_back(p[1]);
        p += 2;
        while (*p != 0) {
            words.push_back(p[0]);
            words.push_back(p[1]);
            p += 2;
        }
        words.push_back(0);
        ++p;
    }
    words.push_back(0);
    std::free(runs);
    return words;
}

std::vector<uint32_t> Merge(uint32_t a0, uint32_t b0, uint32_t a1, uint32_t b1, uint32_t mask = 3) {
    uint32_t out[8] = {};
    uint32_t *end = MergeSpans(a0, b0, a1, b1, out, mask);
    return std::vector<uint32_t>(out, end);
}

TEST(MergeSpans, AllOrders) {
    EXPECT_EQ(Merge(0, 0, 10, 10), (std::vector<uint32_t>{10, 3, 0}));
    EXPECT_EQ(Merge(0, 5, 10, 15), (std::vector<uint32_t>{5, 1, 5, 3, 5, 2, 0}));
    EXPECT_EQ(Merge(5, 0, 10, 10), (std::vector<uint32_t>{5, 2, 5, 3, 0}));
    EXPECT_EQ(Merge(0, 2, 10, 6), (std::vector<uint32_t>{2, 1, 4, 3, 4, 1, 0}));
    EXPECT_EQ(Merge(0, 20, 10, 30), (std::vector<uint32_t>{10, 1, 10, 0, 10, 2, 0}));
    EXPECT_EQ(Merge(20, 0, 30, 10), (std::vector<uint32_t>{10, 2, 10, 0, 10, 1, 0}));
    EXPECT_EQ(Merge(0, 10, 10, 20), (std::vector<uint32_t>{10, 1, 10, 2, 0})) << "touching: no gap run";
    EXPECT_EQ(Merge(0, 5, 10, 15, 1), (std::vector<uint32_t>{5, 1, 5, 1, 5, 0, 0})) << "masked";
}

TEST(BuildCoverageRuns, DocumentedCases) {
    // Both layers over the whole output: one group, one run.
    EXPECT_EQ(Runs(Access({0, 0, 100, 100}), Access({0, 0, 100, 100})), (std::vector<uint32_t>{100, 3, 100, 3, 0, 0}));
    // Rows 0-9 and 20-29 of the same columns.
    EXPECT_EQ(Runs(Access({0, 0, 10, 10}), Access({0, 20, 10, 30})),
              (std::vector<uint32_t>{10, 1, 10, 1, 0, 10, 0, 10, 0, 0, 10, 2, 10, 2, 0, 0}));
    // Columns 0-9 and 5-14 of the same rows.
    EXPECT_EQ(Runs(Access({0, 0, 10, 4}), Access({5, 0, 15, 4})),
              (std::vector<uint32_t>{4, 3, 5, 1, 5, 3, 5, 2, 0, 0}));
    // First columns 5-9 over rows where only it covers; second columns 0-9.
    EXPECT_EQ(Runs(Access({5, 0, 10, 4}), Access({0, 4, 10, 8})),
              (std::vector<uint32_t>{4, 1, 5, 0, 5, 1, 0, 4, 2, 10, 2, 0, 0}));
    // A second layer that misses the output: its region is the whole output,
    // and it is masked out.
    EXPECT_EQ(Runs(Access({10, 10, 20, 20}), Access({0, 0, 100, 100}, false)),
              (std::vector<uint32_t>{10, 0, 100, 0, 0, 10, 1, 10, 0, 10, 1, 80, 0, 0, 80, 0, 100, 0, 0, 0}));
}

TEST(BuildCoverageRuns, CoordinatesAreMeasuredFromTheOutputsVisibleCorner) {
    // The output's own coordinates may start below 0 (a window whose left
    // edge lies far out); the runs are those of the picture, not of the
    // unsigned order of the raw coordinates.
    LayerRect visible{-5, 0, 95, 100};
    LayerAccess a = Access({-5, 0, 5, 10}, true, visible);
    LayerAccess b = Access({0, 0, 10, 10}, true, visible);
    EXPECT_EQ(Runs(a, b), (std::vector<uint32_t>{10, 3, 5, 1, 5, 3, 5, 2, 0, 0}));
    EXPECT_EQ(BuildCoverageRuns(nullptr, &b), nullptr);
    EXPECT_EQ(BuildCoverageRuns(&a, nullptr), nullptr);
}

}  // namespace
