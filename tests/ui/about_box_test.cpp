// The about box: its texts and links, Help through a recording launcher, closing, and a
// screenshot.

#include "ui/app/about_box.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "ui/controls/link_label.h"

using orvalis::CAboutBox;
using orvalis::CLinkLabel;

namespace {

class RecordingLauncher : public orvalis::LinkLauncher {
 public:
  QStringList desktopUrls;
  void OpenWithDesktop(const QString& url, Outcome outcome) override {
    desktopUrls << url;
    if (outcome) outcome(true);
  }
  QString HtmlHandlerExec() override { return {}; }
  bool StartDetached(const QStringList&) override { return false; }
  void Beep() override {}
};

template <typename T>
T* Control(QWidget& box, const char* id) {
  T* control = box.findChild<T*>(id);
  if (control == nullptr) qFatal("control %s missing", id);
  return control;
}

QString ProgramFolderWithHelp(const QTemporaryDir& folder) {
  QFile help(folder.filePath("help.html"));
  if (!help.open(QIODevice::WriteOnly)) qFatal("cannot write help.html");
  help.write("<!DOCTYPE html><title>Help</title>");
  return folder.path();
}

}  // namespace

class AboutBoxTest : public QObject {
  Q_OBJECT

 private slots:
  void textsAndLinks() {
    RecordingLauncher launcher;
    CAboutBox box(nullptr, &launcher);
    QCOMPARE(box.windowTitle(), QString("About..."));
    QVERIFY(!box.windowIcon().isNull());
    QCOMPARE(Control<QLabel>(box, "1052")->text(), QString("Kestrune Orvalis"));
    // The build's one version number, the one orvalis-cli --version prints.
    QCOMPARE(Control<QLabel>(box, "1053")->text(), QString("Version: " ORVALIS_VERSION));
    QCOMPARE(Control<QPushButton>(box, "1016")->text(), QString("&Help"));

    auto* site = Control<CLinkLabel>(box, "1054");
    auto* mail = Control<CLinkLabel>(box, "1055");
    QVERIFY(site->URL().startsWith("https://"));
    QVERIFY(site->URL().contains(site->text()));
    QCOMPARE(mail->URL(), "mailto:" + mail->text());
    QVERIFY(mail->text().contains('@'));
    QVERIFY(!box.findChild<QPushButton*>("1"));  // no OK button
    QVERIFY(!box.findChild<QPushButton*>("2"));  // no Cancel button

    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QTest::mouseClick(mail, Qt::LeftButton, {}, QPoint(3, 3));
    QTest::mouseClick(site, Qt::LeftButton, {}, QPoint(3, 3));
    QCOMPARE(launcher.desktopUrls, (QStringList{mail->URL(), site->URL()}));
    QVERIFY(mail->Visited());
  }

  void sizeInDialogUnits() {
    CAboutBox box;
    const QFontMetrics metrics(box.font());
    const double unitX =
        ((metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 26 +
          1) /
         2) /
        4.0;
    const double unitY = metrics.height() / 8.0;
    QVERIFY(qAbs(box.width() / unitX - 297) < 1);
    QVERIFY(qAbs(box.height() / unitY - 164) < 1);
    QCOMPARE(box.minimumSize(), box.maximumSize());
    // Every control lies inside the box.
    for (QWidget* child : box.findChildren<QWidget*>()) {
      QVERIFY2(box.rect().contains(child->geometry()), qPrintable(child->objectName()));
    }
  }

  void helpOpensTheProgramFolderPage() {
    QTemporaryDir folder(QDir::tempPath() + "/about box #XXXXXX");
    const QString programFolder = ProgramFolderWithHelp(folder);
    RecordingLauncher launcher;
    CAboutBox box(nullptr, &launcher, programFolder.toStdString());
    QTest::mouseClick(Control<QPushButton>(box, "1016"), Qt::LeftButton);
    QCOMPARE(launcher.desktopUrls.size(), 1);
    const QUrl opened(launcher.desktopUrls.first());
    QVERIFY(opened.isLocalFile());
    QCOMPARE(opened.toLocalFile(), programFolder + "/help.html");
  }

  void helpMissingDoesNothingVisible() {
    QTemporaryDir folder;
    RecordingLauncher launcher;
    CAboutBox box(nullptr, &launcher, folder.path().toStdString());
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    const auto windowsBefore = QApplication::topLevelWidgets().size();
    QTest::mouseClick(Control<QPushButton>(box, "1016"), Qt::LeftButton);
    QVERIFY(launcher.desktopUrls.isEmpty());
    QCOMPARE(QApplication::topLevelWidgets().size(), windowsBefore);
    QVERIFY(box.isVisible());
  }

  void escapeCloses() {
    CAboutBox box;
    QTimer::singleShot(0, &box, [&box] { QTest::keyClick(&box, Qt::Key_Escape); });
    QCOMPARE(box.exec(), int(QDialog::Rejected));
    QVERIFY(!box.isVisible());
  }

  void screenshot() {
    const QString folder = qEnvironmentVariable("ORVALIS_SCREENSHOT_DIR");
    if (folder.isEmpty()) QSKIP("ORVALIS_SCREENSHOT_DIR not set");
    CAboutBox box;
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QDir().mkpath(folder);
    QVERIFY(box.grab().save(folder + "/about_box.png"));
  }
};

QTEST_MAIN(AboutBoxTest)
#include "about_box_test.moc"
