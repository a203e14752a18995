// The output format table: every engine format has one row whose parts agree with the codec
// table and the colour names, and the two numberings cannot be mixed.

#include "engine/output_formats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <type_traits>

#include "image/codec_table.h"
#include "image/raster_image.h"
#include "tests/support/format_printing.h"

namespace orvalis {
namespace {

// An engine number where an image library format is meant (and the other way) does not compile.
static_assert(!std::is_convertible_v<OutputFormat, ImageFormat>);
static_assert(!std::is_convertible_v<ImageFormat, OutputFormat>);
static_assert(!std::is_convertible_v<OutputFormat, uint32_t>);
template <class Format>
concept SavesAs = requires(RasterImage& image, Format format) {
  image.Save("page", format);
};
static_assert(!SavesAs<OutputFormat>);
static_assert(!SavesAs<int>);
static_assert(SavesAs<ImageFormat>);

TEST(OutputFormats, OneRowPerEngineNumberWithAgreeingParts) {
  std::set<int> numbers;
  std::set<std::string_view> names, extensions, keys;
  for (const OutputFormatInfo& info : OutputFormats()) {
    numbers.insert(NumberOf(info.format));
    names.insert(info.cliName);
    extensions.insert(info.extension);
    EXPECT_EQ(&InfoOf(info.format), &info);
    EXPECT_EQ(OutputFormatFromNumber(NumberOf(info.format)), info.format);
    EXPECT_EQ(FindByCliName(info.cliName), &info);
    EXPECT_EQ("." + std::string(info.cliName), info.extension);
    EXPECT_NE(info.listText.find("(*" + std::string(info.extension) + ")"), std::string::npos)
        << info.listText;
    const bool metafile = info.recipe.pipeline == PipelineKind::Metafile;
    // Raster formats end in an encoder of the image library; the metafiles have none.
    const CodecEntry* codec = FindCodec(info.imageFormat);
    EXPECT_EQ(codec != nullptr && codec->encode != nullptr, !metafile) << info.format;
    EXPECT_EQ(info.colorKey.empty(), metafile) << info.format;
    EXPECT_EQ(info.colorsOffered.empty(), metafile) << info.format;
    if (!info.colorKey.empty()) keys.insert(info.colorKey);
    for (std::string_view colour : info.colorsOffered)
      EXPECT_NE(std::find(ColorNames().begin(), ColorNames().end(), colour), ColorNames().end())
          << colour;
  }
  const size_t rows = OutputFormats().size();
  EXPECT_EQ(rows, 12u);
  EXPECT_EQ(numbers.size(), rows);
  EXPECT_EQ(*numbers.begin(), 1);
  EXPECT_EQ(*numbers.rbegin(), 12);
  EXPECT_EQ(names.size(), rows);
  EXPECT_EQ(extensions.size(), rows);
  EXPECT_EQ(keys.size(), rows - 2);
  EXPECT_EQ(OutputFormatFromNumber(0), std::nullopt);
  EXPECT_EQ(OutputFormatFromNumber(13), std::nullopt);
  EXPECT_EQ(FindByCliName("JPG"), nullptr);
  EXPECT_EQ(ListTexts().size(), rows);
  EXPECT_EQ(CliNames().size(), rows);
}

TEST(OutputFormats, FormatComesFromTheListText) {
  using enum OutputFormat;
  const std::pair<OutputFormat, const char*> expected[] = {
      {Jpeg, ".jpg"}, {Tiff, ".tif"}, {Bmp, ".bmp"}, {Png, ".png"}, {Gif, ".gif"}, {Pcx, ".pcx"},
      {Wmf, ".wmf"},  {Emf, ".emf"},  {Tga, ".tga"}, {Jp2, ".jp2"}, {Jpc, ".jpc"}, {Ras, ".ras"},
  };
  for (int type = 0; type < 12; ++type) {
    const FormatChoice choice = FormatFromType(type);
    EXPECT_EQ(choice.format, expected[type].first) << type;
    EXPECT_EQ(choice.extension, expected[type].second) << type;
  }
  EXPECT_EQ(FormatFromItemText("Pictures").format, Jpeg);
  EXPECT_EQ(FormatFromItemText(".png first").format, Jpeg);  // only after the first character
  EXPECT_EQ(FormatFromType(12).format, Jpeg);
}

TEST(OutputFormats, ColourNames) {
  struct Color {
    const char* name;
    int depth;
    bool gray;
  };
  for (const Color c :
       {Color{"True Color", 24, false}, Color{"256 grays", 8, true}, Color{"256 COLOR", 8, false},
        Color{"16 Color", 4, false}, Color{"16 Grays", 4, true}, Color{"b&w", 1, false},
        Color{"Sepia", 24, false}, Color{"", 24, false}}) {
    const ColorOptions options = ColorOptionsFor(c.name);
    EXPECT_EQ(options.bitDepth, c.depth) << c.name;
    EXPECT_EQ(options.grayscale, c.gray) << c.name;
  }
}

// What converting a page costs beside drawing it: the encoder's share (TIFF's by its
// compression) and the colour reduction's, in eighths of a drawing.
TEST(OutputFormats, ConversionCostsAddTheEncoderAndTheColours) {
  const struct {
    OutputFormat format;
    const char* colour;
    int compress;
    uint32_t eighths;
  } cases[] = {
      {OutputFormat::Tga, "True Color", 3, 2},  {OutputFormat::Jpeg, "True Color", 3, 5},
      {OutputFormat::Png, "True Color", 3, 11}, {OutputFormat::Bmp, "256 Color", 3, 9},
      {OutputFormat::Gif, "256 Color", 3, 11},  {OutputFormat::Tiff, "True Color", 3, 7},
      {OutputFormat::Tiff, "B&W", 6, 4},        {OutputFormat::Tiff, "True Color", 0, 3},
      {OutputFormat::Jp2, "True Color", 3, 48}, {OutputFormat::Emf, "", 3, 2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ConversionEighths(c.format, c.colour, c.compress), c.eighths)
        << InfoOf(c.format).cliName << " " << c.colour << " " << c.compress;
  }
}

}  // namespace
}  // namespace orvalis
