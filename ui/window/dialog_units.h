#pragma once
// Dialog units to pixels through a dialog's font: a horizontal unit is a quarter of the font's
// average character width, a vertical unit an eighth of its height, so a dialog laid out in units
// keeps its proportions whatever font the desktop substitutes.

#include <QFont>
#include <QRect>

namespace orvalis {

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  int X(int units) const { return (units * baseX_ + 2) / 4; }
  int Y(int units) const { return (units * baseY_ + 4) / 8; }
  QRect Rect(int x, int y, int width, int height) const;
  QSize Size(int width, int height) const { return {X(width), Y(height)}; }

 private:
  int baseX_;
  int baseY_;
};

}  // namespace orvalis
