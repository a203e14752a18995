#pragma once
// The file list's view: a tree view of one level that says what to do while it is empty, and
// draws a frame around the current row while it has the keyboard focus, so that a keyboard
// user sees where the arrows, Space and the menu key act even on a selected row.

#include <QTreeView>

namespace orvalis {

// The hint an empty list shows.
inline constexpr char kEmptyListHint[] =
    "Add PostScript, EPS or PDF files with Add File(s), Add Folder, or by dropping them here";

class FileListView : public QTreeView {
  Q_OBJECT

 public:
  explicit FileListView(QWidget* parent = nullptr);

  // The text shown over the list while it has no rows; a screen reader gets it as the list's
  // description then.
  void SetPlaceholder(const QString& text);
  QString Placeholder() const { return placeholder_; }

  void setModel(QAbstractItemModel* model) override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

 private:
  bool Empty() const;
  void UpdateDescription();

  QString placeholder_;
};

}  // namespace orvalis
