// The image buttons: the gray icon rule, the icon table, icon and caption placement, hover and
// press through synthetic mouse events, double-clicks, focus on disabling, and which drawing
// (themed bevel or flat border) each configuration reaches.

#include "ui/controls/icon_button.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QSignalSpy>
#include <QStyleFactory>
#include <QStyleOptionButton>
#include <QtTest>
#include <memory>
#include <vector>

#include "ui/controls/button_layout.h"
#include "ui/controls/gray_icon.h"
#include "ui/controls/icon_table.h"
#include "ui/controls/theme_library.h"

namespace {

// A Fusion style that records the push-button bevels it is asked to draw.
class RecordingStyle : public QProxyStyle {
 public:
  RecordingStyle() : QProxyStyle(QStyleFactory::create("Fusion")) {}
  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget) const override {
    if (element == CE_PushButtonBevel) {
      const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
      bevels.push_back(
          {option->state, button != nullptr ? button->features : QStyleOptionButton::None});
    }
    QProxyStyle::drawControl(element, option, painter, widget);
  }
  struct Bevel {
    QStyle::State state;
    QStyleOptionButton::ButtonFeatures features;
  };
  mutable std::vector<Bevel> bevels;
};

void SendMouse(QWidget* widget, QEvent::Type type, QPoint at, Qt::MouseButton button,
               Qt::MouseButtons held) {
  QMouseEvent event(type, at, widget->mapToGlobal(at), button, held, Qt::NoModifier);
  QApplication::sendEvent(widget, &event);
}

void MoveOver(QWidget* widget, QPoint at, Qt::MouseButtons held = Qt::NoButton) {
  SendMouse(widget, QEvent::MouseMove, at, Qt::NoButton, held);
}

// A window with a line edit, the button under test and another line edit, in that tab order.
struct ButtonWindow {
  explicit ButtonWindow(CIconButton* button) : button(button) {
    auto* layout = new QHBoxLayout(&window);
    layout->addWidget(before);
    layout->addWidget(button);
    layout->addWidget(after);
    button->setMinimumSize(120, 48);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
  }
  QWidget window;
  QLineEdit* before = new QLineEdit;
  CIconButton* button;
  QLineEdit* after = new QLineEdit;
};

QRgb EdgePixel(const QImage& image, bool left) {
  return image.pixel(left ? 0 : image.width() - 1, image.height() / 2);
}

}  // namespace

class IconButtonTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QApplication::setStyle(QStyleFactory::create("Fusion")); }

  void grayIconFollowsTheRule_data() {
    QTest::addColumn<QRgb>("pixel");
    QTest::addColumn<QRgb>("gray");
    // qRgba(red, green, blue, alpha); avg = (b + g + r) / 3 truncated.
    QTest::newRow("transparent black kept") << qRgba(0, 0, 0, 0) << qRgba(0, 0, 0, 0);
    QTest::newRow("transparent colour grayed") << qRgba(30, 60, 91, 0) << qRgba(60, 60, 60, 0);
    QTest::newRow("nearly black transparent") << qRgba(1, 1, 2, 0) << qRgba(1, 1, 1, 0);
    QTest::newRow("opaque black") << qRgba(0, 0, 0, 255) << qRgba(0, 0, 0, 255);
    QTest::newRow("white becomes 254") << qRgba(255, 255, 255, 255) << qRgba(254, 254, 254, 255);
    QTest::newRow("just under white") << qRgba(255, 254, 255, 200) << qRgba(254, 254, 254, 200);
    QTest::newRow("average truncates") << qRgba(10, 20, 31, 128) << qRgba(20, 20, 20, 128);
    QTest::newRow("pure red") << qRgba(255, 0, 0, 255) << qRgba(85, 85, 85, 255);
  }
  void grayIconFollowsTheRule() {
    QFETCH(QRgb, pixel);
    QFETCH(QRgb, gray);
    // The pixel sits among others in a 3 x 2 image, so rows and columns are both walked.
    QImage icon(3, 2, QImage::Format_ARGB32);
    icon.fill(qRgba(9, 9, 9, 255));
    icon.setPixel(2, 1, pixel);
    const QImage result = MakeGrayIcon(icon);
    QCOMPARE(result.size(), icon.size());
    QCOMPARE(result.format(), QImage::Format_ARGB32);
    QCOMPARE(result.pixel(2, 1), gray);
    QCOMPARE(result.pixel(0, 0), qRgba(9, 9, 9, 255));
    QVERIFY(MakeGrayIcon(QImage()).isNull());
  }

  void iconTableGivesEveryIconAtItsSize() {
    const std::vector<std::pair<int, int>> expected = {{128, 32}, {130, 32}, {131, 32}, {132, 32},
                                                       {134, 48}, {135, 32}, {137, 32}, {150, 48}};
    QCOMPARE(IconTable().size(), expected.size());
    for (auto [id, size] : expected) {
      const QImage icon = LoadIconImage(id);
      QVERIFY2(!icon.isNull(), qPrintable(QString("icon %1").arg(id)));
      QCOMPARE(icon.size(), QSize(size, size));
      QCOMPARE(icon.format(), QImage::Format_ARGB32);
      // A real picture: transparent surroundings and an opaque drawing.
      bool transparent = false, opaque = false;
      for (int y = 0; y < icon.height(); ++y)
        for (int x = 0; x < icon.width(); ++x) {
          transparent |= qAlpha(icon.pixel(x, y)) == 0;
          opaque |= qAlpha(icon.pixel(x, y)) == 255;
        }
      QVERIFY2(transparent && opaque, qPrintable(QString("icon %1").arg(id)));
    }
    QVERIFY(LoadIconImage(129).isNull());
    // On a screen of two pixels per point: twice the pixels, the same size on screen.
    for (int id : {128, 134}) {
      const QImage sharp = LoadIconImage(id, 2.0);
      QCOMPARE(sharp.size(), LoadIconImage(id).size() * 2);
      QCOMPARE(sharp.deviceIndependentSize().toSize(), LoadIconImage(id).size());
      CIconButton button("Start");
      button.SetIconImage(sharp);
      QCOMPARE(button.IconSize(), LoadIconImage(id).size());
      QCOMPARE(button.GrayIconImage().devicePixelRatio(), 2.0);
    }
  }

  void setIconBuildsAndDropsTheGrayCopy() {
    CIconButton button("Start Converting");
    QCOMPARE(button.SetIcon(134), 0);
    QCOMPARE(button.IconImage().size(), QSize(48, 48));
    QCOMPARE(button.GrayIconImage(), MakeGrayIcon(LoadIconImage(134)));
    QCOMPARE(button.SetIcon(150), 0);
    QCOMPARE(button.GrayIconImage(), MakeGrayIcon(LoadIconImage(150)));
    QCOMPARE(button.SetIcon(12345), 1);
    QVERIFY(button.IconImage().isNull());
    QVERIFY(button.GrayIconImage().isNull());
  }

  void sizeHintHoldsIconAndCaption() {
    CIconButton beside("Add Folder");
    beside.SetIcon(131);
    const int text = beside.fontMetrics().horizontalAdvance("Add Folder");
    QVERIFY(beside.sizeHint().width() >= 3 + 32 + 3 + text);
    QVERIFY(beside.sizeHint().height() >= 32 + 6);
    CIconButton above("Start Converting");
    above.SetIcon(134);
    above.SetAlign(kIconTop);
    QVERIFY(above.sizeHint().height() >= 3 + 48 + above.fontMetrics().height());
  }

  void iconPlacement_data() {
    QTest::addColumn<QRect>("item");
    QTest::addColumn<QSize>("icon");
    QTest::addColumn<bool>("hasCaption");
    QTest::addColumn<int>("alignment");
    QTest::addColumn<bool>("pressed");
    QTest::addColumn<QRect>("iconRect");
    QTest::addColumn<QRect>("captionRect");
    const QRect wide(0, 0, 101, 41);
    QTest::newRow("left, caption") << wide << QSize(32, 32) << true << 0 << false
                                   << QRect(3, 4, 32, 32) << QRect(35, 0, 66, 41);
    QTest::newRow("left, no caption")
        << wide << QSize(32, 32) << false << 0 << false << QRect(34, 4, 32, 32) << wide;
    QTest::newRow("left, pressed") << wide << QSize(32, 32) << true << 0 << true
                                   << QRect(4, 5, 32, 32) << QRect(35, 0, 66, 41);
    const QRect tall(10, 20, 120, 80);
    QTest::newRow("top, caption") << tall << QSize(48, 48) << true << 1 << false
                                  << QRect(46, 23, 48, 48) << QRect(10, 68, 120, 32);
    QTest::newRow("top, no caption")
        << tall << QSize(48, 48) << false << 1 << false << QRect(46, 36, 48, 48) << tall;
    QTest::newRow("top, pressed") << tall << QSize(48, 48) << true << 1 << true
                                  << QRect(47, 24, 48, 48) << QRect(10, 68, 120, 32);
  }
  void iconPlacement() {
    QFETCH(QRect, item);
    QFETCH(QSize, icon);
    QFETCH(bool, hasCaption);
    QFETCH(int, alignment);
    QFETCH(bool, pressed);
    QFETCH(QRect, iconRect);
    QFETCH(QRect, captionRect);
    const IconPlacement placement = PlaceIcon(item, icon, hasCaption, alignment, pressed);
    QCOMPARE(placement.icon, iconRect);
    QCOMPARE(placement.caption, captionRect);
  }

  void captionCentresInWhatIsLeft() {
    QCOMPARE(CentreIn(QRect(35, 0, 66, 41), QSize(41, 14)), QRect(47, 13, 41, 14));
    QCOMPARE(CentreIn(QRect(0, 0, 10, 10), QSize(20, 4)), QRect(-5, 3, 20, 4));
  }

  void hoverPressAndRelease() {
    auto* button = new CIconButton("Remove");
    ButtonWindow w(button);
    QSignalSpy clicks(button, &QAbstractButton::clicked);
    const QPoint inside = button->rect().center();

    MoveOver(button, inside);
    QVERIFY(button->IsHovering());
    SendMouse(button, QEvent::MouseButtonPress, inside, Qt::LeftButton, Qt::LeftButton);
    QVERIFY(button->isDown());
    QVERIFY(button->IsHovering());
    SendMouse(button, QEvent::MouseButtonRelease, inside, Qt::LeftButton, Qt::NoButton);
    QVERIFY(!button->isDown());
    QCOMPARE(clicks.count(), 1);
    QVERIFY(button->IsHovering());
    MoveOver(button, QPoint(-5, inside.y()));
    QVERIFY(!button->IsHovering());
  }

  void pressDraggedInDoesNotHover() {
    auto* button = new CIconButton("Remove");
    ButtonWindow w(button);
    const QPoint inside = button->rect().center();
    MoveOver(button, inside, Qt::LeftButton);
    QVERIFY(!button->IsHovering());
    MoveOver(button, inside);
    QVERIFY(button->IsHovering());
    // Once hovering, a held button keeps the hover (the user presses on the button).
    MoveOver(button, inside + QPoint(1, 0), Qt::LeftButton);
    QVERIFY(button->IsHovering());
  }

  void hoverEndsOnLeaveFocusDeactivationAndDisabling_data() {
    QTest::addColumn<int>("how");
    QTest::newRow("leave") << 0;
    QTest::newRow("focus lost") << 1;
    QTest::newRow("window deactivated") << 2;
    QTest::newRow("disabled") << 3;
  }
  void hoverEndsOnLeaveFocusDeactivationAndDisabling() {
    QFETCH(int, how);
    auto* button = new CIconButton("Remove");
    ButtonWindow w(button);
    // Only the focus case gives the button the focus, so each case shows its own cause.
    (how == 1 ? static_cast<QWidget*>(button) : w.before)->setFocus();
    MoveOver(button, button->rect().center());
    QVERIFY(button->IsHovering());
    QWidget other;
    switch (how) {
      case 0: {
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(button, &leave);
        break;
      }
      case 1:
        w.after->setFocus();
        break;
      case 2:
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        break;
      default:
        button->setEnabled(false);
        break;
    }
    QVERIFY(!button->IsHovering());
  }

  void doubleClickCountsAsTwoClicks() {
    auto* button = new CIconButton("Add File(s)");
    ButtonWindow w(button);
    QSignalSpy clicks(button, &QAbstractButton::clicked);
    const QPoint at = button->rect().center();
    SendMouse(button, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
    SendMouse(button, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
    SendMouse(button, QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton);
    QVERIFY(button->isDown());
    SendMouse(button, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
    QCOMPARE(clicks.count(), 2);
  }

  void disablingMovesTheFocusToTheNextTabStop() {
    auto* button = new CIconButton("Remove");
    ButtonWindow w(button);
    // Also when another control holds the focus.
    for (QWidget* holder : {static_cast<QWidget*>(button), static_cast<QWidget*>(w.before)}) {
      button->setEnabled(true);
      holder->setFocus();
      QCOMPARE(QApplication::focusWidget(), holder);
      button->setEnabled(false);
      QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.after));
    }
    // Disabled or hidden controls are skipped and the search wraps around.
    button->setEnabled(true);
    w.after->setEnabled(false);
    button->setEnabled(false);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.before));
    // A disabled parent does not make the button move anything.
    button->setEnabled(true);
    w.after->setEnabled(true);
    w.before->setFocus();
    QWidget* parent = &w.window;
    parent->setEnabled(false);
    parent->setEnabled(true);
    QVERIFY(QApplication::focusWidget() != static_cast<QWidget*>(w.after));
  }

  // The flat border: raised (light top-left, shadow bottom-right) while hovering, sunken while
  // pressed, none at rest; and for which buttons it is drawn at all.
  void flatBorders_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("bordered");
    QTest::newRow("plain button") << 0 << true;
    QTest::newRow("themed button, no visual styles") << 1 << true;
    QTest::newRow("themed button, no library set") << 2 << false;  // the help button
    QTest::newRow("plain button, border off") << 3 << false;
  }
  void flatBorders() {
    QFETCH(int, kind);
    QFETCH(bool, bordered);
    const CThemeLibrary noStyles(nullptr);
    CIconButton* button = nullptr;
    if (kind == 1 || kind == 2) {
      auto* themed = new CThemedIconButton(kind == 1 ? "Settings" : "");
      if (kind == 1) themed->SetThemeLibrary(&noStyles);
      QVERIFY(!themed->DrawsThemed());
      button = themed;
    } else {
      button = new CIconButton("Settings");
      if (kind == 3) button->SetDrawBorder(false);
    }
    button->SetIcon(kind == 2 ? 137 : 132);
    ButtonWindow w(button);
    const QRgb face = button->palette().color(QPalette::Button).rgb();
    const QRgb light = button->palette().color(QPalette::Light).rgb();
    const QRgb shadow = button->palette().color(QPalette::Dark).rgb();

    QImage image = button->grab().toImage();
    QCOMPARE(EdgePixel(image, true), face);
    QCOMPARE(EdgePixel(image, false), face);

    MoveOver(button, button->rect().center());
    image = button->grab().toImage();
    QCOMPARE(EdgePixel(image, true), bordered ? light : face);
    QCOMPARE(EdgePixel(image, false), bordered ? shadow : face);

    button->setDown(true);
    image = button->grab().toImage();
    QCOMPARE(EdgePixel(image, true), bordered ? shadow : face);
    QCOMPARE(EdgePixel(image, false), bordered ? light : face);
  }

  void themedButtonDrawsTheStyleBevelInEachState() {
    RecordingStyle style;
    const CThemeLibrary library(&style);
    QVERIFY(library.IsAppThemed());
    auto* button = new CThemedIconButton("Add Folder");
    QVERIFY(!button->DrawsBorder());
    button->SetThemeLibrary(&library);
    QVERIFY(!button->DrawsBorder());
    button->SetIcon(131);
    ButtonWindow w(button);
    const auto bevelOf = [&] {
      style.bevels.clear();
      const QImage image = button->grab().toImage();
      Q_UNUSED(image);
      return style.bevels.size() == 1 ? style.bevels[0] : RecordingStyle::Bevel{};
    };

    RecordingStyle::Bevel bevel = bevelOf();
    QVERIFY(bevel.state.testFlag(QStyle::State_Enabled));
    QVERIFY(!bevel.state.testFlag(QStyle::State_MouseOver));
    QVERIFY(!bevel.state.testFlag(QStyle::State_Sunken));

    MoveOver(button, button->rect().center());
    bevel = bevelOf();
    QVERIFY(bevel.state.testFlag(QStyle::State_MouseOver));

    button->setDown(true);
    bevel = bevelOf();
    QVERIFY(bevel.state.testFlag(QStyle::State_Sunken));
    button->setDown(false);

    MoveOver(button, QPoint(-3, 3));
    button->setDefault(true);
    bevel = bevelOf();
    QVERIFY(bevel.features.testFlag(QStyleOptionButton::DefaultButton));

    button->setEnabled(false);
    bevel = bevelOf();
    QVERIFY(!bevel.state.testFlag(QStyle::State_Enabled));

    // The flat path never asks the style for a bevel.
    const CThemeLibrary noStyles(nullptr);
    button->SetThemeLibrary(&noStyles);
    style.bevels.clear();
    button->grab();
    QVERIFY(style.bevels.empty());
  }

  void themeLibraryFallbacks() {
    const CThemeLibrary absent(nullptr);
    QVERIFY(!absent.IsAppThemed());
    QCOMPARE(absent.OpenThemeData(nullptr, u"BUTTON"), nullptr);
    QVERIFY(!absent.CloseThemeData(nullptr));
    QImage canvas(10, 10, QImage::Format_ARGB32);
    QPainter painter(&canvas);
    QVERIFY(!absent.DrawThemeBackground(nullptr, nullptr, &painter, kThemePushButton, kThemeNormal,
                                        canvas.rect()));
    const CThemeLibrary present;
    QVERIFY(present.IsAppThemed());
    QVERIFY(present.OpenThemeData(nullptr, u"button") != nullptr);
    QCOMPARE(present.OpenThemeData(nullptr, u"EDIT"), nullptr);
  }

  void focusFrameOnlyAfterKeyboardUse() {
    auto* button = new CIconButton("Settings");
    ButtonWindow w(button);
    const QImage unfocused = button->grab().toImage();
    button->setFocus(Qt::MouseFocusReason);
    QCOMPARE(button->grab().toImage(), unfocused);
    w.before->setFocus();
    QTest::keyClick(w.before, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(button));
    QVERIFY(button->grab().toImage() != unfocused);
  }

  void disabledButtonShowsTheGrayIcon() {
    QImage white(32, 32, QImage::Format_ARGB32);
    white.fill(qRgba(255, 255, 255, 255));
    auto* button = new CIconButton("");
    button->SetIconImage(white);
    ButtonWindow w(button);
    button->setEnabled(false);
    const QImage image = button->grab().toImage();
    const QPoint centre = button->rect().center();
    QCOMPARE(image.pixel(centre), qRgb(254, 254, 254));
  }
};

QTEST_MAIN(IconButtonTest)
#include "icon_button_test.moc"
