// Runs through the window with the real renderer (libtavrinx.so over Ghostscript): documents that
// convert, a document that never ends and is stopped, and a broken document.

#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QHelpEvent>
#include <QProcess>
#include <QPushButton>
#include <QTest>
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
#include "tests/support/temp_dir.h"
#include "tests/ui/window_fixture.h"
#include "ui/window/main_dialog.h"

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
  const std::string self = std::to_string(::getpid());
  for (const fs::directory_entry& entry : fs::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    // pid (comm) state ppid ...: the name may hold spaces, so read after its last ')'.
    const size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 2));
    std::string state, ppid;
    rest >> state >> ppid;
    if (ppid == self && state != "Z") children.push_back(line.substr(0, close + 1));
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
            StatusPacing pacing = kWindowPacing, int filesAtOnce = 0) {
    std::ofstream(dir_->File("Profile.ini"))
        << "[Set]\ntype=3\nmode=1\noutput=" << dir_->File("out") << "/\n";
    WindowServices services =
        test::RecordingServices(*renderer_, dir_->File("Profile.ini"), record_);
    services.pacing = pacing;
    services.batch.threads = threads;
    services.filesAtOnce = filesAtOnce;
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
