#include "image/codec_gif.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tests/support/oracle.h"
#include "tests/support/pictures.h"
#include "tests/support/temp_dir.h"

namespace orvalis {
namespace {

using test::ExpectPillowReads;
using test::MakeIndexed;
using test::MakeTrueColor;
using test::TempDir;

// ---- A small reader of the GIF block structure, to check what the encoder laid out ----

struct GifFrame {
  int left = 0, top = 0, width = 0, height = 0;
  uint8_t packed = 0;
  std::vector<uint8_t> localTable;
  int codeSize = 0;
  std::vector<uint8_t> data;       // the sub-blocks' contents, joined
  std::vector<size_t> blockSizes;  // length byte of each sub-block
};

struct GifFile {
  int width = 0, height = 0;
  uint8_t screenPacked = 0;
  std::vector<uint8_t> globalTable;
  std::vector<std::vector<uint8_t>> controls;  // the 4 bytes of each graphic control extension
  std::optional<std::string> comment;
  std::optional<int> loopCount;
  std::vector<GifFrame> frames;
};

class Cursor {
 public:
  explicit Cursor(const std::vector<uint8_t>& bytes) : b_(bytes) {}
  bool Has(size_t n) const { return at_ + n <= b_.size(); }
  uint8_t Byte() { return b_.at(at_++); }
  int Le16() {
    const int lo = Byte();
    return lo | (Byte() << 8);
  }
  std::vector<uint8_t> Take(size_t n) {
    std::vector<uint8_t> out(b_.begin() + at_, b_.begin() + at_ + n);
    at_ += n;
    return out;
  }
  // Sub-blocks up to the zero terminator.
  std::vector<uint8_t> Blocks(std::vector<size_t>* sizes = nullptr) {
    std::vector<uint8_t> out;
    for (size_t n = Byte(); n != 0; n = Byte()) {
      if (sizes) sizes->push_back(n);
      const auto part = Take(n);
      out.insert(out.end(), part.begin(), part.end());
    }
    return out;
  }

 private:
  const std::vector<uint8_t>& b_;
  size_t at_ = 0;
};

GifFile ParseGif(const std::vector<uint8_t>& bytes) {
  GifFile gif;
  Cursor in(bytes);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 6), "GIF89a");
  in.Take(6);
  gif.width = in.Le16();
  gif.height = in.Le16();
  gif.screenPacked = in.Byte();
  in.Take(2);
  if (gif.screenPacked & 0x80) gif.globalTable = in.Take(3u << ((gif.screenPacked & 7) + 1));
  for (;;) {
    const uint8_t kind = in.Byte();
    if (kind == 0x3B) break;
    if (kind == 0x21) {
      const uint8_t label = in.Byte();
      const auto body = in.Blocks();
      if (label == 0xF9) gif.controls.push_back(body);
      if (label == 0xFE) gif.comment = std::string(body.begin(), body.end());
      if (label == 0xFF && body.size() == 14) gif.loopCount = body[12] | (body[13] << 8);
      continue;
    }
    if (kind != 0x2C) {
      ADD_FAILURE() << "unexpected block " << int{kind};
      break;
    }
    GifFrame f;
    f.left = in.Le16();
    f.top = in.Le16();
    f.width = in.Le16();
    f.height = in.Le16();
    f.packed = in.Byte();
    if (f.packed & 0x80) f.localTable = in.Take(3u << ((f.packed & 7) + 1));
    f.codeSize = in.Byte();
    f.data = in.Blocks(&f.blockSizes);
    gif.frames.push_back(std::move(f));
  }
  EXPECT_FALSE(in.Has(1)) << "bytes after the trailer";
  return gif;
}

// Codes of the given widths packed least significant bit first, as a GIF data stream holds them.
std::vector<uint8_t> PackCodes(const std::vector<int>& codes, const std::vector<int>& widths) {
  std::vector<uint8_t> out;
  uint32_t accumulator = 0;
  int bits = 0;
  for (size_t i = 0; i < codes.size(); ++i) {
    accumulator |= static_cast<uint32_t>(codes[i]) << bits;
    bits += widths[i];
    for (; bits >= 8; bits -= 8, accumulator >>= 8)
      out.push_back(static_cast<uint8_t>(accumulator));
  }
  if (bits > 0) out.push_back(static_cast<uint8_t>(accumulator));
  return out;
}

