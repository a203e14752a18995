// The settings sheet: its rules without widgets (prefix search, TIFF compression effects, colour
// items, dialog units), then the sheet over a real Profile.ini in a temporary folder: what it
// shows, what OK writes (and in which order), what Cancel leaves alone, and that every control
// can be found, named and reached from the keyboard.

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QSlider>
#include <QStandardItemModel>
#include <QStyleFactory>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <map>
#include <memory>

#include "engine/converter.h"
#include "engine/output_formats.h"
#include "settings/conversion_settings.h"
#include "ui/controls/dialog_units.h"
#include "ui/sheet/my_prop_sheet.h"
#include "ui/sheet/page_rules.h"
#include "ui/sheet/property_page.h"

namespace {

const QStringList kTabs = {"Common", "BMP", "TIFF", "JPEG", "GIF", "PNG",
                           "PCX",    "JP2", "JPC",  "RAS",  "TGA"};

enum Tab { kCommon = 0, kBmp, kTiff, kJpeg, kGif, kPng, kPcx, kJp2, kJpc, kRas, kTga };

// A sheet over Profile.ini in a temporary folder, shown without a screen.
class SheetFixture {
 public:
  explicit SheetFixture(const QByteArray& profile = {}) {
    path_ = folder_.filePath("Profile.ini");
    if (!profile.isNull()) WriteProfile(profile);
  }
  void WriteProfile(const QByteArray& bytes) {
    QFile file(path_);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
  }
  QByteArray ProfileBytes() const {
    QFile file(path_);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }
  // The "key=value" lines of the file, in file order.
  QStringList ProfileLines() const {
    QStringList lines;
    for (const QByteArray& line : ProfileBytes().split('\n'))
      if (line.contains('=')) lines << QString::fromUtf8(line.trimmed());
    return lines;
  }
  std::string Path() const { return path_.toStdString(); }

  CMyPropSheet& Open() {
    sheet_ = std::make_unique<CMyPropSheet>(Path());
    sheet_->show();
    return *sheet_;
  }
  CMyPropSheet& Sheet() { return *sheet_; }
  void Visit(int tab) { sheet_->Tabs()->setCurrentIndex(tab); }
  template <class Widget>
  Widget* Find(int id) {
    auto* widget = sheet_->findChild<Widget*>(QString::number(id));
    if (widget == nullptr) qWarning("no control %d", id);
    return widget;
  }
  QPushButton* Button(int id) { return Find<QPushButton>(id); }
  void ClickOk() { QTest::mouseClick(Button(1), Qt::LeftButton); }
  void ClickCancel() { QTest::mouseClick(Button(2), Qt::LeftButton); }

 private:
  QTemporaryDir folder_;
  QString path_;
  std::unique_ptr<CMyPropSheet> sheet_;
};

QString CurrentText(QComboBox* list) {
  return list->currentIndex() < 0 ? QString() : list->currentText();
}

void ReplaceText(QWidget* field, const QString& text) {
  field->setFocus();
  QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(field, Qt::Key_Backspace);
  QTest::keyClicks(field, text);
}

// Records save failures instead of showing a message box.
class QuietSheet : public CMyPropSheet {
 public:
  using CMyPropSheet::CMyPropSheet;
  QStringList failures;

 protected:
  void ReportSaveFailure(const QString& message) override { failures << message; }
};

}  // namespace

class SettingsSheetTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QApplication::setStyle(QStyleFactory::create("Fusion")); }

  void prefixSearch_data() {
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("found");
    const QStringList six = ColorItemsOffered(orvalis::OutputFormat::Bmp);
    QTest::newRow("exact") << six << "16 Grays" << 4;
    QTest::newRow("case ignored") << six << "256 grays" << 2;
    QTest::newRow("prefix, first from the top") << six << "256" << 1;
    QTest::newRow("no match") << six << "Gray" << -1;
    QTest::newRow("longer than any item") << six << "True Colors" << -1;
    QTest::newRow("rotation 9 finds 90") << RotationItems() << "9" << 1;
    QTest::newRow("rotation 45 finds nothing") << RotationItems() << "45" << -1;
    QTest::newRow("not offered by GIF")
        << ColorItemsOffered(orvalis::OutputFormat::Gif) << "True Color" << -1;
  }
  void prefixSearch() {
    QFETCH(QStringList, items);
    QFETCH(QString, text);
    QFETCH(int, found);
    QCOMPARE(FindItemByPrefix(items, text), found);
  }

  // The colour items each compression lets the page pick, True Color first and B&W last: the
  // engine's rule of what each writes (PACKBITS writes B&W pages as CCITT Group 4, JPEG the
  // colour palettes as LZW).
  void tiffCompressionEffects_data() {
    QTest::addColumn<int>("compression");
    QTest::addColumn<bool>("colorEnabled");
    QTest::addColumn<bool>("qualityEnabled");
    QTest::addColumn<int>("colorIndex");
    QTest::addColumn<QString>("itemsEnabled");
    QTest::newRow("none selected") << -1 << true << false << 0 << "111111";
    QTest::newRow("Uncompressed") << 0 << true << false << 0 << "111111";
    QTest::newRow("LZW") << 1 << true << false << 0 << "111111";
    QTest::newRow("RLE") << 2 << false << false << 5 << "000001";
    QTest::newRow("JPEG") << 3 << true << true << 0 << "101000";
    QTest::newRow("PACKBITS") << 4 << true << false << 0 << "111110";
    QTest::newRow("CCITT FAX3") << 5 << false << false << 5 << "000001";
    QTest::newRow("CCITT FAX4") << 6 << false << false << 5 << "000001";
  }
  void tiffCompressionEffects() {
    QFETCH(int, compression);
    QFETCH(bool, colorEnabled);
    QFETCH(bool, qualityEnabled);
    QFETCH(int, colorIndex);
    QFETCH(QString, itemsEnabled);
    const TiffCompressionEffect effect = TiffCompressionEffectFor(compression);
    QCOMPARE(effect.colorListEnabled, colorEnabled);
    QCOMPARE(effect.qualityEnabled, qualityEnabled);
    QCOMPARE(effect.colorIndex, colorIndex);
    QCOMPARE(ColorItemsOffered(orvalis::OutputFormat::Tiff).value(colorIndex),
             colorIndex == 5 ? QString("B&W") : QString("True Color"));
    QString enabled;
    for (bool item : effect.colorItemsEnabled) enabled += item ? '1' : '0';
    QCOMPARE(enabled, itemsEnabled);
  }

  void colourItemsPerFormat() {
    const QStringList six = {"True Color", "256 Color", "256 Grays", "16 Color", "16 Grays", "B&W"};
    const QStringList trueOrGray = {"True Color", "256 Grays"};
    QCOMPARE(ColorItemsOffered(orvalis::OutputFormat::Bmp), six);
    QCOMPARE(ColorItemsOffered(orvalis::OutputFormat::Tiff), six);
    QCOMPARE(ColorItemsOffered(orvalis::OutputFormat::Png), six);
    QCOMPARE(ColorItemsOffered(orvalis::OutputFormat::Pcx), six);
    for (orvalis::OutputFormat format : {orvalis::OutputFormat::Jpeg, orvalis::OutputFormat::Jp2,
                                         orvalis::OutputFormat::Jpc, orvalis::OutputFormat::Ras})
      QCOMPARE(ColorItemsOffered(format), trueOrGray);
    QCOMPARE(ColorItemsOffered(orvalis::OutputFormat::Gif),
             QStringList({"256 Color", "256 Grays", "16 Color", "16 Grays", "B&W"}));
    QCOMPARE(ColorItemsOffered(orvalis::OutputFormat::Tga),
             QStringList({"True Color", "256 Color", "256 Grays"}));
  }

  void dialogUnits() {
    // A font 6 pixels wide on average and 13 high: the page is 371 x 267 pixels (halves round up).
    const DialogUnits units(6, 13);
    QCOMPARE(units.ToPixels(QSize(247, 164)), QSize(371, 267));
    QCOMPARE(units.ToPixels(QRect(7, 7, 50, 14)), QRect(11, 11, 75, 23));
    // Widening stretches only the horizontal axis, never narrows, and keeps edges adjacent.
    const DialogUnits wide = units.WidenedTo(247, 500);
    QCOMPARE(wide.X(247), 500);
    QCOMPARE(wide.Y(164), 267);
    QCOMPARE(units.WidenedTo(247, 100).X(247), 371);
    const QRect left = wide.ToPixels(QRect(0, 0, 7, 8));
    const QRect right = wide.ToPixels(QRect(7, 0, 9, 8));
    QCOMPARE(left.right() + 1, right.left());
    // From a real font: letters measured, height taken whole.
    const DialogUnits fromFont = DialogUnits::FromFont(QApplication::font());
    QVERIFY(fromFont.AverageCharWidth() > 0);
    QCOMPARE(fromFont.CharHeight(), QFontMetrics(QApplication::font()).height());
  }

  void opensOnCommonWithElevenTabsAndOnlyOkCancel() {
    SheetFixture f;
    CMyPropSheet& sheet = f.Open();
    QCOMPARE(sheet.windowTitle(), QString("Settings"));
    QVERIFY(sheet.isModal());
    QCOMPARE(sheet.Tabs()->count(), 11);
    for (int i = 0; i < kTabs.size(); ++i) QCOMPARE(sheet.Tabs()->tabText(i), kTabs[i]);
    QCOMPARE(sheet.Tabs()->currentIndex(), 0);
    // Only the page shown has its controls.
    QVERIFY(sheet.Page(kCommon)->IsBuilt());
    for (int i = 1; i < sheet.PageCount(); ++i) QVERIFY(!sheet.Page(i)->IsBuilt());
    QVERIFY(f.Find<QComboBox>(1040) == nullptr);
    f.Visit(kTiff);
    QVERIFY(sheet.Page(kTiff)->IsBuilt());
    QVERIFY(f.Find<QComboBox>(1040) != nullptr);

    const auto* box = sheet.findChild<QDialogButtonBox*>();
    QCOMPARE(box->buttons().size(), 2);
    QCOMPARE(f.Button(1)->text().remove('&'), QString("OK"));
    QCOMPARE(f.Button(2)->text().remove('&'), QString("Cancel"));
    QVERIFY(f.Button(1)->isDefault());
    // OK and Cancel take the two rightmost places, OK first.
    QVERIFY(f.Button(1)->geometry().right() < f.Button(2)->geometry().left());
  }

  void commonPageShowsTheStoredValues() {
    SheetFixture f(
        "[Set]\nwidth=1200\nheight=12345\nresize=1\neach=1\nfullnames=1\nangle=9\nxdpi=1000\n");
    f.Open();
    QCOMPARE(f.Find<QLineEdit>(1024)->text(), QString("1200"));
    // A longer stored value is shown whole (typing is what is limited to four digits).
    QCOMPARE(f.Find<QLineEdit>(1025)->text(), QString("12345"));
    QVERIFY(f.Find<QCheckBox>(1023)->isChecked());
    QVERIFY(f.Find<QCheckBox>(1034)->isChecked());
    QVERIFY(f.Find<QCheckBox>(1064)->isChecked());
    for (int id : {1024, 1025, 1060, 1061}) QVERIFY(f.Find<QWidget>(id)->isEnabled());
    QCOMPARE(CurrentText(f.Find<QComboBox>(1033)), QString("90"));
    // The resolution lists show the loaded (clamped) values as text, no item selected.
    QCOMPARE(f.Find<QComboBox>(1062)->currentText(), QString("600"));
    QCOMPARE(f.Find<QComboBox>(1063)->currentText(), QString("72"));
    QCOMPARE(f.Find<QComboBox>(1062)->count(), 7);
  }

  void widthAndHeightTakeFourDigitsOnly() {
    SheetFixture f("[Set]\nresize=1\n");
    f.Open();
    QLineEdit* width = f.Find<QLineEdit>(1024);
    ReplaceText(width, "12a3-45");
    QCOMPARE(width->text(), QString("1234"));
    QVERIFY(width->alignment().testFlag(Qt::AlignRight));
  }

  void okAfterOnlyCommonWritesTheEightKeysInOrder() {
    SheetFixture f;
    f.Open();
    f.ClickOk();
    QCOMPARE(f.Sheet().result(), int(QDialog::Accepted));
    QCOMPARE(f.ProfileLines(), QStringList({"angle=0", "width=594", "height=842", "resize=0",
                                            "each=0", "fullnames=0", "xdpi=72", "ydpi=72"}));
    // The full-names box, clicked on, is stored and read back by the next load.
    f.Open();
    QCheckBox* fullNames = f.Find<QCheckBox>(1064);
    QVERIFY(!fullNames->isChecked());
    QTest::mouseClick(fullNames, Qt::LeftButton, {}, QPoint(6, fullNames->height() / 2));
    f.ClickOk();
    QVERIFY(f.ProfileLines().contains("fullnames=1"));
    orvalis::ConversionSettings settings;
    orvalis::LoadConversionOptions(f.Path(), settings);
    QCOMPARE(settings.fullnames, 1);
  }

  void typedResolutionIsWrittenAsTypedAndLoadsClamped() {
    SheetFixture f;
    f.Open();
    QComboBox* xdpi = f.Find<QComboBox>(1062);
    // "1" alone must not be completed to an item ("150").
    ReplaceText(xdpi->lineEdit(), "1");
    QCOMPARE(xdpi->currentText(), QString("1"));
    ReplaceText(xdpi->lineEdit(), "1000");
    ReplaceText(f.Find<QComboBox>(1063)->lineEdit(), "abc");
    f.ClickOk();
    QVERIFY(f.ProfileLines().contains("xdpi=1000"));
    QVERIFY(f.ProfileLines().contains("ydpi=abc"));
    orvalis::ConversionSettings settings;
    orvalis::LoadConversionOptions(f.Path(), settings);
    QCOMPARE(settings.xdpi, 600);
    QCOMPARE(settings.ydpi, 72);
    f.Open();
    QCOMPARE(f.Find<QComboBox>(1062)->currentText(), QString("600"));
    QCOMPARE(f.Find<QComboBox>(1062)->count(), 7);  // the typed text did not become an item
  }

  void enterInAFieldPressesOk() {
    SheetFixture f;
    f.Open();
    QComboBox* ydpi = f.Find<QComboBox>(1063);
    ReplaceText(ydpi->lineEdit(), "300");
    QTest::keyClick(ydpi->lineEdit(), Qt::Key_Return);
    QCOMPARE(f.Sheet().result(), int(QDialog::Accepted));
    QVERIFY(f.ProfileLines().contains("ydpi=300"));
  }

  void uncheckedResizeDisablesTheFieldsAndStillWritesThem() {
    SheetFixture f("[Set]\nresize=1\nwidth=800\nheight=600\n");
    f.Open();
    QCheckBox* resize = f.Find<QCheckBox>(1023);
    QTest::mouseClick(resize, Qt::LeftButton, {}, QPoint(6, resize->height() / 2));
    QVERIFY(!resize->isChecked());
    for (int id : {1024, 1025, 1060, 1061}) QVERIFY(!f.Find<QWidget>(id)->isEnabled());
    f.ClickOk();
    const QStringList lines = f.ProfileLines();
    QVERIFY(lines.contains("width=800"));
    QVERIFY(lines.contains("height=600"));
    QVERIFY(lines.contains("resize=0"));
    resize->setChecked(true);
    for (int id : {1024, 1025, 1060, 1061}) QVERIFY(f.Find<QWidget>(id)->isEnabled());
  }

  void tiffPageWithDefaults() {
    SheetFixture f;
    f.Open();
    f.Visit(kTiff);
    QCOMPARE(CurrentText(f.Find<QComboBox>(1030)), QString("JPEG"));
    QComboBox* colour = f.Find<QComboBox>(1040);
    QVERIFY(colour->isEnabled());  // JPEG writes True Color and 256 Grays
    QCOMPARE(CurrentText(colour), QString("True Color"));
    QSlider* quality = f.Find<QSlider>(1032);
    QVERIFY(quality->isEnabled());
    QCOMPARE(quality->value(), 75);
    QCOMPARE(f.Find<QLabel>(1042)->text(), QString("75"));
    QVERIFY(f.Find<QLabel>(1042)->isEnabled());
    QVERIFY(f.Find<QLabel>(1059)->isEnabled());
    QVERIFY(!f.Find<QCheckBox>(1043)->isChecked());
  }

  void tiffCompressionSequence() {
    SheetFixture f;
    f.Open();
    f.Visit(kTiff);
    QComboBox* compression = f.Find<QComboBox>(1030);
    QComboBox* colour = f.Find<QComboBox>(1040);
    QSlider* quality = f.Find<QSlider>(1032);

    compression->setCurrentIndex(6);  // CCITT FAX4
    QCOMPARE(CurrentText(colour), QString("B&W"));
    QVERIFY(!colour->isEnabled());
    QVERIFY(!quality->isEnabled());
    QVERIFY(!f.Find<QLabel>(1042)->isEnabled());
    QVERIFY(!f.Find<QLabel>(1059)->isEnabled());

    compression->setCurrentIndex(1);  // LZW: the earlier colour choice is dropped
    QVERIFY(colour->isEnabled());
    QCOMPARE(CurrentText(colour), QString("True Color"));
    colour->setCurrentIndex(4);

    compression->setCurrentIndex(3);  // JPEG: True Color or 256 Grays, nothing else
    QCOMPARE(CurrentText(colour), QString("True Color"));
    QVERIFY(colour->isEnabled());
    const auto* items = qobject_cast<QStandardItemModel*>(colour->model());
    QVERIFY(items != nullptr);
    QVERIFY(items->item(2)->isEnabled());
    QVERIFY(!items->item(1)->isEnabled());
    QVERIFY(!items->item(5)->isEnabled());
    QVERIFY(quality->isEnabled());
    QVERIFY(f.Find<QLabel>(1042)->isEnabled());

    compression->setCurrentIndex(2);  // RLE: B&W alone, as the fax codes
    QCOMPARE(CurrentText(colour), QString("B&W"));
    QVERIFY(!colour->isEnabled());
    compression->setCurrentIndex(0);  // every colour again
    QVERIFY(items->item(5)->isEnabled());
  }

  void tiffPageShowsStoredValues_data() {
    QTest::addColumn<QByteArray>("profile");
    QTest::addColumn<QString>("compression");
    QTest::addColumn<QString>("colour");
    QTest::addColumn<bool>("colourEnabled");
    QTest::addColumn<bool>("merge");
    QTest::newRow("uncompressed, 16 grays")
        << QByteArray("[Set]\ncompress=0\ntifc=16 Grays\n") << "Uncompressed"
        << "16 Grays" << true << false;
    QTest::newRow("fax3 keeps a stored colour")
        << QByteArray("[Set]\ncompress=5\ntifc=256 Color\nmultpage=1\n") << "CCITT FAX3"
        << "256 Color" << false << true;
    QTest::newRow("compression outside the list")
        << QByteArray("[Set]\ncompress=9\ntifc=unknown\n") << ""
        << "" << true << false;
  }
  void tiffPageShowsStoredValues() {
    QFETCH(QByteArray, profile);
    QFETCH(QString, compression);
    QFETCH(QString, colour);
    QFETCH(bool, colourEnabled);
    QFETCH(bool, merge);
    SheetFixture f(profile);
    f.Open();
    f.Visit(kTiff);
    QCOMPARE(CurrentText(f.Find<QComboBox>(1030)), compression);
    QCOMPARE(CurrentText(f.Find<QComboBox>(1040)), colour);
    QCOMPARE(f.Find<QComboBox>(1040)->isEnabled(), colourEnabled);
    QCOMPARE(f.Find<QCheckBox>(1043)->isChecked(), merge);
  }

  void qualitySliders_data() {
    QTest::addColumn<int>("tab");
    QTest::addColumn<int>("slider");
    QTest::newRow("JPEG") << int(kJpeg) << 1041;
    QTest::newRow("TIFF") << int(kTiff) << 1032;
  }
  void qualitySliders() {
    QFETCH(int, tab);
    QFETCH(int, slider);
    SheetFixture f("[Set]\nJQu=40\nTJQu=40\n");
    f.Open();
    f.Visit(tab);
    QSlider* quality = f.Find<QSlider>(slider);
    QLabel* value = f.Find<QLabel>(1042);
    QCOMPARE(quality->minimum(), 1);
    QCOMPARE(quality->maximum(), 100);
    QCOMPARE(quality->pageStep(), 10);
    QCOMPARE(quality->tickInterval(), 10);
    QCOMPARE(quality->tickPosition(), QSlider::TicksAbove);
    QCOMPARE(value->text(), QString("40"));
    quality->setFocus();
    QTest::keyClick(quality, Qt::Key_PageUp);
    QCOMPARE(value->text(), QString("50"));
    QTest::keyClick(quality, Qt::Key_Left);
    QCOMPARE(value->text(), QString("49"));
    // While dragging, the label follows the handle.
    quality->setSliderDown(true);
    quality->setSliderPosition(87);
    QCOMPARE(value->text(), QString("87"));
    quality->setSliderDown(false);
  }

  void okWritesEveryVisitedPageInTabOrder() {
    SheetFixture f;
    f.Open();
    for (int tab = 1; tab < kTabs.size(); ++tab) f.Visit(tab);
    f.Visit(kJpeg);
    f.Find<QComboBox>(1031)->setCurrentIndex(1);
    f.Find<QSlider>(1041)->setValue(90);
    f.Visit(kTiff);
    f.Find<QComboBox>(1030)->setCurrentIndex(4);
    f.Find<QComboBox>(1040)->setCurrentIndex(3);
    f.Find<QSlider>(1032)->setValue(33);
    f.Find<QCheckBox>(1043)->setChecked(true);
    f.Visit(kTga);
    f.Find<QComboBox>(1050)->setCurrentIndex(2);
    f.ClickOk();
    QCOMPARE(
        f.ProfileLines(),
        QStringList({"angle=0",         "width=594",       "height=842",      "resize=0",
                     "each=0",          "fullnames=0",     "xdpi=72",         "ydpi=72",
                     "bmpc=True Color", "tifc=16 Color",   "TJQu=33",         "compress=4",
                     "multpage=1",      "jpgc=256 Grays",  "JQu=90",          "gifc=256 Color",
                     "pngc=True Color", "pcxc=True Color", "jp2c=True Color", "jpcc=True Color",
                     "rasc=True Color", "tgac=256 Grays"}));
  }

  void aColourNoItemMatchesShowsNoSelectionAndStays() {
    const QByteArray profile = "[Set]\ngifc=True Color\njp2c=256\n";
    SheetFixture f(profile);
    f.Open();
    f.Visit(kGif);
    QCOMPARE(f.Find<QComboBox>(1037)->currentIndex(), -1);
    f.Visit(kJp2);
    QCOMPARE(CurrentText(f.Find<QComboBox>(1053)), QString("256 Grays"));
    f.ClickOk();
    const QStringList lines = f.ProfileLines();
    QVERIFY(lines.contains("gifc=True Color"));
    QVERIFY(lines.contains("jp2c=256 Grays"));
  }

  void cancelLeavesTheFileByteForByte() {
    const QByteArray profile =
        "; kept as it is\r\n[Set]\r\nxdpi = 300\r\ngifc=16 Grays\r\nJQu=5\r\n[Other]\r\nx=1\r\n";
    SheetFixture f(profile);
    f.Open();
    for (int tab = 0; tab < kTabs.size(); ++tab) f.Visit(tab);
    f.Find<QCheckBox>(1043)->setChecked(true);
    f.Find<QSlider>(1041)->setValue(99);
    f.ClickCancel();
    QCOMPARE(f.Sheet().result(), int(QDialog::Rejected));
    QCOMPARE(f.ProfileBytes(), profile);
    SheetFixture empty;
    empty.Open();
    empty.ClickCancel();
    QVERIFY(!QFile::exists(QString::fromStdString(empty.Path())));
  }

  void runSettingsSheetReloadsTheRecordAfterOkOnly() {
    SheetFixture f;
    orvalis::ConversionSettings settings;
    orvalis::LoadConversionOptions(f.Path(), settings);
    settings.xdpi = 999;  // a value only a reload can correct
    QTimer::singleShot(0, [] {
      auto* sheet = qobject_cast<CMyPropSheet*>(QApplication::activeModalWidget());
      QVERIFY(sheet != nullptr);
      sheet->reject();
    });
    QVERIFY(!RunSettingsSheet(nullptr, f.Path(), settings));
    QCOMPARE(settings.xdpi, 999);
    QTimer::singleShot(0, [] {
      auto* sheet = qobject_cast<CMyPropSheet*>(QApplication::activeModalWidget());
      QVERIFY(sheet != nullptr);
      sheet->accept();
    });
    QVERIFY(RunSettingsSheet(nullptr, f.Path(), settings));
    QCOMPARE(settings.xdpi, 600);  // "999" written as shown, clamped on the reload
  }

  void aFileThatCannotBeWrittenKeepsTheSheetOpen() {
    QTemporaryDir folder;
    QFile blocker(folder.filePath("not-a-folder"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const std::string path = folder.filePath("not-a-folder/Profile.ini").toStdString();
    QuietSheet sheet(path);
    sheet.show();
    sheet.accept();
    QCOMPARE(sheet.failures.size(), 1);
    QVERIFY(sheet.failures[0].contains(QString::fromStdString(path)));
    QVERIFY(sheet.isVisible());
    QCOMPARE(sheet.result(), 0);
  }

  void okStoresEveryShownPageOrNone() {
    SheetFixture f("[Set]\nJQu=20\n");
    const QString path = QString::fromStdString(f.Path());
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup));
    QuietSheet sheet(f.Path());
    sheet.show();
    for (int tab : {kGif, kJpeg, kTiff}) sheet.Tabs()->setCurrentIndex(tab);
    sheet.accept();
    // One failure for the whole sheet, and not one key written.
    QCOMPARE(sheet.failures.size(), 1);
    QVERIFY2(sheet.failures[0].contains("read-only"), qPrintable(sheet.failures[0]));
    QCOMPARE(f.ProfileBytes(), QByteArray("[Set]\nJQu=20\n"));
    QVERIFY(sheet.isVisible());
    // Once the file can be written, the same OK stores every shown page.
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
    sheet.accept();
    QCOMPARE(sheet.result(), int(QDialog::Accepted));
    const QStringList lines = f.ProfileLines();
    for (const char* key : {"angle=", "gifc=", "jpgc=", "tifc=", "multpage="})
      QVERIFY2(std::any_of(lines.begin(), lines.end(),
                           [key](const QString& line) { return line.startsWith(key); }),
               key);
  }

  // The sheet opens on the chosen format's page (Common for a format without one), with the
  // focus on the page; Tab visits the page, then OK, Cancel and the tab bar.
  void opensOnTheFormatsPageAndTabsThroughThePageFirst_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("tab");
    QTest::addColumn<QList<int>>("tabStops");
    QTest::newRow("TIFF") << int(orvalis::OutputFormat::Tiff) << int(kTiff)
                          << QList<int>{1040, 1030, 1032, 1043};
    QTest::newRow("PNG") << int(orvalis::OutputFormat::Png) << int(kPng) << QList<int>{1039};
    QTest::newRow("EMF") << int(orvalis::OutputFormat::Emf) << int(kCommon)
                         << QList<int>{1023, 1024, 1025, 1062, 1063, 1034, 1064, 1033};
  }
  void opensOnTheFormatsPageAndTabsThroughThePageFirst() {
    QFETCH(int, format);
    QFETCH(int, tab);
    QFETCH(QList<int>, tabStops);
    SheetFixture f;
    CMyPropSheet sheet(f.Path());
    sheet.ShowFormatPage(static_cast<orvalis::OutputFormat>(format));
    sheet.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sheet));
    QCOMPARE(sheet.Tabs()->currentIndex(), tab);
    QWidget* page = sheet.Page(tab);
    QWidget* widget = sheet.focusWidget();
    QVERIFY(widget != nullptr);
    QList<QString> walked;
    for (int i = 0; i < tabStops.size() + 3; ++i) {
      walked << (widget == sheet.Tabs()->tabBar() ? QStringLiteral("tabs") : widget->objectName());
      do {
        widget = widget->nextInFocusChain();
      } while (!(widget->focusPolicy() & Qt::TabFocus) || !widget->isVisibleTo(&sheet) ||
               !widget->isEnabled() ||
               (widget->parentWidget() != page &&
                widget->parentWidget() != sheet.findChild<QDialogButtonBox*>() &&
                widget != sheet.Tabs()->tabBar()));
    }
    QList<QString> expected;
    for (int id : tabStops)
      if (sheet.findChild<QWidget*>(QString::number(id))->isEnabled())
        expected << QString::number(id);
    expected << "1"
             << "2"
             << "tabs";
    QCOMPARE(walked.mid(0, expected.size()), expected);
  }

  // Every captioned control of a page has a mnemonic of its own on that page; the lists inside
  // a titled group have the title as their label (Alt and its letter go there, a screen reader
  // reads it with the list).
  void mnemonicsAndGroupLabelsOnEveryPage() {
    SheetFixture f;
    CMyPropSheet& sheet = f.Open();
    sheet.activateWindow();
    QTRY_VERIFY(sheet.isActiveWindow());
    const std::map<int, QString> labelled = {
        {1033, "Rotate"}, {1030, "Compress"}, {1036, "Color"}, {1041, "Quality"}};
    int groupLabels = 0;
    for (int tab = 0; tab < kTabs.size(); ++tab) {
      f.Visit(tab);
      QWidget* page = sheet.Page(tab);
      QSet<QChar> letters;
      for (QWidget* control : page->findChildren<QWidget*>()) {
        QString text;
        if (auto* label = qobject_cast<QLabel*>(control); label != nullptr && label->buddy())
          text = label->text();
        if (auto* box = qobject_cast<QCheckBox*>(control)) text = box->text();
        if (text.isEmpty()) continue;
        const qsizetype at = text.indexOf('&');
        QVERIFY2(at >= 0 && at + 1 < text.size() && text.indexOf('&', at + 1) < 0,
                 qPrintable(text));
        const QChar letter = text[at + 1].toLower();
        QVERIFY2(!letters.contains(letter), qPrintable(kTabs[tab] + " " + text));
        letters.insert(letter);
        QCOMPARE(QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name),
                 QString(text).remove('&'));
        auto* label = qobject_cast<QLabel*>(control);
        if (label == nullptr) continue;
        const auto named = labelled.find(label->buddy()->objectName().toInt());
        if (named == labelled.end()) continue;
        ++groupLabels;
        QCOMPARE(label->text().remove('&'), named->second);
        // The label's relation names it for the list, and its letter reaches the list.
        const auto relations =
            QAccessible::queryAccessibleInterface(label->buddy())->relations(QAccessible::Label);
        QVERIFY(!relations.isEmpty() &&
                relations.first().first->text(QAccessible::Name) == named->second);
        QTest::keyClick(&sheet, letter.toLatin1(), Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), label->buddy());
      }
    }
    QCOMPARE(groupLabels, 1 + 1 + 1 + 1);  // Rotate; TIFF's Compress; BMP's Color; JPEG's Quality
  }

  void controlsAreNamedAndReachable_data() {
    QTest::addColumn<int>("tab");
    QTest::addColumn<QList<int>>("ids");       // every control with an id
    QTest::addColumn<QList<int>>("tabStops");  // the keyboard order
    QTest::newRow("Common") << int(kCommon) << QList<int>{1023, 1060, 1024, 1061, 1025,
                                                          1062, 1063, 1034, 1064, 1033}
                            << QList<int>{1023, 1024, 1025, 1062, 1063, 1034, 1064, 1033};
    QTest::newRow("TIFF") << int(kTiff) << QList<int>{1035, 1040, 1030, 1059, 1032, 1042, 1043}
                          << QList<int>{1040, 1030, 1032, 1043};
    QTest::newRow("JPEG") << int(kJpeg) << QList<int>{1035, 1031, 1041, 1042}
                          << QList<int>{1031, 1041};
    const std::pair<int, int> simple[] = {{kBmp, 1036}, {kGif, 1037}, {kPng, 1039}, {kPcx, 1038},
                                          {kJp2, 1053}, {kJpc, 1052}, {kRas, 1051}, {kTga, 1050}};
    for (auto [tab, list] : simple)
      QTest::newRow(qPrintable(kTabs[tab])) << tab << QList<int>{1035, list} << QList<int>{list};
  }
  void controlsAreNamedAndReachable() {
    QFETCH(int, tab);
    QFETCH(QList<int>, ids);
    QFETCH(QList<int>, tabStops);
    SheetFixture f;
    f.Open();
    f.Visit(tab);
    QWidget* page = f.Sheet().Page(tab);
    for (int id : ids) {
      QWidget* control = f.Find<QWidget>(id);
      QVERIFY(control != nullptr);
      QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
      QVERIFY2(!accessible->text(QAccessible::Name).isEmpty(), qPrintable(QString::number(id)));
    }
    // Every control a user can reach has a name too, id or not.
    for (QWidget* control : page->findChildren<QWidget*>()) {
      if (control->focusPolicy() == Qt::NoFocus || control->parentWidget() != page) continue;
      QVERIFY2(!QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name).isEmpty(),
               qPrintable(control->objectName()));
    }
    // Walking the focus chain from the first stop meets the stops in order.
    QList<int> walked;
    QWidget* first = f.Find<QWidget>(tabStops.first());
    QWidget* widget = first;
    do {
      if (widget->parentWidget() == page && (widget->focusPolicy() & Qt::TabFocus))
        walked << widget->objectName().toInt();
      widget = widget->nextInFocusChain();
    } while (widget != first && walked.size() < tabStops.size());
    QCOMPARE(walked, tabStops);
  }

  // Nothing a user reads is cut off: every control lies inside its page, and texts fit their
  // controls.
  void noControlIsClipped_data() {
    QTest::addColumn<int>("pointSize");
    QTest::newRow("desktop font") << 0;
    QTest::newRow("small font") << 7;
    QTest::newRow("large font") << 14;
  }
  void noControlIsClipped() {
    QFETCH(int, pointSize);
    const QFont desktop = QApplication::font();
    QFont font = desktop;
    if (pointSize > 0) font.setPointSize(pointSize);
    QApplication::setFont(font);
    const auto restore = qScopeGuard([&] { QApplication::setFont(desktop); });
    SheetFixture f;
    CMyPropSheet& sheet = f.Open();
    QCOMPARE(sheet.Page(kCommon)->font().pointSize(), font.pointSize());
    for (int tab = 0; tab < kTabs.size(); ++tab) {
      f.Visit(tab);
      QWidget* page = sheet.Page(tab);
      for (QWidget* control : page->findChildren<QWidget*>()) {
        if (control->parentWidget() != page) continue;
        const QString what =
            kTabs[tab] + " " + control->objectName() + " " + control->metaObject()->className();
        QVERIFY2(page->rect().contains(control->geometry()), qPrintable(what));
        auto* label = qobject_cast<QLabel*>(control);
        if (label != nullptr && label->wordWrap()) {
          QVERIFY2(label->heightForWidth(label->width()) <= label->height(), qPrintable(what));
        } else if (label != nullptr || qobject_cast<QCheckBox*>(control) != nullptr) {
          QVERIFY2(control->sizeHint().width() <= control->width(), qPrintable(what));
          QVERIFY2(control->sizeHint().height() <= control->height() + 2, qPrintable(what));
        }
      }
    }
  }
};

QTEST_MAIN(SettingsSheetTest)
#include "settings_sheet_test.moc"
