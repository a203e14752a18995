#include "ui/sheet/property_page.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionGroupBox>

#include "ui/sheet/page_rules.h"

CPropertyPage::CPropertyPage(const QString& title, int dialogId, QWidget* parent)
    : QWidget(parent), title_(title), dialogId_(dialogId), units_(DialogUnits::FromFont(font())) {
  setObjectName(QString::number(dialogId));
  setAccessibleName(title);
}

void CPropertyPage::SetPageData(const orvalis::ConversionSettings& options) {
  options_ = options;
}

void CPropertyPage::EnsureBuilt() {
  if (built_) return;
  built_ = true;
  BuildControls();
}

QSize CPropertyPage::sizeHint() const {
  return units_.ToPixels(kPageUnits);
}

void CPropertyPage::PlaceWidget(QWidget* widget, int id, const QRect& units) {
  widget->setParent(this);
  if (id != 0) widget->setObjectName(QString::number(id));
  widget->setGeometry(units_.ToPixels(units));
  widget->show();
}

QLabel* CPropertyPage::AddLabel(int id, const QString& text, const QRect& units,
                                Qt::Alignment alignment) {
  auto* label = Place(new QLabel(text), id, units);
  label->setAlignment(alignment);
  label->setAccessibleName(WithoutMnemonic(text));
  return label;
}

QGroupBox* CPropertyPage::AddGroup(const QString& title, const QRect& units) {
  auto* group = Place(new QGroupBox(title), 0, units);
  // A group without a title is still a named panel to a screen reader.
  group->setAccessibleName(title.isEmpty() ? QStringLiteral("Options") : title);
  // Controls are siblings of their group, as on a dialog template, so the group keeps no focus.
  group->setFocusPolicy(Qt::NoFocus);
  return group;
}

QComboBox* CPropertyPage::AddList(int id, const QStringList& items, const QRect& units,
                                  const QString& accessibleName) {
  auto* list = Place(new QComboBox, id, units);
  list->addItems(items);
  list->setCurrentIndex(-1);
  list->setAccessibleName(accessibleName);
  return list;
}

QLabel* CPropertyPage::LabelGroupControl(QGroupBox* group, const QString& caption,
                                         QWidget* control) {
  // Where the style draws the group's title, in page coordinates.
  QStyleOptionGroupBox option;
  option.initFrom(group);
  option.text = group->title();
  option.lineWidth = 1;
  option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
  const QRect title =
      group->style()
          ->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, group)
          .translated(group->pos());
  auto* label = new QLabel(caption, this);
  label->setGeometry(QRect(title.topLeft(), title.size().expandedTo(label->sizeHint())));
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  label->setAutoFillBackground(true);
  label->setAccessibleName(WithoutMnemonic(caption));
  label->setBuddy(control);
  label->show();
  return label;
}

QString WithoutMnemonic(QString text) {
  for (qsizetype i = 0; i < text.size(); ++i)
    if (text[i] == QLatin1Char('&')) text.remove(i, 1);
  return text;
}

void CPropertyPage::ChainTabOrder(std::initializer_list<QWidget*> widgets) {
  QWidget* previous = nullptr;
  for (QWidget* widget : widgets) {
    if (previous != nullptr) QWidget::setTabOrder(previous, widget);
    previous = widget;
  }
}

std::optional<std::string> SelectedText(const QComboBox* list) {
  if (list->currentIndex() < 0) return std::nullopt;
  return list->itemText(list->currentIndex()).toStdString();
}

void SelectByPrefix(QComboBox* list, const QString& text) {
  QStringList items;
  for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
  list->setCurrentIndex(FindItemByPrefix(items, text));
}