std::vector<uint8_t> EncodeToMemory(RasterImage& image, bool expectOk = true) {
  MemoryStream stream;
  stream.OpenEmpty();
  EXPECT_EQ(image.Encode(&stream, ImageFormat::Gif), expectOk) << image.ErrorText();
  return test::StreamBytes(stream);
}

// ---- Pixels through Pillow ----

TEST(GifEncoder, PillowReadsEveryDepthWithEachDataEncoding) {
  TempDir dir;
  struct Size {
    uint32_t width, height;
  };
  for (const Size size : {Size{47, 33}, Size{300, 160}}) {
    for (const uint32_t bpp : {1u, 4u, 8u}) {
      for (const uint32_t option : {0u, 1u, 2u}) {
        SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(bpp) + " option " +
                     std::to_string(option));
        RasterImage image;
        MakeIndexed(image, size.width, size.height, bpp);
        image.SetEncoderOption(option, ImageFormat::Gif);
        const std::string path = dir.File("p" + std::to_string(bpp) + std::to_string(option) + "_" +
                                          std::to_string(size.width) + ".gif");
        ASSERT_TRUE(image.Save(path, ImageFormat::Gif)) << image.ErrorText();
        ExpectPillowReads(path, image);
      }
    }
  }
}

// Single pixels, single rows and columns, and pictures one pixel past a tile.
TEST(GifEncoder, TinyAndTileEdgeSizesDecode) {
  TempDir dir;
  struct Size {
    uint32_t width, height;
  };
  uint32_t option = 0;
  for (const Size size : {Size{1, 1}, Size{1, 40}, Size{40, 1}, Size{17, 15}, Size{18, 16}}) {
    for (const uint32_t bpp : {1u, 8u, 24u}) {
      SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height) + " at " +
                   std::to_string(bpp) + ", option " + std::to_string(option));
      RasterImage image;
      test::MakeImage(image, size.width, size.height, bpp);
      image.SetEncoderOption(option, ImageFormat::Gif);
      option = (option + 1) % 3;
      const std::string path = dir.File("tiny.gif");
      ASSERT_TRUE(image.Save(path, ImageFormat::Gif)) << image.ErrorText();
      const int tiles =
          bpp == 24 ? static_cast<int>(((size.width + 16) / 17) * ((size.height + 14) / 15)) : 1;
      ExpectPillowReads(path, image, tiles - 1);
    }
  }
}

// Pictures of runs with lengths drawn around several means (from almost no runs to runs across
// many rows) and few colours, so the run-length coder reuses its table, restarts it and mixes
// single pixels with runs; every encoding must decode to the same pixels. The seed is fixed.
TEST(GifEncoder, RandomRunsDecode) {
  TempDir dir;
  std::mt19937 random(20261210);
  for (int round = 0; round < 24; ++round) {
    const uint32_t bpp = std::array<uint32_t, 3>{1, 4, 8}[round % 3];
    const uint32_t option = (round / 3) % 3;
    const double meanRun = std::array<double, 4>{1.3, 4, 40, 3000}[(round / 9 + round) % 4];
    RasterImage image;
    ASSERT_NE(image.Create(1 + random() % 300, 1 + random() % 50, bpp, ImageFormat::None), nullptr);
    for (uint32_t i = 0; i < image.ColorCount(); ++i) {
      image.SetPaletteEntry(i, static_cast<uint8_t>(i), static_cast<uint8_t>(i * 7),
                            static_cast<uint8_t>(i * 13));
    }
    const uint32_t colors = std::min<uint32_t>(image.ColorCount(), 2 + random() % 5);
    std::geometric_distribution<uint32_t> runLength(1.0 / meanRun);
    uint32_t left = 0;
    uint8_t index = 0;
    for (uint32_t y = image.Height(); y-- > 0;) {
      for (uint32_t x = 0; x < image.Width(); ++x) {
        if (left == 0) {
          left = 1 + runLength(random);
          index = static_cast<uint8_t>(random() % colors);
        }
        --left;
        image.SetIndexAt(x, y, index);
      }
    }
    SCOPED_TRACE("round " + std::to_string(round));
    image.SetEncoderOption(option, ImageFormat::Gif);
    const std::string path = dir.File("random.gif");
    ASSERT_TRUE(image.Save(path, ImageFormat::Gif)) << image.ErrorText();
    ExpectPillowReads(path, image);
  }
}

