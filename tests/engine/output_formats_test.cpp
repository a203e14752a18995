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

}  // namespace
}  // namespace orvalis
