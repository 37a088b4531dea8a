// The fast compositing runs against the plain table loop, bit for bit.
#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "blend/blend.h"
#include "blend/composite_run.h"
#include "module/cpu_features.h"

namespace {

using Pixels = std::vector<uint32_t>;

constexpr uint32_t kOpacities[] = {0, 1, 77, 128, 254, 255};

uint32_t Pixel(uint32_t alpha, uint32_t red, uint32_t green, uint32_t blue) {
    return (alpha << 24) | (red << 16) | (green << 8) | blue;
}

// The run forms: plain blend, top faded, bottom faded, and the fade alone
// (which reads only the top); the blend also stored past the caches.
enum class Form { Blend, FadedTop, FadedBottom, Fade, BlendStreamed };
constexpr Form kForms[] = {Form::Blend, Form::FadedTop, Form::FadedBottom, Form::Fade, Form::BlendStreamed};

using Set = zl::CompositeRunSet;

// The packed sets that this processor runs, narrowest first.
std::vector<const Set *> PackedSets() {
    std::vector<const Set *> sets;
#if defined(__SSE2__)
    sets.push_back(&zl::kPackedSse2Runs);
#endif
#if defined(ZL_HAS_AVX2_RUNS)
    if (zl::ProcessorRunsAvx2()) sets.push_back(&zl::kPackedAvx2Runs);
#endif
#if defined(ZL_HAS_AVX512_RUNS)
    if (zl::ProcessorRunsAvx512Bw()) sets.push_back(&zl::kPackedAvx512Runs);
#endif
    return sets;
}

void RunForm(Form form, const Set &set, const uint32_t *top, const uint32_t *bottom, uint32_t *out, int32_t n,
             uint32_t opacity) {
    switch (form) {
        case Form::Blend: set.composite(top, bottom, out, n); break;
        case Form::FadedTop: set.faded(top, bottom, out, n, opacity); break;
        case Form::FadedBottom: set.fadedBottom(top, bottom, out, n, opacity); break;
        case Form::Fade: set.fade(top, out, n, opacity); break;
        case Form::BlendStreamed: set.compositeStreamed(top, bottom, out, n); break;
    }
}

// A copy of pixels whose first pixel lies `offset` bytes past a 4 KiB
// boundary (64 bytes by default, so that the blocks of every packed set
// begin at it).
class Aligned {
public:
    explicit Aligned(const Pixels &from, uint32_t offset = 64) : store_(from.size() + 2048) {
        auto at = reinterpret_cast<uintptr_t>(store_.data());
        first_ = store_.data() + ((4096 - at % 4096) % 4096 + offset) / sizeof(uint32_t);
        std::copy(from.begin(), from.end(), first_);
        size_ = from.size();
    }
    uint32_t *data() { return first_; }
    uint32_t operator[](size_t i) const { return first_[i]; }
    Pixels pixels() const { return Pixels(first_, first_ + size_); }

private:
    Pixels store_;
    uint32_t *first_;
    size_t size_;
};

// Every packed set against the plain loops, each into an output of its own:
// one well apart from the inputs modulo 4 KiB and, unless `oneOutput`, one
// just past them, which the runs read a block ahead for.
void ExpectFormEqual(Form form, const Pixels &top, const Pixels &bottom, uint32_t opacity, bool oneOutput = false) {
    int32_t n = static_cast<int32_t>(top.size());
    Pixels plain(top.size(), 0xDEADBEEF);
    RunForm(form, zl::kPlainRuns, top.data(), bottom.data(), plain.data(), n, opacity);
    Aligned placedTop(top, 0), placedBottom(bottom, 1024);
    for (const Set *set : PackedSets()) {
        for (uint32_t outAt : {2048u, 32u}) {
            if (oneOutput && outAt == 32) continue;
            Aligned fast(Pixels(top.size(), 0xDEADBEEF), outAt);
            RunForm(form, *set, placedTop.data(), placedBottom.data(), fast.data(), n, opacity);
            for (size_t i = 0; i < top.size(); ++i) {
                ASSERT_EQ(fast[i], plain[i]) << std::hex << "top " << top[i] << " bottom " << bottom[i] << " opacity "
                                             << opacity << " form " << static_cast<int>(form) << " " << set->name
                                             << " out at " << outAt;
            }
        }
    }
}

void ExpectRunsEqual(const Pixels &top, const Pixels &bottom, uint32_t opacity, bool faded) {
    if (faded) {
        ExpectFormEqual(Form::FadedTop, top, bottom, opacity);
        ExpectFormEqual(Form::FadedBottom, top, bottom, opacity);
    } else {
        ExpectFormEqual(Form::Blend, top, bottom, opacity);
        ExpectFormEqual(Form::BlendStreamed, top, bottom, opacity);
    }
}

// Each x86 build has the SSE2 set; the module picks the widest set listed.
TEST(CompositeRun, TheWidestSetThatTheProcessorRunsIsSelected) {
#if defined(__SSE2__)
    ASSERT_FALSE(PackedSets().empty());
    EXPECT_EQ(&zl::SelectedCompositeRuns(), PackedSets().back());
#else
    EXPECT_EQ(&zl::SelectedCompositeRuns(), &zl::kPlainRuns);
#endif
}

TEST(CompositeRun, PlainRunIsTheTableBlend) {
    Pixels top = {0x80FF0000, 0x800000FF, 0x00123456, 0x01FFFFFF};
    Pixels bottom = {0xFF0000FF, 0x80FF0000, 0x80ABCDEF, 0x01000000};
    Pixels out(4);
    zl::CompositeRunPlain(top.data(), bottom.data(), out.data(), 4);
    EXPECT_EQ(out, (Pixels{0xFF80007F, 0xBF5400AB, 0x80ABCDEF, 0x01FFFFFF}));
    zl::CompositeRunFadedPlain(top.data(), bottom.data(), out.data(), 4, 0x180);
    EXPECT_EQ(out[0], zl::TableComposite(0x40FF0000, 0xFF0000FF));
    zl::CompositeRunFadedBottomPlain(top.data(), bottom.data(), out.data(), 4, 0x180);
    EXPECT_EQ(out[0], zl::TableComposite(0x80FF0000, 0x800000FF));
    EXPECT_EQ(out[2], 0x40ABCDEFu);  // a transparent top gives the faded bottom
    EXPECT_EQ(out[3], 0x01FFFFFFu);  // a bottom faded to alpha 0 gives the top
    zl::FadeRunPlain(bottom.data(), out.data(), 4, 0x180);
    EXPECT_EQ(out, (Pixels{0x800000FF, 0x40FF0000, 0x40ABCDEF, 0x00000000}));
}

// Every opacity over every alpha pair (one colour pair with the extremes):
// both faded blends and the fade alone.
TEST(CompositeRun, EveryOpacityOverEveryAlphaPair) {
    Pixels top(65536), bottom(65536);
    for (uint32_t i = 0; i < 65536; ++i) {
        top[i] = Pixel(i >> 8, 255, 0, 131);
        bottom[i] = Pixel(i & 0xFF, 0, 255, 77);
    }
    for (uint32_t o = 0; o < 256; ++o) {
        for (Form form : {Form::FadedTop, Form::FadedBottom, Form::Fade}) {
            ExpectFormEqual(form, top, bottom, o, true);
            if (HasFatalFailure()) return;
        }
    }
}

// A dissolve: an opaque top faded by every opacity over an opaque bottom,
// every colour pair in every channel. One top pixel partway is translucent,
// at a place that moves through a block with the opacity, and at odd
// opacities one bottom pixel earlier: each ends the one-alpha blocks.
TEST(CompositeRun, DissolveEveryOpacityAndColourPair) {
    Pixels top(65536), bottom(65536);
    for (uint32_t i = 0; i < 65536; ++i) {
        uint32_t t = i >> 8, b = i & 0xFF;
        top[i] = Pixel(255, t, 255 - t, t ^ 0x5A);
        bottom[i] = Pixel(255, b, b ^ 0x33, 255 - b);
    }
    for (uint32_t o = 0; o < 256; ++o) {
        for (uint32_t i = 33000; i < 33032; ++i) top[i] = (top[i] & 0x00FFFFFFu) | (i == 33000 + o % 32 ? 254u : 255u) << 24;
        bottom[20000] = (bottom[20000] & 0x00FFFFFFu) | (o % 2 ? 254u : 255u) << 24;
        ExpectFormEqual(Form::FadedTop, top, bottom, o);
        if (HasFatalFailure()) return;
        // The same in place over a bottom opaque throughout.
        Pixels opaque = bottom;
        opaque[20000] |= 0xFF000000u;
        Pixels expected = opaque;
        zl::CompositeRunFadedPlain(top.data(), expected.data(), expected.data(), 65536, o);
        for (const Set *set : PackedSets()) {
            Aligned out(opaque);
            set->overOpaque(top.data(), out.data(), 65536, o);
            ASSERT_EQ(out.pixels(), expected) << set->name << " opacity " << o;
        }
    }
}

// Groups of 64 pixels (two blocks of the widest set) of one alpha pair, for
// every pair, with either side faded at 255 (the alphas enter as loaded) and
// at 200: neighbouring groups differ in one alpha, and some groups hold one
// other alpha in one lane, top or bottom, so that every stretch of one weight
// must end where its pair does. Also in place over the side not faded.
TEST(CompositeRun, BlocksOfOneAlphaPairForEveryPair) {
    constexpr uint32_t kGroup = 64;
    Pixels top(65536 * kGroup), bottom(65536 * kGroup);
    for (uint32_t k = 0; k < top.size(); ++k) {
        uint32_t pair = k / kGroup, lane = k % kGroup, colours = k * 2654435761u;
        uint32_t topA = pair >> 8, bottomA = pair & 0xFF;
        if (pair % 7 == 0 && lane == pair % kGroup) topA ^= 1;
        if (pair % 11 == 0 && lane == pair * 5 % kGroup) bottomA ^= 0x80;
        top[k] = topA << 24 | (colours & 0xFFFFFF);
        bottom[k] = bottomA << 24 | (colours >> 8);
    }
    const int32_t n = static_cast<int32_t>(top.size());
    for (uint32_t o : {255u, 200u}) {
        for (Form form : {Form::FadedTop, Form::FadedBottom}) {
            ExpectFormEqual(form, top, bottom, o);
            if (HasFatalFailure()) return;
            const bool topFaded = form == Form::FadedTop;
            Pixels expected(top.size());
            RunForm(form, zl::kPlainRuns, top.data(), bottom.data(), expected.data(), n, o);
            for (const Set *set : PackedSets()) {
                Aligned inPlace(topFaded ? bottom : top);
                RunForm(form, *set, topFaded ? top.data() : inPlace.data(), topFaded ? inPlace.data() : bottom.data(),
                        inPlace.data(), n, o);
                ASSERT_EQ(inPlace.pixels(), expected) << set->name << " opacity " << o << " top faded " << topFaded;
            }
        }
    }
}

// Distances either way below the stretch count as near, the same address
// too; a byte that is not a whole pixel away counts as well.
TEST(CompositeRun, ReadsNearWritesMeasuresBothWays) {
    std::vector<uint32_t> buffer(64);
    uint32_t *out = &buffer[20];
    EXPECT_TRUE(zl::ReadsNearWrites(out, out, 8));
    EXPECT_TRUE(zl::ReadsNearWrites(out, out + 7, 8));
    EXPECT_TRUE(zl::ReadsNearWrites(out, out - 7, 8));
    EXPECT_FALSE(zl::ReadsNearWrites(out, out + 8, 8));
    EXPECT_FALSE(zl::ReadsNearWrites(out, out - 8, 8));
    const auto *shifted = reinterpret_cast<const uint32_t *>(reinterpret_cast<const char *>(out + 7) + 3);
    EXPECT_TRUE(zl::ReadsNearWrites(out, shifted, 8));
}

// The exact lane forms that the packed arithmetic rests on, over their whole
// domains.
TEST(CompositeRun, LaneFormsMatchTheTablesOverTheirDomains) {
    for (uint32_t x = 0; x < 65536; ++x) ASSERT_EQ((x * 0x8081u) >> 23, x / 255) << x;
    for (uint32_t x = 0; x <= 255 * 255; ++x) ASSERT_EQ(((x + 1) * 257) >> 16, x / 255) << x;
    for (uint32_t x = 0; x < 256; ++x) {
        for (uint32_t y = 0; y < 256; ++y) {
            uint32_t m = x * y;
            ASSERT_EQ(zl::ProductTable[zl::TableIndex(x, y)], m + (m + 127) / 255);
        }
    }
    // The blend of one channel with weights q and 255 - q, rounded once.
    for (uint32_t q = 0; q < 256; ++q) {
        for (uint32_t t = 0; t < 256; ++t) {
            for (uint32_t b = 0; b < 256; ++b) {
                uint32_t tables = (zl::ProductTable[zl::TableIndex(t, q)] + zl::ProductTable[zl::TableIndex(b, 255 - q)]) >> 8;
                ASSERT_EQ(tables, (t * q + b * (255 - q)) / 255) << t << "," << b << "," << q;
            }
        }
    }
    for (uint32_t topA = 0; topA < 256; ++topA) {
        for (uint32_t under = 0; topA + under <= 255; ++under) {
            uint32_t s = topA + under;
            if (s == 0) continue;
            float quotient = static_cast<float>(255 * topA + s / 2) / static_cast<float>(s);
            ASSERT_EQ(static_cast<uint32_t>(quotient), zl::OverWeightTable[zl::TableIndex(topA, under)] >> 8)
                << topA << "," << under;
        }
    }
}

// Every pair of alphas, each with colour pairs that include 0 and 255 in both
// directions, in one run so that every block mixes its cases.
TEST(CompositeRun, EveryAlphaPairWithSeveralColourPairs) {
    const uint32_t colours[][6] = {
        {0, 0, 0, 0, 0, 0},           {255, 255, 255, 255, 255, 255}, {0, 255, 0, 255, 0, 255},
        {255, 0, 255, 0, 255, 0},     {1, 254, 128, 127, 17, 200},    {200, 3, 99, 100, 254, 1},
    };
    Pixels top(65536), bottom(65536);
    for (const auto &c : colours) {
        for (uint32_t i = 0; i < 65536; ++i) {
            top[i] = Pixel(i >> 8, c[0], c[2], c[4]);
            bottom[i] = Pixel(i & 0xFF, c[1], c[3], c[5]);
        }
        ExpectRunsEqual(top, bottom, 255, false);
        for (uint32_t o : kOpacities) ExpectRunsEqual(top, bottom, o, true);
        // The alpha pairs transposed, so that a block holds one bottom alpha.
        for (uint32_t i = 0; i < 65536; ++i) {
            top[i] = Pixel(i & 0xFF, c[0], c[2], c[4]);
            bottom[i] = Pixel(i >> 8, c[1], c[3], c[5]);
        }
        ExpectRunsEqual(top, bottom, 255, false);
        ExpectRunsEqual(top, bottom, 128, true);
    }
}

// Each pixel of a block in one of the early-exit cases or blended, in every
// combination, written to a separate output and in place over either input.
TEST(CompositeRun, EveryEarlyExitCombinationWithinABlock) {
    const uint32_t cases[][2] = {
        {0xFF123456, 0x80ABCDEF},  // opaque top
        {0x00123456, 0x80ABCDEF},  // transparent top
        {0x80123456, 0x00ABCDEF},  // transparent bottom
        {0x00123456, 0x00ABCDEF},  // both transparent: the top
        {0x80FF0000, 0xFF0000FF},  // blended
    };
    constexpr int kCases = 5;
    constexpr int kBlock = 8;  // the SSE2 block; the AVX2 block is two of them
    constexpr int kWideBlock = 16;
    Pixels top, bottom;
    // Wide blocks of one case, and of one case with a single other lane.
    for (int c = 0; c < kCases; ++c) {
        for (int other = 0; other < kCases; ++other) {
            for (int lane = 0; lane < kWideBlock; ++lane) {
                for (int k = 0; k < kWideBlock; ++k) {
                    int pick = k == lane ? other : c;
                    top.push_back(cases[pick][0]);
                    bottom.push_back(cases[pick][1]);
                }
            }
        }
    }
    // Every combination within the SSE2 block.
    int blocks = 1;
    for (int lane = 0; lane < kBlock; ++lane) blocks *= kCases;
    for (int combo = 0; combo < blocks; ++combo) {
        for (int lane = 0, c = combo; lane < kBlock; ++lane, c /= kCases) {
            top.push_back(cases[c % kCases][0]);
            bottom.push_back(cases[c % kCases][1]);
        }
    }
    ExpectRunsEqual(top, bottom, 255, false);
    for (uint32_t o : {0u, 128u, 255u}) ExpectRunsEqual(top, bottom, o, true);
    for (uint32_t o : {0u, 128u, 255u}) ExpectFormEqual(Form::Fade, top, bottom, o);
    // In place over the bottom with the bottom faded: no block may be taken
    // as already holding its result.
    int32_t n = static_cast<int32_t>(top.size());
    Pixels expected(top.size());
    zl::CompositeRunPlain(top.data(), bottom.data(), expected.data(), n);
    for (const Set *set : PackedSets()) {
        for (uint32_t o : {0u, 128u, 254u}) {
            Pixels fadedExpected(top.size());
            Aligned onBottomFaded(bottom);
            zl::CompositeRunFadedBottomPlain(top.data(), bottom.data(), fadedExpected.data(), n, o);
            set->fadedBottom(top.data(), onBottomFaded.data(), onBottomFaded.data(), n, o);
            EXPECT_EQ(onBottomFaded.pixels(), fadedExpected) << o << " " << set->name;
        }
        Aligned onTop(top), onBottom(bottom);
        set->composite(onTop.data(), bottom.data(), onTop.data(), n);
        set->composite(top.data(), onBottom.data(), onBottom.data(), n);
        EXPECT_EQ(onTop.pixels(), expected) << set->name;
        EXPECT_EQ(onBottom.pixels(), expected) << set->name;
    }
}

Pixels RandomPixels(std::mt19937 &gen, size_t n) {
    Pixels p(n);
    for (auto &v : p) {
        v = gen();
        // Many exits: a quarter opaque, a quarter transparent.
        switch (v & 3) {
            case 0: v |= 0xFF000000u; break;
            case 1: v &= 0x00FFFFFFu; break;
            default: break;
        }
    }
    return p;
}

// Every run length and every start from 0 to 67 pixels, each array at its
// own start; nothing outside out's run changes.
TEST(CompositeRun, EveryLengthAndMisalignment) {
    constexpr int32_t kMax = 67;
    constexpr size_t kSize = 3 * (kMax + 1) + 8;
    std::mt19937 gen(11);
    Pixels top = RandomPixels(gen, kSize), bottom = RandomPixels(gen, kSize);
    for (int32_t length = 0; length <= kMax; ++length) {
        for (int32_t start = 0; start <= kMax; ++start) {
            int32_t topStart = (start * 5) % (kMax + 1);
            int32_t bottomStart = (start * 3 + 1) % (kMax + 1);
            for (Form form : kForms) {
                Pixels plain(kSize, 0x5A5A5A5A);
                RunForm(form, zl::kPlainRuns, &top[topStart], &bottom[bottomStart], &plain[start], length, 200);
                for (const Set *set : PackedSets()) {
                    Pixels fast(kSize, 0x5A5A5A5A);
                    RunForm(form, *set, &top[topStart], &bottom[bottomStart], &fast[start], length, 200);
                    ASSERT_EQ(fast, plain) << "length " << length << " start " << start << " form "
                                           << static_cast<int>(form) << " " << set->name;
                }
            }
        }
    }
}

// Top, bottom and out as windows of one buffer at every small offset from
// one another: the result is the plain order's, which reads each pixel pair
// before writing out at the same index, left to right.
TEST(CompositeRun, OverlappingWindowsOfOneBufferGiveThePlainOrdersResult) {
    constexpr int32_t kSpan = 12;
    constexpr int32_t kCount = 41;
    constexpr size_t kSize = kCount + 4 * kSpan;
    std::mt19937 gen(7);
    const Pixels original = RandomPixels(gen, kSize);
    for (int32_t topAt = 0; topAt <= 2 * kSpan; ++topAt) {
        for (int32_t bottomAt = 0; bottomAt <= 2 * kSpan; ++bottomAt) {
            for (int32_t outAt = 0; outAt <= 2 * kSpan; ++outAt) {
                for (Form form : kForms) {
                    Pixels plain = original;
                    RunForm(form, zl::kPlainRuns, &plain[topAt], &plain[bottomAt], &plain[outAt], kCount, 99);
                    for (const Set *set : PackedSets()) {
                        Pixels fast = original;
                        RunForm(form, *set, &fast[topAt], &fast[bottomAt], &fast[outAt], kCount, 99);
                        ASSERT_EQ(fast, plain) << "top " << topAt << " bottom " << bottomAt << " out " << outAt
                                               << " form " << static_cast<int>(form) << " " << set->name;
                    }
                }
            }
        }
    }
}

// The bottom 8 KiB after out in one buffer, so that out lies just past it
// modulo 4 KiB, and the top a few pixels before out: the read ahead that the
// bottom's place calls for would miss the top's pixels that out has changed.
// Random pixels, and pixels of one alpha, which the faded runs blend in
// stretches of one weight until a written pixel's alpha ends them.
TEST(CompositeRun, ReadingAheadKeepsThePlainOrder) {
    constexpr int32_t kCount = 301, kBottomAt = 2048;
    std::mt19937 gen(3);
    Pixels oneAlpha = RandomPixels(gen, kBottomAt + kCount + 64);
    for (uint32_t &p : oneAlpha) p = (p & 0x00FFFFFFu) | 0xA0000000u;
    for (const Pixels &original : {RandomPixels(gen, kBottomAt + kCount + 64), oneAlpha}) {
        for (int32_t past = 0; past <= 40; ++past) {
            for (Form form : kForms) {
                Pixels plain = original, fast = original;
                RunForm(form, zl::kPlainRuns, &plain[0], &plain[kBottomAt], &plain[past], kCount, 99);
                for (const Set *set : PackedSets()) {
                    RunForm(form, *set, &fast[0], &fast[kBottomAt], &fast[past], kCount, 99);
                    ASSERT_EQ(fast, plain) << "past " << past << " form " << static_cast<int>(form) << " "
                                           << set->name;
                    fast = original;
                }
            }
        }
    }
}

// The whole domain, 2^32 pairs (alpha pair x colour pair of one channel):
// too slow for every test run, so run it by hand with
// --gtest_also_run_disabled_tests --gtest_filter='*WholeDomain*'.
TEST(CompositeRun, DISABLED_WholeDomainOfAlphaPairsAndColourPairs) {
    Pixels top(65536), bottom(65536), fast(65536), plain(65536);
    uint64_t compared = 0;
    for (uint32_t alphas = 0; alphas < 65536; ++alphas) {
        uint32_t topA = alphas >> 8, bottomA = alphas & 0xFF;
        for (uint32_t colours = 0; colours < 65536; ++colours) {
            uint32_t t = colours >> 8, b = colours & 0xFF;
            // The channel pair in red, swapped in green, mirrored in blue.
            top[colours] = Pixel(topA, t, b, 255 - t);
            bottom[colours] = Pixel(bottomA, b, t, 255 - b);
        }
        zl::CompositeRunPlain(top.data(), bottom.data(), plain.data(), 65536);
        for (const Set *set : PackedSets()) {
            set->composite(top.data(), bottom.data(), fast.data(), 65536);
            ASSERT_EQ(fast, plain) << "alphas " << topA << "," << bottomA << " " << set->name;
            compared += 65536;
        }
    }
    EXPECT_EQ(compared, static_cast<uint64_t>(PackedSets().size()) << 32);
    std::printf("compared %llu pixel pairs, all equal\n", static_cast<unsigned long long>(compared));
}

}  // namespace

