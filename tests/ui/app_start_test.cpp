// Start-up: one instance per user and executable name. Real processes of a stand-in program
// (app_start_probe) show that a second start exits at once without a window, that two names
// run side by side, and that neither a lock left by a killed instance nor a program it started
// blocks the next start.

#include <signal.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "ui/app/single_instance.h"

using orvalis::SingleInstance;

namespace {

QString ProbePath() {
  return QCoreApplication::applicationDirPath() + "/app_start_probe";
}

}  // namespace

class AppStartTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir runtime_;
  QString marker_;
  std::vector<std::unique_ptr<QProcess>> probes_;
  qint64 child_ = 0;  // a program a probe started, ended with the test

  QProcess* Start(const QString& program, bool withChild = false) {
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", runtime_.path());
    environment.insert("ORVALIS_PROBE_MARKER", marker_);
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    if (withChild) environment.insert("ORVALIS_PROBE_CHILD", "1");
    process->setProcessEnvironment(environment);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(program, {});
    if (!process->waitForStarted()) qFatal("cannot start %s", qPrintable(program));
    probes_.push_back(std::move(process));
    return probes_.back().get();
  }

  // The marker lines ("<pid> <child pid>") written so far.
  QList<QByteArrayList> Marks() const {
    QList<QByteArrayList> marks;
    QFile file(marker_);
    if (!file.open(QIODevice::ReadOnly)) return marks;
    for (const QByteArray& line : file.readAll().split('\n')) {
      if (!line.isEmpty()) marks << line.split(' ');
    }
    return marks;
  }

  bool ShowedWindow(const QProcess* process) const {
    for (const QByteArrayList& mark : Marks()) {
      if (mark.first().toLongLong() == process->processId()) return true;
    }
    return false;
  }

 private slots:
  void init() {
    QVERIFY(runtime_.isValid());
    marker_ = runtime_.filePath("marks.txt");
    QFile::remove(marker_);
  }

  void cleanup() {
    for (const auto& probe : probes_) {
      probe->kill();
      probe->waitForFinished();
    }
    probes_.clear();
    if (child_ > 0) ::kill(pid_t(child_), SIGKILL);
    child_ = 0;
  }

  void secondStartExitsAtOnceWithoutWindow() {
    QProcess* first = Start(ProbePath());
    QTRY_VERIFY_WITH_TIMEOUT(ShowedWindow(first), 15000);
    QProcess* second = Start(ProbePath());
    QVERIFY(second->waitForFinished(15000));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), orvalis::kExitAlreadyRunning);
    QCOMPARE(Marks().size(), 1);
    QCOMPARE(first->state(), QProcess::Running);
  }

  void twoExecutableNamesRunSideBySide() {
    const QString copy = runtime_.filePath("other_probe");
    QFile::remove(copy);
    QVERIFY(QFile::copy(ProbePath(), copy));
    QVERIFY(QFile::setPermissions(copy, QFile::permissions(ProbePath())));
    QProcess* first = Start(ProbePath());
    QProcess* second = Start(copy);
    QTRY_VERIFY_WITH_TIMEOUT(ShowedWindow(first) && ShowedWindow(second), 15000);
    QCOMPARE(first->state(), QProcess::Running);
    QCOMPARE(second->state(), QProcess::Running);
  }

  void lockOfKilledInstanceDoesNotBlock() {
    QProcess* first = Start(ProbePath());
    QTRY_VERIFY_WITH_TIMEOUT(ShowedWindow(first), 15000);
    first->kill();
    QVERIFY(first->waitForFinished());
    QVERIFY(QFile::exists(runtime_.filePath("kestrune-orvalis/app_start_probe.lock")));
    QProcess* next = Start(ProbePath());
    QTRY_VERIFY_WITH_TIMEOUT(ShowedWindow(next), 15000);
  }

  void programStartedByKilledInstanceDoesNotHoldTheLock() {
    QProcess* first = Start(ProbePath(), true);
    QTRY_VERIFY_WITH_TIMEOUT(ShowedWindow(first), 15000);
    child_ = Marks().first().at(1).toLongLong();
    QVERIFY(child_ > 0);
    first->kill();
    QVERIFY(first->waitForFinished());
    QProcess* next = Start(ProbePath());
    QTRY_VERIFY_WITH_TIMEOUT(ShowedWindow(next), 15000);
  }

  void lockIsPerNameAndFreedWithItsHolder() {
    const std::string folder = runtime_.filePath("locks").toStdString();
    auto first = std::make_unique<SingleInstance>("viewer", folder);
    QVERIFY(first->TryAcquire());
    SingleInstance second("viewer", folder);
    QVERIFY(!second.TryAcquire());
    SingleInstance other("converter", folder);
    QVERIFY(other.TryAcquire());
    first.reset();
    QVERIFY(second.TryAcquire());
  }

  void withoutRuntimeFolderTheCacheFolderHoldsTheLock() {
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray savedCache = qgetenv("XDG_CACHE_HOME");
    qunsetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_CACHE_HOME", runtime_.filePath("cache").toLocal8Bit());
    SingleInstance instance("viewer");
    const bool acquired = instance.TryAcquire();
    const QString path = QString::fromStdString(instance.LockPath());
    if (savedRuntime.isNull()) {
      qunsetenv("XDG_RUNTIME_DIR");
    } else {
      qputenv("XDG_RUNTIME_DIR", savedRuntime);
    }
    if (savedCache.isNull()) {
      qunsetenv("XDG_CACHE_HOME");
    } else {
      qputenv("XDG_CACHE_HOME", savedCache);
    }
    QVERIFY(acquired);
    QCOMPARE(path, runtime_.filePath("cache/kestrune-orvalis/viewer.lock"));
  }
};

QTEST_GUILESS_MAIN(AppStartTest)
#include "app_start_test.moc"
