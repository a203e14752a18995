#include "ui/window/main_dialog.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QShowEvent>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <thread>

#include "ui/app/help_file.h"
#include "ui/controls/dialog_units.h"
#include "ui/controls/icon_button.h"
#include "ui/controls/icon_table.h"
#include "ui/controls/link_label.h"
#include "ui/controls/open_failure.h"
#include "ui/window/file_list_view.h"
#include "ui/window/folder_listing.h"
#include "ui/window/format_list.h"
#include "ui/window/preview_pane.h"
#include "ui/window/row_details.h"

namespace orvalis {

namespace {

constexpr char kTitle[] = "Kestrune Orvalis";
// "&" marks the mnemonic (Alt+C stops a run as it starts one).
constexpr char kStartText[] = "Start &Converting";
constexpr char kStopText[] = "Stop &Converting";
// The window's default and smallest sizes without the preview pane, and the pane's width beside
// them, in dialog units.
constexpr QSize kWindowSize(402, 259);
constexpr QSize kSmallestWindow(340, 200);
constexpr int kPreviewWidth = 160;

// How long adding files may hold the event loop before the list is shown and repainted.
constexpr int kAddSliceMs = 40;
// A message names at most this many files; the rest are counted.
constexpr qsizetype kNoticeFiles = 20;

QString Native(const std::string& path) {
  return QFile::decodeName(QByteArray::fromStdString(path));
}
std::string Native(const QString& path) {
  return QFile::encodeName(path).toStdString();
}

// The file: URL of a path as the file system names it, byte for byte: a name that is not UTF-8
// keeps its bytes (percent-encoded) instead of a decoded stand-in.
QUrl FileUrl(const std::string& path) {
  return QUrl::fromEncoded("file://" + QByteArray::fromStdString(path).toPercentEncoding("/"));
}

// `heading`, then one line per entry of `lines`, at most kNoticeFiles of them.
// A line of a notice no wider than a screen: a very long name loses its middle, so that its
// start, its end and the reason after it stay in sight.
QString ShortenedLine(const QString& line) {
  constexpr qsizetype kLongest = 200;
  constexpr qsizetype kHead = 60;
  if (line.size() <= kLongest) return line;
  return line.left(kHead) + QChar(0x2026) + line.right(kLongest - kHead - 1);
}

QString ListMessage(const QString& heading, const QStringList& lines) {
  QString text = heading;
  for (qsizetype i = 0; i < lines.size() && i < kNoticeFiles; ++i)
    text += '\n' + ShortenedLine(lines[i]);
  if (lines.size() > kNoticeFiles)
    text += QStringLiteral("\n... and %1 more").arg(lines.size() - kNoticeFiles);
  return text;
}

// Tab and Shift+Tab: moving the focus on, not an action of the control that has it.
bool IsFocusMove(const QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  const auto* key = static_cast<const QKeyEvent*>(event);
  const bool plain = !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
  return plain && (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab);
}

QString WithTrailingSlash(QString folder) {
  if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
  return folder;
}

// A caption as read aloud: without the "&" that marks its mnemonic ("&&" is one "&").
QString WithoutMnemonic(QString text) {
  for (qsizetype i = 0; i < text.size(); ++i)
    if (text[i] == QLatin1Char('&')) text.remove(i, 1);
  return text;
}

// One of the window's image buttons: its icon beside (alignment 0) or above (1) the caption,
// drawn themed through `theme` when given.
CThemedIconButton* MakeImageButton(QWidget* parent, const char* id, const QString& text, int iconId,
                                   int alignment, const CThemeLibrary* theme) {
  auto* button = new CThemedIconButton(text, parent);
  button->setObjectName(QString::fromLatin1(id));
  button->setAutoDefault(false);
  button->setAccessibleName(text.isEmpty() ? QStringLiteral("Help") : WithoutMnemonic(text));
  button->SetAlign(alignment, false);
  if (theme != nullptr) button->SetThemeLibrary(theme);
  button->SetIcon(iconId);
  return button;
}

QFrame* MakeEtchedLine(QWidget* parent, const char* name, QFrame::Shape shape,
                       const QRect& geometry) {
  auto* line = new QFrame(parent);
  line->setObjectName(QString::fromLatin1(name));
  line->setFrameShape(shape);
  line->setFrameShadow(QFrame::Sunken);
  line->setGeometry(geometry);
  return line;
}

void AssertGuiThread(const QObject* object) {
  Q_ASSERT(QThread::currentThread() == object->thread());
  (void)object;
}

// The dialog's font, Tahoma 8 (or what the desktop puts in its place); the layout's units follow
// it.
QFont DialogFont() {
  return QFont(QStringLiteral("Tahoma"), 8);
}

}  // namespace

QString StoppedReason(int outputCount) {
  QString reason = QStringLiteral("Stopped by the user before the file was finished");
  if (outputCount == 1) reason += QStringLiteral("; 1 image was written");
  if (outputCount > 1) reason += QStringLiteral("; %1 images were written").arg(outputCount);
  return reason;
}

MainDialog::MainDialog(WindowServices services, QWidget* parent)
    : QDialog(parent),
      services_(std::move(services)),
      units_(DialogUnits::FromFont(DialogFont())),
      pacer_(services_.pacing, [this](int row, const QString& text) {
        model_.SetStatus(row, feedback_ ? feedback_->Shown(row, text) : text);
      }) {
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setWindowTitle(QString::fromLatin1(kTitle));
  setAcceptDrops(true);
  BuildControls();
  LoadSettings();
  ConnectControls();
  ConnectDriver();
  // The window's run converts a file per processor, and their pages on every processor, while
  // the list shows one row at a time.
  const int processors = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  services_.batch.jobs = services_.filesAtOnce > 0 ? services_.filesAtOnce : processors;
  if (services_.batch.threads == 0) services_.batch.threads = processors;
  // A clash of image names is resolved by the window's own controls.
  services_.batch.fullNamesAdvice =
      "turn on 'Name after the full file name' under Settings, Common";
  services_.batch.besideAdvice = "choose 'Convert to the source file folder'";
  converter_ =
      std::make_unique<BatchConverter>(settings_, *services_.renderer, view_, services_.batch);
}

MainDialog::~MainDialog() = default;

void MainDialog::BuildControls() {
  setFont(DialogFont());
  // The layout's size is the default; the window can be made larger, the list taking the room,
  // or smaller down to where every control still has its caption (a small screen, a large
  // scale factor). The preview pane, when shown, adds its column on the right.
  resize(units_.ToPixels(kWindowSize));
  setMinimumSize(units_.ToPixels(kSmallestWindow));
  setWindowIcon(QIcon(QPixmap::fromImage(LoadIconImage(kIconApplication))));
  BuildButtons();
  BuildList();
  BuildOutputGroup();
  BuildStatusBar();
  BuildPreview();

  // Keyboard order: the order in which the controls are listed in the layout.
  const std::vector<QWidget*> tabOrder = {addFiles_, addFolder_, remove_, settingsButton_,
                                          help_,     list_,      format_, mode_,
                                          browse_,   explore_,   folder_, start_};
  for (size_t i = 1; i < tabOrder.size(); ++i) setTabOrder(tabOrder[i - 1], tabOrder[i]);
  setTabOrder(settingsButton_, previewToggle_);
  setTabOrder(previewToggle_, help_);
  AnchorControls();
}

void MainDialog::AnchorControls() {
  anchors_ = std::make_unique<AnchoredLayout>(size());
  auto anchor = [this](QWidget* widget, unsigned anchors) { anchors_->Add(widget, anchors); };
  for (QWidget* button : {addFiles_, addFolder_, remove_, settingsButton_})
    anchor(button, kTopLeft);
  anchor(help_, kRight | kTop);
  anchor(list_, kLeft | kRight | kTop | kBottom);
  anchor(details_, kLeft | kRight | kBottom);
  // The output group grows with the width; in it the mode list and the folder field take the
  // room, Browse and Explore keep to its right edge.
  QWidget* const group = format_->parentWidget();
  anchor(group, kLeft | kRight | kBottom);
  anchor(format_, kTopLeft);
  anchor(mode_, kLeft | kRight | kTop);
  anchor(browse_, kRight | kTop);
  anchor(explore_, kRight | kTop);
  anchor(folder_, kLeft | kRight | kTop);
  anchor(start_, kRight | kBottom);
  anchor(findChild<QFrame*>(QStringLiteral("statusLine")), kLeft | kRight | kBottom);
  anchor(findChild<QFrame*>(QStringLiteral("statusSeparator1")), kLeft | kBottom);
  anchor(findChild<QFrame*>(QStringLiteral("statusSeparator2")), kRight | kBottom);
  anchor(filesCount_, kLeft | kBottom);
  anchor(selected_, kLeft | kRight | kBottom);
  anchor(progress_, kRight | kBottom);
  anchor(summary_, kRight | kBottom);
  anchor(previewToggle_, kRight | kTop);
}

QRect MainDialog::du(int x, int y, int width, int height) const {
  return units_.ToPixels(QRect(x, y, width, height));
}

void MainDialog::BuildButtons() {
  addFiles_ =
      MakeImageButton(this, "1007", QStringLiteral("&Add File(s)"), kIconAddFiles, 0, &theme_);
  addFiles_->setGeometry(du(5, 5, 70, 25));
  addFolder_ =
      MakeImageButton(this, "1008", QStringLiteral("Add &Folder"), kIconAddFolder, 0, &theme_);
  addFolder_->setGeometry(du(77, 5, 70, 25));
  remove_ = MakeImageButton(this, "1009", QStringLiteral("&Remove"), kIconRemove, 0, &theme_);
  remove_->setGeometry(du(149, 5, 70, 25));
  remove_->setEnabled(false);
  settingsButton_ =
      MakeImageButton(this, "1010", QStringLiteral("&Settings"), kIconSettings, 0, &theme_);
  settingsButton_->setGeometry(du(221, 5, 70, 25));
  help_ = MakeImageButton(this, "1016", QString(), kIconHelp, 0, nullptr);
  help_->SetDrawBorder(false, false);
  help_->setGeometry(du(375, 5, 20, 20));
  help_->setToolTip(QStringLiteral("Help (F1)"));
  // The help button has no caption to carry a mnemonic: F1, as everywhere.
  help_->setShortcut(QKeySequence(Qt::Key_F1));

  start_ = MakeImageButton(this, "1002", QString::fromLatin1(kStartText), kIconConvert, 1, &theme_);
  start_->setGeometry(du(300, 184, 95, 56));
  start_->setEnabled(false);
}

void MainDialog::BuildList() {
  list_ = new FileListView(this);
  list_->setObjectName(QStringLiteral("1001"));
  list_->setAccessibleName(QStringLiteral("Files"));
  list_->setGeometry(du(5, 35, 390, 130));
  list_->SetPlaceholder(QString::fromLatin1(kEmptyListHint));
  list_->setModel(&model_);
  list_->setRootIsDecorated(false);
  list_->setItemsExpandable(false);
  list_->setUniformRowHeights(true);
  list_->setAllColumnsShowFocus(true);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  list_->setTextElideMode(Qt::ElideMiddle);
  list_->header()->setStretchLastSection(false);
  list_->header()->setSectionsMovable(false);
  // Names take the room the list has: the Files column fills what Size and Status leave.
  list_->header()->setSectionResizeMode(FileListModel::kFilesColumn, QHeaderView::Stretch);
  list_->setColumnWidth(FileListModel::kFilesColumn, 300);
  list_->setColumnWidth(FileListModel::kSizeColumn, 100);
  list_->setColumnWidth(FileListModel::kStatusColumn, 150);
  // The selection stays shown when the list loses the focus.
  QPalette palette = list_->palette();
  palette.setColor(QPalette::Inactive, QPalette::Highlight,
                   palette.color(QPalette::Active, QPalette::Highlight));
  palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                   palette.color(QPalette::Active, QPalette::HighlightedText));
  list_->setPalette(palette);
  list_->installEventFilter(this);
  list_->viewport()->installEventFilter(this);

