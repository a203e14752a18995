#include "ui/sheet/page_rules.h"

#include "engine/output_formats.h"
#include "engine/converter.h"

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
  switch (outputFormat) {
    case orvalis::OutputFormat::Bmp:
      return "The BMP file format, also known as bitmap or Device Independent Bitmap (DIB) file "
             "format, is a image file format used to store bitmap digital images, especially on "
             "Microsoft Windows and OS/2 operating systems.";
    case orvalis::OutputFormat::Tiff:
      return "Tagged Image File Format (abbreviated TIFF) is a file format for storing images, "
             "including photographs and line art.";
    case orvalis::OutputFormat::Jpeg:
      return "JPEG is a compression method specifically intended for continuous-tone images.";
    case orvalis::OutputFormat::Gif:
      return "The Graphics Interchange Format (GIF) is a bitmap image format that was introduced "
             "by CompuServe in 1987 and has since come into widespread usage on the World Wide "
             "Web due to its wide support and portability.";
    case orvalis::OutputFormat::Png:
      return "Portable Network Graphics is a bitmapped image format that employs lossless data "
             "compression.";
    case orvalis::OutputFormat::Pcx:
      return "PCX is the native file format for PC Paintbrush (PCX = 'Personal Computer "
             "eXchange') and became one of the first widely accepted DOS imaging standards.";
    case orvalis::OutputFormat::Jp2:
      return "JPEG 2000 is an image compression standard and coding system. It was created by "
             "the Joint Photographic Experts Group committee in 2000 to succeed the original "
             "JPEG standard.";
    case orvalis::OutputFormat::Jpc:
      return "JPC is an image file similar to JPEG-1, and it is in connection with File "
             "containing JPEG 2000 Code. A bare JPEG 2000 code stream, without the boxes of a JP2 "
             "file, is usually stored with the extension .jpc or .j2k.";
    case orvalis::OutputFormat::Ras:
      return "The RAS file extension is related to Sun Raster format. Sun Microsystems created "
             "the format for the workstations of its SunOS operating system. A file holds a "
             "32-byte header, an optional colour map and the pixel rows. The rows are stored "
             "uncompressed or run-length encoded.";
    case orvalis::OutputFormat::Tga:
      return "Truevision TGA, often referred to as TARGA, is a raster graphics file format. The "
             "name stands for Truevision Graphics Adapter and Truevision Advanced Raster Graphics "
             "Adapter, the display cards it was first made for.";
    default:
      return {};
  }
}

QStringList RotationItems() {
  return {"0", "90", "180", "270"};
}

QStringList ResolutionItems() {
  return {"72", "96", "150", "200", "300", "500", "600"};
}
