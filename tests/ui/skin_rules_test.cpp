/*
** The skin's rules: opaque pixel runs become the rectangles of the window
** region, flushed every 2000 rectangles; child windows scale to the design size.
*/
#include "ui/skin_rules.h"

#include <gtest/gtest.h>
#include <set>
#include <utility>

namespace {

/* A 32-bit bottom-up pixel buffer built from a top-down description. */
struct Bitmap {
    int width, height, stride;
    std::vector<uint8_t> bits;
    Bitmap(int w, int h) : width(w), height(h), stride(w * 4 + 8), bits(stride * h, 0x40) {}
    void Set(int x, int y, uint32_t rgb) { // 0x00BBGGRR as the key colour
        uint8_t* p = &bits[(height - 1 - y) * stride + 4 * x];
        p[0] = (rgb >> 16) & 0xFF;
        p[1] = (rgb >> 8) & 0xFF;
        p[2] = rgb & 0xFF;
        p[3] = 0x99; // the reserved byte is never compared
    }
    void Key(int x, int y) { Set(x, y, SKIN_KEY_COLOR); }
};

struct Flushes {
    std::vector<std::vector<SkinRect>> batches;
    std::vector<SkinRect> bounds;
    std::vector<uint32_t> rooms;
    RegionFlush Sink() {
        return [this](const RegionBlock& block) {
            std::vector<SkinRect> rects;
            for (uint32_t i = 0; i < block.Count(); i++)
                rects.push_back(block.At(i));
            batches.push_back(rects);
            bounds.push_back(block.Bounds());
            rooms.push_back(block.Room());
        };
    }
    std::vector<SkinRect> All() const {
        std::vector<SkinRect> all;
        for (auto& b : batches)
            all.insert(all.end(), b.begin(), b.end());
        return all;
    }
};

/* The runs of `bmp` with the skin's key colour, as flushed. */
Flushes Collect(const Bitmap& bmp) {
    Flushes f;
    EXPECT_TRUE(CollectOpaqueRuns(bmp.bits.data(), bmp.bits.size(), bmp.width, bmp.height,
                                  bmp.stride, SKIN_KEY_COLOR, f.Sink()));
    return f;
}

std::set<std::pair<int, int>> Pixels(const std::vector<SkinRect>& rects) {
    std::set<std::pair<int, int>> px;
    for (auto& r : rects)
        for (int y = r.top; y < r.bottom; y++)
            for (int x = r.left; x < r.right; x++)
                px.insert({x, y});
    return px;
}

} // namespace

TEST(SkinRules, RunsStartAndEndAtTheRowEdges) {
    Bitmap bmp(6, 3);
    // Row 0: opaque from x = 0, key at 2, opaque to the end.
    bmp.Key(2, 0);
    // Row 1: key at both ends, a run in the middle.
    bmp.Key(0, 1);
    bmp.Key(5, 1);
    // Row 2: all key.
    for (int x = 0; x < 6; x++)
        bmp.Key(x, 2);
    const Flushes f = Collect(bmp);
    ASSERT_EQ(f.batches.size(), 1u);
    EXPECT_EQ(f.batches[0], (std::vector<SkinRect>{{0, 0, 2, 1}, {3, 0, 6, 1}, {1, 1, 5, 2}}));
    EXPECT_EQ(f.bounds[0], (SkinRect{0, 0, 6, 2}));
}

TEST(SkinRules, OnlyAnExactKeyColourIsCutOut) {
    Bitmap bmp(4, 2);
    bmp.Set(1, 0, 0xFE00FF); // near magenta stays opaque
    bmp.Set(2, 0, 0xFF01FF);
    const Flushes f = Collect(bmp);
    // No magenta at all: one full-width run per row, a rectangle of the size.
    EXPECT_EQ(f.batches[0], (std::vector<SkinRect>{{0, 0, 4, 1}, {0, 1, 4, 2}}));
    EXPECT_EQ(f.bounds[0], (SkinRect{0, 0, 4, 2}));

    // All key: one empty flush with reset bounds.
    Bitmap key(3, 2);
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 3; x++)
            key.Key(x, y);
    const Flushes none = Collect(key);
    ASSERT_EQ(none.batches.size(), 1u);
    EXPECT_TRUE(none.batches[0].empty());
    EXPECT_EQ(none.bounds[0], (SkinRect{0x7FFFFFFF, 0x7FFFFFFF, 0, 0}));
}

