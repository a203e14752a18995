#include "image/colour_reduction.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "image/transform_support.h"

namespace orvalis {
namespace {

constexpr RGBQUAD Rgb(uint32_t rrggbb) {
  return RGBQUAD{static_cast<uint8_t>(rrggbb), static_cast<uint8_t>(rrggbb >> 8),
                 static_cast<uint8_t>(rrggbb >> 16), 0};
}

constexpr std::array<RGBQUAD, 2> kStandardPalette1 = {Rgb(0x000000), Rgb(0xFFFFFF)};

constexpr std::array<RGBQUAD, 16> kStandardPalette4 = {
    Rgb(0x000000), Rgb(0x800000), Rgb(0x008000), Rgb(0x808000), Rgb(0x000080), Rgb(0x800080),
    Rgb(0x008080), Rgb(0xC0C0C0), Rgb(0x808080), Rgb(0xFF0000), Rgb(0x00FF00), Rgb(0xFFFF00),
    Rgb(0x0000FF), Rgb(0xFF00FF), Rgb(0x00FFFF), Rgb(0xFFFFFF)};

// The fully saturated colour of a hue (degrees, a multiple of 20), as red, green, blue.
std::array<uint32_t, 3> HueColour(uint32_t hue) {
  const uint32_t sector = hue / 60;
  const uint32_t rise = ((hue % 60) * 255 + 30) / 60;
  const uint32_t fall = 255 - rise;
  switch (sector) {
    case 0:
      return {255, rise, 0};
    case 1:
      return {fall, 255, 0};
    case 2:
      return {0, 255, rise};
    case 3:
      return {0, fall, 255};
    case 4:
      return {rise, 0, 255};
    default:
      return {255, 0, fall};
  }
}

// 8-bit standard palette: ten fixed colours, eighteen hue groups of twelve (six tints from light
// to full, the full colour, five darker shades), twenty grays and ten more fixed colours. The full
// primaries and secondaries use FE so they do not repeat the fixed entries 249 to 255.
std::array<RGBQUAD, 256> BuildStandardPalette8() {
  std::array<RGBQUAD, 256> p{};
  constexpr std::array<uint32_t, 10> kFirst = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080,
                                               0x800080, 0x008080, 0xC0C0C0, 0xC0DCC0, 0xA6CAF0};
  constexpr std::array<uint32_t, 10> kLast = {0xFFFBF0, 0xA0A0A4, 0x808080, 0xFF0000, 0x00FF00,
                                              0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
  uint32_t n = 0;
  for (uint32_t c : kFirst) p[n++] = Rgb(c);
  const auto put = [&](uint32_t r, uint32_t g, uint32_t b) {
    p[n++] = RGBQUAD{static_cast<uint8_t>(b), static_cast<uint8_t>(g), static_cast<uint8_t>(r), 0};
  };
  for (uint32_t group = 0; group < 18; ++group) {
    const uint32_t hue = group * 20;
    const auto [r, g, b] = HueColour(hue);
    for (uint32_t k = 0; k < 6; ++k) {
      const uint32_t toWhite = 6 - k;  // sevenths of the way to white
      put(r + (255 - r) * toWhite / 7, g + (255 - g) * toWhite / 7, b + (255 - b) * toWhite / 7);
    }
    const auto full = [&](uint32_t v) { return (hue % 60 == 0 && v == 255) ? 254u : v; };
    put(full(r), full(g), full(b));
    for (uint32_t k = 1; k <= 5; ++k) put(r * (6 - k) / 6, g * (6 - k) / 6, b * (6 - k) / 6);
  }
  for (uint32_t i = 0; i < 20; ++i) {
    const uint32_t v = 0xF2 - 0x0C * i;
    put(v, v, v);
  }
  for (uint32_t c : kLast) p[n++] = Rgb(c);
  return p;
}

// Entries a nearest-colour search of this image looks at: the significant colours when set.
uint32_t SearchedEntries(const RasterImage& image) {
  const uint32_t n = image.SignificantColors();
  return n != 0 ? std::min(n, image.ColorCount()) : image.ColorCount();
}

uint32_t Distance(RGBQUAD a, RGBQUAD b) {
  const int dr = int{a.rgbRed} - b.rgbRed;
  const int dg = int{a.rgbGreen} - b.rgbGreen;
  const int db = int{a.rgbBlue} - b.rgbBlue;
  return static_cast<uint32_t>(dr * dr + dg * dg + db * db);
}

// Reads row y of an image as colours, with the alpha plane in the reserved byte when there is
// one (what ColorAtUnchecked(x, y, true) gives for each pixel).
void ReadRowColours(const RasterImage& image, uint32_t y, std::vector<RGBQUAD>& out) {
  const uint32_t width = image.Width();
  const uint8_t* row = image.RowAddress(y);
  if (image.BitsPerPixel() == 24) {
    for (uint32_t x = 0; x < width; ++x, row += 3) out[x] = RGBQUAD{row[0], row[1], row[2], 0};
  } else {
    const RGBQUAD* palette = image.PaletteData();
    for (uint32_t x = 0; x < width; ++x) out[x] = palette[image.IndexAtUnchecked(x, y)];
  }
  if (const uint8_t* alpha = image.AlphaAddress(0, y)) {
    for (uint32_t x = 0; x < width; ++x) out[x].rgbReserved = alpha[x];
  }
}

// Stores a row of palette indices (or, for 24-bit images, of colours) into row y.
void WriteRowIndices(RasterImage& image, uint32_t y, const std::vector<uint8_t>& indices) {
  uint8_t* row = image.RowAddress(y);
  const uint32_t width = image.Width();
  switch (image.BitsPerPixel()) {
    case 8:
      std::copy(indices.begin(), indices.begin() + width, row);
      break;
    case 4:
      for (uint32_t x = 0; x < width; x += 2) {
        const uint8_t low = x + 1 < width ? (indices[x + 1] & 0x0F) : 0;
        row[x >> 1] = static_cast<uint8_t>(((indices[x] & 0x0F) << 4) | low);
      }
      break;
    case 1:
      for (uint32_t x = 0; x < width; x += 8) {
        uint8_t byte = 0;
        for (uint32_t bit = 0; bit < 8 && x + bit < width; ++bit)
          byte |= static_cast<uint8_t>((indices[x + bit] & 1) << (7 - bit));
        row[x >> 3] = byte;
      }
      break;
    default:
      break;
  }
}

void WriteRowColours(RasterImage& image, uint32_t y, const std::vector<RGBQUAD>& colours) {
  uint8_t* row = image.RowAddress(y);
  for (uint32_t x = 0; x < image.Width(); ++x, row += 3) {
    row[0] = colours[x].rgbBlue;
    row[1] = colours[x].rgbGreen;
    row[2] = colours[x].rgbRed;
  }
}

// Nearest palette entry of the result image, by the chosen search.
class ResultSearch {
 public:
  ResultSearch(RasterImage& result, PaletteSearch search)
      : result_(result), search_(search), indexed_(result.PaletteData(), SearchedEntries(result)) {}
  uint8_t Find(RGBQUAD color) {
    return search_ == PaletteSearch::Linear ? result_.ClosestPaletteIndex(color)
                                            : indexed_.Find(color);
  }

