#pragma once
// CJpg: the JPEG page. Colour ("True Color" or "256 Grays") and the quality track bar; on OK it
// writes "jpgc" and "JQu".

#include "ui/sheet/format_pages.h"

class QSlider;

class CJpg : public CFormatPage {
  Q_OBJECT

 public:
  enum Id { kColorList = 1031, kQualitySlider = 1041 };

  explicit CJpg(QWidget* parent = nullptr);
  orvalis::SettingEntries Entries() const override;

 protected:
  void BuildControls() override;

 private:
  QSlider* quality_ = nullptr;
};
