/*
** The window skin's arithmetic, kept free of Windows headers so that the host
** tests can pin it: the region data block that turns the skin's opaque pixel
** runs into a window region, and the scaling of child windows from dialog
** units to the skin's pixel layout.
*/
#ifndef CLEANPHANTAXIS_SKIN_RULES_H
#define CLEANPHANTAXIS_SKIN_RULES_H

#include <stddef.h>
#include <stdint.h>
#include <functional>
#include <vector>

/* The key colour of the skin (0x00BBGGRR): pixels of this colour are cut out. */
#define SKIN_KEY_COLOR 0xFF00FFu

/* Rectangles a region block starts with, and adds whenever it is full. */
#define REGION_BLOCK_STEP 100
/* A block holding this many rectangles is turned into a region at once. */
#define REGION_FLUSH_COUNT 2000

struct SkinRect {
    int32_t left, top, right, bottom;
    bool operator==(const SkinRect& o) const {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
};

/* A region data block in the platform's layout (RGNDATA, little-endian):
   a 32-byte header (size 32, type 1, count, region size 0, bounds) followed
   by 16 bytes per rectangle. Data() and Size() are what ExtCreateRegion takes. */
class RegionBlock {
  public:
    RegionBlock();
    /* Count 0 and bounds reset to (0x7FFFFFFF, 0x7FFFFFFF, 0, 0); room stays. */
    void Reset();
    /* Stores one rectangle, growing the room by REGION_BLOCK_STEP when full,
       and widens the bounds to include it. */
    void Add(const SkinRect& rect);

    uint32_t Count() const;
    uint32_t Room() const { return room_; }
    SkinRect Bounds() const;
    SkinRect At(uint32_t index) const;
    const uint8_t* Data() const { return bytes_.data(); }
    /* 32 + 16 * room, as the block is handed over whole. */
    size_t Size() const { return bytes_.size(); }

  private:
    void Put(size_t offset, int32_t value);
    int32_t Get(size_t offset) const;
    std::vector<uint8_t> bytes_;
    uint32_t room_;
};

/* Called with the block each time it is to become a region: at every
   REGION_FLUSH_COUNT rectangles and once after the last row (also when empty). */
typedef std::function<void(const RegionBlock&)> RegionFlush;

/* Adds one rectangle (x0, y, x1, y + 1) per run of pixels that differ from
   `keyColor`, row by row from the image's top row, and hands the block to
   `flush` as described above. `bits` is a 32-bit bottom-up device-independent
   bitmap: the image's top row is the last row in memory, each pixel is blue,
   green, red, reserved. Returns false, without calling `flush`, when the
   buffer of `size` bytes cannot hold `height` rows of `stride` bytes or a row
   is shorter than `width` pixels. */
bool CollectOpaqueRuns(const uint8_t* bits, size_t size, int width, int height, int stride,
                       uint32_t keyColor, RegionFlush flush);

/* One edge of a child window scaled to the design size: the screen coordinate
   divided by the ratio of client size to design size, truncated toward zero.
   A ratio of zero or less (an empty client area) leaves the coordinate as it is. */
int ScaleCoordinate(int value, double factor);

/* client / design in double precision; 0 when `design` is 0. */
double ScaleFactor(int client, int design);

#endif
