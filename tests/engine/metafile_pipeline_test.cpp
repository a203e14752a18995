// EMF and WMF output through whole engine jobs: the records read back with the tests' reader,
// and the pictures rendered by independent readers (libemf2svg for EMF, libwmf for WMF).

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "engine/converter.h"
#include "image/draw_to_device.h"
#include "platform/gdi.h"
#include "tests/support/metafile_reader.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_pages.h"

namespace orvalis {
namespace {

namespace fs = std::filesystem;
using test::MetaRecord;
using test::ReadFileBytes;
using test::TempDir;
using enum OutputFormat;

using Options = std::vector<std::pair<int, int>>;

// Runs one job; returns the engine's error text ("" when the file was written).
std::string Convert(OutputFormat format, const std::string& input, const std::string& output,
                    const Options& options = {}) {
  ConverterHandle job = ConverterCreate();
  ConverterSetOption(job, OptFormat, nullptr, NumberOf(format));
  ConverterSetOption(job, OptOutputPath, output.c_str(), 0);
  for (const auto& [option, value] : options) ConverterSetOption(job, option, nullptr, value);
  ConverterAddFile(job, input.c_str());
  EXPECT_EQ(ConverterRun(job), 1);
  std::string error = ConverterGetError(job);
  ConverterDestroy(job);
  return error;
}

// The page as the engine loads it: its header, colour table and rows.
struct Page {
  std::vector<uint8_t> info;
  std::vector<uint8_t> bits;
  uint32_t width = 0;
  uint32_t height = 0;
};

Page PageOf(RasterImage& image) {
  Page page;
  const uint8_t* block = image.BitmapBlock();
  const uint32_t infoBytes = BITMAPINFOHEADER::kSize + image.PaletteBytes();
  page.info.assign(block, block + infoBytes);
  page.bits.assign(block + infoBytes, block + image.BlockSize());
  page.width = image.Width();
  page.height = image.Height();
  return page;
}

Page LoadPage(const std::string& path, int angle = 0) {
  RasterImage image;
  EXPECT_TRUE(image.Load(path, ImageFormat::Bmp));
  if (angle != 0) {
    EXPECT_TRUE(image.RotateByAngle(static_cast<float>(angle)));
  }
  return PageOf(image);
}

std::vector<int32_t> Ints(const MetaRecord& record, size_t offset, size_t count) {
  std::vector<int32_t> values;
  for (size_t i = 0; i < count; ++i) values.push_back(record.I32(offset + 4 * i));
  return values;
}

std::vector<uint32_t> TypesOf(const std::vector<MetaRecord>& records) {
  std::vector<uint32_t> types;
  for (const MetaRecord& record : records) types.push_back(record.type);
  return types;
}

std::vector<MetaRecord> ReadEmf(const std::string& path) {
  std::string error;
  std::vector<MetaRecord> records = test::ReadEmfRecords(ReadFileBytes(path), &error);
  EXPECT_FALSE(records.empty()) << error;
  return records;
}

test::WmfFile ReadWmf(const std::string& path) {
  test::WmfFile wmf;
  std::string error;
  EXPECT_TRUE(test::ReadWmfFile(ReadFileBytes(path), &wmf, &error)) << error;
  return wmf;
}

const std::vector<uint32_t> kEmfSequence = {1, 38, 37, 39, 37, 43, 37, 37, 40, 40, 21, 81, 14};
const std::vector<uint32_t> kWmfSequence = {0x02FA, 0x012D, 0x02FC, 0x012D, 0x041B, 0x02FA, 0x012D,
                                            0x02FC, 0x012D, 0x01F0, 0x01F0, 0x0107, 0x0F43, 0x0000};

// Checks an EMF holding the white rectangle and `page` stretched into width x height.
void ExpectEmfPicture(const std::vector<MetaRecord>& records, const Page& page, int width,
                      int height, const std::vector<int32_t>& frame) {
  ASSERT_EQ(TypesOf(records), kEmfSequence);
  const MetaRecord& header = records[0];
  EXPECT_EQ(Ints(header, 8, 4), (std::vector<int32_t>{0, 0, width - 1, height - 1}));
  EXPECT_EQ(Ints(header, 24, 4), frame);
  EXPECT_EQ(header.U32(60), 5u);
  EXPECT_EQ(header.Slice(108, 10), (std::vector<uint8_t>{'w', 0, 'w', 0, 'w', 0, 0, 0, 0, 0}));
  EXPECT_EQ(Ints(records[1], 12, 4), (std::vector<int32_t>{0, 1, 0, 0xFFFFFF}));  // pen
  EXPECT_EQ(Ints(records[3], 12, 2), (std::vector<int32_t>{0, 0xFFFFFF}));        // brush
  EXPECT_EQ(Ints(records[5], 8, 4), (std::vector<int32_t>{0, 0, width, height}));
  EXPECT_EQ(records[10].U32(8), 3u);  // COLORONCOLOR
  const MetaRecord& stretch = records[11];
  EXPECT_EQ(Ints(stretch, 24, 6),
            (std::vector<int32_t>{0, 0, 0, 0, static_cast<int32_t>(page.width),
                                  static_cast<int32_t>(page.height)}));
  EXPECT_EQ(Ints(stretch, 72, 2), (std::vector<int32_t>{width, height}));
  EXPECT_EQ(stretch.U32(68), gdi::SRCCOPY);
  const uint32_t infoAt = stretch.U32(48), infoBytes = stretch.U32(52);
  const uint32_t bitsAt = stretch.U32(56), bitsBytes = stretch.U32(60);
  EXPECT_EQ(stretch.Slice(infoAt, infoBytes), page.info);
  EXPECT_TRUE(stretch.Slice(bitsAt, bitsBytes) == page.bits) << "the bitmap is not the page";
}

void ExpectWmfPicture(const test::WmfFile& wmf, const Page& page, int width, int height) {
  ASSERT_EQ(TypesOf(wmf.records), kWmfSequence);
  EXPECT_EQ(wmf.objects, 4);
  const MetaRecord& rectangle = wmf.records[4];
  EXPECT_EQ(
      (std::vector<int>{rectangle.I16(6), rectangle.I16(8), rectangle.I16(10), rectangle.I16(12)}),
      (std::vector<int>{height, width, 0, 0}));
  const MetaRecord& stretch = wmf.records[12];
  std::vector<int> fields;
  for (size_t at = 12; at < 28; at += 2) fields.push_back(stretch.I16(at));
  EXPECT_EQ(fields, (std::vector<int>{static_cast<int>(page.height), static_cast<int>(page.width),
                                      0, 0, height, width, 0, 0}));
  EXPECT_EQ(stretch.Slice(28, page.info.size()), page.info);
  EXPECT_TRUE(stretch.Slice(28 + page.info.size(), page.bits.size()) == page.bits)
      << "the bitmap is not the page";
}

// Restores the standard screen when a test that changed it ends.
class ScopedScreen {
 public:
  explicit ScopedScreen(const gdi::ReferenceDevice& device) { gdi::SetScreenDevice(device); }
  ~ScopedScreen() { gdi::SetScreenDevice(gdi::ReferenceDevice{}); }
};

// The picture an SVG converter embedded, as Pillow reads it.
std::optional<test::OracleImage> EmbeddedImage(const std::string& svg, const std::string& png) {
  const test::CommandResult extracted = test::RunCommand(
      {"/usr/bin/python3", "-c",
       "import sys, re, base64\n"
       "m = re.search(r'data:image/png;base64,([A-Za-z0-9+/=\\s]+)', open(sys.argv[1]).read())\n"
       "open(sys.argv[2], 'wb').write(base64.b64decode(m.group(1)))\n",
       svg, png});
  EXPECT_EQ(extracted.exitCode, 0) << extracted.err;
  std::string error;
  auto image = test::PillowDecode(png, 0, &error);
  EXPECT_TRUE(image.has_value()) << error;
  return image;
}

void ExpectTestPattern(const test::OracleImage& image, uint32_t width, uint32_t height) {
  ASSERT_EQ(image.width, static_cast<int>(width));
  ASSERT_EQ(image.height, static_cast<int>(height));
  int wrong = 0;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      const RGBQUAD want = test::TestPatternAt(x, y, width, height);
      const auto got = image.At(static_cast<int>(x), static_cast<int>(height - 1 - y));
      if (got[0] != want.rgbRed || got[1] != want.rgbGreen || got[2] != want.rgbBlue) ++wrong;
    }
  }
  EXPECT_EQ(wrong, 0);
}