// Codes widen to 12 bits and the table fills and clears many times over.
TEST(GifEncoder, FullTablesDecode) {
  TempDir dir;
  struct Case {
    uint32_t width, height, option;
  };
  for (const Case c : {Case{700, 700, 0}, Case{700, 30, 1}, Case{700, 300, 2}}) {
    SCOPED_TRACE("option " + std::to_string(c.option));
    RasterImage image;
    MakeIndexed(image, c.width, c.height, 8);
    image.SetEncoderOption(c.option, ImageFormat::Gif);
    const std::string path = dir.File("full.gif");
    ASSERT_TRUE(image.Save(path, ImageFormat::Gif)) << image.ErrorText();
    ExpectPillowReads(path, image);
  }
}

// One run longer than the pixels a whole table of run codes can carry (about 7.4 million for
// 8-bit codes, 8.4 million for 1-bit ones): the run-length coder clears and starts over inside
// the run. Pillow counts the colours of the whole decoded picture.
TEST(GifEncoder, RunsBeyondAFullTableDecode) {
  TempDir dir;
  struct Case {
    uint32_t width, height, bpp;
  };
  for (const Case c : {Case{4100, 2100, 1}, Case{2800, 2700, 8}}) {
    SCOPED_TRACE(c.bpp);
    RasterImage image;
    ASSERT_NE(image.Create(c.width, c.height, c.bpp, ImageFormat::None), nullptr);
    image.FillBytes(0);
    image.SetIndexAt(c.width - 1, 0, 1);  // the last pixel ends the run
    image.SetEncoderOption(2, ImageFormat::Gif);
    const std::string path = dir.File("long.gif");
    ASSERT_TRUE(image.Save(path, ImageFormat::Gif)) << image.ErrorText();
    const auto run = test::RunCommand(
        {"/usr/bin/python3", "-c",
         "import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1])\n"
         "print(sorted(im.getcolors()), im.getpixel((im.width - 1, im.height - 1)))",
         path});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const uint64_t pixels = uint64_t{c.width} * c.height;
    EXPECT_EQ(run.out, "[(1, 1), (" + std::to_string(pixels - 1) + ", 0)] 1\n");
  }
}

TEST(GifEncoder, TrueColourBecomesAMosaicThatKeepsEveryColour) {
  TempDir dir;
  RasterImage image;
  MakeTrueColor(image, 47, 33);
  for (const uint32_t option : {0u, 2u}) {
    image.SetEncoderOption(option, ImageFormat::Gif);
    const std::string path = dir.File("mosaic" + std::to_string(option) + ".gif");
    ASSERT_TRUE(image.Save(path, ImageFormat::Gif)) << image.ErrorText();
    const GifFile gif = ParseGif(test::ReadFileBytes(path));
    EXPECT_EQ(gif.screenPacked, 0x11);
    EXPECT_TRUE(gif.globalTable.empty());
    ASSERT_EQ(gif.frames.size(), 9u);  // 3 x 3 tiles
    // Pillow composes the tiles; its last frame is the whole picture.
    ExpectPillowReads(path, image, 8);
  }
}

TEST(GifEncoder, MosaicTilesAndTheirPlaces) {
  RasterImage image;
  MakeTrueColor(image, 20, 20);
  const GifFile gif = ParseGif(EncodeToMemory(image));
  struct Tile {
    int left, top, width, height;
  };
  const Tile want[] = {{0, 0, 17, 15}, {17, 0, 3, 15}, {0, 15, 17, 5}, {17, 15, 3, 5}};
  ASSERT_EQ(gif.frames.size(), 4u);
  ASSERT_EQ(gif.controls.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    const GifFrame& f = gif.frames[i];
    EXPECT_EQ(f.left, want[i].left);
    EXPECT_EQ(f.top, want[i].top);
    EXPECT_EQ(f.width, want[i].width);
    EXPECT_EQ(f.height, want[i].height);
    EXPECT_EQ(f.packed, 0x87);
    EXPECT_EQ(f.localTable.size(), 768u);
    EXPECT_EQ(f.codeSize, 8);
    EXPECT_EQ(gif.controls[i], (std::vector<uint8_t>{0, 0, 0, 0xFF}));
  }
  // The picture's top-left pixel is row 14 (from the bottom) of the first tile, column 0: its
  // own entry is 14 x 17 + 0 + 1.
  const RGBQUAD topLeft = image.ColorAt(0, 19);
  const auto& table = gif.frames[0].localTable;
  EXPECT_EQ(table[(14 * 17 + 1) * 3], topLeft.rgbRed);
  EXPECT_EQ(table[(14 * 17 + 1) * 3 + 1], topLeft.rgbGreen);
  EXPECT_EQ(table[(14 * 17 + 1) * 3 + 2], topLeft.rgbBlue);
}

