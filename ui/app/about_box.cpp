#include "ui/app/about_box.h"

#include <QLabel>
#include <QPushButton>

#include "ui/app/app_icon.h"
#include "ui/app/help_file.h"
#include "ui/controls/dialog_units.h"
#include "ui/controls/link_label.h"

namespace orvalis {

namespace {

constexpr int kBoxWidth = 297;
constexpr int kBoxHeight = 164;
constexpr int kIconPixels = 48;

}  // namespace

CAboutBox::CAboutBox(QWidget* parent, LinkLauncher* launcher, std::string programFolder)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      launcher_(launcher),
      programFolder_(std::move(programFolder)) {
  setObjectName("140");
  setWindowTitle("About...");
  setFont(QFont("Tahoma", 8));
  setWindowIcon(AppIcon());
  // Laid out in dialog units of its font, like every dialog of the program.
  const DialogUnits units = DialogUnits::FromFont(font());
  setFixedSize(units.X(kBoxWidth), units.Y(kBoxHeight));

  auto* icon = new QLabel(this);
  icon->setPixmap(AppIcon().pixmap(kIconPixels, kIconPixels));
  icon->setGeometry(units.X(14), units.Y(12), kIconPixels, kIconPixels);
  icon->setAccessibleName("Kestrune Orvalis icon");

  auto* product = new QLabel(kProductText, this);
  product->setObjectName("1052");
  product->setGeometry(units.ToPixels(QRect(50, 13, 230, 14)));
  QFont productFont = font();
  productFont.setBold(true);
  productFont.setPointSizeF(productFont.pointSizeF() * 1.5);
  product->setFont(productFont);

  auto* version = new QLabel(kVersionText, this);
  version->setObjectName("1053");
  version->setGeometry(units.ToPixels(QRect(50, 30, 230, 8)));

  site_ = new CLinkLabel(this, launcher_);
  site_->setObjectName("1054");
  site_->setGeometry(units.ToPixels(QRect(50, 56, 230, 8)));
  site_->setText(kMakerSiteText);
  site_->SetURL(kMakerSiteUrl);
  site_->setAccessibleName("Web site");
  site_->Attach();

  mail_ = new CLinkLabel(this, launcher_);
  mail_->setObjectName("1055");
  mail_->setGeometry(units.ToPixels(QRect(50, 70, 230, 8)));
  mail_->setText(kSupportAddress);
  mail_->SetURL(QString("mailto:") + kSupportAddress);
  mail_->setAccessibleName("Support e-mail");
  mail_->Attach();

  auto* help = new QPushButton("&Help", this);
  help->setObjectName("1016");
  help->setGeometry(units.ToPixels(QRect(233, 142, 50, 14)));
  help->setAutoDefault(false);
  connect(help, &QPushButton::clicked, this, &CAboutBox::OnHelp);
  // Tab visits the links, then Help.
  setTabOrder(site_, mail_);
  setTabOrder(mail_, help);
}

void CAboutBox::OnHelp() {
  OpenHelpFile(launcher_, programFolder_, this);
}

}  // namespace orvalis
