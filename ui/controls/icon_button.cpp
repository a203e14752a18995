#include "ui/controls/icon_button.h"

#include <QApplication>
#include <QIcon>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <algorithm>

#include "ui/controls/gray_icon.h"
#include "ui/controls/icon_table.h"
#include "ui/controls/theme_library.h"

CIconButton::CIconButton(QWidget* parent) : CIconButton(QString(), parent) {}

CIconButton::CIconButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {
  // The button tracks the mouse itself, so that it lights up without being pressed.
  setMouseTracking(true);
  setAttribute(Qt::WA_Hover, false);
  setFlat(true);
}

CIconButton::~CIconButton() = default;

int CIconButton::SetIcon(int iconId) {
  const QImage image = LoadIconImage(iconId, devicePixelRatioF());
  SetIconImage(image);
  return image.isNull() ? 1 : 0;
}

int CIconButton::SetIconImage(const QImage& icon) {
  icon_ = icon.isNull() ? QImage() : icon.convertToFormat(QImage::Format_ARGB32);
  grayIcon_ = MakeGrayIcon(icon_);
  update();
  return icon_.isNull() ? 1 : 0;
}

void CIconButton::SetAlign(int alignment, bool repaint) {
  alignment_ = alignment;
  if (repaint) update();
}

void CIconButton::SetDrawBorder(bool drawBorder, bool repaint) {
  drawBorder_ = drawBorder;
  if (repaint) update();
}

QSize CIconButton::sizeHint() const {
  const QSize textSize =
      text().isEmpty() ? QSize(0, 0) : fontMetrics().size(Qt::TextShowMnemonic, text());
  const QSize iconSize = IconSize();
  const int mx = kButtonMargins.x(), my = kButtonMargins.y();
  QSize hint;
  if (alignment_ == kIconTop)
    hint = QSize(std::max(iconSize.width(), textSize.width()) + 4 * mx,
                 my + iconSize.height() + textSize.height() + 2 * my);
  else
    hint = QSize(mx + iconSize.width() + mx + textSize.width() + 2 * mx,
                 std::max(iconSize.height(), textSize.height()) + 2 * my);
  return hint.expandedTo(QSize(icon_.isNull() ? QPushButton::sizeHint().width() : 0, 0));
}

void CIconButton::paintEvent(QPaintEvent*) {
  pressed_ = isDown();
  focused_ = hasFocus();
  disabled_ = !isEnabled();
  QPainter painter(this);
  const QRect item = rect();
  DrawBackground(painter, item);
  DrawBorder(painter, item);
  const QString caption = text();
  QRect captionRect = item;
  if (!icon_.isNull()) DrawIcon(painter, item, !caption.isEmpty(), captionRect);
  if (!caption.isEmpty()) DrawCaption(painter, captionRect, caption);
  DrawFocusCue(painter, item);
}

// A mouse user sees no focus rectangle on these flat buttons; once the window has been worked
// with the keyboard, the button with the focus shows the style's focus frame, so that a keyboard
// user can tell where Space and Enter go.
void CIconButton::DrawFocusCue(QPainter& painter, const QRect& item) {
  if (!focused_ || !window()->testAttribute(Qt::WA_KeyboardFocusChange)) return;
  QStyleOptionFocusRect option;
  option.initFrom(this);
  option.rect = item.adjusted(kButtonMargins.x() - 1, kButtonMargins.y() - 1,
                              1 - kButtonMargins.x(), 1 - kButtonMargins.y());
  option.backgroundColor = palette().color(QPalette::Button);
  style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
}

void CIconButton::DrawBackground(QPainter& painter, const QRect& item) {
  painter.fillRect(item, palette().button());
}

void CIconButton::DrawBorder(QPainter& painter, const QRect& item) {
  if (!drawBorder_ || !(pressed_ || IsHovering())) return;
  // Raised: light on the top and left, shadow on the bottom and right; sunken the other way.
  const QColor light = palette().color(QPalette::Light);
  const QColor shadow = palette().color(QPalette::Dark);
  const QColor& topLeft = pressed_ ? shadow : light;
  const QColor& bottomRight = pressed_ ? light : shadow;
  painter.fillRect(QRect(item.left(), item.top(), item.width(), 1), topLeft);
  painter.fillRect(QRect(item.left(), item.top(), 1, item.height()), topLeft);
  painter.fillRect(QRect(item.left(), item.bottom(), item.width(), 1), bottomRight);
  painter.fillRect(QRect(item.right(), item.top(), 1, item.height()), bottomRight);
}

void CIconButton::DrawIcon(QPainter& painter, const QRect& item, bool hasCaption,
                           QRect& captionRect) {
  const IconPlacement placement = PlaceIcon(item, IconSize(), hasCaption, alignment_, pressed_);
  captionRect = placement.caption;
  if (!disabled_) {
    painter.drawImage(placement.icon.topLeft(), icon_);
  } else if (!grayIcon_.isNull()) {
    painter.drawImage(placement.icon.topLeft(), grayIcon_);
  } else {
    // No gray copy: the style's own disabled look.
    QStyleOption option;
    option.initFrom(this);
    const QPixmap disabled =
        style()->generatedIconPixmap(QIcon::Disabled, QPixmap::fromImage(icon_), &option);
    painter.drawPixmap(placement.icon.topLeft(), disabled);
  }
}