 private:
  RasterImage& result_;
  PaletteSearch search_;
  NearestPaletteIndex indexed_;
};

// The working copy of the source pixels that error diffusion changes. Writing a changed colour
// back into a palette source turns it into that source's nearest palette colour, as storing it in
// the source image would.
class DiffusionSource {
 public:
  DiffusionSource(const RasterImage& source, PaletteSearch search)
      : source_(source),
        search_(search),
        palette_(source.PaletteData()),
        entries_(SearchedEntries(source)),
        indexed_(palette_, entries_) {}

  RGBQUAD Stored(RGBQUAD color) {
    if (palette_ == nullptr) return color;
    const uint8_t i = search_ == PaletteSearch::Linear
                          ? LinearNearestIndex(palette_, entries_, color)
                          : indexed_.Find(color);
    RGBQUAD stored = palette_[i];
    if (source_.HasAlpha()) stored.rgbReserved = color.rgbReserved;
    return stored;
  }

  // Adds weight/16 of the error to a colour, each component truncated toward zero and clamped.
  RGBQUAD Diffuse(RGBQUAD color, const int error[3], int weight) {
    const auto add = [&](uint8_t v, int e) {
      return static_cast<uint8_t>(std::clamp(int{v} + weight * e / 16, 0, 255));
    };
    color.rgbBlue = add(color.rgbBlue, error[0]);
    color.rgbGreen = add(color.rgbGreen, error[1]);
    color.rgbRed = add(color.rgbRed, error[2]);
    return Stored(color);
  }

