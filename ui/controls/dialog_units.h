#pragma once
// Dialog units: the page layouts are given in units of the dialog font, so that they grow with
// the font. One horizontal unit is a quarter of the font's average character width, one vertical
// unit an eighth of its character height.

#include <QRect>
#include <QSize>

class QFont;

class DialogUnits {
 public:
  DialogUnits(int averageCharWidth, int charHeight);
  // The average width of the 52 Latin letters, rounded ((width / 26 + 1) / 2), and the height.
  static DialogUnits FromFont(const QFont& font);

  int AverageCharWidth() const { return baseX_; }
  int CharHeight() const { return baseY_; }

  // The same units stretched horizontally so that `units` span `pixels` (never narrowed): a
  // page whose row of tabs is wider than the page fills the room the tabs take.
  DialogUnits WidenedTo(int units, int pixels) const;

  // Each coordinate scaled and rounded to the nearest pixel (halves away from zero).
  int X(int units) const;
  int Y(int units) const;
  QRect ToPixels(const QRect& units) const;
  QSize ToPixels(const QSize& units) const;

 private:
  int baseX_;
  int baseY_;
  // Horizontal scale: pixels = units * xNumerator_ / xDenominator_ (baseX_ / 4 unless widened).
  int xNumerator_;
  int xDenominator_;
};