void CIconButton::DrawCaption(QPainter& painter, QRect captionRect, const QString& caption) {
  if (pressed_) captionRect.translate(kPressedOffset);
  // A caption's "&" marks its mnemonic: underlined where the style underlines shortcuts.
  const int kFlags =
      Qt::TextWordWrap | Qt::AlignHCenter |
      (style()->styleHint(QStyle::SH_UnderlineShortcut, nullptr, this) ? Qt::TextShowMnemonic
                                                                       : Qt::TextHideMnemonic);
  painter.setFont(font());
  // Centred in the caption's room, drawn in all of it: a rectangle measured to the text would
  // wrap a caption whose mnemonic marker the measure and the drawing count differently.
  const int flags = kFlags | Qt::AlignVCenter;
  const QRect centred = captionRect;
  if (disabled_) {
    // Embossed: a light copy one pixel down and right, the shadow colour on top.
    painter.setPen(palette().color(QPalette::Light));
    painter.drawText(centred.translated(1, 1), flags, caption);
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawText(centred, flags, caption);
  } else {
    painter.setPen(palette().color(QPalette::ButtonText));
    painter.drawText(centred, flags, caption);
  }
}

void CIconButton::mouseMoveEvent(QMouseEvent* event) {
  QPushButton::mouseMoveEvent(event);
  const bool over = rect().contains(event->position().toPoint());
  if (hover_.OnMouseMove(event->buttons().testFlag(Qt::LeftButton), over)) update();
}

void CIconButton::enterEvent(QEnterEvent* event) {
  QPushButton::enterEvent(event);
  const bool leftHeld = QGuiApplication::mouseButtons().testFlag(Qt::LeftButton);
  if (hover_.OnMouseMove(leftHeld, rect().contains(event->position().toPoint()))) update();
}

void CIconButton::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QPushButton::mouseDoubleClickEvent(event);
    return;
  }
  // A fast second click is a click of its own: the double-click acts as a press.
  QMouseEvent press(QEvent::MouseButtonPress, event->position(), event->scenePosition(),
                    event->globalPosition(), event->button(), event->buttons(), event->modifiers(),
                    event->pointingDevice());
  mousePressEvent(&press);
  event->setAccepted(press.isAccepted());
}

void CIconButton::leaveEvent(QEvent* event) {
  QPushButton::leaveEvent(event);
  CancelHover();
}

void CIconButton::focusOutEvent(QFocusEvent* event) {
  QPushButton::focusOutEvent(event);
  CancelHover();
}

void CIconButton::changeEvent(QEvent* event) {
  QPushButton::changeEvent(event);
  switch (event->type()) {
    case QEvent::EnabledChange:
      // Only a button disabled itself gives the focus away; a disabled parent takes the focus
      // from the whole window anyway.
      if (!isEnabled() && testAttribute(Qt::WA_ForceDisabled)) GiveFocusAway();
      if (!isEnabled()) CancelHover();
      break;
    default:
      break;
  }
}

bool CIconButton::event(QEvent* event) {
  // The window's deactivation reaches every widget in it.
  if (event->type() == QEvent::WindowDeactivate) CancelHover();
  return QPushButton::event(event);
}

void CIconButton::CancelHover() {
  if (hover_.Cancel()) update();
}

// The next tab stop of the window after this button (wrapping around), else the parent.
void CIconButton::GiveFocusAway() {
  QWidget* top = window();
  for (QWidget* next = nextInFocusChain(); next != nullptr && next != this;
       next = next->nextInFocusChain()) {
    if (next->window() != top || next == top) continue;
    if ((next->focusPolicy() & Qt::TabFocus) != Qt::TabFocus) continue;
    if (!next->isEnabled() || !next->isVisibleTo(top)) continue;
    next->setFocus(Qt::TabFocusReason);
    return;
  }
  if (parentWidget() != nullptr) parentWidget()->setFocus(Qt::OtherFocusReason);
}

CThemedIconButton::CThemedIconButton(QWidget* parent) : CThemedIconButton(QString(), parent) {}

CThemedIconButton::CThemedIconButton(const QString& caption, QWidget* parent)
    : CIconButton(caption, parent) {
  SetDrawBorder(false, false);
}

void CThemedIconButton::SetThemeLibrary(const CThemeLibrary* library) {
  theme_ = library;
  if (theme_ == nullptr || !theme_->IsAppThemed()) SetDrawBorder(true);
}

bool CThemedIconButton::DrawsThemed() const {
  return theme_ != nullptr && theme_->IsAppThemed();
}

void CThemedIconButton::DrawBackground(QPainter& painter, const QRect& item) {
  if (DrawsThemed()) {
    const CThemeLibrary::Theme theme = theme_->OpenThemeData(this, u"BUTTON");
    if (theme != nullptr) {
      int state = kThemeNormal;
      if (Disabled())
        state = kThemeDisabled;
      else if (Pressed())
        state = kThemePressed;
      else if (IsHovering())
        state = kThemeHot;
      else if (DefaultButton())
        state = kThemeDefaulted;
      theme_->DrawThemeBackground(theme, this, &painter, kThemePushButton, state, item);
      theme_->CloseThemeData(theme);
      return;
    }
  }
  CIconButton::DrawBackground(painter, item);
}

void CThemedIconButton::DrawBorder(QPainter& painter, const QRect& item) {
  if (DrawsThemed()) return;
  CIconButton::DrawBorder(painter, item);
}
