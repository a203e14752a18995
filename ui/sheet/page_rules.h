#pragma once
// The settings pages' rules, without widgets: list searches, the TIFF page's compression rules,
// the colour items each format offers and the format descriptions.

#include <QString>
#include <QStringList>

#include "engine/output_formats.h"
#include "engine/tiff_compressions.h"

// The first item, from the top, that begins with `text` without regard to case; -1 when none.
int FindItemByPrefix(const QStringList& items, const QString& text);

// The TIFF page's compression list, in the order of the stored "compress" index
// (engine/tiff_compressions.h).
QStringList TiffCompressionItems();

// What choosing a compression does to the rest of the TIFF page, by the engine's rule of the
// colours each compression writes (engine/tiff_compressions.h).
struct TiffCompressionEffect {
  bool colorListEnabled;          // the compression writes more than one colour
  bool qualityEnabled;            // track bar, its value and its "Quality" label
  int colorIndex;                 // the colour item selected: 0 "True Color", 5 "B&W"
  QList<bool> colorItemsEnabled;  // one per colour item: the compression writes that colour
};

// Uncompressed and LZW: every colour. PACKBITS: every colour but B&W. JPEG: True Color and
// 256 Grays, with the quality controls on. RLE, CCITT FAX3 and FAX4: the list off on "B&W".
// The colour selected is the first the compression writes. No selection (-1): every colour,
// "True Color".
TiffCompressionEffect TiffCompressionEffectFor(int compressionIndex);

// The colour items the page of `outputFormat` (an engine format number) offers, in list order.
QStringList ColorItemsOffered(orvalis::OutputFormat outputFormat);

// The paragraph a format page shows under "Introduce:" (empty for a format without a page).
QString FormatDescription(orvalis::OutputFormat outputFormat);

// The rotation list of the common page.
QStringList RotationItems();
// The resolution lists of the common page.
QStringList ResolutionItems();