TEST(GifEncoder, TransparentMosaicMakesTheTransparentColourClear) {
  TempDir dir;
  RasterImage image;
  MakeTrueColor(image, 30, 20);
  const RGBQUAD clear{200, 30, 90, 0};  // the flat areas' colour (blue, green, red)
  image.SetTransparentColor(clear);
  image.SetTransparentIndex(0);
  const std::string path = dir.File("clear.gif");
  ASSERT_TRUE(image.Save(path, ImageFormat::Gif)) << image.ErrorText();
  const GifFile gif = ParseGif(test::ReadFileBytes(path));
  ASSERT_FALSE(gif.frames.empty());
  EXPECT_EQ(gif.controls[0], (std::vector<uint8_t>{1, 0, 0, 0}));
  EXPECT_EQ(gif.frames[0].localTable[0], 90);  // entry 0 is the transparent colour
  std::string error;
  const auto decoded = test::PillowDecode(path, static_cast<int>(gif.frames.size()) - 1, &error);
  ASSERT_TRUE(decoded.has_value()) << error;
  int clearPixels = 0;
  for (uint32_t top = 0; top < 20; ++top) {
    for (uint32_t x = 0; x < 30; ++x) {
      const RGBQUAD want = image.ColorAt(x, 19 - top);
      const auto got = decoded->At(static_cast<int>(x), static_cast<int>(top));
      if (want == clear) {
        ++clearPixels;
        EXPECT_EQ(got[3], 0) << x << "," << top;
      } else {
        EXPECT_EQ(got[3], 255);
        EXPECT_EQ(got[0], want.rgbRed);
      }
    }
  }
  EXPECT_GT(clearPixels, 0);
}

// ---- The code stream, byte for byte ----

