#include <QtTest>
class SettingsSheetTest : public QObject {
  Q_OBJECT
};
QTEST_MAIN(SettingsSheetTest)
#include "settings_sheet_test.moc"