  // The selected row's reason, in sight without a mouse.
  details_ = new QLabel(this);
  details_->setObjectName(QStringLiteral("details"));
  details_->setAccessibleName(QStringLiteral("Reason"));
  details_->setTextFormat(Qt::PlainText);
  details_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  details_->setGeometry(du(5, 166, 390, 10));
}

void MainDialog::BuildOutputGroup() {
  // Alt+I goes to the format list, the group's first control.
  auto* group = new QGroupBox(QStringLiteral("&Image Format && Output Folder"), this);
  group->setObjectName(QStringLiteral("outputGroup"));
  group->setGeometry(du(5, 180, 290, 60));
  // The caption sits on the frame's top line, as the layout's units expect; a caption above the
  // frame would push the line into the format list.
  group->setStyleSheet(QStringLiteral(
      "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 0.5em; }"
      "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
      " left: 6px; padding: 0 2px; }"));
  const QPoint inGroup = -group->pos();  // the group's children are placed in window units

  format_ = new QComboBox(group);
  format_->setObjectName(QStringLiteral("1003"));
  format_->setAccessibleName(QStringLiteral("Image Format"));
  format_->addItems(FormatListItems());
  format_->setGeometry(du(15, 190, 110, 12).translated(inGroup));

  mode_ = new QComboBox(group);
  mode_->setObjectName(QStringLiteral("1058"));
  mode_->setAccessibleName(QStringLiteral("Output Folder"));
  mode_->addItems({QStringLiteral("Convert to the source file folder"),
                   QStringLiteral("Convert to the destination folder")});
  mode_->setGeometry(du(15, 205, 185, 12).translated(inGroup));

  browse_ = new QPushButton(QStringLiteral("&Browse..."), group);
  browse_->setObjectName(QStringLiteral("1013"));
  browse_->setAutoDefault(false);
  browse_->setGeometry(du(205, 205, 39, 12).translated(inGroup));
  explore_ = new QPushButton(QStringLiteral("&Explore..."), group);
  explore_->setObjectName(QStringLiteral("1014"));
  explore_->setAutoDefault(false);
  explore_->setGeometry(du(245, 205, 39, 12).translated(inGroup));

  folder_ = new QLineEdit(group);
  folder_->setObjectName(QStringLiteral("1012"));
  folder_->setAccessibleName(QStringLiteral("Destination folder"));
  folder_->setReadOnly(true);
  folder_->setGeometry(du(15, 220, 270, 12).translated(inGroup));
}

