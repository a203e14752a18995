#pragma once
// The file list: one row per PostScript file to convert, with its size and status, and for a
// row that did not convert, why. The view only displays it; every change is made on the GUI
// thread.

#include <QAbstractTableModel>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/window/row_details.h"

namespace orvalis {

// Status of a row that was added and not converted yet.
inline constexpr char kStatusReady[] = "Ready";

struct FileRow {
  std::string path;     // as the file system names it (bytes, not always UTF-8)
  QString displayPath;  // as the list shows it: VisibleText of the decoded path
  uint32_t sizeKB = 0;
  QString status = QString::fromLatin1(kStatusReady);
  QString reason;                        // why the row failed or was stopped; "" otherwise
  std::shared_ptr<const RunRecord> run;  // the run that set the status; null for none
};

// The row of a file the list takes: an existing, readable file (not a folder) named like a
// document the converter reads (HasSourceExtension), with
// its absolute path. nullopt for anything else, with the reason in `whyNot` when given (a drop
// skips such files without a message; files the user named on the command line are told about).
std::optional<FileRow> RowForFile(const std::string& path, std::string* whyNot = nullptr);

// `text` with every character that would not show as itself made visible as "<U+XXXX>": control
// characters, line separators and invisible format characters, among them the direction
// overrides that would make "invoice<U+202E>fdp.ps" read as "invoicesp.pdf". Joiners that
// scripts and emoji need (U+200C, U+200D) are kept.
QString VisibleText(const QString& text);
// A file name as messages show it: decoded, made visible, in single quotes.
QString QuotedName(const std::string& path);

// The Status cell's tooltip for a row's reason: the text as it stands, in lines of a readable
// width.
QString ReasonTooltip(const QString& reason);
// A tooltip that shows `text` as it is, one line per line: never read as markup.
QString PlainTextTooltip(const QString& text);

class FileListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kFilesColumn = 0, kSizeColumn = 1, kStatusColumn = 2, kColumnCount = 3 };

  using QAbstractTableModel::QAbstractTableModel;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Appends rows at the end, in one insertion.
  void AppendRows(std::vector<FileRow> rows);
  // Removes the given rows (any order, no duplicates needed), a contiguous run at a time.
  void RemoveRows(std::vector<int> rows);
  void Clear();

  // A progress text or a final status; a new status forgets the reason of the earlier one.
  void SetStatus(int row, const QString& status);
  // The final status with its reason.
  void SetResult(int row, const QString& status, const QString& reason);
  // A run begins: the statuses set from now on are its own, those set before are of an earlier
  // run, and the rows say so (RowDetails).
  void BeginRun(RunRecord run);
  // The row's details (RowDetails): its reason, and the run it comes from when that was not the
  // last. The Status cell's tooltip and every cell's accessible description show them.
  QString Details(int row) const;

  const FileRow& Row(int row) const { return rows_[static_cast<size_t>(row)]; }
  std::vector<std::string> Paths() const;

 private:
  bool IsRow(int row) const { return row >= 0 && row < static_cast<int>(rows_.size()); }
  void RowChanged(int row);

  std::vector<FileRow> rows_;
  std::shared_ptr<const RunRecord> lastRun_;
};

}  // namespace orvalis
