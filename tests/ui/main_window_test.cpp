// The main window's wiring, offscreen, over a scripted renderer: adding and removing rows,
// labels and enabling, the context menu, the output mode, keys, closing, and a run reported
// through the driver's queued calls.

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QToolTip>
#include <QTreeView>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>

#include "engine/output_formats.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/window_fixture.h"
#include "ui/controls/dialog_units.h"
#include "ui/window/file_list_view.h"
#include "ui/window/main_dialog.h"

namespace orvalis {
namespace {

namespace fs = std::filesystem;

// How long a test waits for something it needs to happen before it gives up: only a guard
// against a hang, long enough for the busiest machine. Verdicts never depend on it.
constexpr int kHangGuardMs = 180000;

// Counts events that reach a widget from any thread but the GUI thread.
class GuiThreadWatch : public QObject {
 public:
  GuiThreadWatch() { qApp->installEventFilter(this); }
  ~GuiThreadWatch() override { qApp->removeEventFilter(this); }
  int Violations() const { return violations_.load(); }
  void Check() {
    if (QThread::currentThread() != qApp->thread()) ++violations_;
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched->isWidgetType()) Check();
    return QObject::eventFilter(watched, event);
  }

 private:
  std::atomic<int> violations_{0};
};

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<test::TempDir> dir_;
  test::ScriptRenderer renderer_;
  test::DesktopRecord record_;
  std::unique_ptr<MainDialog> dialog_;

