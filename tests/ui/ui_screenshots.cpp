// Writes PNG screenshots of every settings tab and of the image buttons in each state into the
// build folder, for a person to look at. The checks here only make sure each picture was written
// and shows what it names.

#include <QApplication>
#include <QDir>
#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "ui/controls/icon_button.h"
#include "ui/controls/theme_library.h"
#include "ui/sheet/my_prop_sheet.h"
#include "ui/sheet/property_page.h"

namespace {

QString ShotPath(const QString& name) {
  QDir().mkpath(ORVALIS_SCREENSHOT_DIR);
  return QDir(ORVALIS_SCREENSHOT_DIR).filePath(name + ".png");
}

void Save(QWidget* widget, const QString& name) {
  const QString path = ShotPath(name);
  QVERIFY2(widget->grab().save(path), qPrintable(path));
  const QImage back(path);
  QCOMPARE(back.size(), widget->grab().size());
}

// The six buttons of the main window, configured as the window does.
struct ButtonRow {
  struct Config {
    QString caption;
    int icon;
    int alignment;
    bool themed;
  };
  static constexpr int kCount = 6;

  ButtonRow(const CThemeLibrary* library, QWidget* parent) {
    const Config configs[kCount] = {
        {"Add File(s)", 135, 0, true}, {"Add Folder", 131, 0, true},       {"Remove", 130, 0, true},
        {"Settings", 132, 0, true},    {"Start Converting", 134, 1, true}, {"", 137, 0, false}};
    auto* grid = new QGridLayout(parent);
    for (int i = 0; i < kCount; ++i) {
      auto* button = new CThemedIconButton(configs[i].caption);
      if (configs[i].themed) button->SetThemeLibrary(library);
      button->SetIcon(configs[i].icon);
      button->SetAlign(configs[i].alignment);
      button->setFixedSize(i == 4 ? QSize(120, 78) : i == 5 ? QSize(36, 36) : QSize(112, 40));
      grid->addWidget(button, 0, i, Qt::AlignTop);
      buttons[i] = button;
    }
  }
  CThemedIconButton* buttons[kCount];
};

void Hover(QWidget* button) {
  QMouseEvent move(QEvent::MouseMove, button->rect().center(),
                   button->mapToGlobal(button->rect().center()), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(button, &move);
}

}  // namespace

class UiScreenshots : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QApplication::setStyle(QStyleFactory::create("Fusion")); }

  void settingsTabs() {
    QTemporaryDir folder;
    const std::string profile = folder.filePath("Profile.ini").toStdString();
    CMyPropSheet sheet(profile);
    sheet.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sheet));
    for (int i = 0; i < sheet.PageCount(); ++i) {
      sheet.Tabs()->setCurrentIndex(i);
      QApplication::processEvents();
      Save(&sheet, QString("settings_%1_%2").arg(i, 2, 10, QChar('0')).arg(sheet.Page(i)->Title()));
    }
  }

  void buttonStates_data() {
    QTest::addColumn<bool>("themed");
    QTest::newRow("themed") << true;
    QTest::newRow("flat") << false;
  }
  void buttonStates() {
    QFETCH(bool, themed);
    const CThemeLibrary library = themed ? CThemeLibrary() : CThemeLibrary(nullptr);
    const QString prefix = themed ? "buttons_themed_" : "buttons_flat_";
    for (const char* state :
         {"normal", "hover", "pressed", "disabled", "default", "keyboard_focus"}) {
      QWidget panel;
      ButtonRow row(&library, &panel);
      panel.show();
      QVERIFY(QTest::qWaitForWindowExposed(&panel));
      for (CThemedIconButton* button : row.buttons) {
        const QString name(state);
        if (name == "hover") Hover(button);
        if (name == "pressed") {
          Hover(button);
          button->setDown(true);
        }
        if (name == "disabled") button->setEnabled(false);
        if (name == "default") button->setDefault(true);
      }
      if (QString(state) == "keyboard_focus") {
        panel.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&panel));
        panel.setAttribute(Qt::WA_KeyboardFocusChange);
        row.buttons[0]->setFocus(Qt::TabFocusReason);
      }
      Save(&panel, prefix + state);
    }
  }
};

QTEST_MAIN(UiScreenshots)
#include "ui_screenshots.moc"
