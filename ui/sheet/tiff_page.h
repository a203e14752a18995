#pragma once
// CTiff: the TIFF page. Colour, compression, the quality of JPEG compression and merging all
// pages of a file into one TIFF. The compression decides which colours and controls apply (see
// TiffCompressionEffectFor). On OK it writes "tifc", "TJQu", "compress" and "multpage".

#include "ui/sheet/format_pages.h"

class QCheckBox;
class QLabel;
class QSlider;

class CTiff : public CFormatPage {
  Q_OBJECT

 public:
  enum Id {
    kColorList = 1040,
    kCompressionList = 1030,
    kQualityLabel = 1059,
    kQualitySlider = 1032,
    kMergeBox = 1043,
  };

  explicit CTiff(QWidget* parent = nullptr);
  orvalis::SettingEntries Entries() const override;

 protected:
  void BuildControls() override;

 private:
  // A new compression enables and disables the colour list, its items (the colours the
  // compression writes) and the quality controls, and selects the colour that goes with it.
  void OnCompressionChanged();

  QComboBox* compression_ = nullptr;
  QLabel* qualityLabel_ = nullptr;
  QSlider* quality_ = nullptr;
  QLabel* qualityValue_ = nullptr;
  QCheckBox* merge_ = nullptr;
};
