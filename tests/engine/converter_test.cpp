#include "engine/converter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "engine/image_converter.h"
#include "engine/pipelines.h"
#include "engine/tiff_compressions.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_pages.h"

namespace orvalis {
namespace {

namespace fs = std::filesystem;
using enum OutputFormat;

// Owns a job for the length of a test.
struct Job {
  ConverterHandle handle = ConverterCreate();
  ~Job() {
    if (handle) ConverterDestroy(handle);
  }
  ImageConverter& operator*() const { return *handle; }
  ImageConverter* operator->() const { return handle; }
  void Set(int option, int value) { ConverterSetOption(handle, option, nullptr, value); }
  void Set(int option, OutputFormat format) { Set(option, NumberOf(format)); }
  void SetText(int option, const std::string& text) {
    ConverterSetOption(handle, option, text.c_str(), 0);
  }
  std::string Run() {
    ConverterRun(handle);
    return ConverterGetError(handle);
  }
  std::string RunAndDestroy() {
    std::string error = Run();
    ConverterDestroy(handle);
    handle = nullptr;
    return error;
  }
};

TEST(ConverterOptions, ClampsAndIgnoresAsDocumented) {
  Job job;
  EXPECT_EQ(job->format, Jpeg);
  EXPECT_EQ(job->xDpi, 150);
  EXPECT_EQ(job->quality, 75);
  EXPECT_EQ(job->compression, 2);
  for (int format : {0, 13, -1}) {
    job.Set(OptFormat, Png);
    job.Set(OptFormat, format);
    EXPECT_EQ(job->format, Jpeg) << format;
  }
  struct Dpi {
    int given, stored;
  };
  for (const Dpi d : {Dpi{50, 72}, Dpi{700, 600}, Dpi{96, 96}, Dpi{72, 72}, Dpi{600, 600}}) {
    job.Set(OptXDpi, d.given);
    job.Set(OptYDpi, d.given);
    EXPECT_EQ(job->xDpi, d.stored);
    EXPECT_EQ(job->yDpi, d.stored);
  }
  for (int option : {OptWidth, OptHeight, OptAngle}) {
    job.Set(option, 640);
    job.Set(option, 0);
    job.Set(option, -5);
  }
  EXPECT_EQ(job->width, 640);
  EXPECT_EQ(job->height, 640);
  EXPECT_EQ(job->angle, 640);
  EXPECT_EQ(ConverterSetOption(job.handle, 3, nullptr, 9), 1);
  EXPECT_EQ(ConverterSetOption(job.handle, 99, nullptr, 9), 1);
}

TEST(ConverterOptions, PathsBecomeAbsoluteAndEmptyTextKeepsTheOldOne) {
  Job job;
  job.SetText(OptOutputPath, "page.png");
  EXPECT_EQ(job->outputPath, (fs::current_path() / "page.png").string());
  job.SetText(OptOutputPath, "");
  ConverterSetOption(job.handle, OptOutputPath, nullptr, 0);
  EXPECT_EQ(job->outputPath, (fs::current_path() / "page.png").string());
  job.SetText(OptMultiPagePath, "/tmp/x/../all.tif");
  EXPECT_EQ(job->multiPagePath, "/tmp/all.tif");
}

TEST(ConverterOptions, NullHandleIsRefusedEverywhere) {
  EXPECT_EQ(ConverterAddFile(nullptr, "a.bmp"), 0);
  EXPECT_EQ(ConverterSetOption(nullptr, OptFormat, nullptr, 1), 0);
  EXPECT_EQ(ConverterRun(nullptr), 0);
  EXPECT_EQ(ConverterDestroy(nullptr), 0);
  EXPECT_STREQ(ConverterGetError(nullptr), "");
}

// The colour plan is decided once, when the job runs, and the job's own options stay as given.
TEST(ConverterRun, DecidesTheColourPlanOnce) {
  struct Case {
    OutputFormat format;
    int requested;
    bool gray;
    int paletteDepth;
    bool grayAfter;
    int compression = 2;
    bool reduce = true;
  };
  const Case cases[] = {
      {Gif, 24, false, 8, false},
      {Gif, 4, false, 4, false},
      {Gif, 1, true, 1, true},
      {Jpeg, 8, false, 8, true},
      {Jpeg, 24, true, 8, true},
      {Jpeg, 4, false, 0, false},
      {Tga, 4, false, 0, false},
      {Tga, 1, false, 0, false},
      {Tga, 8, false, 8, false},
      {Jp2, 8, false, 0, false},
      {Ras, 24, true, 8, true},
      {Jpc, 1, false, 0, false},
      {Png, 4, false, 4, false},
      {Bmp, 16, false, 0, false},
      {Tiff, 1, false, 1, false},
      {Pcx, 8, true, 8, true},
      // Compression 7 keeps TIFF pages unreduced, and makes 8-bit pages gray levels.
      {Tiff, 8, false, 8, true, 7, false},
      {Tiff, 4, false, 4, false, 7, false},
      {Tiff, 24, false, 0, false, 7, false},
      {Png, 8, false, 8, false, 7, true},
  };
  for (const Case& c : cases) {
    ImageConverter job;
    job.format = c.format;
    job.requestedDepth = c.requested;
    job.grayscale = c.gray;
    job.compression = c.compression;
    const ColourPlan plan = DecideColour(job);
    EXPECT_EQ(plan.paletteDepth, c.paletteDepth) << NumberOf(c.format) << "/" << c.requested;
    EXPECT_EQ(plan.gray, c.grayAfter) << NumberOf(c.format) << "/" << c.requested;
    EXPECT_EQ(plan.reduce, c.reduce) << NumberOf(c.format) << "/" << c.compression;
    EXPECT_EQ(job.grayscale, c.gray) << "the job's option is left as given";
  }
}

TEST(ConverterRun, TiffCompressionTable) {
  // Columns: depth 1, 4, 8 colour, 8 gray, 24.
  struct Row {
    int compression;
    uint32_t codes[5];
  };
  const Row rows[] = {
      {0, {1, 1, 1, 1, 1}},         {1, {5, 5, 5, 5, 5}},
      {2, {4, 5, 5, 19999, 19999}}, {3, {4, 32773, 32773, 32773, 32773}},
      {4, {4, 5, 5, 5, 19999}},     {5, {3, 5, 5, 5, 19999}},
      {6, {2, 5, 5, 5, 19999}},     {7, {4, 5, 5, 5, 19999}},
      {-3, {4, 5, 5, 5, 19999}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(TiffCompressionCode(row.compression, 1, false), row.codes[0]) << row.compression;
    EXPECT_EQ(TiffCompressionCode(row.compression, 4, false), row.codes[1]) << row.compression;
    EXPECT_EQ(TiffCompressionCode(row.compression, 8, false), row.codes[2]) << row.compression;
    EXPECT_EQ(TiffCompressionCode(row.compression, 8, true), row.codes[3]) << row.compression;
    EXPECT_EQ(TiffCompressionCode(row.compression, 24, false), row.codes[4]) << row.compression;
  }
}

// An optimal palette of exactly 2, 16 or 256 entries; entries the quantizer did not fill are
// black with alpha 0, and every pixel keeps its colour when the palette can hold it.
TEST(ReduceColors, PaletteSizeAndUnusedEntries) {
  const uint8_t colours[3][3] = {{255, 0, 0}, {0, 200, 0}, {0, 0, 90}};  // red, green, blue
  for (const int depth : {1, 4, 8}) {
    RasterImage image;
    ASSERT_NE(image.Create(6, 2, 24, ImageFormat::Bmp), nullptr);
    for (uint32_t y = 0; y < 2; ++y) {
      uint8_t* row = image.RowAddress(y);
      for (uint32_t x = 0; x < 6; ++x) {
        const uint8_t* c = colours[x % 3];
        row[3 * x] = c[2], row[3 * x + 1] = c[1], row[3 * x + 2] = c[0];
      }
    }
    ASSERT_TRUE(ReduceColors(image, depth)) << depth;
    EXPECT_EQ(image.BitsPerPixel(), static_cast<uint32_t>(depth));
    EXPECT_EQ(image.ColorCount(), 1u << depth);
    if (depth == 1) continue;
    for (uint32_t x = 0; x < 6; ++x) {
      const RGBQUAD got = image.PaletteEntryAt(image.IndexAt(x, 0));
      EXPECT_EQ(got.rgbRed, colours[x % 3][0]) << depth << " x " << x;
      EXPECT_EQ(got.rgbGreen, colours[x % 3][1]) << depth << " x " << x;
      EXPECT_EQ(got.rgbBlue, colours[x % 3][2]) << depth << " x " << x;
    }
    for (uint32_t i = 3; i < (1u << depth); ++i) {
      const RGBQUAD unused = image.PaletteEntryAt(i);
      EXPECT_EQ(unused.rgbRed | unused.rgbGreen | unused.rgbBlue | unused.rgbReserved, 0)
          << depth << " entry " << i;
    }
  }
}

// ---- Whole jobs on pages made in code ----

class ConverterJobs : public ::testing::Test {
 protected:
  std::string Page(const std::string& name, uint32_t width, uint32_t height) {
    const std::string path = dir.File(name);
    EXPECT_TRUE(test::WriteTestPage(path, width, height));
    return path;
  }
  test::OracleImage Decoded(const std::string& path, int frame = 0) {
    std::string error;
    std::optional<test::OracleImage> image = test::PillowDecode(path, frame, &error);
    EXPECT_TRUE(image.has_value()) << path << ": " << error;
    return image.value_or(test::OracleImage{});
  }
  test::TempDir dir;
};

void ExpectPatternPixel(const test::OracleImage& image, int x, int yFromTop, uint32_t sx,
                        uint32_t sy, uint32_t w, uint32_t h) {
  const RGBQUAD expected = test::TestPatternAt(sx, sy, w, h);
  const auto got = image.At(x, yFromTop);
  EXPECT_EQ(got[0], expected.rgbRed) << x << "," << yFromTop;
  EXPECT_EQ(got[1], expected.rgbGreen) << x << "," << yFromTop;
  EXPECT_EQ(got[2], expected.rgbBlue) << x << "," << yFromTop;
}

TEST_F(ConverterJobs, BmpKeepsPixelsSetsResolutionAndIgnoresTheAngle) {
  Job job;
  job.Set(OptFormat, Bmp);
  job.Set(OptXDpi, 300);
  job.Set(OptYDpi, 200);
  job.Set(OptAngle, 90);
  job.SetText(OptOutputPath, dir.File("out.bmp"));
  ConverterAddFile(job.handle, Page("page.bmp", 47, 33).c_str());
  EXPECT_EQ(job.Run(), "");
  const test::OracleImage out = Decoded(dir.File("out.bmp"));
  ASSERT_EQ(out.width, 47);
  ASSERT_EQ(out.height, 33);
  // Pillow reports the resolution back from pixels per metre: [299.999..., 199.999...].
  double xDpi = 0, yDpi = 0;
  ASSERT_EQ(std::sscanf(out.info.at("dpi").c_str(), "[%lf, %lf]", &xDpi, &yDpi), 2);
  EXPECT_NEAR(xDpi, 300, 0.01);
  EXPECT_NEAR(yDpi, 200, 0.01);
  for (int y = 0; y < 33; y += 8)
    for (int x = 0; x < 47; x += 9) ExpectPatternPixel(out, x, y, x, 32 - y, 47, 33);
}

TEST_F(ConverterJobs, RotationTurnsClockwiseForPositiveAngles) {
  const uint32_t w = 5, h = 3;
  const std::string page = Page("page.bmp", w, h);
  // A TIFF without compression shows the turned pixels exactly.
  for (int angle : {90, 180, 270}) {
    Job job;
    job.Set(OptFormat, Tiff);
    job.Set(OptCompression, 0);
    job.Set(OptAngle, angle);
    const std::string out = dir.File("turned" + std::to_string(angle) + ".tif");
    job.SetText(OptOutputPath, out);
    ConverterAddFile(job.handle, page.c_str());
    ASSERT_EQ(job.Run(), "") << angle;
    const test::OracleImage image = Decoded(out);
    // Source (sx, sy) with sy from the bottom; result coordinates from the top.
    for (uint32_t sy = 0; sy < h; ++sy) {
      for (uint32_t sx = 0; sx < w; ++sx) {
        const uint32_t top = h - 1 - sy;  // source row counted from the top
        int x = 0, y = 0;
        if (angle == 90) {
          x = static_cast<int>(h - 1 - top);
          y = static_cast<int>(sx);
        }
        if (angle == 180) {
          x = static_cast<int>(w - 1 - sx);
          y = static_cast<int>(h - 1 - top);
        }
        if (angle == 270) {
          x = static_cast<int>(top);
          y = static_cast<int>(w - 1 - sx);
        }
        ExpectPatternPixel(image, x, y, sx, sy, w, h);
      }
    }
  }
}

// Angles other than quarter turns go through the free rotation; 0 leaves the page alone.
TEST_F(ConverterJobs, OtherAnglesUseTheFreeRotation) {
  const std::string page = Page("page.bmp", 21, 13);
  for (const int angle : {0, 45, 300}) {
    RasterImage ours, direct;
    ASSERT_TRUE(ours.Load(page, ImageFormat::Bmp));
    ASSERT_TRUE(direct.Load(page, ImageFormat::Bmp));
    ASSERT_TRUE(ApplyRotation(ours, angle)) << angle;
    if (angle != 0) {
      ASSERT_TRUE(direct.RotateByAngle(static_cast<float>(angle)));
    }
    ASSERT_EQ(ours.Width(), direct.Width()) << angle;
    ASSERT_EQ(ours.Height(), direct.Height()) << angle;
    EXPECT_EQ(0, std::memcmp(ours.PixelRows(), direct.PixelRows(),
                             size_t{ours.RowStride()} * ours.Height()))
        << angle;
  }
}

TEST_F(ConverterJobs, ColourDecisionsReachTheFiles) {
  struct Case {
    OutputFormat format;
    int depth;
    const char* ext;
    const char* mode;  // Pillow's mode of the output
  };
  const Case cases[] = {
      {Gif, 24, "gif", "P"},  {Jpeg, 8, "jpg", "L"}, {Tga, 4, "tga", "RGB"},
      {Jp2, 8, "jp2", "RGB"}, {Png, 1, "png", "P"},  {Bmp, 4, "bmp", "P"},
  };
  const std::string page = Page("page.bmp", 40, 30);
  for (const Case& c : cases) {
    Job job;
    job.Set(OptFormat, c.format);
    job.Set(OptBitDepth, c.depth);
    const std::string out = dir.File(std::string("out.") + c.ext);
    job.SetText(OptOutputPath, out);
    ConverterAddFile(job.handle, page.c_str());
    ASSERT_EQ(job.Run(), "") << c.ext;
    EXPECT_EQ(Decoded(out).mode, c.mode) << c.ext;
  }
}

// The TIFF page step: the page's depth and gray flag pick the compression the file carries.
TEST_F(ConverterJobs, TiffPagesCarryTheCompressionOfTheirDepth) {
  struct Case {
    int depth;
    bool gray;
    int compression;
    const char* pillowCompression;
    const char* mode;
  };
  const Case cases[] = {
      {24, false, 4, "\"jpeg\"", "RGB"},   // depth 24: JPEG, not Group 4
      {1, false, 3, "\"group4\"", "1"},    // black and white: Group 4, not PackBits
      {8, false, 7, "\"tiff_lzw\"", "L"},  // code 7 makes 8-bit pages gray, unreduced
      {8, true, 2, "\"jpeg\"", "L"},       // gray 8-bit: JPEG
      {4, false, 2, "\"tiff_lzw\"", "P"},  // palette pages: LZW for the JPEG choice
      {8, false, 3, "\"packbits\"", "P"}, {1, false, 6, "\"tiff_ccitt\"", "1"},
      {24, false, 0, "\"raw\"", "RGB"},
  };
  const std::string page = Page("page.bmp", 40, 30);
  for (const Case& c : cases) {
    Job job;
    job.Set(OptFormat, Tiff);
    job.Set(OptBitDepth, c.depth);
    job.Set(OptGrayscale, c.gray ? 1 : 0);
    job.Set(OptCompression, c.compression);
    const std::string out = dir.File("page.tif");
    job.SetText(OptOutputPath, out);
    ConverterAddFile(job.handle, page.c_str());
    ASSERT_EQ(job.Run(), "") << c.depth << "/" << c.compression;
    const test::OracleImage tif = Decoded(out);
    EXPECT_EQ(tif.info.count("compression") ? tif.info.at("compression") : "", c.pillowCompression)
        << c.depth << "/" << c.compression;
    EXPECT_EQ(tif.mode, c.mode) << c.depth << "/" << c.compression;
  }
}

TEST_F(ConverterJobs, QualityReachesTheEncoderAsItsLowByte) {
  const std::string page = Page("page.bmp", 64, 48);
  Job job;
  job.Set(OptQuality, 300);
  job.SetText(OptOutputPath, dir.File("q300.jpg"));
  ConverterAddFile(job.handle, page.c_str());
  ASSERT_EQ(job.Run(), "");

  RasterImage direct;
  ASSERT_TRUE(direct.Load(page, ImageFormat::Bmp));
  direct.SetEncoderOption(24, ImageFormat::Jpeg);
  direct.SetResolutionX(150);
  direct.SetResolutionY(150);
  direct.SetQuality(44);
  ASSERT_TRUE(direct.Save(dir.File("q44.jpg"), ImageFormat::Jpeg));
  EXPECT_EQ(test::ReadFileBytes(dir.File("q300.jpg")), test::ReadFileBytes(dir.File("q44.jpg")));
}

TEST_F(ConverterJobs, SinglePageFormatsWriteOnlyTheFirstInput) {
  Job job;
  job.Set(OptFormat, Png);
  job.SetText(OptOutputPath, dir.File("out.png"));
  ConverterAddFile(job.handle, Page("p1.bmp", 10, 10).c_str());
  ConverterAddFile(job.handle, Page("p2.bmp", 20, 20).c_str());
  EXPECT_EQ(job.Run(), "");
  EXPECT_EQ(Decoded(dir.File("out.png")).width, 10);
}

TEST_F(ConverterJobs, MergedTiffHoldsEveryPageInOrder) {
  const std::string out = dir.File("all.tif");
  {
    Job job;
    job.Set(OptFormat, Tiff);
    job.Set(OptCompression, 1);
    job.SetText(OptMultiPagePath, out);
    job.Set(OptMultiPage, 1);
    for (uint32_t k = 1; k <= 3; ++k)
      ConverterAddFile(job.handle, Page("p" + std::to_string(k) + ".bmp", 10 * k, 8).c_str());
    EXPECT_EQ(job.Run(), "");
    EXPECT_FALSE(fs::exists(out)) << "the merged file appears only when the job ends";
  }
  for (int k = 0; k < 3; ++k) {
    const test::OracleImage page = Decoded(out, k);
    EXPECT_EQ(page.frames, 3);
    EXPECT_EQ(page.width, 10 * (k + 1));
  }
}

TEST_F(ConverterJobs, MergedTiffLeavesOutUnreadablePagesAndSaysSo) {
  const std::string out = dir.File("all.tif");
  Job job;
  job.Set(OptFormat, Tiff);
  job.SetText(OptMultiPagePath, out);
  job.Set(OptMultiPage, 1);
  ConverterAddFile(job.handle, Page("p1.bmp", 10, 8).c_str());
  ConverterAddFile(job.handle, dir.File("missing.bmp").c_str());
  ConverterAddFile(job.handle, Page("p3.bmp", 30, 8).c_str());
  const std::string error = job.RunAndDestroy();
  EXPECT_NE(error.find("missing.bmp"), std::string::npos) << error;
  EXPECT_EQ(Decoded(out, 0).frames, 2);
  EXPECT_EQ(Decoded(out, 1).width, 30);
}

// The merged file is put in place by ConverterFinish, whose failure the job still reports.
TEST_F(ConverterJobs, MergedTiffFinishReportsTheLastWrite) {
  const std::string page = Page("p1.bmp", 10, 8);
  for (const bool blocked : {false, true}) {
    const std::string out = dir.File(blocked ? "blocked.tif" : "fine.tif");
    Job job;
    job.Set(OptFormat, Tiff);
    job.SetText(OptMultiPagePath, out);
    job.Set(OptMultiPage, 1);
    ConverterAddFile(job.handle, page.c_str());
    EXPECT_EQ(job.Run(), "");
    // A folder takes the name while the pages are written: the document cannot be put there.
    if (blocked) fs::create_directories(fs::path(out) / "keep");
    EXPECT_EQ(ConverterFinish(job.handle), 1);
    const std::string error = ConverterGetError(job.handle);
    if (blocked) {
      EXPECT_NE(error.find("blocked.tif"), std::string::npos) << error;
      EXPECT_TRUE(fs::is_directory(out));
    } else {
      EXPECT_EQ(error, "");
      EXPECT_EQ(Decoded(out).frames, 1) << "in place before the job is destroyed";
    }
  }
  for (const auto& entry : fs::directory_iterator(dir.Path()))
    EXPECT_NE(entry.path().extension(), ".part") << "temporary left behind";
  EXPECT_EQ(ConverterFinish(nullptr), 0);
}

TEST_F(ConverterJobs, MergedJobDestroyedWithoutRunCreatesNoFile) {
  {
    Job job;
    job.Set(OptFormat, Tiff);
    job.SetText(OptMultiPagePath, dir.File("all.tif"));
    job.Set(OptMultiPage, 1);
    ConverterAddFile(job.handle, Page("p1.bmp", 10, 8).c_str());
  }
  EXPECT_FALSE(fs::exists(dir.File("all.tif")));
}

// An abandoned merged document goes with its temporary: the file under its name stays as it
// was, later pages are refused, and neither Finish nor Destroy puts anything in place.
TEST_F(ConverterJobs, AbandonedMergedTiffLeavesTheOlderFileAlone) {
  const std::string out = dir.File("all.tif");
  std::ofstream(out) << "older";
  {
    Job job;
    job.Set(OptFormat, Tiff);
    job.SetText(OptMultiPagePath, out);
    job.Set(OptMultiPage, 1);
    ConverterAddFile(job.handle, Page("p1.bmp", 10, 8).c_str());
    ASSERT_EQ(job.Run(), "");
    ASSERT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), 3)
        << "the page, the older file and the document's temporary";
    EXPECT_EQ(ConverterAbandon(job.handle), 1);
    ConverterAddFile(job.handle, Page("p2.bmp", 20, 8).c_str());
    EXPECT_NE(job.Run().find("abandoned"), std::string::npos);
    ConverterFinish(job.handle);
  }
  EXPECT_EQ(test::ReadFileText(out), "older");
  for (const auto& entry : fs::directory_iterator(dir.Path()))
    EXPECT_NE(entry.path().extension(), ".part") << "temporary left behind";
  EXPECT_EQ(ConverterAbandon(nullptr), 0);
}

// A failed job names the problem, writes nothing, and leaves an older file alone.
TEST_F(ConverterJobs, FailuresAreReportedAndLeaveNoFile) {
  const std::string page = Page("page.bmp", 12, 9);
  std::ofstream(dir.File("not-a-page.bmp")) << "this is text, not a picture";
  std::ofstream(dir.File("a-file")) << "x";
  // A page wider than GIF's 16-bit size field: the encoder refuses it.
  const std::string wide = Page("wide.bmp", 70000, 1);

  struct Case {
    const char* name;
    std::string input;
    OutputFormat format;
    std::string output;
    const char* mentions;
  };
  const Case cases[] = {
      {"missing page", dir.File("missing.bmp"), Png, dir.File("old.png"), "missing.bmp"},
      {"not a picture", dir.File("not-a-page.bmp"), Png, dir.File("old.png"), "not-a-page.bmp"},
      {"folder missing", page, Png, dir.File("no/such/dir/out.png"), "out.png"},
      {"folder is a file", page, Png, dir.File("a-file/out.png"), "out.png"},
      {"encoder refuses", wide, Gif, dir.File("old.gif"), "old.gif"},
  };
  for (const Case& c : cases) {
    std::ofstream(dir.File("old.png")) << "older file";
    std::ofstream(dir.File("old.gif")) << "older file";
    Job job;
    job.Set(OptFormat, c.format);
    job.SetText(OptOutputPath, c.output);
    ConverterAddFile(job.handle, c.input.c_str());
    const std::string error = job.RunAndDestroy();
    EXPECT_NE(error.find(c.mentions), std::string::npos) << c.name << ": " << error;
    if (fs::path(c.output).filename().string().rfind("old", 0) == 0) {
      EXPECT_EQ(test::ReadFileBytes(c.output).size(), 10u) << c.name;
    } else {
      EXPECT_FALSE(fs::exists(c.output)) << c.name;
    }
    for (const auto& entry : fs::directory_iterator(dir.Path()))
      EXPECT_NE(entry.path().extension(), ".part") << c.name << ": temporary left behind";
  }
}

// ---- Behaviour pinned by tables, read back through Pillow ----

namespace pinned {

// Runs one job on `page` into `out`; returns the job's error text.
std::string Convert(const std::string& page, const std::string& out, OutputFormat format,
                    std::initializer_list<std::pair<int, int>> options) {
  Job job;
  job.Set(OptFormat, format);
  for (const auto& [option, value] : options) job.Set(option, value);
  job.SetText(OptOutputPath, out);
  ConverterAddFile(job.handle, page.c_str());
  return job.RunAndDestroy();
}

bool PaletteIsGray(const test::OracleImage& image) {
  if (image.mode == "1" || image.mode == "L") return true;
  if (image.mode != "P" || image.palette.size() % 3 != 0) return false;
  for (size_t i = 0; i < image.palette.size(); i += 3)
    if (image.palette[i] != image.palette[i + 1] || image.palette[i] != image.palette[i + 2])
      return false;
  return true;
}

}  // namespace pinned

// The page is turned first and then resized; a width or a height alone does not resize.
TEST_F(ConverterJobs, RotationComesBeforeResizeAndOneSideAloneDoesNotResize) {
  struct Case {
    OutputFormat format;
    const char* ext;
    int angle, width, height;
    int outWidth, outHeight;
  };
  const Case cases[] = {
      {Png, "png", 90, 100, 50, 100, 50}, {Png, "png", 0, 800, 0, 40, 30},
      {Tiff, "tif", 270, 60, 20, 60, 20}, {Jpeg, "jpg", 0, 0, 40, 40, 30},
      {Gif, "gif", 90, 0, 0, 30, 40},     {Bmp, "bmp", 90, 20, 10, 20, 10},
      {Jp2, "jp2", 180, 17, 9, 17, 9},    {Tga, "tga", 90, 0, 70, 30, 40},
      {Pcx, "pcx", 270, 12, 80, 12, 80},  {Ras, "ras", 90, 33, 0, 30, 40},
  };
  const std::string page = Page("page.bmp", 40, 30);
  for (const Case& c : cases) {
    const std::string out = dir.File("resized." + std::string(c.ext));
    ASSERT_EQ(pinned::Convert(page, out, c.format,
                              {{OptAngle, c.angle}, {OptWidth, c.width}, {OptHeight, c.height}}),
              "")
        << c.ext;
    const test::OracleImage image = Decoded(out);
    EXPECT_EQ(image.width, c.outWidth)
        << c.ext << " " << c.angle << " " << c.width << "x" << c.height;
    EXPECT_EQ(image.height, c.outHeight)
        << c.ext << " " << c.angle << " " << c.width << "x" << c.height;
  }
}

TEST_F(ConverterJobs, GrayPaletteStepGivesGrayEntriesOnly) {
  const std::string page = Page("page.bmp", 40, 30);
  struct Format {
    OutputFormat format;
    const char* ext;
  };
  for (const Format f :
       {Format{Bmp, "bmp"}, Format{Png, "png"}, Format{Gif, "gif"}, Format{Pcx, "pcx"}}) {
    for (int depth : {1, 4, 8}) {
      const std::string name = std::to_string(depth) + "." + f.ext;
      const std::string gray = dir.File("gray" + name);
      const std::string colour = dir.File("colour" + name);
      ASSERT_EQ(pinned::Convert(page, gray, f.format, {{OptBitDepth, depth}, {OptGrayscale, 1}}),
                "")
          << name;
      ASSERT_EQ(pinned::Convert(page, colour, f.format, {{OptBitDepth, depth}}), "") << name;
      const test::OracleImage image = Decoded(gray);
      EXPECT_TRUE(pinned::PaletteIsGray(image)) << name << " mode " << image.mode;
      if (depth == 1) {
        // B&W is already gray: asking for gray changes no byte.
        EXPECT_EQ(test::ReadFileBytes(gray), test::ReadFileBytes(colour)) << name;
      } else {
        EXPECT_FALSE(pinned::PaletteIsGray(Decoded(colour))) << name << ": colour page";
      }
    }
  }
  // TGA at 8 bits is always colour-mapped: a map of gray levels, or of the page's colours.
  ASSERT_EQ(pinned::Convert(page, dir.File("g.tga"), Tga, {{OptBitDepth, 8}, {OptGrayscale, 1}}),
            "");
  ASSERT_EQ(pinned::Convert(page, dir.File("c.tga"), Tga, {{OptBitDepth, 8}}), "");
  const test::OracleImage grayTga = Decoded(dir.File("g.tga"));
  const test::OracleImage colourTga = Decoded(dir.File("c.tga"));
  EXPECT_EQ(grayTga.mode, "P");
  EXPECT_TRUE(pinned::PaletteIsGray(grayTga));
  EXPECT_EQ(colourTga.mode, "P");
  EXPECT_FALSE(pinned::PaletteIsGray(colourTga));
  // The formats that are gray or true colour read back as one gray channel.
  for (const Format f :
       {Format{Jp2, "jp2"}, Format{Jpc, "jpc"}, Format{Ras, "ras"}, Format{Jpeg, "jpg"}}) {
    const std::string out = dir.File(std::string("gray.") + f.ext);
    ASSERT_EQ(pinned::Convert(page, out, f.format, {{OptGrayscale, 1}}), "") << f.ext;
    EXPECT_EQ(Decoded(out).mode, "L") << f.ext;
  }
}

TEST_F(ConverterJobs, JobWithoutInputAndSecondRunRecordTheirErrors) {
  {
    Job job;
    job.SetText(OptOutputPath, dir.File("none.png"));
    EXPECT_EQ(job.Run(), "No page was given to convert");
    EXPECT_FALSE(fs::exists(dir.File("none.png")));
  }
  Job job;
  job.Set(OptFormat, Png);
  job.SetText(OptOutputPath, dir.File("once.png"));
  ConverterAddFile(job.handle, Page("page.bmp", 8, 6).c_str());
  EXPECT_EQ(job.Run(), "");
  const auto first = test::ReadFileBytes(dir.File("once.png"));
  EXPECT_EQ(ConverterRun(job.handle), 1);
  EXPECT_STREQ(ConverterGetError(job.handle), "The job has already run");
  EXPECT_EQ(test::ReadFileBytes(dir.File("once.png")), first);
}

// Ids the engine does not know are accepted and change nothing in what is written.
TEST_F(ConverterJobs, UnknownOptionIdsChangeNoOutputByte) {
  const std::string page = Page("page.bmp", 23, 17);
  for (const OutputFormat format : {Png, Jpeg, Tiff, Gif, Emf}) {
    const std::string plain = dir.File("plain" + std::to_string(NumberOf(format)));
    const std::string noisy = dir.File("noisy" + std::to_string(NumberOf(format)));
    ASSERT_EQ(pinned::Convert(page, plain, format, {{OptBitDepth, 8}}), "");
    Job job;
    job.Set(OptFormat, format);
    job.Set(OptBitDepth, 8);
    for (const int id : {0, 3, 4, 16, 99, -1, 1000})
      for (const int value : {0, 1, 90, -7}) {
        ConverterSetOption(job.handle, id, dir.File("elsewhere").c_str(), value);
        ConverterSetOption(job.handle, id, nullptr, value);
      }
    job.SetText(OptOutputPath, noisy);
    ConverterAddFile(job.handle, page.c_str());
    ASSERT_EQ(job.RunAndDestroy(), "") << NumberOf(format);
    EXPECT_EQ(test::ReadFileBytes(noisy), test::ReadFileBytes(plain)) << NumberOf(format);
    EXPECT_FALSE(fs::exists(dir.File("elsewhere"))) << NumberOf(format);
  }
}

}  // namespace
}  // namespace orvalis