// DrawToDevice draws nothing for an empty image or without a context, and otherwise sets the
// stretch mode and stretches the whole image, whatever StretchDIBits makes of it.
TEST(DrawToDevice, EmptyImageOrNoContextDrawsNothing) {
  TempDir dir;
  const std::string path = dir.File("draw.emf");
  gdi::HDC dc = gdi::CreateEnhMetaFileA(nullptr, path.c_str(), nullptr, {});
  ASSERT_NE(dc, nullptr);
  RasterImage empty;
  EXPECT_FALSE(DrawToDevice(empty, dc, 0, 0, 10, 10, gdi::SRCCOPY));
  RasterImage page;
  ASSERT_NE(page.Create(3, 2, 8, ImageFormat::Bmp), nullptr);
  page.FillBytes(7);
  EXPECT_FALSE(DrawToDevice(page, nullptr, 0, 0, 10, 10, gdi::SRCCOPY));
  EXPECT_TRUE(DrawToDevice(page, dc, 2, 3, -6, 4, 0x00EE0086));  // mirrored, SRCPAINT
  ASSERT_NE(gdi::CloseEnhMetaFile(dc), nullptr) << gdi::GetLastErrorText();
  const std::vector<MetaRecord> records = ReadEmf(path);
  ASSERT_EQ(TypesOf(records), (std::vector<uint32_t>{1, 21, 81, 14}));
  EXPECT_EQ(records[1].U32(8), 3u);
  EXPECT_EQ(Ints(records[2], 8, 4), (std::vector<int32_t>{-4, 3, 1, 6}));  // bounds
  EXPECT_EQ(Ints(records[2], 24, 6), (std::vector<int32_t>{2, 3, 0, 0, 3, 2}));
  EXPECT_EQ(records[2].U32(68), 0x00EE0086u);
  EXPECT_EQ(Ints(records[2], 72, 2), (std::vector<int32_t>{-6, 4}));
  EXPECT_EQ(records[2].Slice(80, 40 + 1024 + 8),
            std::vector<uint8_t>(page.BitmapBlock(), page.BitmapBlock() + page.BlockSize()));
}