// One pixel short of opaque anywhere in a run, in any byte pattern, makes it
// not all opaque; alpha bits alone decide.
TEST(CompositeRun, AllOpaqueFindsAnyPixelBelow255) {
    for (const Set *set : PackedSets()) {
        for (int32_t n = 0; n <= 40; ++n) {
            Pixels run(static_cast<size_t>(n) + 1, 0xFF000000u);
            EXPECT_TRUE(set->allOpaque(run.data() + 1, n)) << set->name << " " << n;
            for (int32_t k = 0; k < n; ++k) {
                for (uint32_t pixel : {0xFE000000u, 0x7FFFFFFFu, 0x00FFFFFFu}) {
                    run[static_cast<size_t>(k) + 1] = pixel;
                    EXPECT_FALSE(set->allOpaque(run.data() + 1, n)) << set->name << " " << n << " " << k;
                    run[static_cast<size_t>(k) + 1] = 0xFF000000u;
                }
            }
        }
    }
}

// Every top pixel alpha with colour pairs, faded or not, over opaque bottoms:
// the blend that relies on the bottom being opaque against the plain loop.
TEST(CompositeRun, OverAnOpaqueBottomEveryTopAlphaAndOpacity) {
    std::mt19937 gen(7);
    Pixels top(256 * 16), bottom(top.size());
    for (size_t i = 0; i < top.size(); ++i) {
        // Blocks of one alpha (clear and opaque ones take their shortcuts)
        // and blocks of mixed alphas.
        uint32_t alpha = (i / 256) % 2 ? static_cast<uint32_t>(i % 256) : static_cast<uint32_t>(i / 16 % 256);
        top[i] = (alpha << 24) | (gen() & 0x00FFFFFFu);
        bottom[i] = 0xFF000000u | (i % 3 ? gen() : (i % 2 ? 0xFFFFFFu : 0u));
    }
    int32_t n = static_cast<int32_t>(top.size()) - 5;  // a tail of single pixels
    for (uint32_t opacity : {255u, 200u, 1u, 0x1FFu}) {
        Pixels expected = bottom;
        zl::CompositeRunFadedPlain(top.data(), expected.data(), expected.data(), n, opacity);
        for (const Set *set : PackedSets()) {
            Aligned out(bottom);
            set->overOpaque(top.data(), out.data(), n, opacity);
            EXPECT_EQ(out.pixels(), expected) << set->name << " opacity " << opacity;
        }
    }
}

// Every row alpha over colours of every kind of alpha, in place, with a tail
// of single pixels.
TEST(CompositeRun, AgainstAColourEveryRowAlpha) {
    std::mt19937 gen(5);
    Pixels row(256 * 3 + 7);
    for (size_t i = 0; i < row.size(); ++i) row[i] = (static_cast<uint32_t>(i % 256) << 24) | (gen() & 0x00FFFFFFu);
    for (uint32_t colour : {0x00123456u, 0x01FFFFFFu, 0x80FF8000u, 0xFE000000u, 0xFF3366CCu}) {
        Pixels expected = row;
        zl::CompositeAgainstColourPlain(expected.data(), colour, static_cast<int32_t>(expected.size()));
        for (const Set *set : PackedSets()) {
            Aligned out(row, 4);
            set->againstColour(out.data(), colour, static_cast<int32_t>(row.size()));
            EXPECT_EQ(out.pixels(), expected) << set->name << std::hex << " colour " << colour;
        }
    }
}
