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
  constexpr int kTrueColorItem = 0;
  constexpr int kBlackWhiteItem = 5;
  const auto choices = orvalis::TiffCompressionChoices();
  // No selection (-1) leaves the page as an ordinary choice does.
  if (compressionIndex < 0 || compressionIndex >= static_cast<int>(choices.size()))
    return {true, false, kTrueColorItem};
  const orvalis::TiffCompressionChoice& choice = choices[static_cast<size_t>(compressionIndex)];
  switch (choice.colours) {
    case orvalis::TiffColours::TrueColour:
      return {false, choice.usesQuality, kTrueColorItem};
    case orvalis::TiffColours::BlackAndWhite:
      return {false, choice.usesQuality, kBlackWhiteItem};
    case orvalis::TiffColours::Chosen:
      break;
  }
  return {true, choice.usesQuality, kTrueColorItem};
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
