#include "ui/window/list_rules.h"

#include <algorithm>
#include <functional>

namespace orvalis {

QString FilesCountText(int rowCount) {
  return QStringLiteral("Files Count: %1").arg(rowCount);
}

QString SelectedText(int selectedCount) {
  return QStringLiteral("Selected: %1").arg(selectedCount);
}

ListUpdate AfterAdding(int rowCount) {
  ListUpdate update;
  if (rowCount <= 0) return update;
  update.filesCount = FilesCountText(rowCount);
  update.selected = SelectedText(1);
  update.selectRow = 0;
  update.removeEnabled = true;
  update.startEnabled = true;
  return update;
}

Removal PlanRemoval(int rowCount, std::vector<int> selectedRows) {
  Removal removal;
  std::erase_if(selectedRows, [rowCount](int row) { return row < 0 || row >= rowCount; });
  std::sort(selectedRows.begin(), selectedRows.end());
  selectedRows.erase(std::unique(selectedRows.begin(), selectedRows.end()), selectedRows.end());
  if (selectedRows.empty()) return removal;

  const int lowest = selectedRows.front();
  const int remaining = rowCount - static_cast<int>(selectedRows.size());
  removal.rows.assign(selectedRows.rbegin(), selectedRows.rend());
  removal.update.filesCount = FilesCountText(remaining);
  if (remaining > 0) {
    // The row just above the first one removed; the new first row when that was row 0.
    removal.update.selectRow = lowest == 0 ? 0 : lowest - 1;
    removal.update.selected = SelectedText(1);
  } else {
    removal.update.removeEnabled = false;
    removal.update.startEnabled = false;
    removal.update.selected = SelectedText(0);
  }
  return removal;
}

ListUpdate AfterClearAll(int rowCountBefore) {
  ListUpdate update;
  if (rowCountBefore <= 0) return update;
  update.removeEnabled = false;
  update.startEnabled = false;
  update.filesCount = FilesCountText(0);
  update.selected = SelectedText(0);
  return update;
}

ListUpdate AfterSelectAll(int rowCount) {
  ListUpdate update;
  update.selectAll = true;
  if (rowCount > 0) update.removeEnabled = true;
  update.selected = SelectedText(rowCount);
  return update;
}

ListUpdate AfterSelectionChange(int rowCount, int selectedCount) {
  ListUpdate update;
  if (rowCount <= 0) return update;
  update.removeEnabled = selectedCount > 0;
  update.selected = SelectedText(selectedCount);
  return update;
}

MenuState ContextMenuState(int rowCount, int selectedCount) {
  MenuState menu;
  menu.deleteEnabled = selectedCount > 0;
  menu.viewEnabled = selectedCount > 0;
  menu.clearEnabled = rowCount > 0;
  return menu;
}

OutputModeView ForOutputMode(int mode, const QString& destination) {
  OutputModeView view;
  view.browseEnabled = mode == 1;
  view.exploreEnabled = mode == 1;
  view.folderText = mode == 1 ? destination : QString();
  return view;
}

RunControls ControlsForRun(bool running, int mode) {
  const bool enable = !running;
  RunControls controls;
  controls.progressVisible = running;
  controls.addFilesEnabled = enable;
  controls.addFolderEnabled = enable;
  controls.removeEnabled = enable;
  controls.settingsEnabled = enable;
  controls.formatEnabled = enable;
  controls.modeEnabled = enable;
  if (mode == 1) controls.browseEnabled = enable;
  return controls;
}

}  // namespace orvalis
