#pragma once
// The settings record and the settings file. Every user setting lives in Profile.ini, section
// "Set", one key per field of ConversionSettings (each field bears its key's name) plus
// "AddFile". The window loads and saves its three fields, the settings pages write their own
// keys, and the option fields are reloaded from the file after the pages wrote. Reads never
// fail: a missing or unreadable file, or a missing key, yields the key's default. Writes replace
// the file atomically; they return false (with a reason) when nothing could be written, which
// the window may ignore.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvalis {

inline constexpr std::string_view kSettingsSection = "Set";
inline constexpr std::string_view kProfileFileName = "Profile.ini";
// The key of the folder where the window's file-open dialog starts (not part of the record).
inline constexpr std::string_view kAddFileKey = "AddFile";
// The key that remembers whether the window shows its preview pane (not part of the record).
inline constexpr std::string_view kPreviewKey = "Preview";

struct ConversionSettings {
  // Window fields: written by SaveWindowSettings, read by LoadWindowSettings.
  int32_t type = 0;    // index in the window's format list: 0 JPEG, 1 TIFF, 2 BMP, 3 PNG, 4 GIF,
                       // 5 PCX, 6 WMF, 7 EMF, 8 TGA, 9 JP2, 10 JPC, 11 RAS
  int32_t mode = 1;    // 0 = beside each source file, 1 = into the destination folder
  std::string output;  // destination folder, ending in '/'

  // Option fields: written by the settings pages, read by LoadConversionOptions.
  int32_t resize = 0;  // 1 = resize every page to width x height pixels
  int32_t width = 0;
  int32_t height = 0;
  int32_t angle = 0;  // 0, 90, 180 or 270 degrees
  int32_t xdpi = 0;   // 72..600 after a load
  int32_t ydpi = 0;   // 72..600 after a load
  int32_t each = 0;   // 1 = one sub-folder per source file
  // 1 = images named after the source's full file name, extension included (a.pdf_001.png, and
  // the sub-folder a.pdf_images/), so that a.ps and a.pdf keep theirs apart
  int32_t fullnames = 0;
  std::string bmpc;  // colour texts, at most 31 bytes
  std::string pngc;
  std::string pcxc;
  std::string gifc;
  std::string tgac;
  std::string jp2c;
  std::string rasc;
  std::string jpcc;
  std::string jpgc;
  int32_t JQu = 0;  // JPEG quality 1..100 as the JPEG page sets it
  std::string tifc;
  int32_t compress = 0;  // index in the TIFF page's compression list
  int32_t TJQu = 0;      // quality of JPEG inside TIFF
  int32_t multpage = 0;  // 1 = all pages of a source into one TIFF file
};

// Where Profile.ini lives: in the program's folder when that folder is writable, otherwise
// $XDG_CONFIG_HOME/kestrune-orvalis/Profile.ini (default ~/.config/kestrune-orvalis/), whose
// folder is then created (mode 0700) so that the first write can succeed.
std::string DefaultProfilePath();
// The same choice for a given program folder (ending in '/').
std::string ProfilePathFor(const std::string& programFolder);

// Fills type, mode and output. "mode" other than 0 or 1 becomes 1; an empty or missing
// "output" becomes DocumentsFolder() + "My Doc/" (not created here); an "output" without a
// trailing '/' gets one, since output names are appended to it.
void LoadWindowSettings(const std::string& profilePath, ConversionSettings& settings);

// Writes "output" (also when mode is 0), "type" and "mode", in this order.
bool SaveWindowSettings(const std::string& profilePath, int32_t type, int32_t mode,
                        std::string_view output, std::string* error = nullptr);

// Clears every option field, then reads each option key with its default; "xdpi" and "ydpi"
// are clamped to 72..600, colour texts cut to 31 bytes; other values are kept as the file
// holds them. An integer key that is there reads as its leading digits, so an empty one is 0.
void LoadConversionOptions(const std::string& profilePath, ConversionSettings& settings);

// What the settings pages write: each page turns its controls into entries (key, text), in the
// page's key order; the sheet writes the entries of every page it showed in one replacement of
// the file (WriteSettingEntries), so that an OK stores all of them or none. A text given as
// nullopt (a list with no selection) gives no entry: the key stays as the file has it.
using SettingEntry = std::pair<std::string, std::string>;
using SettingEntries = std::vector<SettingEntry>;

// The common page: texts as they stand in its fields (not converted; the next load clamps).
struct CommonPageKeys {
  std::optional<std::string> angle;  // the selected rotation item's text
  std::string width;
  std::string height;
  int32_t resize = 0;
  int32_t each = 0;
  int32_t fullnames = 0;
  std::string xdpi;
  std::string ydpi;
};
// "angle", "width", "height", "resize", "each", "fullnames", "xdpi", "ydpi".
SettingEntries CommonPageEntries(const CommonPageKeys& keys);

// A page with only a colour list: `colorKey` is the colour key of a format that offers colours
// and no quality, "bmpc" say (any other key gives no entry).
SettingEntries ColorPageEntries(std::string_view colorKey,
                                std::optional<std::string_view> colorText);

// The JPEG page: "jpgc", "JQu".
SettingEntries JpegPageEntries(std::optional<std::string_view> colorText, int32_t quality);

// The TIFF page: "tifc", "TJQu", "compress", "multpage".
SettingEntries TiffPageEntries(std::optional<std::string_view> colorText, int32_t quality,
                               int32_t compress, int32_t multpage);

// Sets every entry, in order, in one replacement of the file: either all are stored or the
// file stays as it was (false, with the reason in `error`).
bool WriteSettingEntries(const std::string& profilePath, const SettingEntries& entries,
                         std::string* error = nullptr);

// "AddFile": the folder the file-open dialog starts in; default the home folder.
std::string LoadAddFileFolder(const std::string& profilePath);
bool SaveAddFileFolder(const std::string& profilePath, std::string_view folder,
                       std::string* error = nullptr);

// "Preview": whether the window shows its preview pane; hidden unless the file says 1, so that
// the window opens at its own size.
bool LoadPreviewShown(const std::string& profilePath);
bool SavePreviewShown(const std::string& profilePath, bool shown, std::string* error = nullptr);

// Access to a record field by its key (without regard to case), for callers that hold a key
// name, such as the batch driver's colour-key lookup and command-line overrides.
// The text of a text field; nullopt when `key` is not a text field of the record.
std::optional<std::string> SettingText(const ConversionSettings& settings, std::string_view key);
// The value of an integer field; nullopt when `key` is not an integer field of the record.
std::optional<int32_t> SettingNumber(const ConversionSettings& settings, std::string_view key);
// Sets a field from text exactly as a load reads it from the file (integers parsed and checked,
// colour texts cut). False when `key` is not a field of the record.
bool SetSettingFromText(ConversionSettings& settings, std::string_view key, std::string_view text);

}  // namespace orvalis
