// The link label: colours, hover and underline, size, texts, the click and how GotoURL reaches
// the desktop, all through a recording launcher instead of a real browser.

#include "ui/controls/link_label.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <chrono>
#include <functional>
#include <optional>
#include <utility>

using orvalis::CLinkLabel;

// How long a test waits for something it needs to happen before it gives up: only a guard
// against a hang, long enough for the busiest machine. Verdicts never depend on it.
constexpr int kHangGuardMs = 180000;

namespace {

const QColor kNormal(0, 0, 238);
const QColor kVisited(85, 26, 139);
const QColor kHover(255, 0, 0);

class RecordingLauncher : public orvalis::LinkLauncher {
 public:
  bool desktopOpens = true;
  bool answerLater = false;  // the desktop's answer waits for Answer()
  std::function<void()> pending;
  QString htmlExec;
  bool startWorks = true;

  QStringList desktopUrls;
  QList<QStringList> started;
  int beeps = 0;
  int execQueries = 0;

  void OpenWithDesktop(const QString& url, Outcome outcome) override {
    desktopUrls << url;
    if (answerLater) {
      pending = [outcome, opens = desktopOpens] { outcome(opens); };
    } else {
      outcome(desktopOpens);
    }
  }
  QString HtmlHandlerExec() override {
    ++execQueries;
    return htmlExec;
  }
  bool StartDetached(const QStringList& arguments) override {
    started << arguments;
    return startWorks;
  }
  void Beep() override { ++beeps; }
  void Answer() { std::exchange(pending, nullptr)(); }
};

// The desktop launcher with the desktop's own opener out of the way, so that the fallback
// through the text/html handler runs.
class FallbackOnlyLauncher : public orvalis::DesktopLinkLauncher {
 public:
  void OpenWithDesktop(const QString&, Outcome outcome) override { outcome(false); }
};

// GotoURL's result, from a launcher that answers at once.
int GotoNow(const QString& url, orvalis::LinkLauncher& launcher) {
  int result = -1;
  CLinkLabel::GotoURL(url, launcher, [&result](int r) { result = r; });
  return result;
}

// Points the XDG variables at `root` for as long as it lives, with no desktop environment that
// xdg-mime would ask instead of the mimeapps.list files.
class XdgEnvironment {
 public:
  explicit XdgEnvironment(const QString& root) {
    Set("XDG_CONFIG_HOME", root + "/config");
    Set("XDG_CONFIG_DIRS", root + "/none");
    Set("XDG_DATA_HOME", root + "/data");
    Set("XDG_DATA_DIRS", root + "/none");
    for (const char* name : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION",
                             "GNOME_DESKTOP_SESSION_ID", "MATE_DESKTOP_SESSION_ID"}) {
      Set(name, QString());
    }
  }
  ~XdgEnvironment() {
    for (const auto& [name, value] : saved_) {
      if (value.isNull()) {
        qunsetenv(name.constData());
      } else {
        qputenv(name.constData(), value);
      }
    }
  }

 private:
  void Set(const char* name, const QString& value) {
    saved_.emplace_back(name, qgetenv(name));
    if (value.isNull()) {
      qunsetenv(name);
    } else {
      qputenv(name, value.toLocal8Bit());
    }
  }
  std::vector<std::pair<QByteArray, QByteArray>> saved_;
};

void WriteFile(const QString& path, const QByteArray& content) {
  QDir().mkpath(QFileInfo(path).path());
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(content);
}

void SaveScreenshot(QWidget& widget, const QString& name) {
  const QString folder = qEnvironmentVariable("ORVALIS_SCREENSHOT_DIR");
  if (folder.isEmpty()) return;
  QDir().mkpath(folder);
  QVERIFY(widget.grab().save(folder + "/" + name));
}

}  // namespace

class LinkLabelTest : public QObject {
  Q_OBJECT

 private:
  // A dialog-like parent with one attached link at 20,20 200 x 24.
  struct Fixture {
    QWidget window;
    RecordingLauncher launcher;
    CLinkLabel* link;
    explicit Fixture(const QString& text = "Kestrune web site",
                     const QString& url = "https://orvalis.kestrune.example/") {
      window.resize(320, 120);
      link = new CLinkLabel(&window, &launcher);
      link->setObjectName("1054");
      link->setGeometry(20, 20, 200, 24);
      link->setText(text);
      link->SetURL(url);
      link->Attach();
      window.show();
      QVERIFY(QTest::qWaitForWindowExposed(&window));
      // Each test starts with the mouse away from the link, wherever an earlier test left it.
      QTest::mouseMove(&window, QPoint(300, 100));
      QTRY_VERIFY_WITH_TIMEOUT(!link->Hovering(), kHangGuardMs);
    }
  };