  std::string Profile() const { return dir_->File("Profile.ini"); }
  std::string Script(const std::string& name, const std::string& text) {
    return test::WriteScript(dir_->Path().string(), name, text);
  }
  // `filesAtOnce`: files the run converts side by side; 0: one per processor, as the window does.
  void Open(int filesAtOnce = 0) {
    WindowServices services = test::RecordingServices(renderer_, Profile(), record_);
    services.filesAtOnce = filesAtOnce;
    dialog_ = std::make_unique<MainDialog>(std::move(services));
    dialog_->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog_.get()));
  }
  template <typename T>
  T* Control(const char* id) {
    T* control = dialog_->findChild<T*>(QString::fromLatin1(id));
    if (control == nullptr) qFatal("no control %s", id);
    return control;
  }
  QTreeView* List() { return Control<QTreeView>("1001"); }
  QString Label(const char* id) { return Control<QLabel>(id)->text(); }
  QString Status(int row) {
    return dialog_->Model().index(row, FileListModel::kStatusColumn).data().toString();
  }
  QString StatusTip(int row) {
    return dialog_->Model()
        .index(row, FileListModel::kStatusColumn)
        .data(Qt::ToolTipRole)
        .toString();
  }
  bool Drop(const std::vector<std::string>& paths) {
    auto* mime = new QMimeData;
    QList<QUrl> urls;
    for (const std::string& path : paths) urls << QUrl::fromLocalFile(QString::fromStdString(path));
    mime->setUrls(urls);
    // Straight to the window, as the platform's drag manager hands a drop to its target.
    QObject* target = dialog_.get();
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    target->event(&enter);
    const bool accepted = enter.isAccepted();
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    if (accepted) target->event(&drop);
    delete mime;
    return accepted;
  }
  std::vector<std::string> Rows(int count) {
    std::vector<std::string> rows;
    for (int i = 0; i < count; ++i)
      rows.push_back(Script("f" + std::to_string(i) + ".ps", "pages 1"));
    return rows;
  }
  std::vector<int> SelectedRows() {
    std::vector<int> rows;
    for (const QModelIndex& index : List()->selectionModel()->selectedRows())
      rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
  }
  void WaitForRunEnd() {
    QTRY_VERIFY_WITH_TIMEOUT(!dialog_->IsRunning(), kHangGuardMs);
    dialog_->WaitForWorker();
    QCoreApplication::processEvents();
  }

 private slots:
  void init() {
    dir_ = std::make_unique<test::TempDir>();
    record_ = {};
  }
  void cleanup() {
    if (dialog_ && dialog_->IsRunning()) {
      Control<QPushButton>("1002")->click();
      WaitForRunEnd();
    }
    dialog_.reset();
    dir_.reset();
  }

  void opensIdleWithEveryControlInPlace() {
    Open();
    QCOMPARE(dialog_->windowTitle(), QStringLiteral("Kestrune Orvalis"));
    // Resizable; windowResizesAroundTheList checks how.
    QVERIFY(dialog_->minimumSize() != dialog_->maximumSize());
    // Every control is found by its id and has a name a screen reader can say.
    const char* ids[] = {"1007", "1008", "1009", "1010", "1016", "1001", "1003", "1058",
                         "1013", "1014", "1012", "1002", "1047", "1048", "1011"};
    for (const char* id : ids) {
      QWidget* control = Control<QWidget>(id);
      QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
      QVERIFY2(accessible && !accessible->text(QAccessible::Name).isEmpty(), id);
    }
    QCOMPARE(Control<QWidget>("1016")->accessibleName(), QStringLiteral("Help"));
    // The keyboard visits the controls in sight in the order of the table, from Add File(s) to
    // Start, the preview's button beside Settings.
    QStringList order;
    QWidget* widget = Control<QWidget>("1007");
    do {
      if ((widget->focusPolicy() & Qt::TabFocus) && widget->isVisible())
        order << widget->objectName();
      widget = widget->nextInFocusChain();
    } while (widget != Control<QWidget>("1007"));
    QCOMPARE(order, QStringList({"1007", "1008", "1009", "1010", "previewToggle", "1016", "1001",
                                 "1003", "1058", "1013", "1014", "1012", "1002"}));

    QVERIFY(!Control<QPushButton>("1009")->isEnabled());
    QVERIFY(!Control<QPushButton>("1002")->isEnabled());
    QVERIFY(!Control<QProgressBar>("1011")->isVisible());
    QCOMPARE(Label("1047"), QStringLiteral("Files Count: 0"));
    QCOMPARE(Label("1048"), QStringLiteral("Selected: 0"));

    auto* format = Control<QComboBox>("1003");
    QCOMPARE(format->count(), 12);
    for (int i = 0; i < 12; ++i)
      QCOMPARE(format->itemText(i).toStdString(), std::string(FormatListTexts()[i]));
    QCOMPARE(format->itemText(1), QStringLiteral("TIFF Files(*.tif) "));
    QCOMPARE(Control<QComboBox>("1058")->count(), 2);

    QTreeView* list = List();
    QCOMPARE(list->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Files"));
    // Files takes the room Size and Status leave: names are cut only when the list is full.
    QVERIFY(list->columnWidth(0) >= 300);
    QCOMPARE(list->columnWidth(0) + 100 + 150, list->viewport()->width());
    QCOMPARE(list->columnWidth(1), 100);
    QCOMPARE(list->columnWidth(2), 150);
    QCOMPARE(list->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
    test::SaveScreenshot(dialog_.get(), QStringLiteral("window-empty"));
  }

  void dropping_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("folder");
    QTest::addColumn<int>("rows");
    QTest::newRow("text file") << "notes.txt" << false << 0;
    QTest::newRow("upper-case extension") << "REPORT.PS" << false << 1;
    QTest::newRow("folder named like a document") << "chapter.ps" << true << 0;
    QTest::newRow("ps inside the name only") << "report.ps.txt" << false << 0;
  }
  void dropping() {
    QFETCH(QString, name);
    QFETCH(bool, folder);
    QFETCH(int, rows);
    Open();
    const std::string path = dir_->File(name.toStdString());
    if (folder)
      fs::create_directory(path);
    else
      Script(name.toStdString(), "pages 1");
    QVERIFY(Drop({path, dir_->File("missing.ps")}));
    QCOMPARE(dialog_->Model().rowCount(), rows);
    QCOMPARE(Control<QPushButton>("1002")->isEnabled(), rows > 0);
    QCOMPARE(Label("1047"), QStringLiteral("Files Count: %1").arg(rows));
    if (rows > 0) {
      QCOMPARE(Status(0), QStringLiteral("Ready"));
      QCOMPARE(SelectedRows(), std::vector<int>{0});
    }
  }

  void sameFileTwiceGivesTwoRows() {
    Open();
    const std::string file = Script("twice.ps", "pages 1");
    dialog_->AddDroppedFiles({file, file});
    QCOMPARE(dialog_->Model().rowCount(), 2);
    QCOMPARE(dialog_->Model().Row(1).path, dialog_->Model().Row(0).path);
    QCOMPARE(Label("1047"), QStringLiteral("Files Count: 2"));
    QCOMPARE(Label("1048"), QStringLiteral("Selected: 1"));
  }

  void addFilesStartsInTheRememberedFolderAndRemembersTheLast() {
    const std::string second = (dir_->Path() / "second").string();
    fs::create_directory(second);
    std::ofstream(Profile()) << "[Set]\nAddFile=" << dir_->Path().string() << "/\n";
    Open();
    record_.filesToChoose = {QString::fromStdString(Script("a.ps", "pages 1")),
                             QString::fromStdString(Script("second/b.ps", "pages 1"))};
    Control<QPushButton>("1007")->click();
    QCOMPARE(record_.startedIn.size(), size_t(1));
    QCOMPARE(record_.startedIn[0], QString::fromStdString(dir_->Path().string() + "/"));
    QCOMPARE(dialog_->Model().rowCount(), 2);
    QCOMPARE(LoadAddFileFolder(Profile()), second + "/");
    QCOMPARE(SelectedRows(), std::vector<int>{0});
    QVERIFY(Control<QPushButton>("1009")->isEnabled());
  }

  void addFolderTakesOnlyItsOwnDocumentsInOrder() {
    Open();
    fs::create_directory(dir_->Path() / "sub");
    Script("b.PS", "pages 1");
    Script("REPORT.PS", "pages 1");
    Script("a.ps", "pages 1");
    Script("c.txt", "pages 1");
    Script("sub/d.ps", "pages 1");
    record_.folderToChoose = QString::fromStdString(dir_->Path().string());
    Control<QPushButton>("1008")->click();
    QCOMPARE(record_.titles.back(), QStringLiteral("Select folder:"));
    // By name without regard to case, as the folder lists them.
    QCOMPARE(dialog_->Model().rowCount(), 3);
    QCOMPARE(dialog_->Model().Row(0).path, dir_->File("a.ps"));
    QCOMPARE(dialog_->Model().Row(1).path, dir_->File("b.PS"));
    QCOMPARE(dialog_->Model().Row(2).path, dir_->File("REPORT.PS"));
    QCOMPARE(Label("1047"), QStringLiteral("Files Count: 3"));
    test::SaveScreenshot(dialog_.get(), QStringLiteral("window-rows"));
  }

  void removing_data() {
    QTest::addColumn<std::vector<int>>("selected");
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("rowsLeft");
    QTest::addColumn<int>("selectedAfter");  // -1: none
    QTest::newRow("rows 2 and 5, button") << std::vector<int>{2, 5} << "button" << 8 << 1;
    QTest::newRow("rows 2 and 5, Delete key") << std::vector<int>{2, 5} << "key" << 8 << 1;
    QTest::newRow("row 0, menu") << std::vector<int>{0} << "menu" << 9 << 0;
    QTest::newRow("last row") << std::vector<int>{9} << "button" << 9 << 8;
    QTest::newRow("every row") << std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9} << "key" << 0
                               << -1;
  }
  void removing() {
    QFETCH(std::vector<int>, selected);
    QFETCH(QString, how);
    QFETCH(int, rowsLeft);
    QFETCH(int, selectedAfter);
    Open();
    const std::vector<std::string> files = Rows(10);
    dialog_->AddDroppedFiles(files);
    List()->clearSelection();
    for (int row : selected)
      List()->selectionModel()->select(dialog_->Model().index(row, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
    if (how == "button") {
      Control<QPushButton>("1009")->click();
    } else if (how == "key") {
      QTest::keyClick(List(), Qt::Key_Delete);
    } else {
      const std::unique_ptr<QMenu> menu = dialog_->CreateContextMenu();
      menu->findChild<QAction*>(QStringLiteral("32773"))->trigger();
    }
    QCOMPARE(dialog_->Model().rowCount(), rowsLeft);
    QCOMPARE(Label("1047"), QStringLiteral("Files Count: %1").arg(rowsLeft));
    if (selectedAfter >= 0) {
      QCOMPARE(SelectedRows(), std::vector<int>{selectedAfter});
      QCOMPARE(Label("1048"), QStringLiteral("Selected: 1"));
      // The rows that stay keep their order.
      QCOMPARE(dialog_->Model().Row(0).path, files[selected.front() == 0 ? 1 : 0]);
    } else {
      QCOMPARE(Label("1048"), QStringLiteral("Selected: 0"));
      QVERIFY(!Control<QPushButton>("1009")->isEnabled());
      QVERIFY(!Control<QPushButton>("1002")->isEnabled());
    }
  }

  void selectAll() {
    Open();
    QTest::keyClick(List(), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(Label("1048"), QStringLiteral("Selected: 0"));
    QVERIFY(!Control<QPushButton>("1009")->isEnabled());

    dialog_->AddDroppedFiles(Rows(3));
    QTest::keyClick(List(), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(SelectedRows(), (std::vector<int>{0, 1, 2}));
    QCOMPARE(Label("1048"), QStringLiteral("Selected: 3"));
    QVERIFY(Control<QPushButton>("1009")->isEnabled());
    // A click on no row leaves nothing to remove.
    QTest::mouseClick(List()->viewport(), Qt::LeftButton, {},
                      QPoint(5, List()->viewport()->height() - 3));
    QCOMPARE(Label("1048"), QStringLiteral("Selected: 0"));
    QVERIFY(!Control<QPushButton>("1009")->isEnabled());
  }

  void contextMenu() {
    Open();
    auto states = [this] {
      const std::unique_ptr<QMenu> menu = dialog_->CreateContextMenu();
      QStringList shown;
      for (QAction* action : menu->actions()) {
        shown << (action->isSeparator() ? QStringLiteral("-")
                                        : action->text() + (action->isEnabled() ? "" : " (off)"));
      }
      return shown;
    };
    QCOMPARE(states(),
             QStringList({"&Add File(s)...", "Add &Folder...", "-",
                          "&Delete Selected Items\tDel (off)", "&Clear All Items (off)", "-",
                          "&View Original File (off)", "Copy &Reason\tCtrl+C (off)"}));
    const std::vector<std::string> files = Rows(2);
    dialog_->AddDroppedFiles(files);
    List()->clearSelection();
    QCOMPARE(states().mid(3),
             QStringList({"&Delete Selected Items\tDel (off)", "&Clear All Items", "-",
                          "&View Original File (off)", "Copy &Reason\tCtrl+C (off)"}));
    List()->selectionModel()->select(dialog_->Model().index(1, 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
    // A Ready row has no reason to copy.
    QCOMPARE(states().mid(3), QStringList({"&Delete Selected Items\tDel", "&Clear All Items", "-",
                                           "&View Original File", "Copy &Reason\tCtrl+C (off)"}));

    const std::unique_ptr<QMenu> menu = dialog_->CreateContextMenu();
    menu->findChild<QAction*>(QStringLiteral("32776"))->trigger();
    QCOMPARE(record_.opened.size(), size_t(1));
    QCOMPARE(record_.opened[0], QUrl::fromLocalFile(QString::fromStdString(files[1])));

    menu->findChild<QAction*>(QStringLiteral("32774"))->trigger();
    QCOMPARE(dialog_->Model().rowCount(), 0);
    QCOMPARE(Label("1047"), QStringLiteral("Files Count: 0"));
    QVERIFY(!Control<QPushButton>("1002")->isEnabled());
  }

  void outputModeShowsAndHidesTheFolder() {
    std::ofstream(Profile()) << "[Set]\noutput=/srv/images\nmode=1\n";
    Open();
    auto* mode = Control<QComboBox>("1058");
    auto* folder = Control<QLineEdit>("1012");
    QCOMPARE(folder->text(), QStringLiteral("/srv/images/"));
    mode->setCurrentIndex(0);
    QCOMPARE(folder->text(), QString());
    QVERIFY(!Control<QPushButton>("1013")->isEnabled());
    QVERIFY(!Control<QPushButton>("1014")->isEnabled());
    mode->setCurrentIndex(1);
    QCOMPARE(folder->text(), QStringLiteral("/srv/images/"));
    QVERIFY(Control<QPushButton>("1013")->isEnabled());

    Control<QPushButton>("1014")->click();
    QCOMPARE(record_.opened.back(), QUrl::fromLocalFile(QStringLiteral("/srv/images/")));
    record_.folderToChoose = QStringLiteral("/srv/other");
    Control<QPushButton>("1013")->click();
    QCOMPARE(record_.titles.back(), QStringLiteral("Please select an output folder..."));
    QCOMPARE(folder->text(), QStringLiteral("/srv/other/"));
    QCOMPARE(dialog_->Settings().output, std::string("/srv/other/"));
  }

  void viewAndExploreOpenTheNamesAsStored() {
    // Names that are not UTF-8: the desktop gets the bytes, not a decoded stand-in.
    const std::string folder = dir_->File("out\xe9");
    fs::create_directory(folder);
    std::ofstream(Profile()) << "[Set]\nmode=1\noutput=" << folder << "/\n";
    Open();
    dialog_->AddDroppedFiles({Script("caf\xe9.ps", "pages 1")});
    const std::unique_ptr<QMenu> menu = dialog_->CreateContextMenu();
    menu->findChild<QAction*>(QStringLiteral("32776"))->trigger();
    Control<QPushButton>("1014")->click();
    QCOMPARE(record_.opened.size(), size_t(2));
    const QByteArray dir = QByteArray::fromStdString(dir_->Path().string()).toPercentEncoding("/");
    QCOMPARE(record_.opened[0].toEncoded(), "file://" + dir + "/caf%E9.ps");
    QCOMPARE(record_.opened[1].toEncoded(), "file://" + dir + "/out%E9/");
  }

  void keyboardReachesStopDuringARun() {
    Open();
    dialog_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(dialog_.get()));
    dialog_->AddDroppedFiles({Script("one.ps", "pages 1"), Script("hang.ps", "hang")});
    auto* start = Control<QPushButton>("1002");
    // Tab from the list to Start Converting, whatever lies between, and Space starts the run.
    auto tabTo = [](QWidget* target, Qt::Key key) {
      for (int i = 0; i < 12 && QApplication::focusWidget() != target; ++i)
        QTest::keyClick(QApplication::focusWidget(), key);
      return QApplication::focusWidget() == target;
    };
    QCOMPARE(QApplication::focusWidget(), List());
    QVERIFY(tabTo(start, Qt::Key_Tab));
    QTest::keyClick(start, Qt::Key_Space);
    QVERIFY(dialog_->IsRunning());
    // The run moves its selection from row to row; the focus stays on the button.
    QTRY_COMPARE_WITH_TIMEOUT(Status(1), QStringLiteral("Converting.."), kHangGuardMs);
    QCOMPARE(SelectedRows(), std::vector<int>{1});
    QCOMPARE(QApplication::focusWidget(), start);
    // Back to the list and on again with the keyboard: keys other than Tab stay ignored.
    QVERIFY(tabTo(List(), Qt::Key_Backtab));
    QTest::keyClick(List(), Qt::Key_Up);
    QCOMPARE(SelectedRows(), std::vector<int>{1});
    QVERIFY(tabTo(start, Qt::Key_Tab));
    QTest::keyClick(start, Qt::Key_Space);
    WaitForRunEnd();
    QCOMPARE(Status(0), QStringLiteral("Succeed"));
    QCOMPARE(Status(1), QStringLiteral("Aborted"));
    QCOMPARE(QApplication::focusWidget(), start);
  }

  // While a run goes on, the row being converted shows its pages after its progress text, the
  // bar counts the run's pages (a file whose count is not known yet counts nothing: a
  // PostScript program's pages are known when it ends) and the title shows the run's share. At
  // the end: the title as before, a summary where the bar was, whose link opens the output
  // folder, and a desktop notification only when the window is not the active one.
  void runShowsItsPagesShareAndSummary_data() {
    QTest::addColumn<bool>("active");
    QTest::newRow("active window") << true;
    QTest::newRow("window in the background") << false;
  }
  void runShowsItsPagesShareAndSummary() {
    QFETCH(bool, active);
    std::ofstream(Profile()) << "[Set]\ntype=3\nmode=1\noutput=" << dir_->File("out") << "/\n";
    Open(1);
    QWidget other;
    QWidget* const front = active ? static_cast<QWidget*>(dialog_.get()) : &other;
    front->show();
    front->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(front));
    dialog_->AddDroppedFiles({Script("two.ps", "pages 2"), Script("hang.ps", "pages 3 hang")});
    Control<QPushButton>("1002")->click();
    // The third page is still the interpreter's: it counts once the rendering has moved past it.
    QTRY_COMPARE_WITH_TIMEOUT(Status(1), QStringLiteral("Converting.. page 2"), 10000);
    auto* bar = Control<QProgressBar>("1011");
    QTRY_COMPARE(bar->value(), 50);
    QCOMPARE(dialog_->windowTitle(), QStringLiteral("50 % \u2014 Kestrune Orvalis"));
    QCOMPARE(Status(0), QStringLiteral("Succeed"));
    test::SaveScreenshot(dialog_.get(), QStringLiteral("window-run-pages"));

    Control<QPushButton>("1002")->click();
    WaitForRunEnd();
    QCOMPARE(Status(1), QStringLiteral("Aborted"));
    QCOMPARE(dialog_->windowTitle(), QStringLiteral("Kestrune Orvalis"));
    QVERIFY(!bar->isVisible());
    auto* summary = Control<QLabel>("runSummary");
    QVERIFY(summary->isVisible());
    QVERIFY2(summary->text().startsWith(QStringLiteral("Stopped: 1 of 2 converted")),
             qPrintable(summary->text()));
    test::SaveScreenshot(dialog_.get(), QStringLiteral("window-run-summary"));
    emit summary->linkActivated(QStringLiteral("folder"));
    QCOMPARE(record_.opened.size(), size_t(1));
    QCOMPARE(record_.opened[0].toLocalFile(), QString::fromStdString(dir_->File("out")));
    if (active) {
      QVERIFY(record_.notified.empty());
    } else {
      QCOMPARE(record_.notified.size(), size_t(1));
      QCOMPARE(record_.notified[0].first, QStringLiteral("Conversion stopped"));
      QVERIFY2(record_.notified[0].second.startsWith(QStringLiteral("Stopped: 1 of 2 converted")),
               qPrintable(record_.notified[0].second));
    }
    // The next run starts without the summary; a run that ends by itself says so.
    List()->selectionModel()->select(
        dialog_->Model().index(1, 0),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    Control<QPushButton>("1009")->click();
    QCOMPARE(dialog_->Model().rowCount(), 1);
    Control<QPushButton>("1002")->click();
    QVERIFY(!summary->isVisible());
    WaitForRunEnd();
    QVERIFY2(summary->text().startsWith(QStringLiteral("Converted")), qPrintable(summary->text()));
    QCOMPARE(dialog_->windowTitle(), QStringLiteral("Kestrune Orvalis"));
  }

  // After a run the list goes back to its first row, as it always has, with the row where the
  // run stopped kept in sight.
  void theRowWhereARunStoppedStaysInSight() {
    Open(1);
    std::vector<std::string> rows = Rows(40);
    rows[30] = Script("hang.ps", "hang");
    dialog_->AddDroppedFiles(rows);
    Control<QPushButton>("1002")->click();
    QTRY_COMPARE_WITH_TIMEOUT(Status(30), QStringLiteral("Converting.."), 20000);
    Control<QPushButton>("1002")->click();
    WaitForRunEnd();
    QCOMPARE(SelectedRows(), std::vector<int>{0});
    const QRect inSight = List()->viewport()->rect();
    QVERIFY(inSight.intersects(List()->visualRect(dialog_->Model().index(30, 0))));
    QVERIFY(!inSight.intersects(List()->visualRect(dialog_->Model().index(0, 0))));
  }

  void namedFilesThatCannotBeAddedAreToldAbout() {
    Open();
    fs::create_directory(dir_->Path() / "folder.ps");
    // Longer than any path the system opens, in names it would take one by one.
    std::string longPath = dir_->Path().string();
    while (longPath.size() < 4267) longPath += "/" + std::string(200, 'd');
    longPath += "/deep.ps";
    const std::string good = Script("good.ps", "pages 1");
    const MainDialog::NamedFilesOutcome outcome = dialog_->AddNamedFiles(
        {good, dir_->File("notes.txt"), dir_->File("gone.ps"), dir_->File("folder.ps"), longPath});
    QVERIFY(!outcome.allAdded);
    QCOMPARE(dialog_->Model().rowCount(), 1);
    QCOMPARE(Label("1047"), QStringLiteral("Files Count: 1"));
    const QStringList lines = outcome.message.split('\n');
    QCOMPARE(lines.size(), 5);
    QCOMPARE(lines[0], QStringLiteral("These files were not added:"));
    QVERIFY(lines[1].endsWith(
        "notes.txt': its name does not end in .ps, .eps, .epsf, .epsi, .ps.gz, .eps.gz or .pdf"));
    QVERIFY(lines[2].endsWith("gone.ps': the file does not exist"));
    QVERIFY(lines[3].endsWith("folder.ps': it is a folder"));
    QVERIFY2(
        lines[4].contains(QStringLiteral("the path is too long (%1 bytes").arg(longPath.size())),
        qPrintable(lines[4]));
    // The window says it too, as plain text.
    auto* notice = dialog_->findChild<QMessageBox*>(QStringLiteral("notice"));
    QVERIFY(notice != nullptr && notice->isVisible());
    QCOMPARE(notice->text(), outcome.message);
    QCOMPARE(notice->textFormat(), Qt::PlainText);
    test::SaveScreenshot(notice, QStringLiteral("window-files-not-added"));
    // Every file added: nothing to say.
    QVERIFY(dialog_->AddNamedFiles({good}).allAdded);
  }

  void filesHandedOverAreAddedWhenIdleAndRefusedDuringARun() {
    Open();
    const std::string first = Script("first.ps", "pages 1");
    std::vector<MainDialog::NamedFilesOutcome> outcomes;
    auto record = [&outcomes](MainDialog::NamedFilesOutcome outcome) {
      outcomes.push_back(std::move(outcome));
    };
    dialog_->ReceiveFiles({first}, record);
    QCOMPARE(outcomes.size(), size_t(1));
    QVERIFY(outcomes[0].allAdded);
    QCOMPARE(dialog_->Model().rowCount(), 1);
    QCOMPARE(Control<QLabel>("1048")->text(), QStringLiteral("Selected: 1"));
    QVERIFY(Control<QPushButton>("1002")->isEnabled());

    dialog_->AddDroppedFiles({Script("hang.ps", "hang")});
    Control<QPushButton>("1002")->click();
    QTRY_COMPARE_WITH_TIMEOUT(Status(1), QStringLiteral("Converting.."), kHangGuardMs);
    dialog_->ReceiveFiles({Script("late.ps", "pages 1")}, record);
    QCOMPARE(outcomes.size(), size_t(2));
    QVERIFY(!outcomes[1].allAdded);
    QVERIFY(outcomes[1].message.startsWith("Files cannot be added while a conversion runs"));
    QVERIFY(outcomes[1].message.endsWith("late.ps'"));
    QCOMPARE(dialog_->Model().rowCount(), 2);
    QVERIFY(dialog_->findChild<QMessageBox*>(QStringLiteral("notice"))->isVisible());
    QCOMPARE(Status(1), QStringLiteral("Converting.."));  // the run goes on
  }

  void namesShowTheirControlCharacters() {
    Open();
    const std::string name = "invoice\u202Efdp.ps";
    dialog_->AddDroppedFiles({Script(name, "pages 1")});
    const QModelIndex cell = dialog_->Model().index(0, FileListModel::kFilesColumn);
    QVERIFY(cell.data().toString().endsWith(QStringLiteral("/invoice<U+202E>fdp.ps")));
    QVERIFY(cell.data(Qt::ToolTipRole).toString().contains("invoice&lt;U+202E&gt;fdp.ps"));
    QVERIFY(!cell.data(Qt::ToolTipRole).toString().contains(QChar(0x202E)));
    // What is opened is still the file itself.
    const std::unique_ptr<QMenu> menu = dialog_->CreateContextMenu();
    menu->findChild<QAction*>(QStringLiteral("32776"))->trigger();
    QCOMPARE(record_.opened.back().toLocalFile(), QString::fromStdString(dir_->File(name)));
  }

  void enterAndEscapeDoNothing() {
    Open();
    Control<QPushButton>("1007")->setFocus();
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
      QTest::keyClick(QApplication::focusWidget(), key);
      QTest::keyClick(dialog_.get(), key);
    }
    QVERIFY(dialog_->isVisible());
    QCOMPARE(dialog_->result(), 0);
    QVERIFY(record_.startedIn.empty());  // Enter did not press Add File(s)
  }

  void formatListShowsTheSavedType_data() {
    QTest::addColumn<QString>("saved");
    QTest::addColumn<int>("shown");
    QTest::newRow("TIFF") << "1" << 1;
    QTest::newRow("RAS, the last") << "11" << 11;
    QTest::newRow("past the list") << "12" << 0;
    QTest::newRow("negative") << "-3" << 0;
    QTest::newRow("not a number") << "tif" << 0;
  }
  void formatListShowsTheSavedType() {
    QFETCH(QString, saved);
    QFETCH(int, shown);
    std::ofstream(Profile()) << "[Set]\ntype=" << saved.toStdString() << "\n";
    Open();
    QCOMPARE(Control<QComboBox>("1003")->currentIndex(), shown);
    QCOMPARE(FormatFromType(dialog_->Settings().type).format, FormatFromType(shown).format);
  }

  void closingSavesTheWindowSettings() {
    Open();
    Control<QComboBox>("1003")->setCurrentIndex(3);
    Control<QComboBox>("1058")->setCurrentIndex(0);
    QVERIFY(dialog_->close());
    ConversionSettings saved;
    LoadWindowSettings(Profile(), saved);
    QCOMPARE(saved.type, 3);
    QCOMPARE(saved.mode, 0);
    QCOMPARE(saved.output, dialog_->Settings().output);
  }

  void settingsAreReloadedOnlyAfterOk() {
    Open();
    std::ofstream(Profile()) << "[Set]\nJQu=33\n";
    record_.settingsAnswer = false;
    Control<QPushButton>("1010")->click();
    QCOMPARE(dialog_->Settings().JQu, 75);
    record_.settingsAnswer = true;
    Control<QPushButton>("1010")->click();
    QCOMPARE(record_.settingsShown, 2);
    QCOMPARE(dialog_->Settings().JQu, 33);
  }

  // a.ps and a.eps of one folder would both write a_001.png: the later row is refused and told
  // the window's setting that keeps them apart. Once the settings sheet has stored it (OK), the
  // next run names every image after its full file name.
  void fullNamesFromTheSettingsReachTheRun() {
    std::ofstream(Profile()) << "[Set]\nmode=0\ntype=3\noutput=" << dir_->File("out") << "/\n";
    Open(1);
    dialog_->AddDroppedFiles({Script("a.ps", "pages 2"), Script("a.eps", "pages 1")});
    auto* start = Control<QPushButton>("1002");
    start->click();
    WaitForRunEnd();
    QCOMPARE(Status(0), QStringLiteral("Succeed"));
    QCOMPARE(Status(1), QStringLiteral("Failed"));
    QVERIFY2(StatusTip(1).simplified().contains(
                 QStringLiteral("; turn on 'Name after the full file name' under Settings, Common "
                                "(a.eps_001.png)")),
             qPrintable(StatusTip(1)));
    QVERIFY(fs::exists(dir_->File("a_002.png")) && !fs::exists(dir_->File("a_003.png")));

    std::ofstream(Profile(), std::ios::app) << "fullnames=1\n";  // what the sheet's OK writes
    Control<QPushButton>("1010")->click();
    start->click();
    WaitForRunEnd();
    QCOMPARE(Status(0), QStringLiteral("Succeed"));
    QCOMPARE(Status(1), QStringLiteral("Succeed"));
    for (const char* name : {"a.ps_001.png", "a.ps_002.png", "a.eps_001.png"})
      QVERIFY2(fs::exists(dir_->File(name)), name);

    // Into one destination folder, a.ps of another folder shares even the full names: it is
    // told the window's output mode that keeps the two apart.
    fs::create_directories(dir_->File("other"));
    dialog_->AddDroppedFiles({Script("other/a.ps", "pages 1")});
    Control<QComboBox>("1058")->setCurrentIndex(1);
    start->click();
    WaitForRunEnd();
    QCOMPARE(Status(2), QStringLiteral("Failed"));
    QVERIFY2(StatusTip(2).simplified().contains(QStringLiteral(
                 "; choose 'Convert to the source file folder', or rename one of the two files")),
             qPrintable(StatusTip(2)));
    QVERIFY(fs::exists(dir_->File("out/a.ps_002.png")));
    QVERIFY(fs::exists(dir_->File("out/a.eps_001.png")));
  }

  // A failed row's reason without a mouse: the line under the list shows the selected row's,
  // every cell gives it as its accessible description, and "Copy Reason" (the menu, Ctrl+C)
  // copies it. A row the next run does not reach keeps its status and says which run set it.
  void reasonsInSightAndRowsOfAnEarlierRun() {
    std::ofstream(Profile()) << "[Set]\nmode=0\ntype=3\n";
    Open(1);
    const std::string first = Script("first.ps", "pages 1");
    dialog_->AddDroppedFiles({first, Script("broken.ps", "pages 1 fail")});
    auto* start = Control<QPushButton>("1002");
    start->click();
    WaitForRunEnd();
    QCOMPARE(Status(1), QStringLiteral("Failed"));

    auto* details = Control<QLabel>("details");
    List()->setFocus();
    QTest::keyClick(List(), Qt::Key_Home);
    QVERIFY(details->text().isEmpty());  // a converted row: nothing beyond its status
    QTest::keyClick(List(), Qt::Key_Down);
    QCOMPARE(SelectedRows(), std::vector<int>{1});
    QVERIFY2(details->text().contains(QStringLiteral("/undefined in")),
             qPrintable(details->text()));
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(List());
    QVERIFY(list != nullptr && list->tableInterface() != nullptr);
    for (int column = 0; column < FileListModel::kColumnCount; ++column) {
      QAccessibleInterface* cell = list->tableInterface()->cellAt(1, column);
      QVERIFY(cell != nullptr);
      QVERIFY2(cell->text(QAccessible::Description).contains(QStringLiteral("/undefined in")),
               qPrintable(cell->text(QAccessible::Description)));
    }
    QVERIFY(list->tableInterface()->cellAt(0, 0)->text(QAccessible::Description).isEmpty());

    QGuiApplication::clipboard()->clear();
    dialog_->CreateContextMenu()->findChild<QAction*>(QStringLiteral("copyReason"))->trigger();
    const QString reason = dialog_->Model().Row(1).reason;
    QCOMPARE(QGuiApplication::clipboard()->text(), reason);
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(List(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), reason);
    test::SaveScreenshot(dialog_.get(), QStringLiteral("window-reason-line"));

    // The next run stops on its first row; the second keeps the first run's result.
    std::ofstream(first, std::ios::trunc) << "hang";
    start->click();
    QTRY_COMPARE_WITH_TIMEOUT(Status(0), QStringLiteral("Converting.."), 10000);
    start->click();  // Stop
    WaitForRunEnd();
    QCOMPARE(Status(0), QStringLiteral("Aborted"));
    QCOMPARE(Status(1), QStringLiteral("Failed"));
    const QString earlier = dialog_->Model().Details(1);
    const QString format = Control<QComboBox>("1003")->currentText();
    QVERIFY2(earlier.startsWith(QStringLiteral("Failed in an earlier run: ") + format +
                                QStringLiteral(" beside each source file, started ")),
             qPrintable(earlier));
    QVERIFY(earlier.endsWith(reason));
    QVERIFY(StatusTip(1).contains(QStringLiteral("earlier run")));
    QVERIFY(!dialog_->Model().Details(0).contains(QStringLiteral("earlier run")));
  }

  // An empty list says what to do, on screen and to a screen reader; a list with rows does not.
  void emptyListGivesAHint() {
    Open();
    auto* list = Control<FileListView>("1001");
    QCOMPARE(list->accessibleDescription(), QString::fromLatin1(kEmptyListHint));
    test::SaveScreenshot(dialog_.get(), QStringLiteral("window-empty"));
    dialog_->AddDroppedFiles(Rows(1));
    QVERIFY(list->accessibleDescription().isEmpty());
    dialog_->CreateContextMenu()->findChild<QAction*>(QStringLiteral("32774"))->trigger();
    QCOMPARE(list->accessibleDescription(), QString::fromLatin1(kEmptyListHint));
  }

  // Resizable around its default layout: the extra room goes to the list and its Files column,
  // and down to the smallest size every control stays inside the window, none over another.
  void windowResizesAroundTheList() {
    Open();
    const QSize base =
        DialogUnits::FromFont(QFont(QStringLiteral("Tahoma"), 8)).ToPixels(QSize(402, 259));
    QCOMPARE(dialog_->size(), base);
    QVERIFY(dialog_->minimumSize().width() < base.width());
    QVERIFY(dialog_->maximumSize().width() > base.width());
    const QRect list = List()->geometry();
    const QRect start = Control<QWidget>("1002")->geometry();
    const int filesColumn = List()->columnWidth(FileListModel::kFilesColumn);

    dialog_->resize(base + QSize(300, 120));
    QTRY_COMPARE(List()->geometry().size(), list.size() + QSize(300, 120));
    QCOMPARE(Control<QWidget>("1002")->geometry(), start.translated(300, 120));
    QCOMPARE(List()->columnWidth(FileListModel::kFilesColumn), filesColumn + 300);

    dialog_->resize(dialog_->minimumSize());
    QTRY_COMPARE(dialog_->size(), dialog_->minimumSize());
    // Every control inside the window, and the controls of each row of the layout apart.
    for (QWidget* widget : dialog_->findChildren<QWidget*>()) {
      if (!widget->isVisibleTo(dialog_.get()) || widget->isWindow()) continue;
      const QRect inWindow(widget->mapTo(dialog_.get(), QPoint(0, 0)), widget->size());
      QVERIFY2(dialog_->rect().contains(inWindow), qPrintable(widget->objectName()));
    }
    const std::vector<std::vector<const char*>> rows = {{"1007", "1008", "1009", "1010", "1016"},
                                                        {"outputGroup", "1002"},
                                                        {"1003", "1013", "1014"}};
    for (const auto& row : rows)
      for (size_t i = 0; i < row.size(); ++i)
        for (size_t j = i + 1; j < row.size(); ++j) {
          const QWidget* a = Control<QWidget>(row[i]);
          const QWidget* b = Control<QWidget>(row[j]);
          QVERIFY2(!QRect(a->mapTo(dialog_.get(), QPoint()), a->size())
                        .intersects(QRect(b->mapTo(dialog_.get(), QPoint()), b->size())),
                   row[i]);
        }
    QVERIFY(List()->height() > 3 * List()->sizeHintForRow(0));
    test::SaveScreenshot(dialog_.get(), QStringLiteral("window-smallest"));
  }

  // Every captioned control of the window and every menu item has one mnemonic, none shared;
  // the caption read aloud is the caption without its marker.
  void mnemonicsOnEveryCaption() {
    Open();
    auto letterOf = [](const QString& text) -> QChar {
      QChar letter;
      int markers = 0;
      for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != QLatin1Char('&')) continue;
        if (text[i + 1] == QLatin1Char('&')) {
          ++i;
          continue;
        }
        ++markers;
        letter = text[i + 1].toLower();
      }
      return markers == 1 ? letter : QChar();
    };
    QStringList captions;
    for (QAbstractButton* button : dialog_->findChildren<QAbstractButton*>())
      if (!button->text().isEmpty()) captions << button->text();
    for (QGroupBox* group : dialog_->findChildren<QGroupBox*>()) captions << group->title();
    QCOMPARE(captions.size(), 9);
    QSet<QChar> letters;
    for (const QString& caption : captions) {
      const QChar letter = letterOf(caption);
      QVERIFY2(!letter.isNull() && !letters.contains(letter), qPrintable(caption));
      letters.insert(letter);
    }
    QCOMPARE(Control<QWidget>("1007")->accessibleName(), QStringLiteral("Add File(s)"));
    // Alt+I goes to the format list.
    dialog_->activateWindow();
    QTRY_VERIFY(dialog_->isActiveWindow());
    QTest::keyClick(dialog_.get(), Qt::Key_I, Qt::AltModifier);
    QCOMPARE(QApplication::focusWidget(), Control<QWidget>("1003"));

    letters.clear();
    const std::unique_ptr<QMenu> menu = dialog_->CreateContextMenu();  // lives while it is read
    for (QAction* action : menu->actions()) {
      if (action->isSeparator()) continue;
      const QChar letter = letterOf(action->text());
      QVERIFY2(!letter.isNull() && !letters.contains(letter), qPrintable(action->text()));
      letters.insert(letter);
    }
  }

  void runReportsOnTheGuiThread() {
    std::ofstream(Profile()) << "[Set]\nmode=0\ntype=3\n";
    Open(2);
    const std::vector<std::string> files = {Script("two.ps", "pages 2"),
                                            Script("broken.ps", "pages 1 fail"),
                                            Script("hang.ps", "hang"), Script("one.ps", "pages 1")};
    dialog_->AddDroppedFiles(files);
    GuiThreadWatch watch;
    std::atomic<int> offThread{0};
    auto check = [&] {
      if (QThread::currentThread() != qApp->thread()) ++offThread;
    };
    connect(&dialog_->Model(), &QAbstractItemModel::dataChanged, this, check, Qt::DirectConnection);
    connect(Control<QProgressBar>("1011"), &QProgressBar::valueChanged, this, check,
            Qt::DirectConnection);
    connect(List()->selectionModel(), &QItemSelectionModel::currentChanged, this, check,
            Qt::DirectConnection);

    auto* start = Control<QPushButton>("1002");
    start->click();
    QCOMPARE(start->accessibleName(), QStringLiteral("Stop Converting"));
    for (const char* id : {"1007", "1008", "1009", "1010", "1003", "1058"})
      QVERIFY2(!Control<QWidget>(id)->isEnabled(), id);
    QVERIFY(Control<QProgressBar>("1011")->isVisible());

    QTRY_COMPARE_WITH_TIMEOUT(Status(2), QStringLiteral("Converting.."), kHangGuardMs);
    QCOMPARE(Status(0), QStringLiteral("Succeed"));
    QCOMPARE(Status(1), QStringLiteral("Failed"));
    QVERIFY(Control<QProgressBar>("1011")->value() >= 75);
    // The last file converts beside the one that hangs, but the list shows one row at a time: its
    // result waits for the row before it.
    QTRY_VERIFY_WITH_TIMEOUT(fs::exists(dir_->File("one_001.png")), kHangGuardMs);
    QTest::qWait(100);
    QCOMPARE(Status(3), QStringLiteral("Ready"));
    QCOMPARE(SelectedRows(), std::vector<int>{2});
    test::SaveScreenshot(dialog_.get(), QStringLiteral("window-running"));

    // During the run: no drop, no close, Help opens the help page instead of the about box.
    QVERIFY(!Drop({Script("late.ps", "pages 1")}));
    QCOMPARE(dialog_->Model().rowCount(), 4);
    QVERIFY(!dialog_->close());
    QVERIFY(dialog_->isVisible());
    Control<QPushButton>("1016")->click();
    QCOMPARE(record_.aboutShown, 0);
    QCOMPARE(record_.opened.size(), size_t(1));
    QVERIFY(record_.opened[0].isLocalFile());
    QCOMPARE(QFileInfo(record_.opened[0].toLocalFile()).fileName(), QStringLiteral("help.html"));
    // Clicks and keys in the list do not move the run's selection.
    QTest::keyClick(List(), Qt::Key_Delete);
    QCOMPARE(dialog_->Model().rowCount(), 4);

    start->click();  // Stop
    WaitForRunEnd();
    QCOMPARE(Status(2), QStringLiteral("Aborted"));
    QVERIFY(StatusTip(2).contains(QStringLiteral("Stopped by the user")));
    QCOMPARE(Status(3), QStringLiteral("Succeed"));
    // The reason keeps its own characters; a row that converted has no tooltip.
    QVERIFY2(StatusTip(1).contains(QStringLiteral("/undefined in &lt;&lt;foo&gt;&gt; &amp; bar")),
             qPrintable(StatusTip(1)));
    QVERIFY(StatusTip(0).isEmpty());
    QVERIFY(fs::exists(dir_->File("two_001.png")) && fs::exists(dir_->File("two_002.png")));

    QCOMPARE(start->accessibleName(), QStringLiteral("Start Converting"));
    for (const char* id : {"1007", "1008", "1009", "1010", "1003", "1058"})
      QVERIFY2(Control<QWidget>(id)->isEnabled(), id);
    QVERIFY(!Control<QProgressBar>("1011")->isVisible());
    QCOMPARE(SelectedRows(), std::vector<int>{0});
    Control<QPushButton>("1016")->click();
    QCOMPARE(record_.aboutShown, 1);
    QCOMPARE(offThread.load(), 0);
    QCOMPARE(watch.Violations(), 0);

    // The failure's reason shows as the Status cell's tooltip.
    const QRect cell = List()->visualRect(dialog_->Model().index(1, FileListModel::kStatusColumn));
    QHelpEvent help(QEvent::ToolTip, cell.center(), List()->viewport()->mapToGlobal(cell.center()));
    QApplication::sendEvent(List()->viewport(), &help);
    QTRY_VERIFY_WITH_TIMEOUT(QToolTip::isVisible(), kHangGuardMs);
    QVERIFY(QToolTip::text().contains(QStringLiteral("undefined")));
    test::SaveScreenshot(dialog_.get(), QStringLiteral("window-after-run"));
    QToolTip::hideText();

    // A second run converts every row again from the first.
    fs::remove(dir_->File("one_001.png"));
    start->click();
    QTRY_COMPARE_WITH_TIMEOUT(Status(0), QStringLiteral("Succeed"), kHangGuardMs);
    QTRY_COMPARE_WITH_TIMEOUT(Status(2), QStringLiteral("Converting.."), kHangGuardMs);
    QTRY_VERIFY_WITH_TIMEOUT(fs::exists(dir_->File("one_001.png")), kHangGuardMs);
  }
};

}  // namespace orvalis

QTEST_MAIN(orvalis::MainWindowTest)
#include "main_window_test.moc"