void MainDialog::BuildStatusBar() {
  MakeEtchedLine(this, "statusLine", QFrame::HLine, du(0, 245, 401, 1));
  MakeEtchedLine(this, "statusSeparator1", QFrame::VLine, du(130, 246, 1, 12));
  MakeEtchedLine(this, "statusSeparator2", QFrame::VLine, du(260, 246, 1, 12));

  filesCount_ = new QLabel(FilesCountText(0), this);
  filesCount_->setObjectName(QStringLiteral("1047"));
  filesCount_->setGeometry(du(5, 249, 115, 8));
  selected_ = new QLabel(SelectedText(0), this);
  selected_->setObjectName(QStringLiteral("1048"));
  selected_->setGeometry(du(135, 248, 115, 8));

  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("1011"));
  progress_->setAccessibleName(QStringLiteral("Progress"));
  progress_->setGeometry(du(265, 248, 135, 10));
  progress_->setRange(0, 100);
  progress_->setTextVisible(false);
  progress_->hide();

  // The last run's summary takes the bar's place once the run is over.
  summary_ = new QLabel(this);
  summary_->setObjectName(QStringLiteral("runSummary"));
  summary_->setGeometry(du(265, 247, 135, 10));
  feedback_ = std::make_unique<RunFeedback>(
      this, QString::fromLatin1(kTitle), progress_, summary_, services_.notify,
      [this](const QString& folder) { OpenUrl(FileUrl(Native(folder))); });
}

