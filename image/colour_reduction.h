#pragma once
// Colour reduction: gray conversion, re-rendering at 1, 4 or 8 bits per pixel against a palette,
// the fixed standard palettes, and the octree quantizer that builds an adaptive palette.
// ToGrayscale, DecreaseBpp and ApplyStandardPalette are RasterImage members (raster_image.h);
// their bodies live in colour_reduction.cpp.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "image/raster_image.h"

namespace orvalis {

// The gray level of a colour: (306 red + 601 green + 117 blue) >> 10, truncated. The weights add
// up to 1024, so white stays 255.
inline uint8_t GrayValue(uint8_t red, uint8_t green, uint8_t blue) {
  return static_cast<uint8_t>((306u * red + 601u * green + 117u * blue) >> 10);
}

// The standard palette of a depth: 2 entries for 1 bit, 16 for 4, 256 for 8; empty otherwise.
std::span<const RGBQUAD> StandardPalette(uint32_t bitsPerPixel);

// The nearest palette entry by squared RGB distance, lowest index on ties: the reference search
// every faster search must agree with. Only the first `count` entries are searched.
uint8_t LinearNearestIndex(const RGBQUAD* palette, uint32_t count, RGBQUAD color);

// The same answer as LinearNearestIndex for every colour, found faster. The colour cube is cut
// into cells of 8 x 8 x 8 colours; for each cell a pixel falls into, the candidates are the
// entries whose smallest possible distance to the cell is not above the largest distance some
// single entry has to every point of the cell. Every other entry is strictly farther than that
// entry from any colour of the cell, so it can never be the nearest or tie with it. Candidates
// keep palette order, so ties still go to the lowest index.
class NearestPaletteIndex {
 public:
  NearestPaletteIndex(const RGBQUAD* palette, uint32_t count);
  uint8_t Find(RGBQUAD color);

 private:
  static constexpr uint32_t kCellBits = 3;
  static constexpr uint32_t kCellsPerAxis = 256 >> kCellBits;
  struct Cell {
    uint32_t first = 0;
    uint16_t count = 0;
    bool built = false;
  };
  const Cell& CellOf(RGBQUAD color);

  std::vector<RGBQUAD> palette_;
  std::vector<Cell> cells_;
  std::vector<uint8_t> candidates_;
  uint32_t lastColor_ = 0;
  uint8_t lastIndex_ = 0;
  bool lastValid_ = false;
};

// How DecreaseBpp looks up the nearest palette entry of each pixel. Both give the same indices;
// Linear is the plain per-pixel search of the image (with its one-colour cache), Indexed uses
// NearestPaletteIndex.
enum class PaletteSearch { Linear, Indexed };

// RasterImage::DecreaseBpp with a chosen search (the member uses PaletteSearch::Indexed).
bool DecreaseBppUsing(RasterImage& image, uint32_t bitsPerPixel, bool errorDiffusion,
                      const RGBQUAD* palette, uint32_t count, PaletteSearch search);

// Builds an adaptive palette of at most `maxColors` entries (16 and above) from an image.
// Calling order: construct, AddBitmapColors once, WritePalette once.
class OctreeQuantizer {
 public:
  OctreeQuantizer(uint32_t maxColors, uint32_t colorBits);

  // Adds every pixel of a packed bitmap block (header, palette, bottom-up rows padded to 4
  // bytes): palette depths through their palette entries (reserved byte as alpha), 24-bit pixels
  // with alpha 0. False, nothing added, for depths other than 1, 4, 8 and 24, a block without
  // pixels, or a header no image of this library has (shorter than 40 bytes, over 256 entries).
  bool AddBitmapColors(const uint8_t* block);

  // Writes one entry per leaf (LeafCount() entries) in octree-path order: the average colour of
  // the pixels in the leaf, each component truncated. Entries beyond are not touched.
  void WritePalette(RGBQUAD* destination) const;

  uint32_t LeafCount() const { return leafCount_; }

 private:
  // Nodes live in one pool and refer to each other by position; 0 means "none".
  struct OctreeNode {
    bool isLeaf = false;
    uint64_t pixelCount = 0;
    uint64_t redSum = 0;
    uint64_t greenSum = 0;
    uint64_t blueSum = 0;
    uint64_t alphaSum = 0;
    std::array<uint32_t, 8> children{};
    uint32_t nextReducible = 0;
  };

  uint32_t NewNode(uint32_t level);
  void FreeSubtree(uint32_t node);
  void AddColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha);
  bool ReduceOnce();  // false when nothing is left to merge
  void WriteLeaves(uint32_t node, RGBQUAD* destination, uint32_t* written) const;

  uint32_t maxColors_;
  uint32_t colorBits_;
  uint32_t leafLimit_;
  uint32_t root_ = 0;
  uint32_t leafCount_ = 0;
  std::vector<uint32_t> reducibleLists_;
  std::vector<OctreeNode> nodes_;
  std::vector<uint32_t> freeNodes_;
  // The leaf the previous pixel ended in: runs of one colour skip the walk down the tree.
  uint32_t lastColor_ = 0;
  uint32_t lastLeaf_ = 0;
};

}  // namespace orvalis
