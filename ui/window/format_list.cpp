#include "ui/window/format_list.h"

#include "engine/output_formats.h"

namespace orvalis {

QStringList FormatListItems() {
  QStringList items;
  for (std::string_view text : FormatListTexts())
    items << QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  return items;
}

}  // namespace orvalis
