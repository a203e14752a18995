#include "engine/tiff_compressions.h"

#include <gtest/gtest.h>

namespace orvalis {
namespace {

// Stored Profile.ini files hold the index; scripts hold the names; the engine takes the code.
// None of them may move.
TEST(TiffCompressions, EveryChoiceKeepsItsIndexNameAndCode) {
  struct Expected {
    const char* listText;
    const char* cliName;
    int engineCode;
    bool usesQuality;
  };
  const Expected expected[] = {
      {"Uncompressed", "uncompressed", 0, false},
      {"LZW", "lzw", 1, false},
      {"RLE", "rle", 6, false},
      {"JPEG", "jpeg", 2, true},
      {"PACKBITS", "packbits", 3, false},
      {"CCITT FAX3", "fax3", 5, false},
      {"CCITT FAX4", "fax4", 4, false},
  };
  ASSERT_EQ(TiffCompressionChoices().size(), std::size(expected));
  for (int index = 0; index < static_cast<int>(std::size(expected)); ++index) {
    const Expected& e = expected[index];
    const TiffCompressionChoice& choice = TiffCompressionOf(index);
    EXPECT_EQ(choice.listText, e.listText);
    EXPECT_EQ(TiffCompressionListTexts()[static_cast<size_t>(index)], e.listText);
    EXPECT_EQ(TiffCompressionCliNames()[static_cast<size_t>(index)], e.cliName);
    EXPECT_EQ(EngineCompressionCode(index), e.engineCode) << e.cliName;
    EXPECT_EQ(choice.usesQuality, e.usesQuality) << e.cliName;
  }
  // A setting out of range has always meant JPEG.
  EXPECT_EQ(EngineCompressionCode(9), 2);
  EXPECT_EQ(EngineCompressionCode(-1), 2);
}

// The colour rule the settings page and orvalis-cli read must be the encoder's table: the
// compression named as written for a colour is the one the engine hands the encoder at that
// colour's depth, and every choice writes at least the colour it selects. (What the files hold
// is read back by tiffinfo in the orvalis-cli tests.)
TEST(TiffCompressions, TheColoursWrittenAreTheEncodersCodes) {
  for (int index = 0; index < static_cast<int>(TiffCompressionChoices().size()); ++index) {
    const TiffCompressionChoice& choice = TiffCompressionOf(index);
    EXPECT_TRUE(TiffCompressionWrites(index, TiffColourSelected(index))) << choice.cliName;
    for (const ColourChoice& colour : ColourChoices()) {
      const TiffCompressionChoice& written = TiffCompressionWritten(index, colour);
      EXPECT_EQ(written.own, TiffCompressionCode(choice.engineCode, colour.depth, colour.gray))
          << choice.cliName << " at " << colour.name;
      EXPECT_EQ(&written == &choice, TiffCompressionWrites(index, colour))
          << choice.cliName << " at " << colour.name;
    }
  }
}

}  // namespace
}  // namespace orvalis