 private:
  const RasterImage& source_;
  PaletteSearch search_;
  const RGBQUAD* palette_;
  uint32_t entries_;
  NearestPaletteIndex indexed_;
};

void RenderPlain(const RasterImage& source, RasterImage& result, PaletteSearch search) {
  const uint32_t width = source.Width();
  std::vector<RGBQUAD> colours(width);
  std::vector<uint8_t> indices(width);
  ResultSearch nearest(result, search);
  for (uint32_t y = 0; y < source.Height(); ++y) {
    ReadRowColours(source, y, colours);
    if (result.BitsPerPixel() == 24) {
      WriteRowColours(result, y, colours);
      continue;
    }
    for (uint32_t x = 0; x < width; ++x) indices[x] = nearest.Find(colours[x]);
    WriteRowIndices(result, y, indices);
  }
}

// Rows are visited from the bottom of the picture up; each pixel passes 7/16 of its error to the
// right and 2/16, 4/16, 1/16 to the three pixels of the row above it.
void RenderDiffused(const RasterImage& source, RasterImage& result, PaletteSearch search) {
  const uint32_t width = source.Width();
  const uint32_t height = source.Height();
  std::vector<RGBQUAD> current(width), above(width), colours(width);
  std::vector<uint8_t> indices(width);
  ResultSearch nearest(result, search);
  DiffusionSource working(source, search);
  const RGBQUAD* palette = result.PaletteData();
  ReadRowColours(source, 0, current);
  for (uint32_t y = 0; y < height; ++y) {
    const bool hasAbove = y + 1 < height;
    if (hasAbove) ReadRowColours(source, y + 1, above);
    for (uint32_t x = 0; x < width; ++x) {
      const RGBQUAD c = current[x];
      RGBQUAD stored = c;
      if (palette != nullptr) {
        indices[x] = nearest.Find(c);
        stored = palette[indices[x]];
      }
      const int error[3] = {int{c.rgbBlue} - stored.rgbBlue, int{c.rgbGreen} - stored.rgbGreen,
                            int{c.rgbRed} - stored.rgbRed};
      if (x + 1 < width) current[x + 1] = working.Diffuse(current[x + 1], error, 7);
      if (hasAbove) {
        if (x > 0) above[x - 1] = working.Diffuse(above[x - 1], error, 2);
        above[x] = working.Diffuse(above[x], error, 4);
        if (x + 1 < width) above[x + 1] = working.Diffuse(above[x + 1], error, 1);
      }
    }
    if (palette != nullptr) {
      WriteRowIndices(result, y, indices);
    } else {
      WriteRowColours(result, y, current);
    }
    std::swap(current, above);
  }
}

}  // namespace

// ---- Standard palettes ----

std::span<const RGBQUAD> StandardPalette(uint32_t bitsPerPixel) {
  static const std::array<RGBQUAD, 256> palette8 = BuildStandardPalette8();
  switch (bitsPerPixel) {
    case 1:
      return kStandardPalette1;
    case 4:
      return kStandardPalette4;
    case 8:
      return palette8;
    default:
      return {};
  }
}

void RasterImage::ApplyStandardPalette() {
  const std::span<const RGBQUAD> palette = StandardPalette(BitsPerPixel());
  if (!palette.empty()) ReplacePalette(palette.data(), static_cast<uint32_t>(palette.size()));
}

// ---- Nearest palette entry ----

uint8_t LinearNearestIndex(const RGBQUAD* palette, uint32_t count, RGBQUAD color) {
  if (palette == nullptr) return 0;
  uint32_t best = 200000;
  uint8_t bestIndex = 0;
  for (uint32_t i = 0; i < std::min(count, 256u); ++i) {
    const uint32_t d = Distance(palette[i], color);
    if (d == 0) return static_cast<uint8_t>(i);
    if (d < best) {
      best = d;
      bestIndex = static_cast<uint8_t>(i);
    }
  }
  return bestIndex;
}

NearestPaletteIndex::NearestPaletteIndex(const RGBQUAD* palette, uint32_t count)
    : cells_(kCellsPerAxis * kCellsPerAxis * kCellsPerAxis) {
  if (palette != nullptr) palette_.assign(palette, palette + std::min(count, 256u));
}

const NearestPaletteIndex::Cell& NearestPaletteIndex::CellOf(RGBQUAD color) {
  const uint32_t r = color.rgbRed >> kCellBits;
  const uint32_t g = color.rgbGreen >> kCellBits;
  const uint32_t b = color.rgbBlue >> kCellBits;
  Cell& cell = cells_[(r * kCellsPerAxis + g) * kCellsPerAxis + b];
  if (cell.built) return cell;

  constexpr int kSpan = (1 << kCellBits) - 1;
  const int lo[3] = {static_cast<int>(r << kCellBits), static_cast<int>(g << kCellBits),
                     static_cast<int>(b << kCellBits)};
  const auto bounds = [&](RGBQUAD e, uint32_t* nearest, uint32_t* farthest) {
    const int v[3] = {e.rgbRed, e.rgbGreen, e.rgbBlue};
    *nearest = *farthest = 0;
    for (int axis = 0; axis < 3; ++axis) {
      const int low = lo[axis], high = lo[axis] + kSpan;
      const int in = v[axis] < low ? low - v[axis] : v[axis] > high ? v[axis] - high : 0;
      const int out = std::max(std::abs(v[axis] - low), std::abs(v[axis] - high));
      *nearest += static_cast<uint32_t>(in * in);
      *farthest += static_cast<uint32_t>(out * out);
    }
  };
  uint32_t bound = UINT32_MAX;
  for (const RGBQUAD& e : palette_) {
    uint32_t nearest, farthest;
    bounds(e, &nearest, &farthest);
    bound = std::min(bound, farthest);
  }
  cell.first = static_cast<uint32_t>(candidates_.size());
  for (uint32_t i = 0; i < palette_.size(); ++i) {
    uint32_t nearest, farthest;
    bounds(palette_[i], &nearest, &farthest);
    if (nearest <= bound) candidates_.push_back(static_cast<uint8_t>(i));
  }
  cell.count = static_cast<uint16_t>(candidates_.size() - cell.first);
  cell.built = true;
  return cell;
}

uint8_t NearestPaletteIndex::Find(RGBQUAD color) {
  const uint32_t key = color.Packed() & 0xFFFFFF;
  if (lastValid_ && key == lastColor_) return lastIndex_;
  uint8_t bestIndex = 0;
  if (!palette_.empty()) {
    const Cell& cell = CellOf(color);
    const uint8_t* candidate = candidates_.data() + cell.first;
    uint32_t best = UINT32_MAX;
    for (uint32_t k = 0; k < cell.count; ++k) {
      const uint32_t d = Distance(palette_[candidate[k]], color);
      if (d < best) {
        best = d;
        bestIndex = candidate[k];
        if (d == 0) break;
      }
    }
  }
  lastColor_ = key;
  lastIndex_ = bestIndex;
  lastValid_ = true;
  return bestIndex;
}

// ---- Gray conversion ----

bool RasterImage::ToGrayscale() {
  if (!IsValid()) return false;
  const uint32_t width = Width();
  const uint32_t height = Height();
  if (BitsPerPixel() == 24) {
    RasterImage temp;
    if (!CreateTemporaryFor(temp, *this, width, height, 8)) return false;
    temp.ApplyGrayRamp();
    temp.CopyAlphaFrom(*this);
    for (uint32_t y = 0; y < height; ++y) {
      const uint8_t* in = RowAddress(y);
      uint8_t* out = temp.RowAddress(y);
      for (uint32_t x = 0; x < width; ++x, in += 3) out[x] = GrayValue(in[2], in[1], in[0]);
    }
    // A transparent colour is now the gray level it turned into.
    if (IsTransparent()) {
      const RGBQUAD c = info_.transparentColor;
      temp.SetTransparentIndex(GrayValue(c.rgbRed, c.rgbGreen, c.rgbBlue));
    }
    return TakeOver(temp);
  }

  // Palette images: the gray level of every entry. The palette itself is left alone until the
  // result exists, so a failure leaves the image exactly as it was.
  std::array<uint8_t, 256> gray{};
  const RGBQUAD* palette = PaletteData();
  for (uint32_t i = 0; i < ColorCount(); ++i)
    gray[i] = GrayValue(palette[i].rgbRed, palette[i].rgbGreen, palette[i].rgbBlue);
  const RGBQUAD transparentEntry = PaletteEntryAt(static_cast<uint32_t>(info_.transparentIndex));
  const uint8_t transparentGray =
      GrayValue(transparentEntry.rgbRed, transparentEntry.rgbGreen, transparentEntry.rgbBlue);

  if (BitsPerPixel() == 8) {
    // Pixel bytes only: the row padding stays as it was.
    for (uint32_t y = 0; y < height; ++y) {
      uint8_t* row = RowAddress(y);
      for (uint32_t x = 0; x < width; ++x) row[x] = gray[row[x]];
    }
    ApplyGrayRamp();
    // Every index is now a gray level; a limit on the searched entries no longer applies.
    SetSignificantColors(0);
    if (IsTransparent()) SetTransparentIndex(transparentGray);
    return true;
  }

  RasterImage temp;
  if (!CreateTemporaryFor(temp, *this, width, height, 8)) return false;
  temp.ApplyGrayRamp();
  temp.CopyAlphaFrom(*this);
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* out = temp.RowAddress(y);
    for (uint32_t x = 0; x < width; ++x) out[x] = gray[IndexAtUnchecked(x, y)];
  }
  if (IsTransparent()) temp.SetTransparentIndex(transparentGray);
  return TakeOver(temp);
}