TEST(SkinRules, ManyRunsAreFlushedEveryTwoThousandWithTheSameCoverage) {
    // A checker of single opaque pixels: 50 runs per row, 50 rows = 2500 runs.
    const int w = 100, h = 50;
    Bitmap bmp(w, h);
    std::set<std::pair<int, int>> opaque;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            if ((x + y) % 2)
                bmp.Key(x, y);
            else
                opaque.insert({x, y});
        }
    const Flushes f = Collect(bmp);
    ASSERT_EQ(f.batches.size(), 2u);
    EXPECT_EQ(f.batches[0].size(), 2000u);
    EXPECT_EQ(f.batches[1].size(), 500u);
    EXPECT_EQ(f.rooms[0], 2000u); // grown 100 at a time
    EXPECT_EQ(f.rooms[1], 2000u); // the room is kept after a flush
    EXPECT_EQ(f.bounds[0], (SkinRect{0, 0, 100, 40}));
    EXPECT_EQ(f.bounds[1], (SkinRect{0, 40, 100, 50})); // bounds reset at the flush
    EXPECT_EQ(Pixels(f.All()), opaque);
    EXPECT_EQ(f.All().size(), 2500u);
}

TEST(SkinRules, BlockHasThePlatformLayout) {
    RegionBlock block;
    EXPECT_EQ(block.Size(), 32u + 16u * 100u);
    block.Add({5, 6, 7, 8});
    const uint8_t* d = block.Data();
    auto at = [&](int o) {
        return static_cast<int32_t>(d[o] | d[o + 1] << 8 | d[o + 2] << 16 |
                                    static_cast<uint32_t>(d[o + 3]) << 24);
    };
    // Header size, rectangles, count, region size, the bounds, the first rectangle.
    for (auto [offset, value] :
         {std::pair{0, 32}, {4, 1}, {8, 1}, {12, 0}, {16, 5}, {28, 8}, {32, 5}, {44, 8}})
        EXPECT_EQ(at(offset), value) << offset;
    for (int i = 1; i < 101; i++)
        block.Add({0, i, 1, i + 1});
    EXPECT_EQ(block.Count(), 101u);
    EXPECT_EQ(block.Room(), 200u);
    EXPECT_EQ(block.Size(), 32u + 16u * 200u);
    EXPECT_EQ(block.At(100), (SkinRect{0, 100, 1, 101}));
}

TEST(SkinRules, BadBuffersAreRefused) {
    std::vector<uint8_t> bits(4 * 4 * 3);
    int calls = 0;
    RegionFlush count = [&](const RegionBlock&) { calls++; };
    EXPECT_FALSE(CollectOpaqueRuns(bits.data(), bits.size(), 4, 4, 16, SKIN_KEY_COLOR, count));
    EXPECT_FALSE(CollectOpaqueRuns(bits.data(), bits.size(), 5, 3, 16, SKIN_KEY_COLOR, count));
    EXPECT_FALSE(CollectOpaqueRuns(nullptr, 0, 4, 3, 16, SKIN_KEY_COLOR, count));
    EXPECT_FALSE(CollectOpaqueRuns(bits.data(), bits.size(), 0, 3, 16, SKIN_KEY_COLOR, count));
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(CollectOpaqueRuns(bits.data(), bits.size(), 4, 3, 16, SKIN_KEY_COLOR, count));
    EXPECT_EQ(calls, 1);
}

TEST(SkinRules, ChildWindowsScaleToTheDesignSize) {
    double fx = ScaleFactor(523, 600);
    double fy = ScaleFactor(339, 337);
    EXPECT_EQ(ScaleCoordinate(262, fx), 300); // 300.57 truncated
    EXPECT_EQ(ScaleCoordinate(0, fx), 0);
    EXPECT_EQ(ScaleCoordinate(523, fx), 600);
    EXPECT_EQ(ScaleCoordinate(339, fy), 337);
    EXPECT_EQ(ScaleCoordinate(-10, fx), -11); // toward zero: -11.47
    EXPECT_EQ(ScaleFactor(600, 0), 0.0);
    EXPECT_EQ(ScaleCoordinate(262, 0.0), 262); // an empty client area scales nothing
}
