#pragma once
// Reads the binary netpbm files (P5 gray, P6 colour) that command-line decoders such as
// opj_decompress and rasttopnm write, so tests can compare their pixels with ours.

#include <cctype>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace orvalis::test {

struct PnmImage {
  int channels = 0;  // 1 for P5, 3 for P6
  int width = 0;
  int height = 0;
  int maxValue = 0;
  std::vector<uint8_t> pixels;  // rows from the top, 8-bit samples only
};

// nullopt for anything but an 8-bit P5 or P6 file whose data has the size its header gives.
inline std::optional<PnmImage> ParsePnm(std::string_view bytes) {
  if (bytes.size() < 2 || bytes[0] != 'P' || (bytes[1] != '5' && bytes[1] != '6')) return {};
  PnmImage image;
  image.channels = bytes[1] == '5' ? 1 : 3;
  size_t at = 2;
  int* fields[] = {&image.width, &image.height, &image.maxValue};
  for (int* field : fields) {
    while (at < bytes.size() &&
           (std::isspace(static_cast<unsigned char>(bytes[at])) || bytes[at] == '#')) {
      if (bytes[at] == '#') {
        while (at < bytes.size() && bytes[at] != '\n') ++at;
      } else {
        ++at;
      }
    }
    if (at >= bytes.size() || !std::isdigit(static_cast<unsigned char>(bytes[at]))) return {};
    long value = 0;
    while (at < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[at]))) {
      value = value * 10 + (bytes[at++] - '0');
      if (value > 1000000) return {};
    }
    *field = static_cast<int>(value);
  }
  ++at;  // the single whitespace character before the data
  const size_t size = static_cast<size_t>(image.width) * image.height * image.channels;
  if (image.maxValue > 255 || at > bytes.size() || bytes.size() - at != size) return {};
  image.pixels.assign(bytes.begin() + at, bytes.end());
  return image;
}

}  // namespace orvalis::test