// ---- Depth reduction ----

bool RasterImage::DecreaseBpp(uint32_t bitsPerPixel, bool errorDiffusion, const RGBQUAD* palette,
                              uint32_t colorCount) {
  return DecreaseBppUsing(*this, bitsPerPixel, errorDiffusion, palette, colorCount,
                          PaletteSearch::Indexed);
}

bool DecreaseBppUsing(RasterImage& image, uint32_t bitsPerPixel, bool errorDiffusion,
                      const RGBQUAD* palette, uint32_t count, PaletteSearch search) {
  if (!image.IsValid()) return false;
  const uint32_t target = RoundedDepth(bitsPerPixel);
  if (image.BitsPerPixel() < target) {
    image.SetErrorText("DecreaseBpp: target BPP greater than source BPP");
    return false;
  }
  if (image.BitsPerPixel() == target &&
      (count == 0 || (image.SignificantColors() != 0 && image.SignificantColors() < count))) {
    return true;
  }

  RasterImage temp;
  const bool created = CreateTemporaryFor(temp, image, image.Width(), image.Height(), target);
  if (created && count != 0) temp.SetSignificantColors(count);
  if (!created) {
    image.SetErrorText(temp.ErrorText());
    return false;
  }
  temp.CopyAlphaFrom(image);
  if (palette == nullptr) {
    temp.ApplyStandardPalette();
  } else {
    temp.ReplacePalette(palette, count > 0 ? count : (1u << target));
  }

  if (errorDiffusion) {
    RenderDiffused(image, temp, search);
  } else {
    RenderPlain(image, temp, search);
  }
  // The transparent index must name an entry of the new palette: the one its colour maps to.
  if (image.IsTransparent() && temp.ColorCount() != 0) {
    temp.SetTransparentIndex(
        LinearNearestIndex(temp.PaletteData(), SearchedEntries(temp), image.TransparentColorOf()));
  }
  return image.TakeOver(temp);
}