void MainDialog::BuildPreview() {
  previewToggle_ = new QPushButton(QStringLiteral("&Preview"), this);
  previewToggle_->setObjectName(QStringLiteral("previewToggle"));
  previewToggle_->setAccessibleName(QStringLiteral("Show preview"));
  previewToggle_->setToolTip(QStringLiteral("Show or hide the preview of the selected file"));
  previewToggle_->setCheckable(true);
  previewToggle_->setAutoDefault(false);
  previewToggle_->setGeometry(du(296, 9, 60, 16));
  preview_ = new PreviewPane(services_.previewRenderer, this);
  preview_->setFont(font());
  preview_->setGeometry(du(kWindowSize.width(), 5, kPreviewWidth - 6, 236));
  preview_->hide();
}

int MainDialog::PreviewColumn() const {
  return previewShown_ ? units_.ToPixels(QSize(kPreviewWidth, 0)).width() : 0;
}

void MainDialog::SetPreviewShown(bool shown) {
  previewToggle_->setChecked(shown);
  if (shown != previewShown_) {
    // The window grows or shrinks by the pane's column; the rest keeps its size.
    const int column = units_.ToPixels(QSize(kPreviewWidth, 0)).width();
    previewShown_ = shown;
    preview_->setVisible(shown);
    setMinimumSize(units_.ToPixels(kSmallestWindow) + QSize(PreviewColumn(), 0));
    resize(size() + QSize(shown ? column : -column, 0));
    PlaceControls(size());
  }
  UpdatePreview();
}

void MainDialog::PlaceControls(QSize window) {
  const int column = PreviewColumn();
  if (anchors_) anchors_->Apply(window - QSize(column, 0));
  if (column == 0) return;
  const QRect margins = du(0, 5, 6, 23);  // top, the gap beside and the room below the pane
  preview_->setGeometry(window.width() - column, margins.y(), column - margins.width(),
                        window.height() - margins.height());
}

void MainDialog::UpdatePreview() {
  if (!previewToggle_->isChecked()) {
    preview_->ShowDocument({});
    return;
  }
  const std::vector<int> rows = SelectedRows();
  if (rows.size() == 1) {
    preview_->ShowDocument(model_.Row(rows.front()).path);
  } else {
    preview_->ShowDocument({}, rows.empty() ? QStringLiteral("Select a file to see its pages.")
                                            : QStringLiteral("Select one file to see its pages."));
  }
}

void MainDialog::UpdatePreviewSettings() {
  ConversionSettings shown = settings_;
  shown.type = format_->currentIndex();
  preview_->SetSettings(shown);
}

void MainDialog::LoadSettings() {
  LoadWindowSettings(services_.profilePath, settings_);
  LoadConversionOptions(services_.profilePath, settings_);
  // A "type" that names no item means JPEG, as it does to the driver.
  const bool known = settings_.type >= 0 && settings_.type < format_->count();
  format_->setCurrentIndex(known ? settings_.type : 0);
  mode_->setCurrentIndex(settings_.mode);
  OnOutputModeChanged();
  UpdatePreviewSettings();
  SetPreviewShown(LoadPreviewShown(services_.profilePath));
}