 private slots:
  void commandLineIsCutBeforeThePlaceholder_data() {
    QTest::addColumn<QString>("exec");
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<QStringList>("arguments");
    const QString url = "https://a.example/x?y=1";
    QTest::newRow("quoted placeholder drops the switches after it")
        << "/usr/bin/browser \"%u\" --new-window"
        << "/usr/bin/browser  " + url << QStringList{"/usr/bin/browser", url};
    QTest::newRow("bare placeholder") << "chromium %U"
                                      << "chromium  " + url << QStringList{"chromium", url};
    QTest::newRow("file placeholders stand for the URL too")
        << "viewer --page %f"
        << "viewer --page  " + url << QStringList{"viewer", "--page", url};
    QTest::newRow("no placeholder keeps the whole line")
        << "mybrowser --private"
        << "mybrowser --private " + url << QStringList{"mybrowser", "--private", url};
    QTest::newRow("a quoted placeholder wins over an earlier bare one")
        << "b %u \"%U\" --x"
        << "b %u  " + url << QStringList{"b", url};
    QTest::newRow("%% is a literal percent sign")
        << "b --fmt=%%u %u"
        << "b --fmt=%%u  " + url << QStringList{"b", "--fmt=%u", url};
    QTest::newRow("quoted program path with blanks")
        << "\"/opt/My Browser/run\" --flag \"%F\""
        << "\"/opt/My Browser/run\" --flag  " + url
        << QStringList{"/opt/My Browser/run", "--flag", url};
    QTest::newRow("other field codes are dropped")
        << "app %i --name %c %u"
        << "app %i --name %c  " + url << QStringList{"app", "--name", url};
    QTest::newRow("no program") << "%u"
                                << " " + url << QStringList{};
  }
  void commandLineIsCutBeforeThePlaceholder() {
    QFETCH(QString, exec);
    QFETCH(QString, commandLine);
    QFETCH(QStringList, arguments);
    const QString url = "https://a.example/x?y=1";
    QCOMPARE(orvalis::BrowserCommandLine(exec, url), commandLine);
    QCOMPARE(orvalis::BrowserArguments(exec, url), arguments);
  }

  void urlStaysOneArgument() {
    const QString hostile = "https://a.example/ --remote-debugging-port=1 \"x\"";
    const QStringList arguments = orvalis::BrowserArguments("browser %u", hostile);
    QCOMPARE(arguments, (QStringList{"browser", hostile}));
  }

