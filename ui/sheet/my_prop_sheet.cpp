#include "ui/sheet/my_prop_sheet.h"

#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include "ui/controls/dialog_units.h"
#include "ui/sheet/common_page.h"
#include "ui/sheet/format_pages.h"
#include "ui/sheet/jpeg_page.h"
#include "ui/sheet/tiff_page.h"

namespace {

orvalis::ConversionSettings LoadOptions(const std::string& profilePath) {
  orvalis::ConversionSettings settings;
  orvalis::LoadConversionOptions(profilePath, settings);
  return settings;
}

}  // namespace

CMyPropSheet::CMyPropSheet(const std::string& profilePath, QWidget* parent)
    : CMyPropSheet(LoadOptions(profilePath), profilePath, parent) {}

CMyPropSheet::CMyPropSheet(const orvalis::ConversionSettings& options,
                           const std::string& profilePath, QWidget* parent)
    : QDialog(parent), profilePath_(profilePath) {
  setWindowTitle("Settings");
  setModal(true);
  tabs_ = new QTabWidget(this);
  tabs_->setObjectName("12320");  // the tab control of a property sheet
  tabs_->setUsesScrollButtons(false);
  tabs_->setAccessibleName("Settings pages");
  tabs_->tabBar()->setAccessibleName("Pages");
  pages_ = {new CComn, new CBmpp, new CTiff, new CJpg, new CGif, new CPng,
            new CPcx,  new CJp2,  new CJpc,  new CRas, new CTga};
  for (CPropertyPage* page : pages_) {
    tabs_->addTab(page, page->Title());
    page->SetPageData(options);
  }
  // Eleven tabs in one row are wider than a page: the pages take the row's width.
  const DialogUnits units = DialogUnits::FromFont(font()).WidenedTo(
      CPropertyPage::kPageUnits.width(), tabs_->tabBar()->sizeHint().width());
  for (CPropertyPage* page : pages_) page->SetUnits(units);
  // Only OK and Cancel, in the two rightmost places.
  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons_->button(QDialogButtonBox::Ok)->setObjectName("1");
  buttons_->button(QDialogButtonBox::Cancel)->setObjectName("2");
  buttons_->setAccessibleName("Dialog buttons");
  connect(buttons_, &QDialogButtonBox::accepted, this, &CMyPropSheet::accept);
  connect(buttons_, &QDialogButtonBox::rejected, this, &CMyPropSheet::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_);
  layout->addWidget(buttons_);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  for (QWidget* child : tabs_->findChildren<QStackedWidget*>(Qt::FindDirectChildrenOnly))
    child->setAccessibleName("Page");

  tabs_->setCurrentIndex(0);
  OnTabShown(0);
  connect(tabs_, &QTabWidget::currentChanged, this, &CMyPropSheet::OnTabShown);
}

void CMyPropSheet::OnTabShown(int index) {
  if (index < 0 || index >= PageCount()) return;
  Page(index)->EnsureBuilt();
  ChainPageFirst(Page(index));
}

void CMyPropSheet::ChainPageFirst(CPropertyPage* page) {
  // The page's controls in the keyboard's order as the page chained them.
  std::vector<QWidget*> controls;
  for (QWidget* widget = page->nextInFocusChain(); widget != page;
       widget = widget->nextInFocusChain()) {
    if (page->isAncestorOf(widget) && (widget->focusPolicy() & Qt::TabFocus) &&
        widget->focusProxy() == nullptr)
      controls.push_back(widget);
  }
  QWidget* const ok = buttons_->button(QDialogButtonBox::Ok);
  QWidget* const cancel = buttons_->button(QDialogButtonBox::Cancel);
  if (!controls.empty()) QWidget::setTabOrder(controls.back(), ok);
  QWidget::setTabOrder(ok, cancel);
  QWidget::setTabOrder(cancel, tabs_->tabBar());
  // Where the focus starts, unless the user is on the tab bar choosing another page.
  if (!tabs_->tabBar()->hasFocus()) {
    QWidget* first = nullptr;
    for (QWidget* control : controls)
      if (control->isEnabled()) {
        first = control;
        break;
      }
    (first != nullptr ? first : ok)->setFocus(Qt::TabFocusReason);
  }
}

void CMyPropSheet::ShowFormatPage(orvalis::OutputFormat format) {
  int index = 0;
  for (int i = 0; i < PageCount(); ++i) {
    const auto* page = dynamic_cast<const CFormatPage*>(Page(i));
    if (page != nullptr && page->Format() == format) index = i;
  }
  if (tabs_->currentIndex() == index) {
    ChainPageFirst(Page(index));
  } else {
    tabs_->setCurrentIndex(index);
  }
}

void CMyPropSheet::accept() {
  // Every shown page's keys in one write: a failure leaves the file as it was, not some pages
  // saved and others not.
  orvalis::SettingEntries entries;
  for (const CPropertyPage* page : pages_) {
    if (!page->IsBuilt()) continue;
    const orvalis::SettingEntries pageEntries = page->Entries();
    entries.insert(entries.end(), pageEntries.begin(), pageEntries.end());
  }
  std::string error;
  if (!entries.empty() && !orvalis::WriteSettingEntries(profilePath_, entries, &error)) {
    ReportSaveFailure(
        QString("The settings could not be saved in %1.\n\n%2")
            .arg(QString::fromStdString(profilePath_), QString::fromStdString(error)));
    return;
  }
  QDialog::accept();
}

void CMyPropSheet::ReportSaveFailure(const QString& message) {
  QMessageBox::warning(this, "Kestrune Orvalis", message);
}

bool RunSettingsSheet(QWidget* parent, const std::string& profilePath,
                      orvalis::ConversionSettings& settings) {
  CMyPropSheet sheet(settings, profilePath, parent);
  const auto formats = orvalis::OutputFormats();
  if (settings.type >= 0 && settings.type < static_cast<int>(formats.size()))
    sheet.ShowFormatPage(formats[static_cast<size_t>(settings.type)].format);
  if (sheet.exec() != QDialog::Accepted) return false;
  orvalis::LoadConversionOptions(profilePath, settings);
  return true;
}