void MainDialog::ConnectControls() {
  connect(addFiles_, &QPushButton::clicked, this, &MainDialog::OnAddFiles);
  connect(addFolder_, &QPushButton::clicked, this, &MainDialog::OnAddFolder);
  connect(remove_, &QPushButton::clicked, this, &MainDialog::OnRemove);
  connect(settingsButton_, &QPushButton::clicked, this, &MainDialog::OnSettings);
  connect(help_, &QPushButton::clicked, this, &MainDialog::OnHelp);
  connect(start_, &QPushButton::clicked, this, &MainDialog::OnStartStop);
  connect(browse_, &QPushButton::clicked, this, &MainDialog::OnBrowse);
  connect(explore_, &QPushButton::clicked, this, &MainDialog::OnExplore);
  connect(format_, &QComboBox::currentIndexChanged, this, [this](int index) {
    settings_.type = index;
    UpdatePreviewSettings();
  });
  connect(previewToggle_, &QPushButton::toggled, this, [this](bool shown) {
    if (shown == !preview_->isHidden()) return;
    SetPreviewShown(shown);
    SavePreviewShown(services_.profilePath, shown);
  });
  connect(mode_, &QComboBox::currentIndexChanged, this, &MainDialog::OnOutputModeChanged);
  connect(list_, &QTreeView::customContextMenuRequested, this, &MainDialog::OnContextMenu);
  connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    if (!running_) Apply(AfterSelectionChange(model_.rowCount(), SelectedCount()));
    UpdateDetails();
    UpdatePreview();
  });
  connect(&model_, &QAbstractItemModel::dataChanged, this, &MainDialog::UpdateDetails);
  connect(&model_, &QAbstractItemModel::modelReset, this, &MainDialog::UpdateDetails);
  connect(&model_, &QAbstractItemModel::rowsRemoved, this, &MainDialog::UpdateDetails);
}

void MainDialog::ConnectDriver() {
  // Queued, whatever thread emits: the worker's reports wait for the GUI thread.
  connect(&view_, &WindowBatchView::rowStatusChanged, this, &MainDialog::OnRowStatus,
          Qt::QueuedConnection);
  connect(&view_, &WindowBatchView::rowFinished, this, &MainDialog::OnRowFinished,
          Qt::QueuedConnection);
  connect(&view_, &WindowBatchView::rowSelected, this, &MainDialog::OnRowStarted,
          Qt::QueuedConnection);
  connect(&view_, &WindowBatchView::runningChanged, this, &MainDialog::OnRunningChanged,
          Qt::QueuedConnection);
  connect(&view_, &WindowBatchView::rowPagesChanged, this, &MainDialog::OnRowPages,
          Qt::QueuedConnection);
  connect(
      &view_, &WindowBatchView::rowWrote, this,
      [this](int, const QString& output) { feedback_->Wrote(output); }, Qt::QueuedConnection);
}

void MainDialog::AddDroppedFiles(const std::vector<std::string>& paths) {
  AddPaths(paths);
  Apply(AfterAdding(model_.rowCount()));
}

void MainDialog::AddFolderFiles(const std::string& folder) {
  AddPaths(FolderFiles(folder));
}

MainDialog::NamedFilesOutcome MainDialog::AddNamedFiles(const std::vector<std::string>& paths) {
  NamedFilesOutcome outcome;
  if (paths.empty()) return outcome;
  QStringList notAdded;
  if (running_) {
    for (const std::string& path : paths) notAdded << QuotedName(path);
    outcome.message = ListMessage(
        QStringLiteral("Files cannot be added while a conversion runs. These files were not "
                       "added; add them again when it has ended:"),
        notAdded);
  } else {
    AddPaths(paths, &notAdded);
    Apply(AfterAdding(model_.rowCount()));
    if (!notAdded.isEmpty())
      outcome.message = ListMessage(QStringLiteral("These files were not added:"), notAdded);
  }
  outcome.allAdded = notAdded.isEmpty();
  if (!outcome.allAdded) ShowNotice(outcome.message);
  return outcome;
}

void MainDialog::ReceiveFiles(std::vector<std::string> paths,
                              std::function<void(NamedFilesOutcome)> done) {
  if (isMinimized()) showNormal();
  raise();
  activateWindow();
  const NamedFilesOutcome outcome = AddNamedFiles(paths);
  if (done) done(outcome);
}

void MainDialog::ShowNotice(const QString& text) {
  if (notice_ == nullptr) {
    notice_ = new QMessageBox(QMessageBox::Information, QString::fromLatin1(kTitle), QString(),
                              QMessageBox::Ok, this);
    notice_->setObjectName(QStringLiteral("notice"));
    notice_->setTextFormat(Qt::PlainText);
    notice_->setAttribute(Qt::WA_DeleteOnClose);
    notice_->setModal(false);
  }
  notice_->setText(text);
  notice_->show();
  notice_->raise();
}

// Adds the files that qualify, in order. The window is disabled meanwhile; a long list is shown
// in slices so that the window keeps repainting.
void MainDialog::AddPaths(const std::vector<std::string>& paths, QStringList* notAdded) {
  adding_ = true;
  setEnabled(false);
  std::vector<FileRow> pending;
  QElapsedTimer slice;
  slice.start();
  for (const std::string& path : paths) {
    std::string whyNot;
    if (std::optional<FileRow> row = RowForFile(path, &whyNot)) {
      pending.push_back(std::move(*row));
    } else if (notAdded != nullptr) {
      *notAdded << QuotedName(path) + QStringLiteral(": ") + QString::fromStdString(whyNot);
    }
    if (slice.elapsed() >= kAddSliceMs) {
      model_.AppendRows(std::move(pending));
      pending.clear();
      // Neither the user nor a second start's files (a socket event) add rows meanwhile.
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                      QEventLoop::ExcludeSocketNotifiers);
      slice.restart();
    }
  }
  model_.AppendRows(std::move(pending));
  setEnabled(true);
  adding_ = false;
}

