#pragma once
// The image button's plain rules, without a widget: where the icon and the caption go, and when
// the button hovers.

#include <QPoint>
#include <QRect>
#include <QSize>

// Icon beside (0) or above (1) the caption.
enum IconAlignment { kIconLeft = 0, kIconTop = 1 };

inline constexpr QPoint kButtonMargins{3, 3};
inline constexpr QPoint kPressedOffset{1, 1};

struct IconPlacement {
  QRect icon;     // where the icon is drawn
  QRect caption;  // what is left for the caption
};

// Places an icon of `iconSize` in `item`. Left alignment: the icon sits the x margin from the
// left edge and the caption starts after it (icon centred horizontally when there is no
// caption), centred vertically. Top alignment: centred horizontally, its top at the y margin and
// the caption below it (centred vertically when there is no caption). A pressed button moves the
// icon by the pressed offset.
IconPlacement PlaceIcon(const QRect& item, const QSize& iconSize, bool hasCaption, int alignment,
                        bool pressed);

// `measured` moved so that it is centred in `area` (half the differences, integer division).
QRect CentreIn(const QRect& area, const QSize& measured);

// Hover state of one button. Hovering starts only when the mouse moves over the button without
// the left button held (a press dragged in from elsewhere does not light it up); it ends when the
// mouse moves off, and on every cancel (leave, loss of focus, deactivation, disabling).
class HoverTracker {
 public:
  // True when the state changed and the button must repaint.
  bool OnMouseMove(bool leftButtonHeld, bool overButton);
  bool Cancel();
  bool Hovering() const { return hovering_; }

 private:
  bool hovering_ = false;
};
