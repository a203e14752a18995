#include "ui/window/dialog_units.h"

#include <QFontMetrics>

namespace orvalis {

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  // The average width of the 52 letters, rounded up, as dialog templates measure it.
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  baseX_ = (letters / 26 + 1) / 2;
  baseY_ = metrics.height();
  if (baseX_ <= 0) baseX_ = 6;
  if (baseY_ <= 0) baseY_ = 13;
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
  // Edges are rounded, not sizes, so controls that meet in units meet in pixels.
  const int left = X(x);
  const int top = Y(y);
  return {left, top, X(x + width) - left, Y(y + height) - top};
}

}  // namespace orvalis
