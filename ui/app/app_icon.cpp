#include "ui/app/app_icon.h"

namespace orvalis {

QIcon AppIcon() {
  QIcon icon;
  for (const char* size : {"16", "32", "48"}) {
    icon.addFile(QStringLiteral(":/kestrune-orvalis/icons/kestrune-orvalis-%1.png").arg(size));
  }
  return icon;
}

}  // namespace orvalis
