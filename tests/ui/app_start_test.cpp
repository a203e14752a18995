// Start-up: one instance per user and executable name. Real processes of a stand-in program
// (app_start_probe) show that a second start exits at once without a window, that one with
// files hands them to the running instance, that two names run side by side, and that neither a
// lock left by a killed instance nor a program it started blocks the next start. The lock is
// taken only in a private folder of the user's own, and the hand-off talks only to the user's
// own processes.

#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>

#include "ui/app/file_hand_off.h"
#include "ui/app/single_instance.h"

using orvalis::FileHandOffServer;
using orvalis::HandOffAnswer;
using orvalis::SingleInstance;

// How long a test waits for something it needs to happen before it gives up: only a guard
// against a hang, long enough for the busiest machine. Verdicts never depend on it.
constexpr int kHangGuardMs = 180000;

namespace {

// Sets environment variables (nullptr: unsets) for as long as it lives.
class Environment {
 public:
  Environment(std::initializer_list<std::pair<const char*, QString>> variables) {
    for (const auto& [name, value] : variables) {
      saved_.emplace_back(name, qgetenv(name));
      if (value.isNull()) {
        qunsetenv(name);
      } else {
        qputenv(name, value.toLocal8Bit());
      }
    }
  }
  ~Environment() {
    for (const auto& [name, value] : saved_) {
      if (value.isNull()) {
        qunsetenv(name);
      } else {
        qputenv(name, value);
      }
    }
  }

 private:
  std::vector<std::pair<const char*, QByteArray>> saved_;
};

unsigned Mode(const QString& path) {
  struct stat info {};
  return ::lstat(qPrintable(path), &info) == 0 ? info.st_mode & 07777 : 0;
}

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

  QProcess* Start(const QString& program, bool withChild = false,
                  const QStringList& arguments = {}) {
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", runtime_.path());
    environment.insert("ORVALIS_PROBE_MARKER", marker_);
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    if (withChild) environment.insert("ORVALIS_PROBE_CHILD", "1");
    process->setProcessEnvironment(environment);
    process->setWorkingDirectory(runtime_.path());
    process->start(program, arguments);
    if (!process->waitForStarted()) qFatal("cannot start %s", qPrintable(program));
    probes_.push_back(std::move(process));
    return probes_.back().get();
  }

