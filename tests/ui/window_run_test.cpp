// Runs through the window with the real renderer (libtavrinx.so over Ghostscript): documents that
// convert, a document that never ends and is stopped, and a broken document.

#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QHelpEvent>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QTreeView>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "batch/renderer_loader.h"
#include "tests/support/oracle.h"
#include "tests/support/stateful_documents.h"
#include "tests/support/processes.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/window_fixture.h"
#include "ui/window/main_dialog.h"
#include "ui/window/preview_pane.h"

namespace orvalis {
namespace {

namespace fs = std::filesystem;

// How long a test waits for something it needs to happen before it gives up: only a guard
// against a hang, long enough for the busiest machine. Verdicts never depend on it.
constexpr int kHangGuardMs = 180000;

constexpr char kPage[] =
    "%!PS\n/Helvetica findfont 24 scalefont setfont 72 700 moveto (Kestrune) show showpage\n";

// Processes whose parent is this test: a Ghostscript left running would be one.
std::vector<std::string> ChildProcesses() {
  std::vector<std::string> children;
  for (const auto& [pid, process] : test::Processes()) {
    if (process.parent == ::getpid() && process.state != 'Z')
      children.push_back(std::to_string(pid) + " (" + process.command + ")");
  }
  return children;
}

}  // namespace

class WindowRunTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<test::TempDir> dir_;
  std::unique_ptr<RendererLibrary> renderer_;
  test::DesktopRecord record_;
  std::unique_ptr<MainDialog> dialog_;
  std::string tmp_;

