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

}  // namespace
}  // namespace orvalis
