#include "ui/window/file_list_model.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <functional>

#include "batch/source_type.h"
#include "settings/app_paths.h"

namespace orvalis {

namespace {

// Why `path` cannot be read as a file, in the words of the file list's messages.
std::string WhyNotReadable(const std::string& path) {
  if (path.size() >= PATH_MAX) {
    return "the path is too long (" + std::to_string(path.size()) +
           " bytes; the system takes at most " + std::to_string(PATH_MAX - 1) + ")";
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    const int error = errno;
    if (error == ENOENT) return "the file does not exist";
    if (error == ENAMETOOLONG) return "the path or one of its names is too long";
    return std::string("the file cannot be read: ") + std::strerror(error);
  }
  struct stat info {};
  const bool folder = ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode);
  ::close(fd);
  return folder ? "it is a folder" : "the file cannot be read";
}

bool ShowsAsItself(char32_t c) {
  if (c == 0x200C || c == 0x200D) return true;  // joiners that scripts and emoji need
  switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
      return false;
    default:
      return true;
  }
}

}  // namespace

QString VisibleText(const QString& text) {
  QString visible;
  visible.reserve(text.size());
  for (const char32_t c : text.toUcs4()) {
    if (ShowsAsItself(c)) {
      visible += QString::fromUcs4(&c, 1);
    } else {
      visible += QStringLiteral("<U+%1>").arg(uint(c), 4, 16, QLatin1Char('0')).toUpper();
    }
  }
  return visible;
}

QString QuotedName(const std::string& path) {
  return QLatin1Char('\'') + VisibleText(QFile::decodeName(QByteArray::fromStdString(path))) +
         QLatin1Char('\'');
}

std::optional<FileRow> RowForFile(const std::string& path, std::string* whyNot) {
  auto skip = [whyNot](std::string reason) -> std::optional<FileRow> {
    if (whyNot != nullptr) *whyNot = std::move(reason);
    return std::nullopt;
  };
  if (path.empty()) return skip("no file name was given");
  if (!HasSourceExtension(std::filesystem::path(path).filename().string()))
    return skip("its name does not end in .ps, .eps, .epsf, .epsi, .ps.gz, .eps.gz or .pdf");
  if (!AppPaths::FileExists(path)) return skip(WhyNotReadable(path));
  // The list holds full paths, whatever spelling the file came with; the driver reads them as
  // they stand, so a name that is not UTF-8 keeps its bytes.
  std::error_code ec;
  std::string absolute = std::filesystem::absolute(path, ec).lexically_normal().string();
  if (ec) absolute = path;
  FileRow row;
  row.displayPath = VisibleText(QFile::decodeName(QByteArray::fromStdString(absolute)));
  row.sizeKB = AppPaths::FileSizeKB(absolute);
  row.path = std::move(absolute);
  return row;
}

QString ReasonTooltip(const QString& reason) {
  // Lines of a readable width, broken between words (a word longer than a line stays whole);
  // the interpreter's own line breaks are kept, any other control character is made visible.
  constexpr qsizetype kLineWidth = 72;
  QStringList lines;
  for (const QString& paragraph : reason.split(QLatin1Char('\n'))) {
    QString line;
    for (const QString& word : VisibleText(paragraph).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
      if (!line.isEmpty() && line.size() + 1 + word.size() > kLineWidth) {
        lines << line;
        line.clear();
      }
      line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    lines << line;
  }
  while (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
  return PlainTextTooltip(lines.join(QLatin1Char('\n')));
}

QString PlainTextTooltip(const QString& text) {
  // As rich text, escaped: a tooltip would otherwise read a text holding a tag as markup, and
  // wrap lines again.
  return QStringLiteral("<p style='white-space:pre'>") + text.toHtmlEscaped() +
         QStringLiteral("</p>");
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
      if (index.column() == kFilesColumn) return PlainTextTooltip(row.displayPath);
      if (index.column() == kStatusColumn) {
        const QString details = Details(index.row());
        if (!details.isEmpty()) return ReasonTooltip(details);
      }
      break;
    case Qt::AccessibleDescriptionRole:
      // A screen reader reads the reason with whichever cell it is on.
      return VisibleText(Details(index.row()));
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
  rows_[static_cast<size_t>(row)].run = lastRun_;
  RowChanged(row);
}

void FileListModel::SetResult(int row, const QString& status, const QString& reason) {
  if (!IsRow(row)) return;
  rows_[static_cast<size_t>(row)].status = status;
  rows_[static_cast<size_t>(row)].reason = reason;
  rows_[static_cast<size_t>(row)].run = lastRun_;
  RowChanged(row);
}

void FileListModel::BeginRun(RunRecord run) {
  lastRun_ = std::make_shared<const RunRecord>(std::move(run));
  // Every row concluded before is of an earlier run now: its tooltip and description change.
  if (!rows_.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, kColumnCount - 1));
}

QString FileListModel::Details(int row) const {
  if (!IsRow(row)) return {};
  const FileRow& entry = Row(row);
  return RowDetails(entry.status, entry.reason, entry.run.get(),
                    entry.run != nullptr && entry.run != lastRun_);
}

std::vector<std::string> FileListModel::Paths() const {
  std::vector<std::string> paths;
  paths.reserve(rows_.size());
  for (const FileRow& row : rows_) paths.push_back(row.path);
  return paths;
}

void FileListModel::RowChanged(int row) {
  // The status, and the tooltips and descriptions of the whole row.
  emit dataChanged(index(row, kFilesColumn), index(row, kStatusColumn));
}

}  // namespace orvalis