  std::string Write(const std::string& name, const std::string& text) {
    return test::WriteScript(dir_->Path().string(), name, text);
  }
  // A window converting into out/ as PNG, with the window's own pauses unless `pacing` says
  // otherwise, converting `threads` pages at once (0: one per processor, as the window does).
  void Open(const std::vector<std::string>& files, int threads = 0,
            StatusPacing pacing = kWindowPacing, int filesAtOnce = 0, bool preview = false) {
    // A window opened again keeps what the one before wrote. The preview pane is shown once
    // the user has chosen it.
    if (!fs::exists(dir_->File("Profile.ini")))
      std::ofstream(dir_->File("Profile.ini"))
          << "[Set]\ntype=3\nmode=1\noutput=" << dir_->File("out") << "/\n"
          << (preview ? "Preview=1\n" : "");
    WindowServices services =
        test::RecordingServices(*renderer_, dir_->File("Profile.ini"), record_);
    services.pacing = pacing;
    services.batch.threads = threads;
    services.filesAtOnce = filesAtOnce;
    if (preview) services.previewRenderer = renderer_.get();
    dialog_ = std::make_unique<MainDialog>(std::move(services));
    dialog_->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog_.get()));
    dialog_->AddDroppedFiles(files);
  }
  QPushButton* Start() { return dialog_->findChild<QPushButton*>(QStringLiteral("1002")); }
  QString Status(int row) {
    return dialog_->Model().index(row, FileListModel::kStatusColumn).data().toString();
  }
  void WaitForRunEnd(int ms) {
    QTRY_VERIFY_WITH_TIMEOUT(!dialog_->IsRunning(), ms);
    dialog_->WaitForWorker();
  }

 private slots:
  void initTestCase() {
    std::string message, detail;
    const char* bin = std::getenv("ORVALIS_BIN_DIR");
    renderer_ = RendererLibrary::Load(&message, &detail, bin ? std::string(bin) + "/" : "");
    QVERIFY2(renderer_ != nullptr, (message + " " + detail).c_str());
  }
  void init() {
    dir_ = std::make_unique<test::TempDir>();
    // The renderer's page folders go here, so that none left behind goes unseen.
    tmp_ = dir_->File("tmp");
    fs::create_directory(tmp_);
    ::setenv("TMPDIR", tmp_.c_str(), 1);
    record_ = {};
  }
  void cleanup() {
    dialog_.reset();
    ::unsetenv("TMPDIR");
    dir_.reset();
  }

  void twoDocumentsConvert() {
    Open({Write("first.ps", kPage), Write("second.ps", std::string(kPage) + kPage)});
    Start()->click();
    WaitForRunEnd(kHangGuardMs);
    QCOMPARE(Status(0), QStringLiteral("Succeed"));
    QCOMPARE(Status(1), QStringLiteral("Succeed"));
    for (const char* name : {"first_001.png", "second_001.png", "second_002.png"}) {
      std::string error;
      const auto image = test::PillowDecode(dir_->File("out/") + name, 0, &error);
      QVERIFY2(image.has_value(), (std::string(name) + ": " + error).c_str());
      QCOMPARE(image->format, std::string("PNG"));
      QVERIFY(image->width > 500);  // a Letter or A4 page at 72 dpi
    }
    QVERIFY(fs::is_empty(tmp_));
  }

  // Documents whose pages depend on the whole run that draws them (copies, page counters
  // brought back by restore, a clock seed) give the pages of one run, named 1..N in its order,
  // however many pages the window converts at once.
  void statefulDocumentsGiveThePagesOfOneRun() {
    std::string error;
    const std::vector<test::StatefulDocument> documents =
        test::WriteStatefulDocuments(dir_->Path().string(), &error);
    QVERIFY2(!documents.empty(), error.c_str());
    std::vector<std::string> files;
    for (const test::StatefulDocument& document : documents) files.push_back(document.path);
    for (const int threads : {1, 2, 4}) {
      Open(files, threads, kNoPacing);
      Start()->click();
      WaitForRunEnd(120000);
      size_t images = 0;
      for (size_t row = 0; row < documents.size(); ++row) {
        const test::StatefulDocument& document = documents[row];
        QCOMPARE(Status(static_cast<int>(row)), QStringLiteral("Succeed"));
        const std::vector<std::string> written =
            test::ImagesOf(document, dir_->File("out") + "/", ".png");
        const std::string wrong = test::CheckImages(document, written);
        QVERIFY2(wrong.empty(), (std::to_string(threads) + " threads: " + wrong).c_str());
        images += written.size();
      }
      QCOMPARE(static_cast<size_t>(std::distance(fs::directory_iterator(dir_->File("out")), {})),
               images);
      QVERIFY(fs::is_empty(tmp_));
      dialog_.reset();
      fs::remove_all(dir_->File("out"));
    }
  }

  // One file at a time: the file after the endless one is never started. Two at once: it
  // converts beside it, and its result is shown only once the endless row has its own.
  void endlessDocumentIsStoppedAtOnce_data() {
    QTest::addColumn<int>("filesAtOnce");
    QTest::addColumn<QString>("afterStatus");
    QTest::newRow("one file at a time") << 1 << QStringLiteral("Ready");
    QTest::newRow("two files at once") << 2 << QStringLiteral("Succeed");
  }
  void endlessDocumentIsStoppedAtOnce() {
    QFETCH(int, filesAtOnce);
    QFETCH(QString, afterStatus);
    Open({Write("endless.ps", "%!PS\n{ 1 pop } loop\n"), Write("after.ps", kPage)}, 0,
         kWindowPacing, filesAtOnce);
    Start()->click();
    QTRY_COMPARE_WITH_TIMEOUT(Status(0), QStringLiteral("Converting.."), kHangGuardMs);
    // The interpreter is at work when the Stop click comes.
    QTRY_VERIFY_WITH_TIMEOUT(!ChildProcesses().empty(), kHangGuardMs);
    QTest::qWait(300);
    if (filesAtOnce == 2)
      QTRY_VERIFY_WITH_TIMEOUT(fs::exists(dir_->File("out/after_001.png")), kHangGuardMs);
    else
      QVERIFY(!fs::exists(dir_->File("out/after_001.png")));
    QCOMPARE(Status(1), QStringLiteral("Ready"));
    QElapsedTimer stop;
    stop.start();
    Start()->click();
    // The document never ends: only the Stop ends it. The time it took is told, not judged.
    QTRY_COMPARE_WITH_TIMEOUT(Status(0), QStringLiteral("Aborted"), kHangGuardMs);
    qInfo("The row showed Aborted %lld ms after the Stop click", stop.elapsed());
    WaitForRunEnd(kHangGuardMs);
    QCOMPARE(Status(1), afterStatus);
    QVERIFY(dialog_->Model()
                .index(0, FileListModel::kStatusColumn)
                .data(Qt::ToolTipRole)
                .toString()
                .contains(QStringLiteral("Stopped by the user")));
    const std::vector<std::string> children = ChildProcesses();
    QVERIFY2(children.empty(), children.empty() ? "" : children.front().c_str());
    QVERIFY2(fs::is_empty(tmp_), "a temporary page folder was left");
  }

  void Select(int row) {
    auto* list = dialog_->findChild<QTreeView*>(QStringLiteral("1001"));
    list->selectionModel()->setCurrentIndex(
        dialog_->Model().index(row, 0),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }

  // The preview draws the selected document's first page through the plug-in and shows beside
  // it the page as the settings write it; a longer document gets a slider; moving the selection
  // ends the rendering of the document before; a document seen before shows at once from what
  // was kept. The event loop is watched meanwhile (its longest gap is written out, never judged
  // here: that is bench_window's). Hidden, the pane stays hidden in the next window.
  void previewShowsTheSelectedDocument() {
    std::string five = "%!PS\n/Helvetica findfont 48 scalefont setfont\n";
    for (int page = 1; page <= 5; ++page)
      five += "72 600 moveto (" + std::to_string(page) + ") show showpage\n";
    Open({Write("one.ps", kPage), Write("five.ps", five),
          Write("endless.ps", "%!PS\n{ 1 pop } loop\n")},
         0, kWindowPacing, 0, true);
    PreviewPane* pane = dialog_->Preview();
    QVERIFY(pane->isVisible());
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, longest = 0;
    QTimer ticker;
    ticker.setInterval(5);
    connect(&ticker, &QTimer::timeout, this, [&] {
      longest = std::max(longest, clock.elapsed() - last);
      last = clock.elapsed();
    });
    ticker.start();

    QSignalSpy written(pane, &PreviewPane::writtenShown);
    Select(1);
    QTRY_VERIFY_WITH_TIMEOUT(!written.isEmpty(), 30000);
    qInfo("five.ps: its first page and its written side shown %lld ms after the selection",
          clock.elapsed());
    QCOMPARE(pane->Page(), 1);
    const QImage page = pane->ShownPage();
    QVERIFY(!page.isNull());
    // Letter or A4 at the preview's 72 dpi.
    QVERIFY2(page.width() >= 590 && page.width() <= 612, qPrintable(QString::number(page.width())));
    QVERIFY(page.height() > page.width());
    QVERIFY(!pane->ShownWritten().isNull());
    auto* slider = pane->findChild<QSlider*>(QStringLiteral("previewSlider"));
    QTRY_COMPARE_WITH_TIMEOUT(slider->maximum(), 5, 30000);
    QTRY_COMPARE_WITH_TIMEOUT(pane->PageText(), QStringLiteral("Page 1 of 5"), 30000);
    written.clear();
    slider->setValue(3);
    QTRY_VERIFY_WITH_TIMEOUT(!written.isEmpty(), 30000);
    QCOMPARE(pane->PageText(), QStringLiteral("Page 3 of 5"));
    QVERIFY(pane->ShownPage() != page);

    // Turned by the settings: the written side is landscape.
    std::ofstream(dir_->File("Profile.ini"), std::ios::app) << "angle=90\n";
    written.clear();
    dialog_->findChild<QPushButton*>(QStringLiteral("1010"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(!written.isEmpty(), 30000);
    QVERIFY(pane->ShownWritten().width() > pane->ShownWritten().height());
    test::SaveScreenshot(dialog_.get(), QStringLiteral("window-preview"));
    // A format the window cannot read itself is shown through PNG, and the pane says so.
    written.clear();
    dialog_->findChild<QComboBox*>(QStringLiteral("1003"))->setCurrentIndex(1);  // TIFF
    QTRY_VERIFY_WITH_TIMEOUT(!written.isEmpty(), 30000);
    QVERIFY(!pane->ShownWritten().isNull());
    QCOMPARE(pane->Note(), QStringLiteral("Shown as PNG: the window cannot show TIF files"));

    // A document that never ends is left for another: its interpreter goes.
    Select(2);
    QTRY_VERIFY_WITH_TIMEOUT(!ChildProcesses().empty(), 10000);
    written.clear();
    Select(0);
    QTRY_VERIFY_WITH_TIMEOUT(!written.isEmpty(), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(ChildProcesses().empty(), 10000);
    // Back to the document seen before: its page is there at once, before any event.
    Select(1);
    QVERIFY(!pane->ShownPage().isNull());
    QCOMPARE(pane->Page(), 1);
    // A document whose page never comes is given up after a while, its interpreter ended.
    Select(2);
    QTRY_COMPARE_WITH_TIMEOUT(
        pane->Note(), QStringLiteral("No preview: a page took longer than 10 s to draw"), 60000);
    QTRY_VERIFY_WITH_TIMEOUT(ChildProcesses().empty(), 10000);
    ticker.stop();
    qInfo("The event loop's longest gap while the previews were drawn: %lld ms", longest);

    // Hidden, and hidden again in the next window.
    auto* toggle = dialog_->findChild<QPushButton*>(QStringLiteral("previewToggle"));
    QVERIFY(toggle->isChecked());
    const int wide = dialog_->width();
    toggle->click();
    QVERIFY(!pane->isVisible());
    QVERIFY(dialog_->width() < wide);
    Open({}, 0, kWindowPacing, 0, true);
    QVERIFY(!dialog_->Preview()->isVisible());
    QVERIFY(!dialog_->findChild<QPushButton*>(QStringLiteral("previewToggle"))->isChecked());
    dialog_.reset();
    QVERIFY2(fs::is_empty(tmp_), "a preview's page folder was left");
  }

  // While a run converts, the preview draws nothing (it would take the run's processors): a
  // document it has not drawn says it waits; once the run is over, the selected one is drawn.
  void previewWaitsForTheRun() {
    Open({Write("a.ps", kPage), Write("b.ps", std::string(kPage) + kPage)}, 0, kWindowPacing, 1,
         true);
    PreviewPane* pane = dialog_->Preview();
    QSignalSpy written(pane, &PreviewPane::writtenShown);
    Start()->click();
    QTRY_COMPARE_WITH_TIMEOUT(Status(1), QStringLiteral("Converting."), 30000);
    QCOMPARE(pane->Note(), QStringLiteral("The preview is drawn when the conversion is over."));
    QVERIFY(pane->ShownPage().isNull());
    WaitForRunEnd(60000);
    written.clear();
    QTRY_VERIFY_WITH_TIMEOUT(!written.isEmpty(), 30000);
    QVERIFY(!pane->ShownPage().isNull());
    QCOMPARE(pane->Note(), QString());
    dialog_.reset();
    QVERIFY(fs::is_empty(tmp_));
  }

  // Without its renderer the program says so and ends, before any window.
  void missingRendererIsReported() {
    const char* bin = std::getenv("ORVALIS_BIN_DIR");
    QVERIFY(bin != nullptr);
    const fs::path program = dir_->Path() / "kestrune-orvalis";
    fs::copy_file(fs::path(bin) / "kestrune-orvalis", program);
    fs::create_directory(dir_->Path() / "run");
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"),
                       QString::fromStdString(dir_->File("run")));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    QByteArray said;
    connect(&process, &QProcess::readyReadStandardError, this,
            [&] { said += process.readAllStandardError(); });
    process.start(QString::fromStdString(program.string()), {});
    QVERIFY(process.waitForStarted());
    // The message is printed as its box opens; the box then waits for the user.
    QTRY_VERIFY_WITH_TIMEOUT(
        process.state() != QProcess::Running || said.contains("please reinstall"), kHangGuardMs);
    QVERIFY2(said.contains("Load libtavrinx.so failed, please reinstall!"), said.constData());
    process.kill();
    process.waitForFinished();
  }

  void brokenDocumentFailsWithItsReason() {
    Open({Write("first.ps", kPage), Write("broken.ps", "%!PS\n72 72 moveto nosuchoperator\n")});
    Start()->click();
    WaitForRunEnd(kHangGuardMs);
    QCOMPARE(Status(0), QStringLiteral("Succeed"));
    QCOMPARE(Status(1), QStringLiteral("Failed"));
    auto* list = dialog_->findChild<QTreeView*>(QStringLiteral("1001"));
    const QRect cell = list->visualRect(dialog_->Model().index(1, FileListModel::kStatusColumn));
    QHelpEvent help(QEvent::ToolTip, cell.center(), list->viewport()->mapToGlobal(cell.center()));
    QApplication::sendEvent(list->viewport(), &help);
    QTRY_VERIFY_WITH_TIMEOUT(QToolTip::isVisible(), kHangGuardMs);
    QVERIFY2(QToolTip::text().contains(QStringLiteral("nosuchoperator")),
             qPrintable(QToolTip::text()));
    test::SaveScreenshot(dialog_.get(), QStringLiteral("window-real-run-failed"));
    QToolTip::hideText();
    QVERIFY(fs::is_empty(tmp_));
  }
};

}  // namespace orvalis

QTEST_MAIN(orvalis::WindowRunTest)
#include "window_run_test.moc"
