// Appends pages to whatever a stream already holds: the TIFF writer reads the existing header
// and directory chain before it links a new page to it, so those bytes are untrusted input.
// The first byte chooses the page's depth and compression; the rest is the stream's content.
#include "fuzz/seed_corpus.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  orvalis::fuzz::WriteSeedsWhenAsked(&orvalis::test::TiffAppendSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const auto choices = orvalis::test::TiffPageChoices();
  const orvalis::test::TiffPageChoice choice = choices[data[0] % choices.size()];
  orvalis::MemoryStream stream;
  stream.OpenEmpty();
  stream.WriteBytes(data + 1, 1, size - 1);
  orvalis::RasterImageTIF tiff;
  if (orvalis::test::AppendTiffPage(tiff, &stream, choice))
    orvalis::test::AppendTiffPage(tiff, &stream, choice);
  tiff.EndDocument();
  return 0;
}