// ---- Octree quantizer ----

OctreeQuantizer::OctreeQuantizer(uint32_t maxColors, uint32_t colorBits)
    : maxColors_(maxColors),
      colorBits_(std::min(colorBits, 8u)),
      leafLimit_(std::max(maxColors, 16u)),
      reducibleLists_(colorBits_ + 1, 0),
      nodes_(1) {}

uint32_t OctreeQuantizer::NewNode(uint32_t level) {
  uint32_t id;
  if (!freeNodes_.empty()) {
    id = freeNodes_.back();
    freeNodes_.pop_back();
    nodes_[id] = OctreeNode{};
  } else {
    id = static_cast<uint32_t>(nodes_.size());
    nodes_.emplace_back();
  }
  OctreeNode& node = nodes_[id];
  if (level == colorBits_) {
    node.isLeaf = true;
    ++leafCount_;
  } else {
    node.nextReducible = reducibleLists_[level];
    reducibleLists_[level] = id;
  }
  return id;
}

void OctreeQuantizer::FreeSubtree(uint32_t node) {
  for (uint32_t child : nodes_[node].children) {
    if (child != 0) FreeSubtree(child);
  }
  nodes_[node] = OctreeNode{};
  freeNodes_.push_back(node);
}

void OctreeQuantizer::AddColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha) {
  const uint32_t packed = RGBQUAD{blue, green, red, alpha}.Packed();
  uint32_t node = lastLeaf_;
  if (node == 0 || packed != lastColor_) {
    if (root_ == 0) root_ = NewNode(0);
    node = root_;
    for (uint32_t level = 0; !nodes_[node].isLeaf; ++level) {
      const uint32_t shift = 7 - level;
      const uint32_t child =
          (((red >> shift) & 1u) << 2) | (((green >> shift) & 1u) << 1) | ((blue >> shift) & 1u);
      uint32_t next = nodes_[node].children[child];
      if (next == 0) {
        next = NewNode(level + 1);
        nodes_[node].children[child] = next;
      }
      node = next;
    }
  }
  OctreeNode& leaf = nodes_[node];
  ++leaf.pixelCount;
  leaf.redSum += red;
  leaf.greenSum += green;
  leaf.blueSum += blue;
  leaf.alphaSum += alpha;
  lastColor_ = packed;
  lastLeaf_ = node;

  while (leafCount_ > leafLimit_ && ReduceOnce()) {
  }
}

