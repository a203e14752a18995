#include "ui/sheet/common_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>

#include "ui/sheet/page_rules.h"

namespace {

// Typing is limited to four digits. The limit sits in the validator rather than in the field's
// maximum length, so a longer value from the file is shown and written back whole.
QLineEdit* MakeNumberEdit(int value, const QString& name) {
  auto* edit = new QLineEdit(QString::number(value));
  edit->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,4}")), edit));
  edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  edit->setAccessibleName(name);
  return edit;
}

std::string TextOf(const QLineEdit* edit) {
  return edit->text().toStdString();
}

}  // namespace

CComn::CComn(QWidget* parent) : CPropertyPage("Common", 144, parent) {}

void CComn::BuildControls() {
  const orvalis::ConversionSettings& options = Options();

  // The check box stands where the style draws group titles: above the group's frame.
  AddGroup(QString(), QRect(7, 17, 233, 30));
  resize_ = Place(new QCheckBox("&Resize image (Pixel)"), kResizeBox, QRect(7, 4, 100, 12));
  widthLabel_ = AddLabel(kWidthLabel, "&Width", QRect(20, 27, 28, 10));
  width_ = Place(MakeNumberEdit(options.width, "Width"), kWidthEdit, QRect(50, 25, 50, 14));
  heightLabel_ = AddLabel(kHeightLabel, "&Height", QRect(126, 27, 30, 10));
  height_ = Place(MakeNumberEdit(options.height, "Height"), kHeightEdit, QRect(158, 25, 50, 14));
  widthLabel_->setBuddy(width_);
  heightLabel_->setBuddy(height_);

  AddGroup("Resolution", QRect(7, 52, 233, 38));
  xdpi_ = AddResolution(kXDpiList, "&X-DPI", 20, options.xdpi);
  ydpi_ = AddResolution(kYDpiList, "&Y-DPI", 126, options.ydpi);

  AddGroup("Convert Output", QRect(7, 96, 136, 48));
  each_ = Place(new QCheckBox("Create &directories for each file"), kEachFolderBox,
                QRect(14, 111, 124, 12));
  fullNames_ = Place(new QCheckBox("&Name after the full file name"), kFullNamesBox,
                     QRect(14, 126, 124, 12));
  QGroupBox* rotate = AddGroup("Rotate", QRect(148, 96, 92, 48));
  rotation_ = AddList(kRotationList, RotationItems(), QRect(158, 110, 50, 14), "Rotate");
  LabelGroupControl(rotate, "R&otate", rotation_);
  SelectByPrefix(rotation_, QString::number(options.angle));

  for (QCheckBox* box : {resize_, each_, fullNames_})
    box->setAccessibleName(WithoutMnemonic(box->text()));
  resize_->setChecked(options.resize != 0);
  each_->setChecked(options.each != 0);
  fullNames_->setChecked(options.fullnames != 0);
  ChainTabOrder({resize_, width_, height_, xdpi_, ydpi_, each_, fullNames_, rotation_});
  connect(resize_, &QCheckBox::toggled, this, &CComn::OnResizeToggled);
  OnResizeToggled();
}

// An editable list: any typed text is kept as typed (no completion, no new items).
QComboBox* CComn::AddResolution(int id, const QString& label, int left, int value) {
  QLabel* caption = AddLabel(0, label, QRect(left, 68, 28, 10));
  auto* list = Place(new QComboBox, id, QRect(left + 30, 66, 50, 14));
  list->setEditable(true);
  list->setInsertPolicy(QComboBox::NoInsert);
  list->setCompleter(nullptr);
  list->addItems(ResolutionItems());
  list->setCurrentIndex(-1);
  list->setEditText(QString::number(value));
  list->setAccessibleName(WithoutMnemonic(label));
  // The field typed into is named as its list is.
  list->lineEdit()->setAccessibleName(WithoutMnemonic(label));
  caption->setBuddy(list);
  return list;
}

void CComn::OnResizeToggled() {
  const bool on = resize_->isChecked();
  for (QWidget* widget :
       std::initializer_list<QWidget*>{width_, height_, widthLabel_, heightLabel_})
    widget->setEnabled(on);
}

orvalis::SettingEntries CComn::Entries() const {
  orvalis::CommonPageKeys keys;
  keys.angle = SelectedText(rotation_);
  keys.width = TextOf(width_);
  keys.height = TextOf(height_);
  keys.resize = resize_->isChecked() ? 1 : 0;
  keys.each = each_->isChecked() ? 1 : 0;
  keys.fullnames = fullNames_->isChecked() ? 1 : 0;
  keys.xdpi = xdpi_->currentText().toStdString();
  keys.ydpi = ydpi_->currentText().toStdString();
  return orvalis::CommonPageEntries(keys);
}
