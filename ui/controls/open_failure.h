#pragma once
// What the user sees when nothing on the desktop opens an address (no browser, no mail program,
// no file manager, xdg-open missing or failing): a message that says so and shows the address,
// selectable, so that it can be copied and opened by hand. It does not wait for the user.

#include <QString>

class QMessageBox;
class QWidget;

namespace orvalis {

// The message's text for `address`.
QString CannotOpenText(const QString& address);

// Shows the message beside `parent` (a window of its own when null); the box, which deletes
// itself when closed. Its object name is "cannotOpen".
QMessageBox* ShowCannotOpen(QWidget* parent, const QString& address);

}  // namespace orvalis