void MainDialog::OnAddFiles() {
  const QString start = Native(LoadAddFileFolder(services_.profilePath));
  const QStringList chosen =
      services_.chooseFiles ? services_.chooseFiles(this, start) : QStringList();
  if (chosen.isEmpty()) return;
  std::vector<std::string> paths;
  for (const QString& file : chosen) paths.push_back(Native(file));
  AddPaths(paths);
  const std::string& last = paths.back();
  SaveAddFileFolder(services_.profilePath, last.substr(0, last.rfind('/') + 1));
  Apply(AfterAdding(model_.rowCount()));
}

void MainDialog::OnAddFolder() {
  const QString start = Native(LoadAddFileFolder(services_.profilePath));
  const QString folder = services_.chooseFolder
                             ? services_.chooseFolder(this, QStringLiteral("Select folder:"), start)
                             : QString();
  if (!folder.isEmpty()) AddFolderFiles(Native(folder));
  Apply(AfterAdding(model_.rowCount()));
}

void MainDialog::OnRemove() {
  const Removal removal = PlanRemoval(model_.rowCount(), SelectedRows());
  if (removal.rows.empty()) return;
  model_.RemoveRows(removal.rows);
  Apply(removal.update);
}

void MainDialog::OnClearAll() {
  const int before = model_.rowCount();
  model_.Clear();
  Apply(AfterClearAll(before));
}

void MainDialog::OnViewOriginal() {
  const std::vector<int> rows = SelectedRows();
  if (!rows.empty()) OpenUrl(FileUrl(model_.Row(rows.front()).path));
}

void MainDialog::OnSettings() {
  if (services_.runSettings && services_.runSettings(this, services_.profilePath, settings_)) {
    LoadConversionOptions(services_.profilePath, settings_);
    UpdatePreviewSettings();
  }
}

void MainDialog::OnHelp() {
  if (running_) {
    OpenHelpFile(services_.launcher, {}, this);
  } else if (services_.showAbout) {
    services_.showAbout(this);
  }
}

void MainDialog::OnStartStop() {
  if (running_) {
    stopClicked_ = true;
    converter_->RequestStop();
    return;
  }
  settings_.type = format_->currentIndex();
  settings_.mode = mode_->currentIndex();
  view_.TakeRows(model_.Paths());
  running_ = true;
  // The rows this run concludes are its own; the others keep an earlier run's status and say so.
  model_.BeginRun({format_->currentText(),
                   settings_.mode == 1 ? VisibleText(Native(settings_.output)) : QString(),
                   QDateTime::currentDateTime()});
  inListOrder_.Begin();
  stopClicked_ = false;
  lastRunRow_ = -1;
  firstAborted_ = -1;
  feedback_->Begin(view_.RowCount());
  preview_->SetQuiet(true);
  // The run shows one row at a time.
  selected_->setText(SelectedText(1));
  ShowRunning(true);
  converter_->StartOrStop();
}

void MainDialog::OnBrowse() {
  if (!services_.chooseFolder) return;
  const QString chosen = services_.chooseFolder(
      this, QStringLiteral("Please select an output folder..."), folder_->text());
  if (chosen.isEmpty()) return;
  const QString folder = WithTrailingSlash(chosen);
  settings_.output = Native(folder);
  folder_->setText(VisibleText(folder));
}

void MainDialog::OnExplore() {
  // The folder the field shows, as the file system names it.
  if (!folder_->text().isEmpty()) OpenUrl(FileUrl(settings_.output));
}

void MainDialog::OnOutputModeChanged() {
  settings_.type = format_->currentIndex();
  settings_.mode = mode_->currentIndex();
  const OutputModeView view = ForOutputMode(settings_.mode, VisibleText(Native(settings_.output)));
  browse_->setEnabled(view.browseEnabled);
  explore_->setEnabled(view.exploreEnabled);
  folder_->setText(view.folderText);
}

void MainDialog::OnContextMenu(const QPoint& position) {
  if (running_) return;
  Apply(AfterSelectionChange(model_.rowCount(), SelectedCount()));
  const std::unique_ptr<QMenu> menu = CreateContextMenu();
  // Where it was asked for: at the mouse, or at the current row for the keyboard's menu key.
  menu->exec(list_->viewport()->mapToGlobal(position));
}