bool OctreeQuantizer::ReduceOnce() {
  lastLeaf_ = 0;  // the previous pixel's leaf may be merged away
  if (colorBits_ == 0) return false;
  uint32_t level = colorBits_ - 1;
  while (level > 0 && reducibleLists_[level] == 0) --level;
  const uint32_t id = reducibleLists_[level];
  if (id == 0) return false;
  reducibleLists_[level] = nodes_[id].nextReducible;

  uint32_t merged = 0;
  OctreeNode sum;
  for (uint32_t child : nodes_[id].children) {
    if (child == 0) continue;
    const OctreeNode& c = nodes_[child];
    sum.pixelCount += c.pixelCount;
    sum.redSum += c.redSum;
    sum.greenSum += c.greenSum;
    sum.blueSum += c.blueSum;
    sum.alphaSum += c.alphaSum;
    FreeSubtree(child);
    ++merged;
  }
  OctreeNode& node = nodes_[id];
  node.pixelCount += sum.pixelCount;
  node.redSum = sum.redSum;
  node.greenSum = sum.greenSum;
  node.blueSum = sum.blueSum;
  node.alphaSum = sum.alphaSum;
  node.children = {};
  node.nextReducible = 0;
  node.isLeaf = true;
  leafCount_ = leafCount_ + 1 - merged;
  return true;
}