TEST(EmfPipeline, APageAtTheReferenceScreenIsDrawnOneToOne) {
  TempDir dir;
  const std::string input = dir.File("page_001.bmp");
  ASSERT_TRUE(test::WriteTestPage(input, 1240, 1754));
  const std::string output = dir.File("page_001.emf");
  ASSERT_EQ(Convert(Emf, input, output), "");
  // 1240 x 508 x 100 / 1920 and 1754 x 286 x 100 / 1080, cut toward zero.
  ExpectEmfPicture(ReadEmf(output), LoadPage(input), 1240, 1754, {0, 0, 32808, 46448});
}

TEST(EmfPipeline, WidthAndHeightStretchThePageAndSizeTheFrame) {
  TempDir dir;
  const std::string input = dir.File("page.bmp");
  ASSERT_TRUE(test::WriteTestPage(input, 300, 400));
  const std::string output = dir.File("page.emf");
  // Gray and depth options play no part: the page keeps its 24 bits.
  ASSERT_EQ(
      Convert(
          Emf, input, output,
          {{OptWidth, 595}, {OptHeight, 842}, {OptGrayscale, 1}, {OptBitDepth, 8}, {OptXDpi, 300}}),
      "");
  // The resolution is not set for EMF: the bitmap keeps the page's own.
  ExpectEmfPicture(ReadEmf(output), LoadPage(input), 595, 842, {0, 0, 15742, 22297});

  // Width alone keeps the page's size.
  ASSERT_EQ(Convert(Emf, input, output, {{OptWidth, 595}}), "");
  ExpectEmfPicture(ReadEmf(output), LoadPage(input), 300, 400, {0, 0, 7937, 10592});
}

TEST(EmfPipeline, FrameFollowsTheScreensMillimetresPerPixel) {
  ScopedScreen screen({1280, 1024, 320, 256});
  TempDir dir;
  const std::string input = dir.File("page.bmp");
  ASSERT_TRUE(test::WriteTestPage(input, 64, 48));
  const std::string output = dir.File("page.emf");
  ASSERT_EQ(Convert(Emf, input, output, {{OptWidth, 595}, {OptHeight, 842}}), "");
  const std::vector<MetaRecord> records = ReadEmf(output);
  // 595 pixels at 320 mm / 1280 pixels: 148.75 mm.
  ExpectEmfPicture(records, LoadPage(input), 595, 842, {0, 0, 14875, 21050});
  EXPECT_EQ(Ints(records[0], 72, 4), (std::vector<int32_t>{1280, 1024, 320, 256}));
}

