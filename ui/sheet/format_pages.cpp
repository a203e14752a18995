#include "ui/sheet/format_pages.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QSlider>

#include "engine/converter.h"
#include "ui/sheet/page_rules.h"

CFormatPage::CFormatPage(const QString& title, int dialogId, orvalis::OutputFormat outputFormat,
                         int colorListId, QWidget* parent)
    : CPropertyPage(title, dialogId, parent),
      outputFormat_(outputFormat),
      colorListId_(colorListId) {}

void CFormatPage::AddIntroduction(int descriptionHeight) {
  AddLabel(0, "Introduce:", QRect(7, 6, 100, 10));
  QLabel* description =
      AddLabel(kDescriptionId, FormatDescription(outputFormat_),
               QRect(7, 18, 233, descriptionHeight), Qt::AlignLeft | Qt::AlignTop);
  description->setWordWrap(true);
}

QComboBox* CFormatPage::AddColorGroup(int groupTop) {
  QGroupBox* group = AddGroup("Color", QRect(7, groupTop, 233, 32));
  colorList_ = AddList(colorListId_, ColorItemsOffered(outputFormat_),
                       QRect(16, groupTop + 13, 110, 14), "Color");
  LabelGroupControl(group, "&Color", colorList_);
  return colorList_;
}

CFormatPage::QualityControls CFormatPage::AddQualitySlider(int sliderId, const QRect& sliderUnits,
                                                           const QRect& valueUnits, int quality) {
  auto* slider = Place(new QSlider(Qt::Horizontal), sliderId, sliderUnits);
  slider->setRange(1, 100);
  slider->setPageStep(10);
  slider->setSingleStep(1);
  slider->setTickInterval(10);
  slider->setTickPosition(QSlider::TicksAbove);
  slider->setTracking(true);
  slider->setAccessibleName("Quality");
  slider->setValue(quality);
  // The label shows the track bar's own value, so a stored quality outside 1..100 shows as the
  // value that will be written.
  QLabel* value = AddLabel(kQualityValueId, QString::number(slider->value()), valueUnits,
                           Qt::AlignHCenter | Qt::AlignVCenter);
  value->setAccessibleName("Quality value");
  connect(slider, &QSlider::valueChanged, value,
          [value](int position) { value->setText(QString::number(position)); });
  return {slider, value};
}

void CFormatPage::SelectColor(const std::string& text) {
  SelectByPrefix(colorList_, QString::fromStdString(text));
}

CColorPage::CColorPage(const QString& title, int dialogId, orvalis::OutputFormat outputFormat,
                       int colorListId, std::string_view colorKey, QWidget* parent)
    : CFormatPage(title, dialogId, outputFormat, colorListId, parent), colorKey_(colorKey) {}

void CColorPage::BuildControls() {
  AddIntroduction(54);
  AddColorGroup(78);
  const std::optional<std::string> stored = orvalis::SettingText(Options(), colorKey_);
  SelectColor(stored.value_or(std::string()));
}

orvalis::SettingEntries CColorPage::Entries() const {
  return orvalis::ColorPageEntries(colorKey_, AsView(ColorText()));
}

CBmpp::CBmpp(QWidget* parent)
    : CColorPage("BMP", 145, orvalis::OutputFormat::Bmp, 1036, "bmpc", parent) {}
CGif::CGif(QWidget* parent)
    : CColorPage("GIF", 148, orvalis::OutputFormat::Gif, 1037, "gifc", parent) {}
CPng::CPng(QWidget* parent)
    : CColorPage("PNG", 147, orvalis::OutputFormat::Png, 1039, "pngc", parent) {}
CPcx::CPcx(QWidget* parent)
    : CColorPage("PCX", 149, orvalis::OutputFormat::Pcx, 1038, "pcxc", parent) {}
CJp2::CJp2(QWidget* parent)
    : CColorPage("JP2", 163, orvalis::OutputFormat::Jp2, 1053, "jp2c", parent) {}
CJpc::CJpc(QWidget* parent)
    : CColorPage("JPC", 164, orvalis::OutputFormat::Jpc, 1052, "jpcc", parent) {}
CRas::CRas(QWidget* parent)
    : CColorPage("RAS", 165, orvalis::OutputFormat::Ras, 1051, "rasc", parent) {}
CTga::CTga(QWidget* parent)
    : CColorPage("TGA", 162, orvalis::OutputFormat::Tga, 1050, "tgac", parent) {}
