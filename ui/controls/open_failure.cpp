#include "ui/controls/open_failure.h"

#include <QMessageBox>

namespace orvalis {

QString CannotOpenText(const QString& address) {
  return QStringLiteral(
             "No program on this desktop could open this address. Copy it and open it by "
             "hand:\n\n%1")
      .arg(address);
}

QMessageBox* ShowCannotOpen(QWidget* parent, const QString& address) {
  auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Kestrune Orvalis"),
                              CannotOpenText(address), QMessageBox::Ok, parent);
  box->setObjectName(QStringLiteral("cannotOpen"));
  box->setTextFormat(Qt::PlainText);
  // The address can be selected with the mouse or the keyboard, and copied.
  box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->show();
  box->raise();
  return box;
}

}  // namespace orvalis
