#include "tests/support/seed_builders.h"

#include <cstdlib>
#include <fstream>

#include "image/codec_bmp.h"
#include "platform/byte_order.h"
#include "platform/profile_ini.h"

namespace orvalis::test {

namespace {

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

constexpr TiffPageChoice kTiffPageChoices[] = {
    {1, tiff_compression::kFax4},     {4, tiff_compression::kLzw},
    {8, tiff_compression::kNone},     {8, tiff_compression::kJpegYCbCr},
    {24, tiff_compression::kLzw},     {24, tiff_compression::kJpegYCbCr},
    {24, tiff_compression::kPackBits}};

Bytes TiffDocument(TiffPageChoice choice, int pages) {
  MemoryStream stream;
  stream.OpenEmpty();
  RasterImageTIF tiff;
  for (int i = 0; i < pages; ++i) AppendTiffPage(tiff, &stream, choice);
  tiff.EndDocument();
  const uint8_t* data = stream.DetachBuffer(false);
  return Bytes(data, data + stream.Length());
}

constexpr std::string_view kProfileKeys[] = {
    "type", "mode", "output", "resize",   "width", "height",   "angle",  "xdpi", "ydpi",
    "each", "bmpc", "pngc",   "pcxc",     "gifc",  "tgac",     "jp2c",   "rasc", "jpcc",
    "jpgc", "JQu",  "tifc",   "compress", "TJQu",  "multpage", "AddFile"};

}  // namespace

void WriteSeedFiles(const std::string& folder, const std::vector<Seed>& seeds) {
  for (const Seed& seed : seeds) {
    std::ofstream out(folder + "/" + seed.name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(seed.bytes.data()),
              static_cast<std::streamsize>(seed.bytes.size()));
  }
}

Bytes BmpInfoHeader(int32_t width, int32_t height, uint16_t bits, uint32_t compression,
                    uint32_t colors) {
  Bytes b;
  PutLE32(b, 40);
  PutLE32(b, static_cast<uint32_t>(width));
  PutLE32(b, static_cast<uint32_t>(height));
  PutLE16(b, 1);
  PutLE16(b, bits);
  PutLE32(b, compression);
  for (uint32_t v : {0u, 2835u, 2835u, colors, 0u}) PutLE32(b, v);
  return b;
}

Bytes BmpFile(const Bytes& dib, const Bytes& tail, size_t pixelOffset) {
  Bytes b{'B', 'M'};
  PutLE32(b, static_cast<uint32_t>(14 + dib.size() + tail.size()));
  PutLE32(b, 0);
  PutLE32(b, static_cast<uint32_t>(14 + pixelOffset));
  return Concat(Concat(b, dib), tail);
}

std::vector<Seed> BmpSeeds() {
  const Bytes palette4{0, 0, 0, 0, 255, 255, 255, 0, 0, 0, 255, 0, 0, 255, 0, 0};
  const Bytes core{12,   0, 0, 0, 3,    0, 2,   0,   1,
                   0,    1, 0, 0, 0,    0, 255, 255, 255,  // header, palette
                   0x80, 0, 0, 0, 0x40, 0, 0,   0};        // two rows
  const Bytes rle8{3, 1, 0, 3, 2, 3, 1, 0, 0, 0, 0, 2, 1, 1, 2, 2, 0, 1};
  const Bytes rle4{5, 0x12, 0, 0, 0, 3, 0x12, 0x30, 0, 2, 3, 0, 4, 0x33, 0, 1};
  const Bytes masks{0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
  const Bytes pixels16{0xFF, 0xFF, 0x1F, 0x00, 0xE0, 0x07, 0x00, 0xF8};
  const Bytes pixels32{1, 2, 3, 0, 4, 5, 6, 128, 7, 8, 9, 255, 10, 11, 12, 0};
  const Bytes pixels24{1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
  return {
      {"core.bmp", BmpFile(core, {}, 18)},
      {"rle8.bmp", BmpFile(Concat(BmpInfoHeader(5, 3, 8, 1, 4), palette4), rle8, 56)},
      {"rle4.bmp", BmpFile(Concat(BmpInfoHeader(7, 3, 4, 2, 4), palette4), rle4, 56)},
      {"bitfields16.bmp", BmpFile(Concat(BmpInfoHeader(2, 2, 16, 3, 0), masks), pixels16, 52)},
      {"rgb32.bmp", BmpFile(BmpInfoHeader(2, 2, 32, 0, 0), pixels32, 40)},
      {"topdown24.bmp", BmpFile(BmpInfoHeader(2, -2, 24, 0, 0), pixels24, 40)},
      {"headerless8.dib",
       Concat(Concat(BmpInfoHeader(3, 2, 8, 0, 4), palette4), {0, 1, 2, 0, 3, 2, 1, 0})},
  };
}

bool ClaimsALargeBmpPicture(Bytes& bytes) {
  MemoryStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
  if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M') stream.SeekTo(14, kSeekStart);
  BITMAPINFOHEADER h;
  if (!RasterImageBmp::ReadInfoHeader(&stream, &h)) return false;
  const uint64_t pixels = static_cast<uint64_t>(std::abs(static_cast<int64_t>(h.biWidth))) *
                          static_cast<uint64_t>(std::abs(static_cast<int64_t>(h.biHeight)));
  return pixels > (uint64_t{1} << 22) && pixels <= (uint64_t{1} << 31);
}

std::span<const TiffPageChoice> TiffPageChoices() {
  return kTiffPageChoices;
}

bool AppendTiffPage(RasterImageTIF& tiff, ByteStream* stream, TiffPageChoice choice) {
  if (tiff.Create(7, 5, choice.bits, ImageFormat::Bmp) == nullptr) return false;
  if (choice.bits <= 8) tiff.ApplyGrayRamp();
  tiff.FillBytes(0x5A);
  tiff.SetEncoderOption(choice.option, ImageFormat::Tiff);
  return tiff.SaveToStream(stream, true);
}

std::vector<Seed> TiffAppendSeeds() {
  const std::vector<Seed> documents = {
      {"empty", {}},
      {"one_page_lzw", TiffDocument({24, tiff_compression::kLzw}, 1)},
      {"two_pages_g4", TiffDocument({1, tiff_compression::kFax4}, 2)},
      {"jpeg_page", TiffDocument({24, tiff_compression::kJpegYCbCr}, 1)},
      {"big_endian_header", {'M', 'M', 0, 42, 0, 0, 0, 0}},
      {"bigtiff_header", {'I', 'I', 43, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
  };
  std::vector<Seed> seeds;
  for (const Seed& document : documents)
    seeds.push_back({document.name, Concat({3}, document.bytes)});
  return seeds;
}

std::span<const std::string_view> ProfileKeys() {
  return kProfileKeys;
}

std::vector<Seed> ProfileSeeds() {
  auto text = [](std::string_view s) { return Bytes(s.begin(), s.end()); };
  return {
      {"defaults.ini", text("[Set]\ntype=0\nmode=1\noutput=/home/u/My Doc/\n")},
      {"pages.ini",
       text("[Set]\r\nangle=90\r\nwidth=594\r\nheight=842\r\nresize=1\r\neach=0\r\nxdpi=300\r\n"
            "ydpi=300\r\ngifc=256 Grays\r\njpgc=True Color\r\nJQu=75\r\n")},
      {"mixed.ini",
       text("\xEF\xBB\xBF; comment\n[Other]\nxdpi=1\n[ set ]junk\n XDPI = -4294967297 \nbare\n"
            "output=\" /spaced/ \"\ntifc='B&W'\n[Set]\nlate=1\n")},
      {"broken.ini", text("[Set\nkey\n=value\n[]\n[Set]]\ntype=12abc")},
  };
}

bool ProfileRewriteKeepsOtherKeys(std::string_view bytes) {
  ProfileDocument document = ProfileDocument::Parse(bytes);
  for (std::string_view key : kProfileKeys) {
    document.GetInt("Set", key, 72);
    ParseProfileInt(document.GetString("Set", key, ""));
  }
  // The first line of the input decides which key gets which value.
  const size_t lineEnd = bytes.find('\n');
  const std::string_view head = bytes.substr(0, lineEnd == std::string_view::npos ? 0 : lineEnd);
  const std::string_view key = kProfileKeys[head.size() % std::size(kProfileKeys)];
  const std::string_view value = head.substr(head.size() / 2);
  std::string before[std::size(kProfileKeys)];
  for (size_t i = 0; i < std::size(kProfileKeys); ++i)
    before[i] = document.Find("Set", kProfileKeys[i]).value_or("<missing>");
  if (!document.Set("Set", key, value)) return true;

  const ProfileDocument reread = ProfileDocument::Parse(document.Serialize());
  if (reread.Find("Set", key) != value) return false;
  for (size_t i = 0; i < std::size(kProfileKeys); ++i) {
    if (kProfileKeys[i] != key &&
        reread.Find("Set", kProfileKeys[i]).value_or("<missing>") != before[i])
      return false;
  }
  return true;
}

}  // namespace orvalis::test