// Every angle, quarter turns included, goes through RotateByAngle; W x H follow the turned page.
TEST(MetafilePipelines, AnglesTurnThePageThroughRotateByAngle) {
  TempDir dir;
  const std::string input = dir.File("page.bmp");
  ASSERT_TRUE(test::WriteTestPage(input, 47, 33));
  for (const int angle : {90, 30, 270}) {
    SCOPED_TRACE(angle);
    const Page turned = LoadPage(input, angle);
    const auto w = static_cast<int>(turned.width), h = static_cast<int>(turned.height);
    const std::string emf = dir.File("page.emf");
    ASSERT_EQ(Convert(Emf, input, emf, {{OptAngle, angle}}), "");
    const std::vector<MetaRecord> records = ReadEmf(emf);
    ExpectEmfPicture(records, turned, w, h, Ints(records[0], 24, 4));
    const std::string wmf = dir.File("page.wmf");
    ASSERT_EQ(Convert(Wmf, input, wmf, {{OptAngle, angle}, {OptXDpi, 96}, {OptYDpi, 96}}), "");
    ExpectWmfPicture(ReadWmf(wmf), turned, w, h);
  }
}

TEST(WmfPipeline, ThePageCarriesTheJobsResolution) {
  TempDir dir;
  const std::string input = dir.File("page.bmp");
  ASSERT_TRUE(test::WriteTestPage(input, 47, 33));
  const std::string output = dir.File("page.wmf");
  ASSERT_EQ(
      Convert(Wmf, input, output,
              {{OptXDpi, 300}, {OptYDpi, 200}, {OptWidth, 94}, {OptHeight, 66}, {OptGrayscale, 1}}),
      "");
  const std::vector<uint8_t> file = ReadFileBytes(output);
  const test::WmfFile wmf = ReadWmf(output);
  EXPECT_EQ(wmf.type, 1);
  EXPECT_EQ(wmf.headerWords, 9);
  EXPECT_EQ(wmf.version, 0x0300);
  EXPECT_EQ(uint64_t{wmf.sizeWords} * 2, file.size());
  EXPECT_EQ(wmf.maxRecordWords, wmf.records[12].bytes.size() / 2);

  RasterImage expected;
  ASSERT_TRUE(expected.Load(input, ImageFormat::Bmp));
  expected.SetResolutionX(300);
  expected.SetResolutionY(200);
  const Page page = PageOf(expected);
  EXPECT_EQ(page.info[24] | page.info[25] << 8, 11811);  // pixels per metre at 300 dpi
  EXPECT_EQ(page.info[28] | page.info[29] << 8, 7874);
  ExpectWmfPicture(wmf, page, 94, 66);
}

TEST(MetafilePipelines, IndependentReadersRenderThePage) {
  TempDir dir;
  const std::string input = dir.File("page.bmp");
  ASSERT_TRUE(test::WriteTestPage(input, 47, 33));

  const std::string wmf = dir.File("page.wmf");
  ASSERT_EQ(Convert(Wmf, input, wmf), "");
  const std::string wmfSvg = dir.File("wmf.svg");
  const test::CommandResult libwmf = test::RunCommand({"wmf2svg", "--inline", "-o", wmfSvg, wmf});
  ASSERT_EQ(libwmf.exitCode, 0) << libwmf.err;
  if (auto image = EmbeddedImage(wmfSvg, dir.File("wmf.png"))) ExpectTestPattern(*image, 47, 33);

  const std::string emf = dir.File("page.emf");
  ASSERT_EQ(Convert(Emf, input, emf), "");
  const std::string emfSvg = dir.File("emf.svg");
  const test::CommandResult libemf2svg =
      test::RunCommand({"emf2svg-conv", "-i", emf, "-o", emfSvg});
  ASSERT_EQ(libemf2svg.exitCode, 0) << libemf2svg.err;
  if (auto image = EmbeddedImage(emfSvg, dir.File("emf.png"))) ExpectTestPattern(*image, 47, 33);
}