TEST(GifEncoder, CodeSequencesOfTinyImages) {
  struct Case {
    const char* name;
    uint32_t bpp, option;
    std::vector<int> codes, widths;
  };
  const int p = 7;  // the one index of the 8-bit images
  const std::vector<Case> cases = {
      {"8-bit LZW", 8, 0, {256, p, 258, p, 257}, {9, 9, 9, 9, 9}},
      {"8-bit run-length", 8, 2, {256, p, 258, p, 257}, {9, 9, 9, 9, 9}},
      {"8-bit literal", 8, 1, {256, p, p, p, p, 257}, {9, 9, 9, 9, 9, 9}},
      // Code size 2: the fourth code widens to 4 bits once the next free code passes 7.
      {"1-bit LZW", 1, 0, {4, 1, 6, 1, 5}, {3, 3, 3, 3, 4}},
      {"1-bit literal", 1, 1, {4, 1, 1, 1, 1, 5}, {3, 3, 3, 3, 4, 4}},
      {"1-bit run-length", 1, 2, {4, 1, 6, 1, 5}, {3, 3, 3, 3, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RasterImage image;
    ASSERT_NE(image.Create(2, 2, c.bpp, ImageFormat::None), nullptr);
    image.FillBytes(c.bpp == 8 ? p : 1);
    image.SetEncoderOption(c.option, ImageFormat::Gif);
    const GifFile gif = ParseGif(EncodeToMemory(image));
    ASSERT_EQ(gif.frames.size(), 1u);
    EXPECT_EQ(gif.frames[0].codeSize, c.bpp == 8 ? 8 : 2);
    EXPECT_EQ(gif.frames[0].data, PackCodes(c.codes, c.widths));
  }
}

TEST(GifEncoder, SubBlockSizesDependOnTheEncoding) {
  RasterImage image;
  MakeIndexed(image, 200, 100, 8);
  for (const uint32_t option : {0u, 1u, 2u}) {
    image.SetEncoderOption(option, ImageFormat::Gif);
    const GifFile gif = ParseGif(EncodeToMemory(image));
    ASSERT_EQ(gif.frames.size(), 1u);
    const auto& sizes = gif.frames[0].blockSizes;
    ASSERT_GT(sizes.size(), 2u);
    const size_t full = option == 2 ? 255 : 254;
    for (size_t i = 0; i + 1 < sizes.size(); ++i) EXPECT_EQ(sizes[i], full) << i;
    EXPECT_LE(sizes.back(), full);
  }
  // Literal codes send every pixel: the same picture takes more bytes than with LZW.
  image.SetEncoderOption(0, ImageFormat::Gif);
  const size_t lzw = EncodeToMemory(image).size();
  image.SetEncoderOption(1, ImageFormat::Gif);
  EXPECT_GT(EncodeToMemory(image).size(), lzw);
}

// ---- Header fields ----

TEST(GifEncoder, ScreenTableAndCodeSizeFollowTheDepth) {
  struct Case {
    uint32_t bpp;
    uint8_t packed;
    size_t tableBytes;
    int codeSize;
  };
  for (const Case c : {Case{1, 0x80, 6, 2}, Case{4, 0xE3, 48, 4}, Case{8, 0xE7, 768, 8}}) {
    RasterImage image;
    MakeIndexed(image, 5, 3, c.bpp);
    const GifFile gif = ParseGif(EncodeToMemory(image));
    EXPECT_EQ(gif.width, 5);
    EXPECT_EQ(gif.height, 3);
    EXPECT_EQ(gif.screenPacked, c.packed);
    ASSERT_EQ(gif.globalTable.size(), c.tableBytes);
    const RGBQUAD last = image.PaletteEntryAt(image.ColorCount() - 1);
    EXPECT_EQ(gif.globalTable[c.tableBytes - 3], last.rgbRed);
    EXPECT_EQ(gif.globalTable[c.tableBytes - 1], last.rgbBlue);
    ASSERT_EQ(gif.frames.size(), 1u);
    EXPECT_EQ(gif.frames[0].packed, 0);
    EXPECT_EQ(gif.frames[0].codeSize, c.codeSize);
  }
}

TEST(GifEncoder, GraphicControlCarriesTransparencyDelayAndDisposal) {
  RasterImage image;
  MakeIndexed(image, 4, 4, 8);
  EXPECT_EQ(ParseGif(EncodeToMemory(image)).controls.at(0),
            (std::vector<uint8_t>{0x00, 0, 0, 0xFF}));
  image.SetTransparentIndex(3);
  EXPECT_EQ(ParseGif(EncodeToMemory(image)).controls.at(0), (std::vector<uint8_t>{0x01, 0, 0, 3}));
}

TEST(GifEncoder, CommentIsWrittenWhenSetAndCutTo255Bytes) {
  RasterImage image;
  MakeIndexed(image, 4, 4, 4);
  struct Case {
    std::string text;
    std::optional<std::string> written;
  };
  const std::string long300(300, 'c');
  for (const Case& c : {Case{"", std::nullopt}, Case{"made by us", "made by us"},
                        Case{long300, long300.substr(0, 255)}}) {
    GifOptions options = GifOptionsOf(image);
    options.comment = c.text;
    MemoryStream stream;
    stream.OpenEmpty();
    const Status status = EncodeGif(image, options, stream);
    ASSERT_TRUE(status.IsOk()) << status.Message();
    EXPECT_EQ(ParseGif(test::StreamBytes(stream)).comment, c.written);
  }
}

// ---- Animation ----

TEST(GifEncoder, FramesWithLoopExtensionAndLocalTables) {
  TempDir dir;
  RasterImage first, second;
  MakeIndexed(first, 9, 7, 8);
  MakeIndexed(second, 9, 7, 8);
  second.SetPaletteEntry(1, 1, 2, 3);
  second.SetIndexAt(0, 0, 1);
  RasterImage* frames[] = {&first, &second};
  struct Case {
    int32_t loopCount;
    std::optional<int> written;
  };
  for (const Case c : {Case{0, 0}, Case{1, std::nullopt}, Case{3, 2}}) {
    RasterImageGIF gif;
    gif.SetLoopCount(c.loopCount);
    const std::string path = dir.File("anim" + std::to_string(c.loopCount) + ".gif");
    {
      UniqueFile file(std::fopen(path.c_str(), "wb"));
      FileStream stream(file.get());
      ASSERT_TRUE(gif.EncodeFrames(&stream, frames, 2, true, false)) << gif.ErrorText();
    }
    const GifFile parsed = ParseGif(test::ReadFileBytes(path));
    EXPECT_EQ(parsed.loopCount, c.written);
    ASSERT_EQ(parsed.frames.size(), 2u);
    EXPECT_TRUE(parsed.frames[0].localTable.empty());
    EXPECT_EQ(parsed.frames[1].packed, 0x87);
    EXPECT_EQ(parsed.frames[1].localTable[3], 1);
    ExpectPillowReads(path, first, 0);
    ExpectPillowReads(path, second, 1);
  }
}

TEST(GifEncoder, ImageCarryingFramesIsWrittenAsAnAnimation) {
  RasterImage image;
  MakeIndexed(image, 6, 6, 4);
  for (int i = 0; i < 3; ++i) {
    auto frame = std::make_unique<RasterImage>();
    MakeIndexed(*frame, 6, 6, 4);
    image.AppendFrame(std::move(frame));
  }
  EXPECT_EQ(ParseGif(EncodeToMemory(image)).frames.size(), 3u);
}

TEST(GifEncoder, FrameChecksRefuseWithTheirMessages) {
  RasterImage good, empty, trueColour;
  MakeIndexed(good, 4, 4, 8);
  MakeTrueColor(trueColour, 4, 4);
  MemoryStream stream;
  stream.OpenEmpty();
  struct Case {
    ByteStream* stream;
    std::vector<RasterImage*> images;
    int32_t count;
    const char* message;
  };
  const std::vector<Case> cases = {
      {nullptr, {&good}, 1, "invalid file pointer"},
      {&stream, {}, 1, "multipage GIF, no images!"},
      {&stream, {&good}, 0, "multipage GIF, no images!"},
      {&stream, {nullptr, &good}, 2, "multipage GIF, no images!"},
      {&stream, {&good, nullptr}, 2, "Bad image pointer"},
      {&stream, {&good, &empty}, 2, "Empty image"},
      {&stream,
       {&good, &trueColour},
       2,
       "RasterImageGIF::Encode cannot create animated GIFs with a true color frame. Use "
       "DecreaseBpp before"},
  };
  for (const Case& c : cases) {
    RasterImageGIF gif;
    EXPECT_FALSE(gif.EncodeFrames(c.stream, c.images.empty() ? nullptr : c.images.data(), c.count,
                                  false, false));
    EXPECT_EQ(gif.ErrorText(), c.message);
  }
  EXPECT_EQ(stream.Length(), 0);
}

// ---- Failures ----

TEST(GifEncoder, PagesBeyondSixteenBitSidesAreRefusedBeforeWriting) {
  struct Case {
    uint32_t width, height, bpp;
  };
  for (const Case c : {Case{65536, 2, 8}, Case{3, 65536, 1}, Case{70000, 1, 24}}) {
    RasterImage image;
    ASSERT_NE(image.Create(c.width, c.height, c.bpp, ImageFormat::None), nullptr);
    image.FillBytes(0);
    MemoryStream stream;
    stream.OpenEmpty();
    EXPECT_FALSE(image.Encode(&stream, ImageFormat::Gif));
    EXPECT_NE(image.ErrorText().find("GIF"), std::string::npos) << image.ErrorText();
    EXPECT_NE(image.ErrorText().find("65535"), std::string::npos) << image.ErrorText();
    EXPECT_EQ(stream.Length(), 0);
  }
  RasterImage widest;
  ASSERT_NE(widest.Create(65535, 1, 1, ImageFormat::None), nullptr);
  widest.FillBytes(0);
  EXPECT_EQ(ParseGif(EncodeToMemory(widest)).width, 65535);
}

TEST(GifEncoder, StreamThatStopsAcceptingBytesIsAnError) {
  RasterImage palette, trueColour;
  MakeIndexed(palette, 120, 80, 8);
  MakeTrueColor(trueColour, 60, 40);
  for (RasterImage* image : {&palette, &trueColour}) {
    for (const uint32_t option : {0u, 1u, 2u}) {
      for (const int64_t limit : {10, 900, 2000}) {
        image->SetEncoderOption(option, ImageFormat::Gif);
        test::StoppingStream stream(limit);
        EXPECT_FALSE(image->Encode(&stream, ImageFormat::Gif)) << option << " " << limit;
        EXPECT_EQ(image->ErrorText(), "Write Error in GIF file");
      }
    }
  }
  // A full disk: the C library reports it when the buffer is flushed.
  EXPECT_FALSE(palette.Save("/dev/full", ImageFormat::Gif));
  EXPECT_EQ(palette.ErrorText(), "Write Error in GIF file");
}

TEST(GifEncoder, EmptyImageAndMissingStream) {
  RasterImage empty, image;
  MakeIndexed(image, 2, 2, 8);
  MemoryStream stream;
  stream.OpenEmpty();
  EXPECT_FALSE(empty.Encode(&stream, ImageFormat::Gif));
  EXPECT_EQ(empty.ErrorText(), "null image!!!");
  EXPECT_FALSE(image.Encode(nullptr, ImageFormat::Gif));
  EXPECT_EQ(image.ErrorText(), "null file handler");
}

}  // namespace
}  // namespace orvalis
