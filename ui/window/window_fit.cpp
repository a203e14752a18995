#include "ui/window/window_fit.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

namespace orvalis {

namespace {

// The window's screen, or the primary one before the window has one.
const QScreen* ScreenOf(const QWidget* window) {
  const QScreen* screen = window->screen();
  return screen != nullptr ? screen : QGuiApplication::primaryScreen();
}

// The frame around the client area; before the window is shown, a guess of a title bar.
QMargins FrameOf(const QWidget* window) {
  if (window->isVisible()) {
    const QRect frame = window->frameGeometry();
    const QRect client = window->geometry();
    return {client.left() - frame.left(), client.top() - frame.top(),
            frame.right() - client.right(), frame.bottom() - client.bottom()};
  }
  return {};
}

}  // namespace

void AnchoredLayout::Add(QWidget* widget, unsigned anchors) {
  entries_.push_back({widget, widget->geometry(), anchors});
}

const AnchoredLayout::Entry* AnchoredLayout::ParentEntry(const QWidget* widget) const {
  for (const Entry& entry : entries_)
    if (entry.widget != nullptr && entry.widget == widget->parentWidget()) return &entry;
  return nullptr;
}

void AnchoredLayout::Apply(QSize size) {
  // Parents come before their children in the list, so a child sees its parent's new size.
  for (const Entry& entry : entries_) {
    if (entry.widget == nullptr) continue;
    const Entry* parent = ParentEntry(entry.widget);
    const QSize parentBase = parent != nullptr ? parent->base.size() : base_;
    const QSize parentNow = parent != nullptr ? parent->widget->size() : size;
    const int dx = parentNow.width() - parentBase.width();
    const int dy = parentNow.height() - parentBase.height();
    QRect rect = entry.base;
    if ((entry.anchors & kLeft) && (entry.anchors & kRight)) {
      rect.setWidth(std::max(0, rect.width() + dx));
    } else if (entry.anchors & kRight) {
      rect.translate(dx, 0);
    }
    if ((entry.anchors & kTop) && (entry.anchors & kBottom)) {
      rect.setHeight(std::max(0, rect.height() + dy));
    } else if (entry.anchors & kBottom) {
      rect.translate(0, dy);
    }
    entry.widget->setGeometry(rect);
  }
}

QSize SizeThatFits(const QWidget* window, QSize preferred) {
  const QScreen* screen = ScreenOf(window);
  if (screen == nullptr) return preferred;
  const QMargins frame = FrameOf(window);
  const QSize room = screen->availableGeometry().size().shrunkBy(frame);
  return preferred.boundedTo(room).expandedTo(window->minimumSize());
}

void KeepOnScreen(QWidget* window) {
  const QScreen* screen = ScreenOf(window);
  if (screen == nullptr) return;
  const QRect area = screen->availableGeometry();
  QRect frame = window->frameGeometry();
  if (frame.right() > area.right()) frame.moveRight(area.right());
  if (frame.bottom() > area.bottom()) frame.moveBottom(area.bottom());
  if (frame.left() < area.left()) frame.moveLeft(area.left());
  if (frame.top() < area.top()) frame.moveTop(area.top());
  if (frame.topLeft() != window->frameGeometry().topLeft()) window->move(frame.topLeft());
}

}  // namespace orvalis
