#pragma once
// The grayscale copy of a button icon that a disabled image button shows.

#include <QImage>

// Gray copy of a 32-bit icon. For every pixel with bytes blue, green, red and alpha,
// avg = (blue + green + red) / 3 (integer division). Fully transparent black (alpha 0 and avg 0)
// stays as it is; every other pixel keeps its alpha and gets the gray level avg in blue, green
// and red, except that pure white (avg 255) becomes 254, so that gray parts never vanish into a
// white background. The result has the icon's size in QImage::Format_ARGB32 (not premultiplied);
// a null icon gives a null image (the caller then falls back to the style's disabled effect).
QImage MakeGrayIcon(const QImage& icon);
