/*
** The window skin's arithmetic (see skin_rules.h).
*/
#include "ui/skin_rules.h"

#include <math.h>

namespace {
const size_t kHeaderSize = 32;
const size_t kRectSize = 16;
const size_t kCountAt = 8;
const size_t kBoundsAt = 16;
} // namespace

RegionBlock::RegionBlock()
    : bytes_(kHeaderSize + kRectSize * REGION_BLOCK_STEP), room_(REGION_BLOCK_STEP) {
    Put(0, static_cast<int32_t>(kHeaderSize)); // header size
    Put(4, 1);                                 // type: rectangles
    Put(12, 0);                                // region size
    Reset();
}

void RegionBlock::Put(size_t offset, int32_t value) {
    uint32_t v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; i++)
        bytes_[offset + i] = static_cast<uint8_t>(v >> (8 * i));
}

int32_t RegionBlock::Get(size_t offset) const {
    uint32_t v = 0;
    for (int i = 0; i < 4; i++)
        v |= static_cast<uint32_t>(bytes_[offset + i]) << (8 * i);
    return static_cast<int32_t>(v);
}

void RegionBlock::Reset() {
    Put(kCountAt, 0);
    Put(kBoundsAt, 0x7FFFFFFF);
    Put(kBoundsAt + 4, 0x7FFFFFFF);
    Put(kBoundsAt + 8, 0);
    Put(kBoundsAt + 12, 0);
}

uint32_t RegionBlock::Count() const { return static_cast<uint32_t>(Get(kCountAt)); }

SkinRect RegionBlock::Bounds() const {
    return {Get(kBoundsAt), Get(kBoundsAt + 4), Get(kBoundsAt + 8), Get(kBoundsAt + 12)};
}

SkinRect RegionBlock::At(uint32_t index) const {
    size_t at = kHeaderSize + kRectSize * index;
    return {Get(at), Get(at + 4), Get(at + 8), Get(at + 12)};
}

void RegionBlock::Add(const SkinRect& rect) {
    uint32_t count = Count();
    if (count >= room_) {
        room_ += REGION_BLOCK_STEP;
        bytes_.resize(kHeaderSize + kRectSize * room_);
    }
    size_t at = kHeaderSize + kRectSize * count;
    Put(at, rect.left);
    Put(at + 4, rect.top);
    Put(at + 8, rect.right);
    Put(at + 12, rect.bottom);
    SkinRect b = Bounds();
    if (rect.left < b.left) Put(kBoundsAt, rect.left);
    if (rect.top < b.top) Put(kBoundsAt + 4, rect.top);
    if (rect.right > b.right) Put(kBoundsAt + 8, rect.right);
    if (rect.bottom > b.bottom) Put(kBoundsAt + 12, rect.bottom);
    Put(kCountAt, static_cast<int32_t>(count + 1));
}

bool CollectOpaqueRuns(const uint8_t* bits, size_t size, int width, int height, int stride,
                       uint32_t keyColor, RegionFlush flush) {
    if (!bits || width <= 0 || height <= 0 || stride <= 0) return false;
    if (static_cast<size_t>(width) > static_cast<size_t>(stride) / 4) return false;
    if (static_cast<size_t>(height) > size / static_cast<size_t>(stride)) return false;

    const uint8_t keyRed = keyColor & 0xFF;
    const uint8_t keyGreen = (keyColor >> 8) & 0xFF;
    const uint8_t keyBlue = (keyColor >> 16) & 0xFF;
    RegionBlock block;
    for (int y = 0; y < height; y++) {
        // Bottom-up rows: the image's top row is the last one in memory.
        const uint8_t* row = bits + static_cast<size_t>(height - 1 - y) * stride;
        int x = 0;
        while (x < width) {
            int x0 = x;
            while (x < width) {
                const uint8_t* p = row + 4 * x;
                if (p[0] == keyBlue && p[1] == keyGreen && p[2] == keyRed) break;
                x++;
            }
            if (x > x0) {
                block.Add({x0, y, x, y + 1});
                if (block.Count() == REGION_FLUSH_COUNT) {
                    flush(block);
                    block.Reset();
                }
            }
            x++; // past the transparent pixel that ended the run, or the row's end
        }
    }
    flush(block);
    return true;
}

double ScaleFactor(int client, int design) {
    if (design == 0) return 0.0;
    return static_cast<double>(client) / static_cast<double>(design);
}

int ScaleCoordinate(int value, double factor) {
    if (!(factor > 0.0)) return value;
    double scaled = trunc(value / factor);
    // Screen coordinates stay far inside int; the clamp keeps a tiny factor
    // from turning into an out-of-range conversion.
    if (scaled > 2147483647.0) return 2147483647;
    if (scaled < -2147483648.0) return -2147483647 - 1;
    return static_cast<int>(scaled);
}
