#pragma once
// A window laid out at a size of its own (dialog units) that can still be resized: each widget
// keeps its place at the default size and follows the window's edges it is anchored to.
// A widget anchored left and right grows with the width; one anchored right only moves with the
// right edge; the same for top and bottom. At the default size every widget is where the layout
// put it.

#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>
#include <vector>

namespace orvalis {

enum Anchor : unsigned {
  kLeft = 1,
  kRight = 2,
  kTop = 4,
  kBottom = 8,
  kTopLeft = kLeft | kTop,
};

class AnchoredLayout {
 public:
  // `base`: the size of the window the widgets' geometries were given for.
  explicit AnchoredLayout(QSize base) : base_(base) {}

  // `widget`'s geometry as it is now (in its parent, at the base size), and its anchors.
  // A widget whose parent is another anchored widget follows that parent's size.
  void Add(QWidget* widget, unsigned anchors);
  // Places every widget for a window (or anchored parent) of `size`.
  void Apply(QSize size);

  QSize Base() const { return base_; }

 private:
  struct Entry {
    QPointer<QWidget> widget;
    QRect base;
    unsigned anchors;
  };
  const Entry* ParentEntry(const QWidget* widget) const;

  QSize base_;
  std::vector<Entry> entries_;
};

// `preferred` for `window`, made no larger than the screen's room for it (the work area less the
// frame the window manager adds), and never smaller than the window's minimum size.
QSize SizeThatFits(const QWidget* window, QSize preferred);
// Moves `window` so that its frame lies inside its screen's work area, when it fits there.
void KeepOnScreen(QWidget* window);

}  // namespace orvalis
