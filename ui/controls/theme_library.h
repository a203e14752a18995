#pragma once
// CThemeLibrary: the one object through which the image buttons draw themed push-button
// backgrounds. "Themed" means a Qt style draws the button bevel; a library built without a style
// stands for a desktop without visual styles, and every operation then returns its fallback, so
// the buttons draw themselves flat with a thin border.

#include <QRect>
#include <string_view>

class QPainter;
class QStyle;
class QWidget;

// Parts and states of the themed push button, with the numbers the drawing code uses.
enum ThemeButtonPart { kThemePushButton = 1 };
enum ThemePushButtonState {
  kThemeNormal = 1,
  kThemeHot = 2,
  kThemePressed = 3,
  kThemeDisabled = 4,
  kThemeDefaulted = 5,
};

class CThemeLibrary {
 public:
  // Opened theme data: the style that draws for one paint, or null for "no theme".
  using Theme = const QStyle*;

  // Draws with the application's style, looked up on every call (the style may change).
  CThemeLibrary();
  // Draws with `style` (owned by the caller); nullptr stands for a desktop without visual styles.
  explicit CThemeLibrary(const QStyle* style);

  // A theme for the class list "BUTTON" (compared without regard to case), else null.
  Theme OpenThemeData(const QWidget* window, std::u16string_view classList) const;
  // False when there was nothing to close.
  bool CloseThemeData(Theme theme) const;
  // Fills `rect` with the background of `window`'s parent (when there is a window), then draws
  // the push-button bevel of `state`. False, with nothing drawn, without a theme or for another
  // part.
  bool DrawThemeBackground(Theme theme, const QWidget* window, QPainter* painter, int part,
                           int state, const QRect& rect) const;
  bool IsAppThemed() const;

 private:
  const QStyle* Style() const;

  bool useApplicationStyle_;
  const QStyle* style_;
};
