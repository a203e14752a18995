#include "ui/sheet/tiff_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QSlider>
#include <QStandardItemModel>

#include "engine/converter.h"
#include "ui/sheet/page_rules.h"

CTiff::CTiff(QWidget* parent)
    : CFormatPage("TIFF", 146, orvalis::OutputFormat::Tiff, kColorList, parent) {}

void CTiff::BuildControls() {
  const orvalis::ConversionSettings& options = Options();
  AddIntroduction(20);
  AddColorGroup(42);
  QGroupBox* group = AddGroup("Compress", QRect(7, 78, 233, 64));
  compression_ =
      AddList(kCompressionList, TiffCompressionItems(), QRect(16, 91, 110, 14), "Compress");
  LabelGroupControl(group, "Com&press", compression_);
  qualityLabel_ = AddLabel(kQualityLabel, "&Quality", QRect(16, 114, 36, 10));
  const QualityControls quality = AddQualitySlider(kQualitySlider, QRect(56, 108, 150, 20),
                                                   QRect(56, 129, 150, 10), options.TJQu);
  quality_ = quality.slider;
  qualityValue_ = quality.value;
  qualityLabel_->setBuddy(quality_);
  merge_ =
      Place(new QCheckBox("&Merge images into one TIFF file"), kMergeBox, QRect(9, 146, 200, 12));
  merge_->setAccessibleName(WithoutMnemonic(merge_->text()));
  ChainTabOrder({ColorList(), compression_, quality_, merge_});

  // An index outside the list selects nothing.
  compression_->setCurrentIndex(
      options.compress >= 0 && options.compress < compression_->count() ? options.compress : -1);
  merge_->setChecked(options.multpage != 0);
  OnCompressionChanged();
  // The stored colour replaces the one the compression chose.
  SelectColor(options.tifc);
  connect(compression_, &QComboBox::currentIndexChanged, this, &CTiff::OnCompressionChanged);
}

void CTiff::OnCompressionChanged() {
  const TiffCompressionEffect effect = TiffCompressionEffectFor(compression_->currentIndex());
  ColorList()->setEnabled(effect.colorListEnabled);
  // The colours the compression does not write cannot be picked.
  if (auto* items = qobject_cast<QStandardItemModel*>(ColorList()->model())) {
    for (int row = 0; row < items->rowCount(); ++row)
      items->item(row)->setEnabled(effect.colorItemsEnabled.value(row, true));
  }
  for (QWidget* widget : std::initializer_list<QWidget*>{quality_, qualityValue_, qualityLabel_})
    widget->setEnabled(effect.qualityEnabled);
  ColorList()->setCurrentIndex(effect.colorIndex);
}

orvalis::SettingEntries CTiff::Entries() const {
  // With no compression selected (a stored index outside the list) the stored index stays.
  const int compress =
      compression_->currentIndex() >= 0 ? compression_->currentIndex() : Options().compress;
  return orvalis::TiffPageEntries(AsView(ColorText()), quality_->value(), compress,
                                  merge_->isChecked() ? 1 : 0);
}