std::unique_ptr<QMenu> MainDialog::CreateContextMenu() {
  const MenuState state = ContextMenuState(model_.rowCount(), SelectedCount());
  auto menu = std::make_unique<QMenu>(this);
  auto add = [&](const char* id, const QString& text, bool enabled, void (MainDialog::*slot)()) {
    QAction* action = menu->addAction(text);
    action->setObjectName(QString::fromLatin1(id));
    action->setEnabled(enabled);
    connect(action, &QAction::triggered, this, slot);
  };
  add("32771", QStringLiteral("&Add File(s)..."), state.addEnabled, &MainDialog::OnAddFiles);
  add("32772", QStringLiteral("Add &Folder..."), state.addEnabled, &MainDialog::OnAddFolder);
  menu->addSeparator();
  // The key goes in the menu's shortcut column.
  add("32773", QStringLiteral("&Delete Selected Items\tDel"), state.deleteEnabled,
      &MainDialog::OnRemove);
  add("32774", QStringLiteral("&Clear All Items"), state.clearEnabled, &MainDialog::OnClearAll);
  menu->addSeparator();
  add("32776", QStringLiteral("&View Original File"), state.viewEnabled,
      &MainDialog::OnViewOriginal);
  add("copyReason", QStringLiteral("Copy &Reason\tCtrl+C"), !SelectedDetails().isEmpty(),
      &MainDialog::OnCopyReason);
  return menu;
}

void MainDialog::OnCopyReason() {
  const QString details = SelectedDetails();
  if (!details.isEmpty()) QGuiApplication::clipboard()->setText(details);
}

QString MainDialog::SelectedDetails() const {
  const std::vector<int> rows = SelectedRows();
  return rows.size() == 1 ? model_.Details(rows.front()) : QString();
}

void MainDialog::UpdateDetails() {
  // A reason may span lines (the interpreter's report); the line shows them one after another.
  const QString details =
      VisibleText(QString(SelectedDetails()).replace(QLatin1Char('\n'), QStringLiteral("; ")));
  const QString line =
      details_->fontMetrics().elidedText(details, Qt::ElideRight, details_->width());
  if (details_->text() != line) details_->setText(line);
  details_->setToolTip(line == details ? QString() : ReasonTooltip(SelectedDetails()));
}

// The driver's reports come as the files convert, several at once; the list shows them one row
// at a time, in its order.
void MainDialog::OnRowStarted(int row) {
  AssertGuiThread(this);
  inListOrder_.Report(row, [this, row] { ShowRow(row); });
}

// The bar and the title follow the run's pages as they come; the row's text waits its turn.
void MainDialog::OnRowPages(int row, int done, int total) {
  AssertGuiThread(this);
  feedback_->Pages(row, done, total);
  inListOrder_.Report(row, [this, row] {
    if (const std::optional<QString> text = feedback_->ShownNow(row)) model_.SetStatus(row, *text);
  });
}

void MainDialog::OnRowStatus(int row, const QString& status) {
  AssertGuiThread(this);
  inListOrder_.Report(row, [this, row, status] { pacer_.Progress(row, status); });
}

void MainDialog::OnRowFinished(int row, const QString& status, const QString& reason,
                               int outputCount) {
  AssertGuiThread(this);
  const bool stopped = status == QLatin1String(kStatusAborted) && reason.isEmpty();
  feedback_->Finished(row, status);
  inListOrder_.Conclude(
      row, [this, row, status, shown = stopped ? StoppedReason(outputCount) : reason] {
        pacer_.Finish(row);
        feedback_->Concluded(row);
        model_.SetResult(row, status, shown);
        if (status == QLatin1String(kStatusAborted) && (firstAborted_ < 0 || row < firstAborted_))
          firstAborted_ = row;
      });
}

void MainDialog::OnRunningChanged(bool running) {
  AssertGuiThread(this);
  // The Start click shows the run at once; only its end is news here.
  if (running) return;
  inListOrder_.End();
  running_ = false;
  ShowRunning(false);
  // The list goes back to its first row, with the row where the run stopped kept in sight.
  keepInView_ = firstAborted_ >= 0 ? firstAborted_ : lastRunRow_;
  feedback_->End(stopClicked_, settings_.mode == 1 ? Native(settings_.output) : QString());
  preview_->SetQuiet(false);
}

void MainDialog::ShowRunning(bool running) {
  start_->setText(QString::fromLatin1(running ? kStopText : kStartText));
  start_->SetIcon(running ? kIconStop : kIconConvert);
  start_->setAccessibleName(WithoutMnemonic(start_->text()));
  const RunControls controls = ControlsForRun(running, mode_->currentIndex());
  // A disabled image button passes the focus on to the next control; the control the user is on
  // (Start Converting, pressed with the keyboard) keeps it when it stays enabled.
  QWidget* const focused = focusWidget();
  progress_->setVisible(controls.progressVisible);
  addFiles_->setEnabled(controls.addFilesEnabled);
  addFolder_->setEnabled(controls.addFolderEnabled);
  remove_->setEnabled(controls.removeEnabled);
  settingsButton_->setEnabled(controls.settingsEnabled);
  format_->setEnabled(controls.formatEnabled);
  mode_->setEnabled(controls.modeEnabled);
  if (controls.browseEnabled) browse_->setEnabled(*controls.browseEnabled);
  if (focused != nullptr && focused->isEnabled()) focused->setFocus(Qt::OtherFocusReason);
}

