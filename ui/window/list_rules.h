#pragma once
// What the window's labels, buttons and selection become after each thing a user does to the
// file list, as plain values: the window applies them, tests check them without widgets.
// A field left empty is not changed by that action.

#include <QString>
#include <optional>
#include <vector>

namespace orvalis {

QString FilesCountText(int rowCount);     // "Files Count: %d"
QString SelectedText(int selectedCount);  // "Selected: %d"

struct ListUpdate {
  std::optional<QString> filesCount;
  std::optional<QString> selected;
  std::optional<bool> removeEnabled;
  std::optional<bool> startEnabled;
  std::optional<int> selectRow;  // the one row to select (and show) afterwards
  bool selectAll = false;
};

// After files were added (Add File(s), Add Folder, a drop, the command line).
ListUpdate AfterAdding(int rowCount);

struct Removal {
  std::vector<int> rows;  // the rows to delete, highest first
  ListUpdate update;
};
// Remove, the Delete key and the menu's "Delete Selected Items": nothing when no row is selected.
Removal PlanRemoval(int rowCount, std::vector<int> selectedRows);

// "Clear All Items".
ListUpdate AfterClearAll(int rowCountBefore);

// Ctrl+A.
ListUpdate AfterSelectAll(int rowCount);

// The user changed the selection (a click, the keyboard, a right click before the menu).
ListUpdate AfterSelectionChange(int rowCount, int selectedCount);

struct MenuState {
  bool addEnabled = true;
  bool deleteEnabled = false;
  bool clearEnabled = false;
  bool viewEnabled = false;
};
MenuState ContextMenuState(int rowCount, int selectedCount);

// The output-mode list: Browse and Explore, and what the folder field shows.
struct OutputModeView {
  bool browseEnabled = false;
  bool exploreEnabled = false;
  QString folderText;
};
OutputModeView ForOutputMode(int mode, const QString& destination);

// The controls a run locks, and the progress bar it shows. Browse follows only in mode 1 (in
// mode 0 it stays disabled); Start and Explore are not touched.
struct RunControls {
  bool progressVisible = false;
  bool addFilesEnabled = true;
  bool addFolderEnabled = true;
  bool removeEnabled = true;
  bool settingsEnabled = true;
  bool formatEnabled = true;
  bool modeEnabled = true;
  std::optional<bool> browseEnabled;
};
RunControls ControlsForRun(bool running, int mode);

}  // namespace orvalis
