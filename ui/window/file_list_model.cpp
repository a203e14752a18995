#include "ui/window/file_list_model.h"

#include <QFile>
#include <algorithm>
#include <filesystem>
#include <functional>

#include "ui/settings/app_paths.h"

namespace orvalis {

bool HasPostScriptExtension(std::string_view path) {
  if (path.size() < 3) return false;
  const std::string_view tail = path.substr(path.size() - 3);
  return tail[0] == '.' && (tail[1] == 'p' || tail[1] == 'P') && (tail[2] == 's' || tail[2] == 'S');
}

std::optional<FileRow> RowForFile(const std::string& path) {
  if (!HasPostScriptExtension(path) || !AppPaths::FileExists(path)) return std::nullopt;
  // The list holds full paths, whatever spelling the file came with; the driver reads them as
  // they stand, so a name that is not UTF-8 keeps its bytes.
  std::error_code ec;
  std::string absolute = std::filesystem::absolute(path, ec).lexically_normal().string();
  if (ec) absolute = path;
  FileRow row;
  row.displayPath = QFile::decodeName(QByteArray::fromStdString(absolute));
  row.sizeKB = AppPaths::FileSizeKB(absolute);
  row.path = std::move(absolute);
  return row;
}

QString ReasonTooltip(const QString& reason) {
  // Lines of a readable width, broken between words (a word longer than a line stays whole);
  // the interpreter's own line breaks are kept.
  constexpr qsizetype kLineWidth = 72;
  QStringList lines;
  for (const QString& paragraph : reason.split(QLatin1Char('\n'))) {
    QString line;
    for (const QString& word : paragraph.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
      if (!line.isEmpty() && line.size() + 1 + word.size() > kLineWidth) {
        lines << line;
        line.clear();
      }
      line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    lines << line;
  }
  while (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
  // As rich text, escaped, so that the tooltip neither wraps the lines again nor reads a '<' of
  // the reason as markup.
  return QStringLiteral("<p style='white-space:pre'>") +
         lines.join(QLatin1Char('\n')).toHtmlEscaped() + QStringLiteral("</p>");
}

int FileListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || !IsRow(index.row())) return {};
  const FileRow& row = Row(index.row());
  switch (role) {
    case Qt::DisplayRole:
      switch (index.column()) {
        case kFilesColumn:
          return row.displayPath;
        case kSizeColumn:
          return QStringLiteral("%1 KB").arg(row.sizeKB);
        case kStatusColumn:
          return row.status;
      }
      break;
    case Qt::TextAlignmentRole:
      if (index.column() != kFilesColumn)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
      return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    case Qt::ToolTipRole:
      // A long path is cut by its column; the reason of a failed or stopped row is nowhere
      // else.
      if (index.column() == kFilesColumn) return row.displayPath;
      if (index.column() == kStatusColumn && !row.reason.isEmpty())
        return ReasonTooltip(row.reason);
      break;
  }
  return {};
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  if (role == Qt::DisplayRole) {
    switch (section) {
      case kFilesColumn:
        return QStringLiteral("Files");
      case kSizeColumn:
        return QStringLiteral("Size");
      case kStatusColumn:
        return QStringLiteral("Status");
    }
  }
  if (role == Qt::TextAlignmentRole && section != kFilesColumn)
    return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
  return {};
}

void FileListModel::AppendRows(std::vector<FileRow> rows) {
  if (rows.empty()) return;
  const int first = static_cast<int>(rows_.size());
  beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
  rows_.insert(rows_.end(), std::make_move_iterator(rows.begin()),
               std::make_move_iterator(rows.end()));
  endInsertRows();
}

void FileListModel::RemoveRows(std::vector<int> rows) {
  std::sort(rows.begin(), rows.end(), std::greater<>());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  rows.erase(std::remove_if(rows.begin(), rows.end(), [this](int row) { return !IsRow(row); }),
             rows.end());
  // From the highest index down, so that the indices still to remove stay valid.
  for (size_t i = 0; i < rows.size();) {
    size_t j = i + 1;
    while (j < rows.size() && rows[j] == rows[j - 1] - 1) ++j;
    const int last = rows[i];
    const int first = rows[j - 1];
    beginRemoveRows({}, first, last);
    rows_.erase(rows_.begin() + first, rows_.begin() + last + 1);
    endRemoveRows();
    i = j;
  }
}

void FileListModel::Clear() {
  if (rows_.empty()) return;
  beginResetModel();
  rows_.clear();
  endResetModel();
}

void FileListModel::SetStatus(int row, const QString& status) {
  if (!IsRow(row)) return;
  rows_[static_cast<size_t>(row)].status = status;
  rows_[static_cast<size_t>(row)].reason.clear();
  RowChanged(row);
}

void FileListModel::SetResult(int row, const QString& status, const QString& reason) {
  if (!IsRow(row)) return;
  rows_[static_cast<size_t>(row)].status = status;
  rows_[static_cast<size_t>(row)].reason = reason;
  RowChanged(row);
}

std::vector<std::string> FileListModel::Paths() const {
  std::vector<std::string> paths;
  paths.reserve(rows_.size());
  for (const FileRow& row : rows_) paths.push_back(row.path);
  return paths;
}

void FileListModel::RowChanged(int row) {
  emit dataChanged(index(row, kStatusColumn), index(row, kStatusColumn));
}

}  // namespace orvalis
