#pragma once
// The application icon (icon 128): the project's own drawing at 16, 32 and 48 pixels.

#include <QIcon>

namespace orvalis {

QIcon AppIcon();

}  // namespace orvalis
