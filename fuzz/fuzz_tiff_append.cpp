// Appends pages to whatever a stream already holds: the TIFF writer reads the existing header
// and directory chain before it links a new page to it, so those bytes are untrusted input.
// The first byte chooses the page's depth and compression; the rest is the stream's content.
// With ORVALIS_WRITE_SEEDS set, writes a seed corpus of small documents and exits.

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/seed_corpus.h"
#include "image/byte_stream.h"
#include "image/codec_tiff.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct PageChoice {
  uint32_t bits;
  uint32_t option;
};
constexpr PageChoice kChoices[] = {{1, 4},  {4, 5},      {8, 1},     {8, 19999},
                                   {24, 5}, {24, 19999}, {24, 32773}};

// Appends one small page of the chosen kind; false when the writer refused.
bool AppendPage(orvalis::RasterImageTIF& tiff, orvalis::ByteStream* stream, PageChoice choice) {
  if (tiff.Create(7, 5, choice.bits, orvalis::ImageFormat::Bmp) == nullptr) return false;
  if (choice.bits <= 8) tiff.ApplyGrayRamp();
  tiff.FillBytes(0x5A);
  tiff.SetEncoderOption(choice.option, orvalis::ImageFormat::Tiff);
  return tiff.SaveToStream(stream, true);
}

Bytes Document(PageChoice first, int pages) {
  orvalis::MemoryStream stream;
  stream.OpenEmpty();
  orvalis::RasterImageTIF tiff;
  for (int i = 0; i < pages; ++i) AppendPage(tiff, &stream, first);
  tiff.EndDocument();
  const uint8_t* data = stream.DetachBuffer(false);
  return Bytes(data, data + stream.Length());
}

void WriteSeeds(const std::string& folder) {
  const struct {
    const char* name;
    Bytes bytes;
  } seeds[] = {
      {"empty", {}},
      {"one_page_lzw", Document({24, 5}, 1)},
      {"two_pages_g4", Document({1, 4}, 2)},
      {"jpeg_page", Document({24, 19999}, 1)},
      {"big_endian_header", {'M', 'M', 0, 42, 0, 0, 0, 0}},
      {"bigtiff_header", {'I', 'I', 43, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const auto& seed : seeds) {
    Bytes bytes{3};  // page choice
    bytes.insert(bytes.end(), seed.bytes.begin(), seed.bytes.end());
    std::ofstream out(folder + "/" + seed.name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  orvalis::fuzz::WriteSeedsWhenAsked(WriteSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const PageChoice choice = kChoices[data[0] % std::size(kChoices)];
  orvalis::MemoryStream stream;
  stream.OpenEmpty();
  stream.WriteBytes(data + 1, 1, size - 1);
  orvalis::RasterImageTIF tiff;
  if (AppendPage(tiff, &stream, choice)) AppendPage(tiff, &stream, choice);
  tiff.EndDocument();
  return 0;
}
