#include "ui/controls/dialog_units.h"

#include <QFont>
#include <QFontMetrics>
#include <QString>
#include <algorithm>

namespace {

// value * numerator / denominator, rounded half away from zero.
int ScaleRounded(int value, int numerator, int denominator) {
  const long long product = static_cast<long long>(value) * numerator;
  const long long half = denominator / 2;
  return static_cast<int>(product >= 0 ? (product + half) / denominator
                                       : -((-product + half) / denominator));
}

}  // namespace

DialogUnits::DialogUnits(int averageCharWidth, int charHeight)
    : baseX_(std::max(1, averageCharWidth)),
      baseY_(std::max(1, charHeight)),
      xNumerator_(baseX_),
      xDenominator_(4) {}

DialogUnits DialogUnits::WidenedTo(int units, int pixels) const {
  DialogUnits widened = *this;
  if (units > 0 && X(units) < pixels) {
    widened.xNumerator_ = pixels;
    widened.xDenominator_ = units;
  }
  return widened;
}

DialogUnits DialogUnits::FromFont(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return DialogUnits((letters / 26 + 1) / 2, metrics.height());
}

int DialogUnits::X(int units) const {
  return ScaleRounded(units, xNumerator_, xDenominator_);
}

int DialogUnits::Y(int units) const {
  return ScaleRounded(units, baseY_, 8);
}

QRect DialogUnits::ToPixels(const QRect& units) const {
  const int left = X(units.left());
  const int top = Y(units.top());
  return QRect(left, top, X(units.left() + units.width()) - left,
               Y(units.top() + units.height()) - top);
}

QSize DialogUnits::ToPixels(const QSize& units) const {
  return QSize(X(units.width()), Y(units.height()));
}