  void gotoUrl_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("desktopOpens");
    QTest::addColumn<QString>("htmlExec");
    QTest::addColumn<bool>("startWorks");
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<int>("desktopCalls");
    QTest::addColumn<QStringList>("started");
    const QString url = "https://orvalis.kestrune.example/";
    QTest::newRow("empty URL opens nothing and succeeds")
        << QString() << false << "browser %u" << true << true << 0 << QStringList{};
    QTest::newRow("desktop handler")
        << url << true << "browser %u" << true << true << 1 << QStringList{};
    QTest::newRow("html handler when the desktop fails")
        << url << false << "browser \"%u\" -x" << true << true << 1 << QStringList{"browser", url};
    QTest::newRow("no html handler")
        << url << false << QString() << true << false << 1 << QStringList{};
    QTest::newRow("html handler does not start")
        << url << false << "browser %u" << false << false << 1 << QStringList{"browser", url};
  }
  void gotoUrl() {
    QFETCH(QString, url);
    QFETCH(bool, desktopOpens);
    QFETCH(QString, htmlExec);
    QFETCH(bool, startWorks);
    QFETCH(bool, succeeds);
    QFETCH(int, desktopCalls);
    QFETCH(QStringList, started);
    RecordingLauncher launcher;
    launcher.desktopOpens = desktopOpens;
    launcher.htmlExec = htmlExec;
    launcher.startWorks = startWorks;
    const int result = GotoNow(url, launcher);
    QCOMPARE(orvalis::GotoSucceeded(result), succeeds);
    QCOMPARE(launcher.desktopUrls.size(), desktopCalls);
    if (desktopCalls > 0) QCOMPARE(launcher.desktopUrls.first(), url);
    QCOMPARE(launcher.started.isEmpty() ? QStringList{} : launcher.started.first(), started);
    QCOMPARE(launcher.beeps, 0);  // a beep is the click's business, not GotoURL's
  }

  void desktopLauncherStartsTheHtmlHandler() {
    // A browser registered for text/html in a desktop of its own: a script that writes its
    // arguments, one a line, to a file beside it.
    QTemporaryDir root;
    const QString browser = root.filePath("bin/test-browser");
    const QString record = root.filePath("arguments.txt");
    WriteFile(browser, "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + record.toLocal8Bit() + "'\n");
    QVERIFY(QFile::setPermissions(browser, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    WriteFile(root.filePath("config/mimeapps.list"),
              "[Default Applications]\ntext/html=orvalis-testbrowser.desktop\n");
    // Filed under a vendor folder: the desktop id "orvalis-testbrowser.desktop" names
    // applications/orvalis/testbrowser.desktop.
    WriteFile(root.filePath("data/applications/orvalis/testbrowser.desktop"),
              "[Desktop Entry]\nType=Application\nName=Test browser\nExec=" +
                  browser.toLocal8Bit() + " --new-tab \"%u\" --extra\n");
    XdgEnvironment environment(root.path());

    FallbackOnlyLauncher launcher;
    QCOMPARE(launcher.HtmlHandlerExec(), browser + " --new-tab \"%u\" --extra");
    const QString url = "https://orvalis.kestrune.example/a b?c=1&d=2";
    QVERIFY(orvalis::GotoSucceeded(GotoNow(url, launcher)));
    const auto recorded = [&record] {
      QFile file(record);
      return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };
    QTRY_COMPARE_WITH_TIMEOUT(recorded(), "--new-tab\n" + url + "\n", kHangGuardMs);
  }

  void desktopLauncherWithoutHtmlHandlerFails() {
    QTemporaryDir root;
    XdgEnvironment environment(root.path());
    FallbackOnlyLauncher launcher;
    QCOMPARE(launcher.HtmlHandlerExec(), QString());
    QVERIFY(!orvalis::GotoSucceeded(GotoNow("https://a.example/", launcher)));
  }

  void emptyTextShowsUrlAndEmptyUrlTakesText() {
    Fixture noText(QString(), "mailto:support@kestrune.example");
    QCOMPARE(noText.link->text(), QString("mailto:support@kestrune.example"));
    Fixture noUrl("orvalis.kestrune.example", QString());
    QCOMPARE(noUrl.link->URL(), QString("orvalis.kestrune.example"));
    QCOMPARE(noUrl.link->toolTip(), QString("orvalis.kestrune.example"));
  }

  void pointerAndTooltip() {
    Fixture f;
    QCOMPARE(f.link->cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(f.link->toolTip(), QString("https://orvalis.kestrune.example/"));
    f.link->SetURL("https://other.example/");
    QCOMPARE(f.link->toolTip(), QString("https://other.example/"));
  }

  void clickOutcomes_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("desktopOpens");
    QTest::addColumn<bool>("visited");
    QTest::addColumn<int>("beeps");
    QTest::newRow("opened") << "https://orvalis.kestrune.example/" << true << true << 0;
    QTest::newRow("empty URL counts as success") << QString() << false << true << 0;
    QTest::newRow("failure beeps and clears visited")
        << "https://orvalis.kestrune.example/" << false << false << 1;
  }
  void clickOutcomes() {
    QFETCH(QString, url);
    QFETCH(bool, desktopOpens);
    QFETCH(bool, visited);
    QFETCH(int, beeps);
    Fixture f("the link", url);
    f.link->SetURL(url);  // Attach filled an empty URL from the text; put it back
    f.link->SetVisited(true);
    f.launcher.desktopOpens = desktopOpens;
    QTest::mouseClick(f.link, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(f.link->Visited(), visited);
    QCOMPARE(f.launcher.beeps, beeps);
    QCOMPARE(f.launcher.desktopUrls.size(), url.isEmpty() ? 0 : 1);
    // The click shows its outcome at once, even with the mouse still over the link.
    QCOMPARE(f.link->CurrentTextColour(), visited ? kVisited : kNormal);
    QCOMPARE(f.link->palette().color(QPalette::WindowText), visited ? kVisited : kNormal);
  }

  // Tab reaches a link, and Enter, Return or Space open it as a click does; when nothing on the
  // desktop opens it, a message beside the window shows the address, selectable for copying.
  void keyboardOpensTheLinkAndAFailureShowsTheAddress() {
    Fixture f;
    auto* other = new QPushButton("other", &f.window);
    other->setGeometry(20, 60, 80, 24);
    other->show();
    f.window.activateWindow();
    QTRY_VERIFY(f.window.isActiveWindow());
    other->setFocus();
    QTest::keyClick(other, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), f.link);
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space})
      QTest::keyClick(f.link, key);
    QCOMPARE(f.launcher.desktopUrls.size(), 3);
    QVERIFY(f.window.findChild<QMessageBox*>("cannotOpen") == nullptr);

    f.launcher.desktopOpens = false;
    QTest::keyClick(f.link, Qt::Key_Space);
    QCOMPARE(f.launcher.beeps, 1);
    auto* message = f.window.findChild<QMessageBox*>("cannotOpen");
    QVERIFY(message != nullptr && message->isVisible());
    QVERIFY(message->text().endsWith("\n" + f.link->URL()));
    QVERIFY(message->textInteractionFlags() & Qt::TextSelectableByKeyboard);
  }

  void clickWaitsForTheOpenersAnswer() {
    Fixture f;
    f.link->SetVisited(true);
    f.launcher.answerLater = true;
    f.launcher.desktopOpens = false;
    QSignalSpy clicked(f.link, &CLinkLabel::Clicked);
    f.link->SetNotifyParent(true);
    QTest::mouseClick(f.link, Qt::LeftButton, {}, QPoint(5, 5));
    // Asked, not answered: nothing is decided yet.
    QCOMPARE(f.launcher.desktopUrls.size(), 1);
    QVERIFY(f.link->Visited());
    QCOMPARE(f.launcher.beeps, 0);
    QCOMPARE(clicked.size(), 0);
    f.launcher.Answer();  // "no method available"
    QVERIFY(!f.link->Visited());
    QCOMPARE(f.launcher.beeps, 1);
    QCOMPARE(clicked.size(), 1);

    // An answer that comes after the link is gone is dropped.
    QTest::mouseClick(f.link, Qt::LeftButton, {}, QPoint(5, 5));
    delete f.link;
    f.launcher.Answer();
    QCOMPARE(f.launcher.beeps, 1);
  }

  void desktopOpenerIsJudgedByItsExitStatus_data() {
    QTest::addColumn<QByteArray>("script");  // the xdg-open on PATH; "" for none
    QTest::addColumn<bool>("opened");
    QTest::newRow("handler found") << QByteArray("exit 0") << true;
    QTest::newRow("no method available")
        << QByteArray("echo \"xdg-open: no method available for opening '$1'\" >&2; exit 3")
        << false;
    QTest::newRow("handler failed") << QByteArray("exit 4") << false;
    QTest::newRow("killed") << QByteArray("kill -9 $$") << false;
    // It runs until the test lets it end (a file beside it appears), and says when it ends.
    QTest::newRow("handler runs in the foreground")
        << QByteArray("while [ ! -e '@GO@' ]; do sleep 0.05; done; : > '@ENDED@'") << true;
    QTest::newRow("no xdg-open") << QByteArray() << false;
  }
  void desktopOpenerIsJudgedByItsExitStatus() {
    QFETCH(QByteArray, script);
    QFETCH(bool, opened);
    QTemporaryDir bin;
    const QString record = bin.filePath("argument.txt");
    const bool foreground = script.contains("@GO@");
    script.replace("@GO@", bin.filePath("go").toLocal8Bit());
    script.replace("@ENDED@", bin.filePath("ended").toLocal8Bit());
    if (!script.isEmpty()) {
      const QString opener = bin.filePath("xdg-open");
      WriteFile(opener,
                "#!/bin/sh\nprintf '%s' \"$1\" > '" + record.toLocal8Bit() + "'\n" + script + "\n");
      QVERIFY(QFile::setPermissions(opener, QFile::ReadOwner | QFile::ExeOwner));
    }
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", bin.path().toLocal8Bit() + ":/usr/bin:/bin");
    if (script.isEmpty()) qputenv("PATH", bin.path().toLocal8Bit());
    // The launcher's patience: short where the handler stays in the foreground (only the
    // patience can answer then), and past any machine's slowness where the exit status is to
    // answer, so that the answer never depends on how soon a shell gets to run.
    orvalis::DesktopLinkLauncher launcher(
        std::chrono::milliseconds(foreground ? 500 : kHangGuardMs));
    std::optional<bool> answer;
    int answers = 0;
    const QString url = "https://orvalis.kestrune.example/a b?c=1&d=2";
    launcher.OpenWithDesktop(url, [&](bool result) {
      answer = result;
      ++answers;
    });
    qputenv("PATH", savedPath);
    // A foreground handler is not waited for: it is still running when the answer comes.
    QTRY_VERIFY_WITH_TIMEOUT(answer.has_value(), kHangGuardMs);
    QCOMPARE(*answer, opened);
    if (!script.isEmpty()) {
      QFile argument(record);
      QTRY_VERIFY_WITH_TIMEOUT(argument.exists(), kHangGuardMs);
      QVERIFY(argument.open(QIODevice::ReadOnly));
      QCOMPARE(QString::fromUtf8(argument.readAll()), url);  // one argument, as it stands
    }
    if (foreground) {
      QVERIFY(!QFile::exists(bin.filePath("ended")));
      WriteFile(bin.filePath("go"), "");
      QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(bin.filePath("ended")), kHangGuardMs);
    }
    QTest::qWait(600);  // past the patience, and the handler's end: still one answer
    QCOMPARE(answers, 1);
  }

  void clickWithOpenOnClickOffOpensNothing() {
    Fixture f;
    f.link->SetOpenOnClick(false);
    QTest::mouseClick(f.link, Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(f.launcher.desktopUrls.isEmpty());
    QVERIFY(f.link->Visited());
  }

  void notificationOnlyWhenAskedFor() {
    Fixture f;
    QSignalSpy clicked(f.link, &CLinkLabel::Clicked);
    QTest::mouseClick(f.link, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(clicked.count(), 0);
    f.link->SetNotifyParent(true);
    QTest::mouseClick(f.link, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(clicked.first().first().toInt(), 1054);
  }

  void hoverColoursAndUnderline() {
    Fixture f;
    QCOMPARE(f.link->CurrentTextColour(), kNormal);
    QVERIFY(!f.link->font().underline());
    SaveScreenshot(f.window, "link_normal.png");

    QTest::mouseMove(f.link, QPoint(5, 5));
    QTRY_VERIFY_WITH_TIMEOUT(f.link->Hovering(), kHangGuardMs);
    QCOMPARE(f.link->palette().color(QPalette::WindowText), kHover);
    QVERIFY(f.link->font().underline());
    SaveScreenshot(f.window, "link_hover.png");

    // A click while hovering: visited, still underlined until the mouse is found outside.
    QTest::mouseClick(f.link, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(f.link->CurrentTextColour(), kVisited);
    QVERIFY(f.link->font().underline());

    // The next tick with the mouse elsewhere ends the hover.
    f.link->CheckHover(f.link->mapToGlobal(QPoint(5, 5)));
    QVERIFY(f.link->font().underline());
    f.link->CheckHover(f.window.mapToGlobal(QPoint(300, 100)));
    QVERIFY(!f.link->Hovering());
    QVERIFY(!f.link->font().underline());
    QCOMPARE(f.link->palette().color(QPalette::WindowText), kVisited);
    SaveScreenshot(f.window, "link_visited.png");
  }

  void hoverTimerNoticesTheMouseHasLeft() {
    Fixture f;
    QCursor::setPos(f.link->mapToGlobal(QPoint(5, 5)));
    QTest::mouseMove(f.link, QPoint(5, 5));
    QTRY_VERIFY_WITH_TIMEOUT(f.link->Hovering(), kHangGuardMs);
    QCursor::setPos(f.window.mapToGlobal(QPoint(300, 100)));
    QTRY_VERIFY_WITH_TIMEOUT(!f.link->Hovering(), kHangGuardMs);
    QCOMPARE(f.link->CurrentTextColour(), kNormal);
  }

  void leaveNotificationEndsTheHover() {
    // Where the cursor position outside the program is unknown (Wayland), the leave
    // notification is what ends the hover.
    Fixture f;
    QTest::mouseMove(f.link, QPoint(5, 5));
    QTRY_VERIFY_WITH_TIMEOUT(f.link->Hovering(), kHangGuardMs);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(f.link, &leave);
    QVERIFY(!f.link->Hovering());
    QVERIFY(!f.link->font().underline());
    QCOMPARE(f.link->CurrentTextColour(), kNormal);
  }

  void underlineModes_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("underlinedIdle");
    QTest::addColumn<bool>("underlinedHovering");
    QTest::newRow("hover only") << CLinkLabel::kUnderlineHover << false << true;
    QTest::newRow("never") << CLinkLabel::kUnderlineNever << false << false;
    QTest::newRow("always") << CLinkLabel::kUnderlineAlways << true << true;
  }
  void underlineModes() {
    QFETCH(int, mode);
    QFETCH(bool, underlinedIdle);
    QFETCH(bool, underlinedHovering);
    Fixture f;
    f.link->SetUnderline(mode);
    QCOMPARE(f.link->font().underline(), underlinedIdle);
    QTest::mouseMove(f.link, QPoint(5, 5));
    QTRY_VERIFY_WITH_TIMEOUT(f.link->Hovering(), kHangGuardMs);
    QCOMPARE(f.link->font().underline(), underlinedHovering);
    f.link->CheckHover(f.window.mapToGlobal(QPoint(300, 100)));
    QCOMPARE(f.link->font().underline(), underlinedIdle);
  }

  void backgroundIsButtonColourUnlessSet() {
    Fixture f;
    QCOMPARE(f.link->CurrentBackground(), f.window.palette().color(QPalette::Button));
    const QColor paper(250, 240, 200);
    f.link->SetColours(kNormal, kVisited, kHover, paper);
    const QImage drawn = f.link->grab().toImage();
    QCOMPARE(QColor(drawn.pixel(drawn.width() - 1, drawn.height() - 1)), paper);
  }

  void sizeFitsTextKeepingItsAnchor_data() {
    QTest::addColumn<int>("alignment");
    QTest::addColumn<QString>("kept");
    QTest::newRow("left keeps the left edge") << int(Qt::AlignLeft | Qt::AlignTop) << "left";
    QTest::newRow("centred keeps the centre") << int(Qt::AlignHCenter | Qt::AlignTop) << "centre";
    QTest::newRow("right-aligned keeps the right edge")
        << int(Qt::AlignRight | Qt::AlignTop) << "right";
    QTest::newRow("vertically centred keeps the middle")
        << int(Qt::AlignLeft | Qt::AlignVCenter) << "middle";
  }
  void sizeFitsTextKeepingItsAnchor() {
    QFETCH(int, alignment);
    QFETCH(QString, kept);
    QWidget window;
    window.resize(400, 200);
    auto* link = new CLinkLabel(&window, nullptr);
    link->setFrameStyle(QFrame::Box | QFrame::Plain);  // a frame of 1 pixel all round
    link->setAlignment(Qt::Alignment(alignment));
    const QRect before(40, 30, 301, 61);
    link->setGeometry(before);
    link->setText("Kestrune");
    link->Attach();

    QFont underlined = link->font();
    underlined.setUnderline(true);
    const QSize text = QFontMetrics(underlined).size(0, "Kestrune");
    const QRect after = link->geometry();
    QVERIFY(text.width() + 2 < before.width());
    // Width: the text plus the frame, give or take the pixel an odd difference leaves when
    // both sides move by the same amount.
    QVERIFY(qAbs(after.width() - (text.width() + 2)) <= 1);
    QVERIFY(qAbs(after.height() - (text.height() + 2)) <= 1);
    if (kept == "left") {
      QCOMPARE(after.left(), before.left());
      QCOMPARE(after.top(), before.top());
    } else if (kept == "centre") {
      QVERIFY(qAbs(after.center().x() - before.center().x()) <= 1);
      QCOMPARE(after.top(), before.top());
    } else if (kept == "right") {
      QCOMPARE(after.right(), before.right());
    } else {
      QVERIFY(qAbs(after.center().y() - before.center().y()) <= 1);
      QCOMPARE(after.left(), before.left());
    }
  }

  void noFitWhenAutoSizeIsOff() {
    QWidget window;
    auto* link = new CLinkLabel(&window, nullptr);
    link->SetAutoSize(false);
    link->setGeometry(10, 10, 300, 40);
    link->setText("x");
    link->Attach();
    QCOMPARE(link->geometry(), QRect(10, 10, 300, 40));
  }

  void markupIsShownAsText() {
    Fixture f("<b>bold</b>", "https://a.example/");
    QCOMPARE(f.link->textFormat(), Qt::PlainText);
  }
};

QTEST_MAIN(LinkLabelTest)
#include "link_label_test.moc"
