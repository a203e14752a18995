#include "ui/controls/button_layout.h"

IconPlacement PlaceIcon(const QRect& item, const QSize& iconSize, bool hasCaption, int alignment,
                        bool pressed) {
  IconPlacement placement{QRect(item.topLeft(), iconSize), item};
  QRect& icon = placement.icon;
  const int centredLeft = item.left() + (item.width() - iconSize.width()) / 2;
  const int centredTop = item.top() + (item.height() - iconSize.height()) / 2;
  if (alignment == kIconTop) {
    icon.moveLeft(centredLeft);
    if (!hasCaption) {
      icon.moveTop(centredTop);
    } else {
      icon.moveTop(item.top() + kButtonMargins.y());
      placement.caption.setTop(item.top() + iconSize.height());
    }
  } else {
    if (!hasCaption) {
      icon.moveLeft(centredLeft);
    } else {
      icon.moveLeft(item.left() + kButtonMargins.x());
      placement.caption.setLeft(item.left() + iconSize.width() + kButtonMargins.x());
    }
    icon.moveTop(centredTop);
  }
  if (pressed) icon.translate(kPressedOffset);
  return placement;
}

QRect CentreIn(const QRect& area, const QSize& measured) {
  return QRect(QPoint(area.left() + (area.width() - measured.width()) / 2,
                      area.top() + (area.height() - measured.height()) / 2),
               measured);
}

bool HoverTracker::OnMouseMove(bool leftButtonHeld, bool overButton) {
  if (leftButtonHeld && !hovering_) return false;
  if (!overButton) return Cancel();
  if (hovering_) return false;
  hovering_ = true;
  return true;
}

bool HoverTracker::Cancel() {
  if (!hovering_) return false;
  hovering_ = false;
  return true;
}
