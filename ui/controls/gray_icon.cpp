#include "ui/controls/gray_icon.h"

#include <array>
#include <cstdint>

namespace {

// Entry i holds the gray level 255 - i; a pixel of average avg takes entry 255 - avg, and entry 1
// (254) in place of entry 0, so pure white becomes 254.
const std::array<uint8_t, 256>& ReversedGrayTable() {
  static const std::array<uint8_t, 256> table = [] {
    std::array<uint8_t, 256> levels{};
    for (int i = 0; i < 256; ++i) levels[i] = static_cast<uint8_t>(255 - i);
    return levels;
  }();
  return table;
}

}  // namespace

QImage MakeGrayIcon(const QImage& icon) {
  if (icon.isNull()) return {};
  QImage gray = icon.convertToFormat(QImage::Format_ARGB32);
  if (gray.isNull()) return {};
  const std::array<uint8_t, 256>& table = ReversedGrayTable();
  for (int y = 0; y < gray.height(); ++y) {
    QRgb* row = reinterpret_cast<QRgb*>(gray.scanLine(y));
    for (int x = 0; x < gray.width(); ++x) {
      const QRgb pixel = row[x];
      const int avg = (qBlue(pixel) + qGreen(pixel) + qRed(pixel)) / 3;
      const int alpha = qAlpha(pixel);
      if (alpha == 0 && avg == 0) continue;
      const int index = 255 - avg;
      const int level = table[index == 0 ? 1 : index];
      row[x] = qRgba(level, level, level, alpha);
    }
  }
  return gray;
}
