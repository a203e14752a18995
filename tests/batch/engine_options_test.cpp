// How the driver turns the settings into engine options, for every output format: each format
// reads its own colour setting and only JPEG and TIFF carry a quality.

#include <gtest/gtest.h>

#include "batch/batch_converter.h"
#include "engine/image_converter.h"
#include "tests/support/format_printing.h"

namespace orvalis {
namespace {

using enum OutputFormat;

TEST(EngineOptions, EachFormatReadsItsOwnColourAndQuality) {
  struct Row {
    OutputFormat format;
    std::string ConversionSettings::*colour;  // nullptr: the format has no colour setting
    int quality;                              // what the job carries
  };
  const Row rows[] = {
      {Jpeg, &ConversionSettings::jpgc, 41},
      {Tiff, &ConversionSettings::tifc, 33},
      {Bmp, &ConversionSettings::bmpc, 75},
      {Png, &ConversionSettings::pngc, 75},
      {Gif, &ConversionSettings::gifc, 75},
      {Pcx, &ConversionSettings::pcxc, 75},
      {Wmf, nullptr, 75},
      {Emf, nullptr, 75},
      {Tga, &ConversionSettings::tgac, 75},
      {Jp2, &ConversionSettings::jp2c, 75},
      {Jpc, &ConversionSettings::jpcc, 75},
      {Ras, &ConversionSettings::rasc, 75},
  };
  std::string ConversionSettings::*const colourKeys[] = {
      &ConversionSettings::bmpc, &ConversionSettings::pngc, &ConversionSettings::pcxc,
      &ConversionSettings::gifc, &ConversionSettings::tgac, &ConversionSettings::jp2c,
      &ConversionSettings::rasc, &ConversionSettings::jpcc, &ConversionSettings::jpgc,
      &ConversionSettings::tifc};
  for (const Row& row : rows) {
    for (const int angle : {0, -90}) {
      ConversionSettings s;
      s.xdpi = s.ydpi = 120;
      // Every other format's colour is B&W; this format's own is 16 grays.
      for (auto key : colourKeys) s.*key = "B&W";
      if (row.colour != nullptr) s.*(row.colour) = "16 Grays";
      s.JQu = 41;
      s.TJQu = 33;
      s.compress = 2;
      s.angle = angle;
      s.resize = 0;
      s.width = 640;
      s.height = 480;
      ConverterHandle job = ConverterCreate();
      BatchConverter::ApplySettings(job, row.format, s);
      EXPECT_EQ(job->format, row.format);
      EXPECT_EQ(job->requestedDepth, row.colour != nullptr ? 4 : 24) << row.format;
      EXPECT_EQ(job->grayscale, row.colour != nullptr) << row.format;
      EXPECT_EQ(job->quality, row.quality) << row.format;
      EXPECT_EQ(job->compression, row.format == Tiff ? 6 : 2) << row.format;
      EXPECT_EQ(job->angle, 0) << row.format << " angle " << angle;
      EXPECT_EQ(job->width, 0) << row.format << ": resizing is off";
      ConverterDestroy(job);
    }
  }
}

}  // namespace
}  // namespace orvalis
