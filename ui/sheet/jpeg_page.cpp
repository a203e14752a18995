#include "ui/sheet/jpeg_page.h"

#include <QComboBox>
#include <QGroupBox>
#include <QSlider>

#include "engine/converter.h"

CJpg::CJpg(QWidget* parent)
    : CFormatPage("JPEG", 143, orvalis::OutputFormat::Jpeg, kColorList, parent) {}

void CJpg::BuildControls() {
  AddIntroduction(20);
  // The colour group stands where the TIFF page has it, so switching tabs does not move it.
  AddColorGroup(42);
  SelectColor(Options().jpgc);
  QGroupBox* group = AddGroup("Quality", QRect(7, 78, 233, 54));
  AddLabel(0, "Small Size", QRect(12, 98, 44, 10), Qt::AlignRight | Qt::AlignVCenter);
  quality_ = AddQualitySlider(kQualitySlider, QRect(60, 92, 120, 20), QRect(60, 114, 120, 10),
                              Options().JQu)
                 .slider;
  AddLabel(0, "High Quality", QRect(184, 98, 52, 10));
  LabelGroupControl(group, "&Quality", quality_);
  ChainTabOrder({ColorList(), quality_});
}

orvalis::SettingEntries CJpg::Entries() const {
  return orvalis::JpegPageEntries(AsView(ColorText()), quality_->value());
}