  QByteArrayList MarkLines() const {
    QFile file(marker_);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QByteArrayList lines = file.readAll().split('\n');
    lines.removeAll(QByteArray());
    return lines;
  }
  // The marker lines of shown windows ("<pid> <child pid>") written so far.
  QList<QByteArrayList> Marks() const {
    QList<QByteArrayList> marks;
    for (const QByteArray& line : MarkLines()) {
      if (!line.startsWith("file ")) marks << line.split(' ');
    }
    return marks;
  }
  // The files the probes took, in order.
  QStringList Files() const {
    QStringList files;
    for (const QByteArray& line : MarkLines()) {
      if (line.startsWith("file ")) files << QString::fromLocal8Bit(line.mid(5));
    }
    return files;
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
    QTRY_VERIFY_WITH_TIMEOUT(ShowedWindow(first), kHangGuardMs);
    QProcess* second = Start(ProbePath());
    QVERIFY(second->waitForFinished(kHangGuardMs));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), orvalis::kExitAlreadyRunning);
    QCOMPARE(second->readAll() + second->readAllStandardError(), QByteArray());
    QCOMPARE(Marks().size(), 1);
    QCOMPARE(first->state(), QProcess::Running);
  }

  void secondStartHandsItsFilesToTheRunningOne() {
    QProcess* first = Start(ProbePath(), false, {"own.ps"});
    QTRY_VERIFY_WITH_TIMEOUT(ShowedWindow(first), kHangGuardMs);
    QCOMPARE(Files(), QStringList{"own.ps"});  // its own files, as given
    // Relative names are made absolute where the second start runs.
    QProcess* second = Start(ProbePath(), false, {"a b.ps", "/elsewhere/c.ps"});
    QVERIFY(second->waitForFinished(kHangGuardMs));
    QCOMPARE(second->exitCode(), 0);
    QCOMPARE(second->readAllStandardError(), QByteArray());
    QCOMPARE(Files(), QStringList({"own.ps", runtime_.filePath("a b.ps"), "/elsewhere/c.ps"}));
    // Refused files: the second start says what the running one said, and fails.
    QProcess* refused = Start(ProbePath(), false, {"refuse.ps"});
    QVERIFY(refused->waitForFinished(kHangGuardMs));
    QCOMPARE(refused->exitCode(), 1);
    QVERIFY2(refused->readAllStandardError().contains("refused: " +
                                                      runtime_.filePath("refuse.ps").toLocal8Bit()),
             "no message");
    QCOMPARE(Marks().size(), 1);
    QCOMPARE(first->state(), QProcess::Running);
    // The first instance gone, its socket left behind: the next one starts and takes files.
    first->kill();
    QVERIFY(first->waitForFinished());
    QProcess* next = Start(ProbePath());
    QTRY_VERIFY_WITH_TIMEOUT(ShowedWindow(next), kHangGuardMs);
    QProcess* late = Start(ProbePath(), false, {"late.ps"});
    QVERIFY(late->waitForFinished(kHangGuardMs));
    QCOMPARE(late->exitCode(), 0);
    QCOMPARE(Files().back(), runtime_.filePath("late.ps"));
  }

  void twoExecutableNamesRunSideBySide() {
    const QString copy = runtime_.filePath("other_probe");
    QFile::remove(copy);
    QVERIFY(QFile::copy(ProbePath(), copy));
    QVERIFY(QFile::setPermissions(copy, QFile::permissions(ProbePath())));
    QProcess* first = Start(ProbePath());
    QProcess* second = Start(copy);
    QTRY_VERIFY_WITH_TIMEOUT(ShowedWindow(first) && ShowedWindow(second), kHangGuardMs);
    QCOMPARE(first->state(), QProcess::Running);
    QCOMPARE(second->state(), QProcess::Running);
  }

  void lockOfKilledInstanceDoesNotBlock() {
    QProcess* first = Start(ProbePath());
    QTRY_VERIFY_WITH_TIMEOUT(ShowedWindow(first), kHangGuardMs);
    first->kill();
    QVERIFY(first->waitForFinished());
    QVERIFY(QFile::exists(runtime_.filePath("kestrune-orvalis/app_start_probe.lock")));
    QProcess* next = Start(ProbePath());
    QTRY_VERIFY_WITH_TIMEOUT(ShowedWindow(next), kHangGuardMs);
  }

  void programStartedByKilledInstanceDoesNotHoldTheLock() {
    QProcess* first = Start(ProbePath(), true);
    QTRY_VERIFY_WITH_TIMEOUT(ShowedWindow(first), kHangGuardMs);
    child_ = Marks().first().at(1).toLongLong();
    QVERIFY(child_ > 0);
    first->kill();
    QVERIFY(first->waitForFinished());
    QProcess* next = Start(ProbePath());
    QTRY_VERIFY_WITH_TIMEOUT(ShowedWindow(next), kHangGuardMs);
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

  void unusableLockFolderDoesNotStopTheProgram() {
    // A lock that cannot be made at all (its folder would lie under a plain file) must not
    // keep the program from starting: it runs unguarded.
    QFile plain(runtime_.filePath("plain"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    SingleInstance instance("viewer", runtime_.filePath("plain/locks").toStdString());
    QVERIFY(instance.TryAcquire());
    QVERIFY(!instance.Held());
  }

  void withoutRuntimeFolderTheCacheFolderHoldsTheLock() {
    const Environment environment(
        {{"XDG_RUNTIME_DIR", nullptr}, {"XDG_CACHE_HOME", runtime_.filePath("cache")}});
    SingleInstance instance("viewer");
    QVERIFY(instance.TryAcquire());
    QCOMPARE(QString::fromStdString(instance.LockPath()),
             runtime_.filePath("cache/kestrune-orvalis/viewer.lock"));
    QCOMPARE(Mode(runtime_.filePath("cache/kestrune-orvalis")), 0700u);
  }

  void lockFolderIsUsedOnlyWhenPrivateAndTheUsersOwn_data() {
    QTest::addColumn<QString>("planted");  // what stands at <runtime>/kestrune-orvalis
    QTest::newRow("open to everyone") << "0777";
    QTest::newRow("open to the group") << "0770";
    QTest::newRow("readable by others") << "0755";
    QTest::newRow("another user's") << "other";
    QTest::newRow("link to a private folder") << "link";
    QTest::newRow("plain file") << "file";
  }
  void lockFolderIsUsedOnlyWhenPrivateAndTheUsersOwn() {
    QFETCH(QString, planted);
    if (planted == "other" && ::geteuid() != 0) QSKIP("giving a folder away takes root");
    QTemporaryDir root;
    const QString run = root.filePath("run");
    const QString planted_ = run + "/kestrune-orvalis";
    const QString target = root.filePath("chosen");  // where a link would lead
    QVERIFY(QDir().mkpath(run) && QDir().mkpath(target));
    if (planted == "link") {
      QVERIFY(QFile::link(target, planted_));
    } else if (planted == "file") {
      QFile file(planted_);
      QVERIFY(file.open(QIODevice::WriteOnly));
    } else {
      QVERIFY(QDir().mkpath(planted_));
      const bool other = planted == "other";
      QCOMPARE(::chmod(qPrintable(planted_), other ? 0700 : planted.toUInt(nullptr, 8)), 0);
      if (other) QCOMPARE(::chown(qPrintable(planted_), 65534, 65534), 0);
    }
    const Environment environment(
        {{"XDG_RUNTIME_DIR", run}, {"XDG_CACHE_HOME", root.filePath("cache")}});
    SingleInstance instance("viewer");
    QVERIFY(instance.TryAcquire());
    QVERIFY(instance.Held());
    // The next place, made private; nothing in the planted one or where it leads.
    QCOMPARE(QString::fromStdString(instance.LockPath()),
             root.filePath("cache/kestrune-orvalis/viewer.lock"));
    QCOMPARE(Mode(root.filePath("cache/kestrune-orvalis")), 0700u);
    QVERIFY(QDir(target).isEmpty());
    if (planted != "link" && planted != "file") QVERIFY(QDir(planted_).isEmpty());
  }

  void runtimeFolderOfAnotherUserIsNotWrittenInto() {
    if (::geteuid() != 0) QSKIP("giving a folder away takes root");
    QTemporaryDir root;
    const QString run = root.filePath("run");
    QVERIFY(QDir().mkpath(run));
    QCOMPARE(::chown(qPrintable(run), 65534, 65534), 0);
    const Environment environment(
        {{"XDG_RUNTIME_DIR", run}, {"XDG_CACHE_HOME", root.filePath("cache")}});
    SingleInstance instance("viewer");
    QVERIFY(instance.TryAcquire());
    QCOMPARE(QString::fromStdString(instance.LockPath()),
             root.filePath("cache/kestrune-orvalis/viewer.lock"));
    QVERIFY(QDir(run).isEmpty());
  }

  void lockOfAnotherUserInASharedFolderDoesNotBlock() {
    if (::geteuid() != 0) QSKIP("a second user takes root to play");
    // A cache folder everyone may write into, where another user made the lock folder first and
    // holds the lock: the program starts anyway (unguarded), and leaves that folder alone.
    QTemporaryDir root;
    QCOMPARE(::chmod(qPrintable(root.path()), 0755), 0);
    const QString cache = root.filePath("cache");
    QVERIFY(QDir().mkpath(cache));
    QCOMPARE(::chmod(qPrintable(cache), 01777), 0);
    QProcess other;
    // It says when it holds the lock (beside the lock folder, which must hold the lock alone),
    // and holds it until it is killed.
    other.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", "sh", "-c",
                            "umask 077; mkdir \"$1\" && exec 9>\"$1/viewer.lock\" && flock 9 &&"
                            " : > \"$1.held\" && exec sleep infinity",
                            "sh", cache + "/kestrune-orvalis"});
    QVERIFY(other.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(cache + "/kestrune-orvalis.held"), kHangGuardMs);
    const Environment environment({{"XDG_RUNTIME_DIR", nullptr}, {"XDG_CACHE_HOME", cache}});
    SingleInstance instance("viewer");
    QVERIFY(instance.TryAcquire());
    QVERIFY(!instance.Held());
    QCOMPARE(QDir(cache + "/kestrune-orvalis").entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList{"viewer.lock"});
    other.kill();
    other.waitForFinished();
  }

  void filesReachTheHolderThroughALongFolderPath() {
    // Deeper than a socket address holds: the socket is reached through the checked folder.
    QString folder = runtime_.filePath("deep");
    while (folder.size() < 200) folder += "/nested-folder";
    SingleInstance holder("viewer", folder.toStdString());
    QVERIFY(holder.TryAcquire() && holder.Held());
    std::vector<std::string> received;
    FileHandOffServer server(
        [&received](std::vector<std::string> files, FileHandOffServer::Reply reply) {
          received = files;
          reply({false, "one file was not added"});
        });
    std::string error;
    QVERIFY2(server.Listen(holder.SocketPath(), &error), error.c_str());
    QCOMPARE(Mode(folder + "/viewer.socket") & 0777, 0600u);

    SingleInstance second("viewer", folder.toStdString());
    QVERIFY(!second.TryAcquire());
    std::optional<HandOffAnswer> answer;
    const std::vector<std::string> files = {"/docs/a.ps", "/docs/with\nline break.ps", ""};
    std::thread client(
        [&] { answer = orvalis::HandFilesOver(second.SocketPath(), files, &error); });
    QTRY_VERIFY_WITH_TIMEOUT(!received.empty(), kHangGuardMs);
    client.join();
    QCOMPARE(received, files);
    QVERIFY2(answer.has_value(), error.c_str());
    QVERIFY(!answer->allAdded);
    QCOMPARE(answer->message, std::string("one file was not added"));
  }

  // Connections left idle, more than the program reads at once, and a descriptor limit reached
  // with them: the listener neither spins nor keeps a second start out.
  void handOverSurvivesIdleConnectionsAndNoDescriptorsLeft() {
    SingleInstance holder("crowd", runtime_.filePath("crowd").toStdString());
    QVERIFY(holder.TryAcquire());
    std::vector<std::string> received;
    FileHandOffServer server(
        [&received](std::vector<std::string> files, FileHandOffServer::Reply reply) {
          received = files;
          reply({true, {}});
        });
    std::string error;
    QVERIFY2(server.Listen(holder.SocketPath(), &error), error.c_str());

    // A few descriptors left to the program.
    rlimit old{};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &old), 0);
    int open = 0;
    for (const QString& entry : QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::System))
      (void)entry, ++open;
    rlimit tight = old;
    tight.rlim_cur = static_cast<rlim_t>(open + 4);
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    // The idle clients are a child's, so that their descriptors are not the program's: it
    // connects while the program listens, as many times as it can.
    const pid_t crowd = ::fork();
    if (crowd == 0) {
      ::setrlimit(RLIMIT_NOFILE, &old);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      const std::string path = holder.SocketPath();
      std::memcpy(address.sun_path, path.data(), std::min(path.size(), sizeof address.sun_path - 1));
      for (int made = 0, tries = 0; made < 60 && tries < 2000; ++tries) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
          ++made;
        } else {
          ::close(fd);
          ::usleep(5000);
        }
      }
      ::pause();
      ::_exit(0);
    }
    struct Reaper {
      pid_t pid;
      ~Reaper() {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
      }
    } reaper{crowd};
    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    QTest::qWait(2000);  // what a spinning listener would burn
    ::getrusage(RUSAGE_SELF, &after);
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &old), 0);
    const auto seconds = [](const rusage& usage) {
      return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
             double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    };
    const double busy = seconds(after) - seconds(before);
    QVERIFY2(busy < 0.25, qPrintable(QString("the listener spun: %1 s of processor time").arg(busy)));

    // A second start still gets through, the idle connections dropped for it.
    std::optional<HandOffAnswer> answer;
    SingleInstance second("crowd", runtime_.filePath("crowd").toStdString());
    QVERIFY(!second.TryAcquire());
    std::atomic<bool> answered{false};
    std::thread client([&] {
      answer = orvalis::HandFilesOver(second.SocketPath(), {"/a.ps"}, &error);
      answered = true;
    });
    // The hand-over gives up on its own after its patience; the limit here guards a hang only.
    QTRY_VERIFY_WITH_TIMEOUT(answered, 300000);
    client.join();
    QVERIFY2(answer.has_value() && answer->allAdded, error.c_str());
    QCOMPARE(received, std::vector<std::string>{"/a.ps"});
  }

  void anotherUserCannotHandFilesOver() {
    if (::geteuid() != 0) QSKIP("a second user takes root to play");
    // Even through a socket someone made reachable, another user's files are not taken.
    QTemporaryDir root;
    QCOMPARE(::chmod(qPrintable(root.path()), 0755), 0);
    const std::string path = root.filePath("open.socket").toStdString();
    int calls = 0;
    FileHandOffServer server([&calls](std::vector<std::string>, FileHandOffServer::Reply reply) {
      ++calls;
      reply({true, {}});
    });
    std::string error;
    QVERIFY(server.Listen(path, &error));
    QCOMPARE(::chmod(path.c_str(), 0666), 0);
    const pid_t child = ::fork();
    if (child == 0) {
      const bool dropped = ::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 65534) == 0 &&
                           ::setresuid(65534, 65534, 65534) == 0;
      std::string why;
      const bool answered = orvalis::HandFilesOver(path, {"/x.ps"}, &why).has_value();
      ::_exit(!dropped ? 2 : answered ? 1 : 0);
    }
    int status = -1;
    bool ended = false;
    auto reap = [&] { return ended = ended || ::waitpid(child, &status, WNOHANG) == child; };
    QTRY_VERIFY_WITH_TIMEOUT(reap(), kHangGuardMs);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);  // no answer
    QCOMPARE(calls, 0);
  }
};

QTEST_GUILESS_MAIN(AppStartTest)
#include "app_start_test.moc"
