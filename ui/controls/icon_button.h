#pragma once
// Image buttons: push buttons that paint themselves with an icon beside or above the caption.
//
// CIconButton draws flat: no border at rest, a thin raised border while the mouse is over it and
// a thin sunken border while pressed (when its draw-border flag is on). Icon and caption move by
// one pixel while pressed; a disabled button shows a gray copy of its icon and an embossed
// caption, and gives the keyboard focus to the next tab stop. A double-click counts as two clicks.
// No focus frame is drawn until the keyboard has been used in the window.
//
// CThemedIconButton draws its background as a push button of the Qt style when a CThemeLibrary
// reports the application as themed; without one it draws like CIconButton with the border on.

#include <QImage>
#include <QPushButton>

#include "ui/controls/button_layout.h"

class CThemeLibrary;

class CIconButton : public QPushButton {
  Q_OBJECT

 public:
  explicit CIconButton(QWidget* parent = nullptr);
  explicit CIconButton(const QString& caption, QWidget* parent = nullptr);
  ~CIconButton() override;

  // Shows the icon of `iconId` from the icon table and builds its gray copy. 0 on success; 1 when
  // the table has no such icon, which leaves the button without an icon (the caption then
  // centres in the whole button).
  int SetIcon(int iconId);
  // The same with an image of any size (converted to 32 bits); a null image removes the icon.
  int SetIconImage(const QImage& icon);
  void SetAlign(int alignment, bool repaint = true);
  void SetDrawBorder(bool drawBorder, bool repaint = true);

  // Room for the icon, its margins and the caption on one line.
  QSize sizeHint() const override;

  const QImage& IconImage() const { return icon_; }
  // The icon's size on screen (its pixels divided by its device pixel ratio).
  QSize IconSize() const { return icon_.deviceIndependentSize().toSize(); }
  const QImage& GrayIconImage() const { return grayIcon_; }
  int Align() const { return alignment_; }
  bool DrawsBorder() const { return drawBorder_; }
  bool IsHovering() const { return hover_.Hovering(); }

 protected:
  // The drawing steps of one paint, in their order; a subclass may replace any of them.
  virtual void DrawBackground(QPainter& painter, const QRect& item);
  virtual void DrawBorder(QPainter& painter, const QRect& item);
  // Draws the icon and shrinks `captionRect` by the room it takes.
  virtual void DrawIcon(QPainter& painter, const QRect& item, bool hasCaption, QRect& captionRect);
  virtual void DrawCaption(QPainter& painter, QRect captionRect, const QString& caption);

  // The state the current paint draws.
  bool Pressed() const { return pressed_; }
  bool Disabled() const { return disabled_; }
  bool Focused() const { return focused_; }
  bool DefaultButton() const { return isDefault(); }

  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void DrawFocusCue(QPainter& painter, const QRect& item);
  void CancelHover();
  void GiveFocusAway();

  QImage icon_;
  QImage grayIcon_;
  int alignment_ = kIconLeft;
  bool drawBorder_ = true;
  HoverTracker hover_;
  bool pressed_ = false;
  bool focused_ = false;
  bool disabled_ = false;
};

class CThemedIconButton : public CIconButton {
  Q_OBJECT

 public:
  explicit CThemedIconButton(QWidget* parent = nullptr);
  explicit CThemedIconButton(const QString& caption, QWidget* parent = nullptr);

  // Keeps `library` (owned by the caller, which outlives the button). Without a library, or when
  // it reports the application as not themed, the button draws the thin flat border. Call it
  // before SetIcon.
  void SetThemeLibrary(const CThemeLibrary* library);
  bool DrawsThemed() const;

 protected:
  void DrawBackground(QPainter& painter, const QRect& item) override;
  void DrawBorder(QPainter& painter, const QRect& item) override;

 private:
  const CThemeLibrary* theme_ = nullptr;
};
