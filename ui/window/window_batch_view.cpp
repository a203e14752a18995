#include "ui/window/window_batch_view.h"

#include <QFile>

namespace orvalis {

std::string WindowBatchView::RowPath(int row) const {
  if (row < 0 || row >= RowCount()) return {};
  return paths_[static_cast<size_t>(row)];
}

void WindowBatchView::SetRowStatus(int row, const std::string& status) {
  emit rowStatusChanged(row, QString::fromStdString(status));
}

void WindowBatchView::RowFinished(int row, const RowResult& result) {
  if (!result.outputs.empty())
    emit rowWrote(row, QFile::decodeName(QByteArray::fromStdString(result.outputs.front())));
  emit rowFinished(row, QString::fromLatin1(StatusText(result.status)),
                   QString::fromStdString(result.reason), static_cast<int>(result.outputs.size()));
}

}  // namespace orvalis
