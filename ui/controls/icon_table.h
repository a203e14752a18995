#pragma once
// The program's icons, one table by resource id. Every icon is one 32-bit image
// (QImage::Format_ARGB32) at its own size, in points.

#include <QImage>
#include <QSize>
#include <span>

enum IconId {
  kIconApplication = 128,  // the program's own icon
  kIconRemove = 130,       // "Remove"
  kIconAddFolder = 131,    // "Add Folder"
  kIconSettings = 132,     // "Settings"
  kIconConvert = 134,      // "Start Converting"
  kIconAddFiles = 135,     // "Add File(s)"
  kIconHelp = 137,         // the help button
  kIconStop = 150,         // "Start Converting" while a conversion runs
};

class QPainter;

struct IconEntry {
  int id;
  QSize size;
  // Either drawn by this function on a canvas of `size` (its width passed as the scale)...
  void (*draw)(QPainter& painter, double size);
  // ...or taken from this resource, scaled to `size` when it has another size.
  const char* resourcePath;
};

// Every icon the program has, in id order.
std::span<const IconEntry> IconTable();

// The icon of `id` at its table size, or a null image when the table has no such id. On a screen
// with more than one pixel per point the image has that many more pixels and carries the ratio,
// so it draws at its table size, sharp (deviceIndependentSize() is the table size).
QImage LoadIconImage(int id, qreal devicePixelRatio = 1.0);
