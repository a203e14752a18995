#pragma once
// The texts of the window's format list, in order; the setting "type" is the index of the
// chosen text.

#include <QStringList>

namespace orvalis {

QStringList FormatListItems();

}  // namespace orvalis
