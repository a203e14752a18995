#include "ui/sheet/page_rules.h"

#include "engine/converter.h"
#include "engine/output_formats.h"

int FindItemByPrefix(const QStringList& items, const QString& text) {
  for (int i = 0; i < items.size(); ++i)
    if (items[i].startsWith(text, Qt::CaseInsensitive)) return i;
  return -1;
}

QStringList TiffCompressionItems() {
  QStringList items;
  for (const std::string_view text : orvalis::TiffCompressionListTexts())
    items << QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
  return items;
}

TiffCompressionEffect TiffCompressionEffectFor(int compressionIndex) {
  const std::span<const orvalis::ColourChoice> colours = orvalis::ColourChoices();
  const auto choices = orvalis::TiffCompressionChoices();
  // No selection (-1) leaves the page as an uncompressed choice does.
  if (compressionIndex < 0 || compressionIndex >= static_cast<int>(choices.size()))
    return {true, false, 0, QList<bool>(static_cast<qsizetype>(colours.size()), true)};
  TiffCompressionEffect effect{
      false, choices[static_cast<size_t>(compressionIndex)].usesQuality, 0, {}};
  const std::string_view selected = orvalis::TiffColourSelected(compressionIndex).name;
  int written = 0;
  for (const orvalis::ColourChoice& colour : colours) {
    const bool writes = orvalis::TiffCompressionWrites(compressionIndex, colour);
    if (colour.name == selected)
      effect.colorIndex = static_cast<int>(effect.colorItemsEnabled.size());
    effect.colorItemsEnabled << writes;
    written += writes ? 1 : 0;
  }
  effect.colorListEnabled = written > 1;
  return effect;
}

QStringList ColorItemsOffered(orvalis::OutputFormat outputFormat) {
  QStringList items;
  for (std::string_view name : orvalis::ColorNamesOffered(outputFormat))
    items << QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
  return items;
}

QString FormatDescription(orvalis::OutputFormat outputFormat) {
  const std::string_view text = orvalis::InfoOf(outputFormat).description;
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QStringList RotationItems() {
  return {"0", "90", "180", "270"};
}

QStringList ResolutionItems() {
  return {"72", "96", "150", "200", "300", "500", "600"};
}