// Pages keep the depth they were loaded with: an 8-bit page goes in with its colour table.
TEST(MetafilePipelines, APalettePageKeepsItsDepth) {
  TempDir dir;
  const std::string input = dir.File("gray.bmp");
  {
    RasterImage gray;
    ASSERT_NE(gray.Create(21, 13, 8, ImageFormat::Bmp), nullptr);
    gray.ApplyGrayRamp();
    for (uint32_t y = 0; y < 13; ++y)
      for (uint32_t x = 0; x < 21; ++x) gray.SetIndexAt(x, y, static_cast<uint8_t>(x * 12 + y));
    ASSERT_TRUE(gray.Save(input, ImageFormat::Bmp));
  }
  const Page page = LoadPage(input);
  ASSERT_EQ(page.info.size(), 40u + 1024u);
  const std::string emf = dir.File("gray.emf");
  ASSERT_EQ(Convert(Emf, input, emf, {{OptBitDepth, 1}}), "");
  ExpectEmfPicture(ReadEmf(emf), page, 21, 13, {0, 0, 555, 344});
  const std::string wmf = dir.File("gray.wmf");
  ASSERT_EQ(Convert(Wmf, input, wmf, {{OptXDpi, 96}, {OptYDpi, 96}}), "");
  ExpectWmfPicture(ReadWmf(wmf), page, 21, 13);

  const std::string wmfSvg = dir.File("gray-wmf.svg");
  const test::CommandResult libwmf = test::RunCommand({"wmf2svg", "--inline", "-o", wmfSvg, wmf});
  ASSERT_EQ(libwmf.exitCode, 0) << libwmf.err;
  const std::string emfSvg = dir.File("gray-emf.svg");
  const test::CommandResult libemf2svg =
      test::RunCommand({"emf2svg-conv", "-i", emf, "-o", emfSvg});
  ASSERT_EQ(libemf2svg.exitCode, 0) << libemf2svg.err;
  for (const std::string& svg : {wmfSvg, emfSvg}) {
    SCOPED_TRACE(svg);
    auto image = EmbeddedImage(svg, svg + ".png");
    if (!image) continue;
    ASSERT_EQ(image->width, 21);
    ASSERT_EQ(image->height, 13);
    int wrong = 0;
    for (uint32_t y = 0; y < 13; ++y) {
      for (uint32_t x = 0; x < 21; ++x) {
        const auto v = static_cast<uint8_t>(x * 12 + y);
        const auto got = image->At(static_cast<int>(x), static_cast<int>(12 - y));
        if (got[0] != v || got[1] != v || got[2] != v) ++wrong;
      }
    }
    EXPECT_EQ(wrong, 0);
  }
}

// A job that cannot write its metafile says why and leaves no file, and nothing in place of
// an older file of the same name.
TEST(MetafilePipelines, FailuresAreReportedAndLeaveNoFile) {
  TempDir dir;
  const std::string page = dir.File("page.bmp");
  ASSERT_TRUE(test::WriteTestPage(page, 8, 8));
  const std::string wide = dir.File("wide.bmp");
  ASSERT_TRUE(test::WriteTestPage(wide, 33000, 2));
  const std::string garbage = dir.File("garbage.bmp");
  test::WriteFileBytes(garbage, {'n', 'o', 't', ' ', 'a', ' ', 'p', 'a', 'g', 'e'});

  struct Case {
    const char* name;
    OutputFormat format;
    std::string input;
    std::string output;
    Options options;
    const char* reason;
  };
  const Case cases[] = {
      {"missing page", Emf, dir.File("none.bmp"), dir.File("a.emf"), {}, "does not exist"},
      {"unreadable page", Wmf, garbage, dir.File("a.wmf"), {}, "Cannot read page"},
      {"no folder", Emf, page, dir.File("no/such/folder/a.emf"), {}, "Cannot create"},
      {"wmf too wide", Wmf, wide, dir.File("wide.wmf"), {}, "32767"},
      {"wmf stretched too far",
       Wmf,
       page,
       dir.File("far.wmf"),
       {{OptWidth, 40000}, {OptHeight, 9}},
       "32767"},
      {"emf frame beyond 32 bits",
       Emf,
       page,
       dir.File("huge.emf"),
       {{OptWidth, 100000000}, {OptHeight, 9}},
       "too large for an EMF frame"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string error = Convert(c.format, c.input, c.output, c.options);
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(c.output));
  }
  // An older file of the name stays as it was.
  const std::string kept = dir.File("kept.wmf");
  test::WriteFileBytes(kept, {'o', 'l', 'd'});
  EXPECT_NE(Convert(Wmf, wide, kept), "");
  EXPECT_EQ(ReadFileBytes(kept), (std::vector<uint8_t>{'o', 'l', 'd'}));
  // No temporary is left behind in the folder.
  for (const auto& entry : fs::directory_iterator(dir.Path()))
    EXPECT_EQ(entry.path().filename().string().find(".part"), std::string::npos) << entry.path();
}

}  // namespace
}  // namespace orvalis