bool OctreeQuantizer::AddBitmapColors(const uint8_t* block) {
  if (block == nullptr) return false;
  const BITMAPINFOHEADER h = BITMAPINFOHEADER::ReadFrom(block);
  const uint32_t bpp = h.biBitCount;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24) return false;
  // A block of this library always has the 40-byte header and at most 256 entries; anything else
  // would place the rows where they are not.
  if (h.biWidth <= 0 || h.biHeight <= 0 || h.biSize < BITMAPINFOHEADER::kSize || h.biClrUsed > 256)
    return false;
  const uint32_t width = static_cast<uint32_t>(h.biWidth);
  const uint32_t height = static_cast<uint32_t>(h.biHeight);
  const size_t stride = ((size_t{width} * bpp + 31) / 32) * 4;
  const uint8_t* paletteBytes = block + h.biSize;
  const uint8_t* rows = paletteBytes + size_t{4} * h.biClrUsed;

  // Colours of the palette entries an index can select; entries the block lacks read as black.
  std::array<RGBQUAD, 256> palette{};
  for (uint32_t i = 0; i < std::min(h.biClrUsed, 256u); ++i) {
    const uint8_t* e = paletteBytes + 4 * i;
    palette[i] = RGBQUAD{e[0], e[1], e[2], e[3]};
  }
  const auto addIndex = [&](uint32_t index) {
    const RGBQUAD& c = palette[index];
    AddColor(c.rgbRed, c.rgbGreen, c.rgbBlue, c.rgbReserved);
  };
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* row = rows + y * stride;
    for (uint32_t x = 0; x < width; ++x) {
      switch (bpp) {
        case 24:
          AddColor(row[3 * x + 2], row[3 * x + 1], row[3 * x], 0);
          break;
        case 8:
          addIndex(row[x]);
          break;
        case 4:
          addIndex((x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4));
          break;
        default:
          addIndex((row[x >> 3] >> (7 - (x & 7))) & 1);
          break;
      }
    }
  }
  return true;
}

void OctreeQuantizer::WriteLeaves(uint32_t node, RGBQUAD* destination, uint32_t* written) const {
  const OctreeNode& n = nodes_[node];
  if (n.isLeaf) {
    const auto average = [&](uint64_t sum) {
      return static_cast<uint8_t>(n.pixelCount != 0 ? sum / n.pixelCount : 0);
    };
    destination[(*written)++] =
        RGBQUAD{average(n.blueSum), average(n.greenSum), average(n.redSum), average(n.alphaSum)};
    return;
  }
  for (uint32_t child : n.children) {
    if (child != 0) WriteLeaves(child, destination, written);
  }
}

void OctreeQuantizer::WritePalette(RGBQUAD* destination) const {
  if (destination == nullptr || root_ == 0) return;
  uint32_t written = 0;
  WriteLeaves(root_, destination, &written);
}

}  // namespace orvalis
