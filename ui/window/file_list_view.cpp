#include "ui/window/file_list_view.h"

#include <QPainter>
#include <QPen>

namespace orvalis {

FileListView::FileListView(QWidget* parent) : QTreeView(parent) {}

void FileListView::SetPlaceholder(const QString& text) {
  placeholder_ = text;
  UpdateDescription();
  viewport()->update();
}

void FileListView::setModel(QAbstractItemModel* model) {
  QTreeView::setModel(model);
  if (model == nullptr) return;
  for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
    connect(model, signal, this, &FileListView::UpdateDescription);
  connect(model, &QAbstractItemModel::modelReset, this, &FileListView::UpdateDescription);
  UpdateDescription();
}

bool FileListView::Empty() const {
  return model() == nullptr || model()->rowCount(rootIndex()) == 0;
}

void FileListView::UpdateDescription() {
  setAccessibleDescription(Empty() ? placeholder_ : QString());
}

void FileListView::paintEvent(QPaintEvent* event) {
  QTreeView::paintEvent(event);
  if (!Empty() || placeholder_.isEmpty()) return;
  QPainter painter(viewport());
  QColor colour = palette().color(QPalette::Text);
  colour.setAlphaF(0.6f);
  painter.setPen(colour);
  const int margin = fontMetrics().averageCharWidth() * 2;
  painter.drawText(viewport()->rect().adjusted(margin, margin, -margin, -margin),
                   Qt::AlignCenter | Qt::TextWordWrap, placeholder_);
}

void FileListView::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                           const QModelIndex& index) const {
  QTreeView::drawRow(painter, option, index);
  if (!hasFocus() || index.row() != currentIndex().row() || index.parent() != rootIndex()) return;
  // Two pixels in the text colour, inside the row: plain to see on the highlight and off it.
  painter->save();
  QPen pen(palette().color(QPalette::Text), 2);
  pen.setJoinStyle(Qt::MiterJoin);
  painter->setPen(pen);
  painter->setBrush(Qt::NoBrush);
  QRect row = option.rect;
  row.setLeft(0);
  row.setRight(viewport()->width() - 1);
  painter->drawRect(QRectF(row).adjusted(1, 1, -1, -1));
  painter->restore();
}

}  // namespace orvalis
