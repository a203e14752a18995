#include "settings/conversion_settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <span>
#include <vector>

#include "engine/output_formats.h"
#include "platform/profile_ini.h"
#include "settings/app_paths.h"
#include "settings/settings_keys.h"

namespace orvalis {

namespace {

// Cuts `text` to at most `limit` bytes without splitting a UTF-8 sequence.
std::string CutText(std::string text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
  return text;
}

int32_t CheckedNumber(const SettingKey& entry, int32_t value) {
  switch (entry.check) {
    case SettingCheck::kResolution:
      return std::clamp(value, kMinResolution, kMaxResolution);
    case SettingCheck::kOutputMode:
      return (value == 0 || value == 1) ? value : 1;
    default:
      return value;
  }
}

std::string CheckedText(const SettingKey& entry, std::optional<std::string> value) {
  switch (entry.check) {
    case SettingCheck::kFolder:
      if (!value || value->empty()) return DefaultText(entry);
      if (value->back() != '/') *value += '/';
      return std::move(*value);
    case SettingCheck::kColorText:
      return CutText(value ? std::move(*value) : DefaultText(entry), kMaxColorBytes);
    default:
      return value ? std::move(*value) : DefaultText(entry);
  }
}

// Stores the value a file holds for `entry` (nullopt: the key is missing) into its field, as a
// load does: integers parsed, missing keys defaulted, checks applied. A key that is there reads
// as its digits, so an empty one is 0: an emptied Width turns resizing off rather than bringing
// back the default size.
void StoreValue(ConversionSettings& settings, const SettingKey& entry,
                std::optional<std::string> value) {
  if (entry.number != nullptr) {
    const int32_t number = value ? ParseProfileInt(*value) : entry.numberDefault;
    settings.*entry.number = CheckedNumber(entry, number);
  } else if (entry.text != nullptr) {
    settings.*entry.text = CheckedText(entry, std::move(value));
  }
}

void LoadGroup(const std::string& profilePath, SettingGroup group, ConversionSettings& settings) {
  ProfileDocument document;
  if (!LoadProfileDocument(profilePath, &document)) document = ProfileDocument();
  for (const SettingKey& entry : SettingKeys()) {
    if (entry.group == group)
      StoreValue(settings, entry, document.Find(kSettingsSection, entry.key));
  }
}

std::string Decimal(int32_t value) {
  return std::to_string(value);
}

bool WriteEntries(const std::string& profilePath, const std::vector<ProfileEntry>& entries,
                  std::string* error) {
  return WriteProfileStrings(profilePath, kSettingsSection, entries, error);
}

// The colour key of a format whose page offers colours and nothing else.
bool IsColorPageKey(std::string_view key) {
  const std::span<const OutputFormatInfo> formats = OutputFormats();
  return !key.empty() && std::any_of(formats.begin(), formats.end(), [key](const auto& format) {
    return format.colorKey == key && format.qualityKey.empty();
  });
}

bool IsWritableFolder(const std::string& folder) {
  struct stat info {};
  return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
         ::access(folder.c_str(), W_OK) == 0;
}

// A program folder under /usr belongs to the system's packages: settings never go there, even
// when the user (root) could write it.
bool IsSystemFolder(std::string_view folder) {
  return folder.starts_with("/usr/");
}

}  // namespace

std::string ProfilePathFor(const std::string& programFolder) {
  if (!IsSystemFolder(programFolder) && IsWritableFolder(programFolder))
    return programFolder + std::string(kProfileFileName);
  const char* configHome = std::getenv("XDG_CONFIG_HOME");
  const std::string base = (configHome != nullptr && configHome[0] == '/')
                               ? std::string(configHome) + "/"
                               : AppPaths::DocumentsFolder() + ".config/";
  AppPaths::CreateFolderChain(base);
  const std::string folder = base + "kestrune-orvalis";
  ::mkdir(folder.c_str(), 0700);
  return folder + "/" + std::string(kProfileFileName);
}

std::string DefaultProfilePath() {
  return ProfilePathFor(AppPaths::ModuleFilePath(""));
}

void LoadWindowSettings(const std::string& profilePath, ConversionSettings& settings) {
  LoadGroup(profilePath, SettingGroup::kWindow, settings);
}

bool SaveWindowSettings(const std::string& profilePath, int32_t type, int32_t mode,
                        std::string_view output, std::string* error) {
  const std::string typeText = Decimal(type);
  const std::string modeText = Decimal(mode);
  return WriteEntries(profilePath, {{"output", output}, {"type", typeText}, {"mode", modeText}},
                      error);
}

void LoadConversionOptions(const std::string& profilePath, ConversionSettings& settings) {
  // The option fields are cleared as a block first, so nothing of an earlier load survives.
  for (const SettingKey& entry : SettingKeys()) {
    if (entry.group != SettingGroup::kOption) continue;
    if (entry.number != nullptr) settings.*entry.number = 0;
    if (entry.text != nullptr) (settings.*entry.text).clear();
  }
  LoadGroup(profilePath, SettingGroup::kOption, settings);
}

SettingEntries CommonPageEntries(const CommonPageKeys& keys) {
  SettingEntries entries;
  if (keys.angle) entries.emplace_back("angle", *keys.angle);
  entries.insert(entries.end(), {{"width", keys.width},
                                 {"height", keys.height},
                                 {"resize", Decimal(keys.resize)},
                                 {"each", Decimal(keys.each)},
                                 {"fullnames", Decimal(keys.fullnames)},
                                 {"xdpi", keys.xdpi},
                                 {"ydpi", keys.ydpi}});
  return entries;
}

SettingEntries ColorPageEntries(std::string_view colorKey,
                                std::optional<std::string_view> colorText) {
  if (!IsColorPageKey(colorKey) || !colorText) return {};
  return {{std::string(colorKey), std::string(*colorText)}};
}

SettingEntries JpegPageEntries(std::optional<std::string_view> colorText, int32_t quality) {
  SettingEntries entries;
  if (colorText) entries.emplace_back("jpgc", *colorText);
  entries.emplace_back("JQu", Decimal(quality));
  return entries;
}

SettingEntries TiffPageEntries(std::optional<std::string_view> colorText, int32_t quality,
                               int32_t compress, int32_t multpage) {
  SettingEntries entries;
  if (colorText) entries.emplace_back("tifc", *colorText);
  entries.insert(entries.end(), {{"TJQu", Decimal(quality)},
                                 {"compress", Decimal(compress)},
                                 {"multpage", Decimal(multpage)}});
  return entries;
}

bool WriteSettingEntries(const std::string& profilePath, const SettingEntries& entries,
                         std::string* error) {
  const std::vector<ProfileEntry> views(entries.begin(), entries.end());
  return WriteEntries(profilePath, views, error);
}

std::string LoadAddFileFolder(const std::string& profilePath) {
  ProfileDocument document;
  if (!LoadProfileDocument(profilePath, &document)) document = ProfileDocument();
  std::optional<std::string> folder = document.Find(kSettingsSection, kAddFileKey);
  if (!folder || folder->empty()) return AppPaths::DocumentsFolder();
  return std::move(*folder);
}

bool SaveAddFileFolder(const std::string& profilePath, std::string_view folder,
                       std::string* error) {
  return WriteEntries(profilePath, {{kAddFileKey, folder}}, error);
}

bool LoadPreviewShown(const std::string& profilePath) {
  ProfileDocument document;
  if (!LoadProfileDocument(profilePath, &document)) return false;
  const std::optional<std::string> shown = document.Find(kSettingsSection, kPreviewKey);
  return shown && *shown == "1";
}

bool SavePreviewShown(const std::string& profilePath, bool shown, std::string* error) {
  return WriteEntries(profilePath, {{kPreviewKey, shown ? "1" : "0"}}, error);
}

std::optional<std::string> SettingText(const ConversionSettings& settings, std::string_view key) {
  const SettingKey* entry = FindSettingKey(key);
  if (entry == nullptr || entry->text == nullptr) return std::nullopt;
  return settings.*entry->text;
}

std::optional<int32_t> SettingNumber(const ConversionSettings& settings, std::string_view key) {
  const SettingKey* entry = FindSettingKey(key);
  if (entry == nullptr || entry->number == nullptr) return std::nullopt;
  return settings.*entry->number;
}

bool SetSettingFromText(ConversionSettings& settings, std::string_view key, std::string_view text) {
  const SettingKey* entry = FindSettingKey(key);
  if (entry == nullptr || (entry->number == nullptr && entry->text == nullptr)) return false;
  StoreValue(settings, *entry, std::string(text));
  return true;
}

}  // namespace orvalis
