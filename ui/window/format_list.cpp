#include "ui/window/format_list.h"

#include "batch/output_format.h"

namespace orvalis {

QStringList FormatListItems() {
  QStringList items;
  for (std::string_view text : FormatListTexts())
    items << QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  return items;
}

}  // namespace orvalis
