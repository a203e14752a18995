#include "ui/controls/icon_table.h"

#include <QColor>
#include <QFile>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>
#include <algorithm>
#include <cmath>

// Resources of a static library are registered by hand, since nothing else refers to them.
static void InitIconResources() {
  static const bool registered = [] {
    Q_INIT_RESOURCE(icons);
    return true;
  }();
  (void)registered;
}

// The application icon's artwork comes as PNG files in the program's resources; the button icons
// are drawn here, on a 32- or 48-pixel canvas, so they stay sharp and need no files.

namespace {

const QColor kOutline(60, 60, 60);

// A sheet of paper with a folded top-right corner, filling the left part of the canvas.
void DrawPage(QPainter& p, double s) {
  const double left = s * 0.16, top = s * 0.06, right = s * 0.72, bottom = s * 0.88;
  const double fold = s * 0.2;
  QPainterPath page;
  page.moveTo(left, top);
  page.lineTo(right - fold, top);
  page.lineTo(right, top + fold);
  page.lineTo(right, bottom);
  page.lineTo(left, bottom);
  page.closeSubpath();
  QLinearGradient paper(left, top, right, bottom);
  paper.setColorAt(0, QColor(255, 255, 255));
  paper.setColorAt(1, QColor(222, 228, 236));
  p.setPen(QPen(kOutline, s / 32.0));
  p.setBrush(paper);
  p.drawPath(page);
  QPainterPath corner;
  corner.moveTo(right - fold, top);
  corner.lineTo(right - fold, top + fold);
  corner.lineTo(right, top + fold);
  p.setBrush(QColor(200, 206, 214));
  p.drawPath(corner);
  p.setPen(QPen(QColor(150, 160, 175), s / 32.0));
  for (double y = top + fold + s * 0.08; y < bottom - s * 0.08; y += s * 0.1)
    p.drawLine(QPointF(left + s * 0.08, y), QPointF(right - s * 0.08, y));
}

// A yellow folder.
void DrawFolder(QPainter& p, double s) {
  QPainterPath back;
  back.moveTo(s * 0.04, s * 0.2);
  back.lineTo(s * 0.34, s * 0.2);
  back.lineTo(s * 0.42, s * 0.28);
  back.lineTo(s * 0.84, s * 0.28);
  back.lineTo(s * 0.84, s * 0.84);
  back.lineTo(s * 0.04, s * 0.84);
  back.closeSubpath();
  p.setPen(QPen(QColor(150, 110, 20), s / 32.0));
  p.setBrush(QColor(230, 180, 60));
  p.drawPath(back);
  QLinearGradient front(0, s * 0.36, 0, s * 0.84);
  front.setColorAt(0, QColor(255, 226, 130));
  front.setColorAt(1, QColor(240, 190, 70));
  QPolygonF flap;
  flap << QPointF(s * 0.04, s * 0.84) << QPointF(s * 0.12, s * 0.38) << QPointF(s * 0.92, s * 0.38)
       << QPointF(s * 0.84, s * 0.84);
  p.setBrush(front);
  p.drawPolygon(flap);
}

// A round badge in the bottom-right corner with a plus (or a minus) on it.
void DrawBadge(QPainter& p, double s, const QColor& colour, bool plus) {
  const QRectF circle(s * 0.5, s * 0.5, s * 0.48, s * 0.48);
  QRadialGradient fill(circle.center() - QPointF(s * 0.06, s * 0.06), circle.width() * 0.6);
  fill.setColorAt(0, colour.lighter(135));
  fill.setColorAt(1, colour);
  p.setPen(QPen(colour.darker(150), s / 32.0));
  p.setBrush(fill);
  p.drawEllipse(circle);
  p.setPen(QPen(Qt::white, s * 0.09, Qt::SolidLine, Qt::FlatCap));
  const QPointF c = circle.center();
  const double arm = circle.width() * 0.28;
  p.drawLine(c - QPointF(arm, 0), c + QPointF(arm, 0));
  if (plus) p.drawLine(c - QPointF(0, arm), c + QPointF(0, arm));
}

const QColor kGreen(40, 160, 60);
const QColor kRed(205, 45, 40);
const QColor kBlue(40, 110, 200);

void DrawAddFiles(QPainter& p, double s) {
  DrawPage(p, s);
  DrawBadge(p, s, kGreen, true);
}

void DrawAddFolder(QPainter& p, double s) {
  DrawFolder(p, s);
  DrawBadge(p, s, kGreen, true);
}

void DrawRemove(QPainter& p, double s) {
  DrawPage(p, s);
  DrawBadge(p, s, kRed, false);
}

// A gear: a toothed wheel with a hole.
void DrawSettings(QPainter& p, double s) {
  const QPointF c(s / 2, s / 2);
  const int teeth = 8;
  const double outer = s * 0.46, inner = s * 0.34;
  QPainterPath wheel;
  for (int i = 0; i < teeth * 4; ++i) {
    const double angle = (i - 0.5) * M_PI / (teeth * 2);
    const double r = (i % 4 == 0 || i % 4 == 1) ? outer : inner;
    const QPointF point(c.x() + r * std::cos(angle), c.y() + r * std::sin(angle));
    if (i == 0)
      wheel.moveTo(point);
    else
      wheel.lineTo(point);
  }
  wheel.closeSubpath();
  wheel.addEllipse(c, s * 0.13, s * 0.13);
  wheel.setFillRule(Qt::OddEvenFill);
  QLinearGradient metal(0, 0, s, s);
  metal.setColorAt(0, QColor(190, 196, 206));
  metal.setColorAt(1, QColor(105, 112, 125));
  p.setPen(QPen(QColor(70, 75, 85), s / 32.0));
  p.setBrush(metal);
  p.drawPath(wheel);
}

// A round button with a symbol: used for converting, stopping and help.
void DrawDisc(QPainter& p, double s, const QColor& colour) {
  const QRectF circle(s * 0.05, s * 0.05, s * 0.9, s * 0.9);
  QRadialGradient fill(circle.center() - QPointF(s * 0.15, s * 0.15), s * 0.6);
  fill.setColorAt(0, colour.lighter(150));
  fill.setColorAt(1, colour);
  p.setPen(QPen(colour.darker(160), s / 32.0));
  p.setBrush(fill);
  p.drawEllipse(circle);
}

void DrawConvert(QPainter& p, double s) {
  DrawDisc(p, s, kGreen);
  QPolygonF play;
  play << QPointF(s * 0.38, s * 0.26) << QPointF(s * 0.76, s * 0.5) << QPointF(s * 0.38, s * 0.74);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawPolygon(play);
}

void DrawStop(QPainter& p, double s) {
  DrawDisc(p, s, kRed);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawRoundedRect(QRectF(s * 0.31, s * 0.31, s * 0.38, s * 0.38), s * 0.04, s * 0.04);
}

void DrawHelp(QPainter& p, double s) {
  DrawDisc(p, s, kBlue);
  // A question mark from an arc, a short stem and a dot, so it needs no font.
  QPainterPath hook;
  const QRectF arc(s * 0.34, s * 0.2, s * 0.32, s * 0.3);
  hook.arcMoveTo(arc, 160);
  hook.arcTo(arc, 160, -250);
  hook.lineTo(s * 0.5, s * 0.6);
  p.setPen(QPen(Qt::white, s * 0.1, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  p.drawPath(hook);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(s * 0.5, s * 0.75), s * 0.065, s * 0.065);
}

// What each picture shows: 128 the program's icon; 130 a page with a red minus; 131 a folder
// with a green plus; 132 a gear; 134 a green play disc; 135 a page with a green plus; 137 a blue
// question disc; 150 a red stop disc.
const IconEntry kIcons[] = {
    {kIconApplication, {32, 32}, nullptr, ":/orvalis/icons/app/kestrune-orvalis-32.png"},
    {kIconRemove, {32, 32}, DrawRemove, nullptr},
    {kIconAddFolder, {32, 32}, DrawAddFolder, nullptr},
    {kIconSettings, {32, 32}, DrawSettings, nullptr},
    {kIconConvert, {48, 48}, DrawConvert, nullptr},
    {kIconAddFiles, {32, 32}, DrawAddFiles, nullptr},
    {kIconHelp, {32, 32}, DrawHelp, nullptr},
    {kIconStop, {48, 48}, DrawStop, nullptr},
};

QImage Draw(const IconEntry& source, const QSize& pixels) {
  QImage canvas(pixels, QImage::Format_ARGB32_Premultiplied);
  canvas.fill(Qt::transparent);
  QPainter painter(&canvas);
  painter.setRenderHint(QPainter::Antialiasing);
  source.draw(painter, pixels.width());
  painter.end();
  return canvas.convertToFormat(QImage::Format_ARGB32);
}

QImage Load(const IconEntry& source, const QSize& pixels) {
  InitIconResources();
  QImage image(QString::fromLatin1(source.resourcePath));
  if (image.isNull()) return {};
  if (image.size() != pixels)
    image = image.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  return image.convertToFormat(QImage::Format_ARGB32);
}

}  // namespace

std::span<const IconEntry> IconTable() {
  return kIcons;
}

QImage LoadIconImage(int id, qreal devicePixelRatio) {
  const auto found = std::find_if(std::begin(kIcons), std::end(kIcons),
                                  [id](const IconEntry& entry) { return entry.id == id; });
  if (found == std::end(kIcons)) return {};
  const qreal ratio = devicePixelRatio > 1.0 ? devicePixelRatio : 1.0;
  const QSize pixels = (QSizeF(found->size) * ratio).toSize();
  QImage image = found->draw != nullptr ? Draw(*found, pixels) : Load(*found, pixels);
  image.setDevicePixelRatio(ratio);
  return image;
}
