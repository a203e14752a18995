#pragma once
// MainDialog: the program's window. It holds the list of PostScript files, the output format
// and folder, and the buttons that add and remove files, open the settings sheet and start or
// stop a run of the batch driver. The rules for labels, enabling and selection live in
// list_rules.h; the driver reports through WindowBatchView, whose queued signals arrive here on
// the GUI thread.

#include <QDialog>
#include <QPointer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "batch/batch_converter.h"
#include "settings/conversion_settings.h"
#include "ui/controls/dialog_units.h"
#include "ui/controls/theme_library.h"
#include "ui/window/file_list_model.h"
#include "ui/window/list_rules.h"
#include "ui/window/rows_in_list_order.h"
#include "ui/window/run_feedback.h"
#include "ui/window/window_batch_view.h"
#include "ui/window/window_fit.h"
#include "ui/window/window_services.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMessageBox;
class QProgressBar;
class QPushButton;
class CThemedIconButton;

namespace orvalis {
class PreviewPane;
}

namespace orvalis {

class FileListView;

class MainDialog : public QDialog {
  Q_OBJECT

 public:
  // Loads the settings from `services.profilePath` and fills the controls.
  explicit MainDialog(WindowServices services, QWidget* parent = nullptr);
  ~MainDialog() override;

  // Adds files as a drop does: folders, missing files and names of no document the converter
  // reads are skipped without a message.
  void AddDroppedFiles(const std::vector<std::string>& paths);
  // Adds the files directly in `folder`, in the order of FolderFiles; sub-folders are not
  // entered.
  void AddFolderFiles(const std::string& folder);

  // What became of files the user named (on the command line, or through a second start).
  struct NamedFilesOutcome {
    bool allAdded = true;  // every file is in the list now
    QString message;       // what the window said about the others ("" when there are none)
  };
  // Adds files the user named, as a drop adds them, but says in the window which files were
  // not added and why. During a run nothing is added: the files are refused, as a drop is.
  NamedFilesOutcome AddNamedFiles(const std::vector<std::string>& paths);
  // The same for files a second start of the program hands over; the window comes to the front.
  // `done` learns what became of them.
  void ReceiveFiles(std::vector<std::string> paths, std::function<void(NamedFilesOutcome)> done);

  bool IsRunning() const { return running_; }
  const FileListModel& Model() const { return model_; }
  const ConversionSettings& Settings() const { return settings_; }
  // Waits for the driver's worker to end (tests; the window itself never waits for it).
  void WaitForWorker() { converter_->Wait(); }
  // Ends the window at once, as the program is asked to end (SIGTERM, SIGHUP): stops the run
  // and waits for it (its page folders go with it), keeps the settings as a close does.
  void EndNow();
  // Stops the run and waits for it, touching no widget: for a program that ends because its
  // display is gone (an exit handler), so that no page folder or half-written image stays.
  void StopRunForExit();

  // The list's context menu as it would pop up now.
  std::unique_ptr<QMenu> CreateContextMenu();
  PreviewPane* Preview() const { return preview_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void BuildControls();
  void BuildButtons();
  void BuildList();
  void BuildOutputGroup();
  void BuildStatusBar();
  // The anchors that let the window grow and shrink around its default layout.
  void AnchorControls();
  void BuildPreview();
  // Shows or hides the preview pane, the window growing or shrinking by its width.
  void SetPreviewShown(bool shown);
  // The width the preview pane's column takes, 0 while it is hidden.
  int PreviewColumn() const;
  // Lays the controls out for a window of `size`: the anchored ones in the room the preview
  // pane leaves, the pane in its column on the right.
  void PlaceControls(QSize size);
  // The preview follows the one selected row, and the settings the window holds now.
  void UpdatePreview();
  void UpdatePreviewSettings();
  // A rectangle of the layout, given in dialog units, in pixels.
  QRect du(int x, int y, int width, int height) const;
  void ConnectControls();
  void ConnectDriver();
  void LoadSettings();

  void OnAddFiles();
  void OnAddFolder();
  void OnRemove();
  void OnClearAll();
  void OnViewOriginal();
  void OnSettings();
  void OnHelp();
  void OnStartStop();
  void OnBrowse();
  void OnExplore();
  void OnOutputModeChanged();
  void OnContextMenu(const QPoint& position);
  void OnCopyReason();
  // The details line under the list: the selected row's details (RowDetails), fitted to the
  // line, whole in its tooltip.
  void UpdateDetails();
  // The one selected row's details; "" with none or several selected.
  QString SelectedDetails() const;

  // The driver's reports, on the GUI thread.
  void OnRowStarted(int row);
  void OnRowStatus(int row, const QString& status);
  void OnRowFinished(int row, const QString& status, const QString& reason, int outputCount);
  void OnRowPages(int row, int done, int total);
  void OnRunningChanged(bool running);

  // Adds the files that qualify; the reasons of the others go into `notAdded` when given.
  void AddPaths(const std::vector<std::string>& paths, QStringList* notAdded = nullptr);
  // Shows `text` in a message beside the window, without waiting for the user.
  void ShowNotice(const QString& text);
  // Selects `row` alone and shows it; the user's actions also give the list the keyboard focus,
  // the run's row changes leave the focus where the user has it.
  void SelectRow(int row);
  void ShowRow(int row);
  void Apply(const ListUpdate& update);
  void ShowRunning(bool running);
  void SaveOnClose();
  std::vector<int> SelectedRows() const;
  int SelectedCount() const;
  void OpenUrl(const QUrl& url) const;

  WindowServices services_;
  DialogUnits units_;
  ConversionSettings settings_;
  FileListModel model_;
  WindowBatchView view_;
  RowStatusPacer pacer_;
  RowsInListOrder inListOrder_;
  bool running_ = false;  // from the Start click until the driver reports the run's end
  bool adding_ = false;   // files are being added; the window is disabled meanwhile
  QPointer<QMessageBox> notice_;

  CThemeLibrary theme_;  // the image buttons draw through it
  CThemedIconButton* addFiles_ = nullptr;
  CThemedIconButton* addFolder_ = nullptr;
  CThemedIconButton* remove_ = nullptr;
  CThemedIconButton* settingsButton_ = nullptr;
  CThemedIconButton* help_ = nullptr;
  FileListView* list_ = nullptr;
  QLabel* details_ = nullptr;
  QComboBox* format_ = nullptr;
  QComboBox* mode_ = nullptr;
  QPushButton* browse_ = nullptr;
  QPushButton* explore_ = nullptr;
  QLineEdit* folder_ = nullptr;
  CThemedIconButton* start_ = nullptr;
  QLabel* filesCount_ = nullptr;
  QLabel* selected_ = nullptr;
  QProgressBar* progress_ = nullptr;
  std::unique_ptr<AnchoredLayout> anchors_;
  bool fittedToScreen_ = false;
  QLabel* summary_ = nullptr;  // the last run's summary, where the bar was
  std::unique_ptr<RunFeedback> feedback_;
  bool stopClicked_ = false;  // the user stopped the run
  int lastRunRow_ = -1;       // the last row the run showed
  int firstAborted_ = -1;     // the first row the run left aborted
  int keepInView_ = -1;       // the row kept in sight when the list goes back to its first row

  QPushButton* previewToggle_ = nullptr;
  PreviewPane* preview_ = nullptr;
  bool previewShown_ = false;

  // Last, so that it is destroyed first: its destructor stops and joins the worker while the
  // settings and the view it uses are still there.
  std::unique_ptr<BatchConverter> converter_;
};

// Why a row that the user stopped was not finished.
QString StoppedReason(int outputCount);

}  // namespace orvalis