void MainDialog::SelectRow(int row) {
  if (row < 0 || row >= model_.rowCount()) return;
  list_->setFocus();
  ShowRow(row);
}

void MainDialog::ShowRow(int row) {
  AssertGuiThread(this);
  if (row < 0 || row >= model_.rowCount()) return;
  const QModelIndex index = model_.index(row, 0);
  list_->selectionModel()->setCurrentIndex(
      index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  if (running_) lastRunRow_ = row;
  const bool keep = !running_ && keepInView_ >= 0 && keepInView_ < model_.rowCount();
  const int inView = keep ? keepInView_ : row;
  keepInView_ = -1;
  list_->scrollTo(model_.index(inView, 0));
}

void MainDialog::Apply(const ListUpdate& update) {
  if (update.selectAll) list_->selectAll();
  if (update.selectRow) SelectRow(*update.selectRow);
  if (update.filesCount) filesCount_->setText(*update.filesCount);
  if (update.selected) selected_->setText(*update.selected);
  if (update.removeEnabled) remove_->setEnabled(*update.removeEnabled);
  if (update.startEnabled) start_->setEnabled(*update.startEnabled);
}

std::vector<int> MainDialog::SelectedRows() const {
  std::vector<int> rows;
  for (const QModelIndex& index : list_->selectionModel()->selectedRows())
    rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

int MainDialog::SelectedCount() const {
  return static_cast<int>(list_->selectionModel()->selectedRows().size());
}

void MainDialog::OpenUrl(const QUrl& url) const {
  LinkLauncher& launcher =
      services_.launcher != nullptr ? *services_.launcher : DefaultLinkLauncher();
  // When nothing opens it, the user gets the address to open by hand: a file's path as the
  // list shows it.
  const QString address = url.isLocalFile() ? VisibleText(url.toLocalFile()) : url.toString();
  launcher.OpenWithDesktop(
      url.toString(QUrl::FullyEncoded),
      [window = QPointer<QWidget>(const_cast<MainDialog*>(this)), address](bool opened) {
        if (!opened) ShowCannotOpen(window, address);
      });
}

void MainDialog::closeEvent(QCloseEvent* event) {
  if (running_ || adding_) {
    event->ignore();
    return;
  }
  SaveOnClose();
  QDialog::closeEvent(event);
}

void MainDialog::SaveOnClose() {
  settings_.type = format_->currentIndex();
  settings_.mode = mode_->currentIndex();
  SaveWindowSettings(services_.profilePath, settings_.type, settings_.mode, settings_.output);
}

void MainDialog::StopRunForExit() {
  if (!running_) return;
  converter_->RequestStop();
  converter_->Wait();
  running_ = false;
}

void MainDialog::EndNow() {
  if (running_) {
    converter_->RequestStop();
    converter_->Wait();
    running_ = false;
  }
  SaveOnClose();
  done(QDialog::Rejected);
}

void MainDialog::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
      // Neither closes the window nor presses a button.
      event->accept();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

void MainDialog::dragEnterEvent(QDragEnterEvent* event) {
  if (!running_ && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainDialog::dropEvent(QDropEvent* event) {
  if (running_ || adding_) {
    event->ignore();
    return;
  }
  std::vector<std::string> paths;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) paths.push_back(Native(url.toLocalFile()));
  event->acceptProposedAction();
  AddDroppedFiles(paths);
}

bool MainDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched != list_ && watched != list_->viewport()) return QDialog::eventFilter(watched, event);
  const QEvent::Type type = event->type();
  const bool input = type == QEvent::KeyPress || type == QEvent::MouseButtonPress ||
                     type == QEvent::MouseButtonRelease || type == QEvent::MouseButtonDblClick ||
                     type == QEvent::ContextMenu;
  // A run owns the selection: the list shows the row being converted. Tab still moves on, so
  // that the keyboard reaches Stop Converting.
  if (running_ && input && !IsFocusMove(event)) return true;
  if (type == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Delete && key->modifiers() == Qt::NoModifier) {
      OnRemove();
      return true;
    }
    if (key->matches(QKeySequence::SelectAll)) {
      Apply(AfterSelectAll(model_.rowCount()));
      return true;
    }
    if (key->matches(QKeySequence::Copy)) {
      OnCopyReason();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void MainDialog::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  PlaceControls(event->size());
  if (details_ != nullptr) UpdateDetails();
}

void MainDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (fittedToScreen_) return;
  fittedToScreen_ = true;
  // A screen with less room than the default size (a small screen, a large scale factor) gets a
  // smaller window, and all of it on the screen; again once the window manager's frame is known.
  resize(SizeThatFits(this, size()));
  KeepOnScreen(this);
  QTimer::singleShot(0, this, [this] {
    resize(SizeThatFits(this, size()));
    KeepOnScreen(this);
  });
}

}  // namespace orvalis
