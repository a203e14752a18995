#pragma once
// CComn: the common page. Resizing (width and height in pixels), the two resolutions, one folder
// per source file, names after the full file name, and the rotation. On OK it writes "angle",
// "width", "height", "resize", "each", "fullnames", "xdpi" and "ydpi", in this order, each text
// as it stands in its field.

#include "ui/sheet/property_page.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

class CComn : public CPropertyPage {
  Q_OBJECT

 public:
  enum Id {
    kResizeBox = 1023,
    kWidthLabel = 1060,
    kWidthEdit = 1024,
    kHeightLabel = 1061,
    kHeightEdit = 1025,
    kXDpiList = 1062,
    kYDpiList = 1063,
    kEachFolderBox = 1034,
    kFullNamesBox = 1064,
    kRotationList = 1033,
  };

  explicit CComn(QWidget* parent = nullptr);
  orvalis::SettingEntries Entries() const override;

 protected:
  void BuildControls() override;

 private:
  // Width, height and their labels follow the resize box.
  void OnResizeToggled();
  QComboBox* AddResolution(int id, const QString& label, int left, int value);

  QCheckBox* resize_ = nullptr;
  QLabel* widthLabel_ = nullptr;
  QLineEdit* width_ = nullptr;
  QLabel* heightLabel_ = nullptr;
  QLineEdit* height_ = nullptr;
  QComboBox* xdpi_ = nullptr;
  QComboBox* ydpi_ = nullptr;
  QCheckBox* each_ = nullptr;
  QCheckBox* fullNames_ = nullptr;
  QComboBox* rotation_ = nullptr;
};
