#pragma once
// The one table of settings keys: each key of Profile.ini with its record field, its default and
// the check a load applies to it.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/limits.h"
#include "settings/conversion_settings.h"

namespace orvalis {

enum class SettingGroup {
  kWindow,      // loaded by LoadWindowSettings, saved by SaveWindowSettings
  kOption,      // loaded by LoadConversionOptions, written by the settings pages
  kStandalone,  // in the file, not in the record ("AddFile")
};

enum class SettingCheck {
  kNone,
  kResolution,  // clamped to 72..600
  kOutputMode,  // anything but 0 or 1 becomes 1
  kFolder,      // empty means the default; a trailing '/' is added
  kColorText,   // cut to kMaxColorBytes
};

// Defaults that depend on the user: the documents folder plus "My Doc/", or the home folder.
enum class SettingDefault { kFixed, kMyDocFolder, kHomeFolder };

inline constexpr int32_t kMinResolution = limits::kMinResolution;
inline constexpr int32_t kMaxResolution = limits::kMaxResolution;
inline constexpr size_t kMaxColorBytes = 31;

struct SettingKey {
  std::string_view key;
  SettingGroup group;
  int32_t ConversionSettings::*number;    // integer field, or nullptr
  std::string ConversionSettings::*text;  // text field, or nullptr
  int32_t numberDefault;
  std::string_view textDefault;
  SettingDefault dynamicDefault;
  SettingCheck check;
};

// Every key, window fields first, then the option fields in the record's order, then "AddFile".
std::span<const SettingKey> SettingKeys();

// The entry of `key` (compared without regard to case), or nullptr.
const SettingKey* FindSettingKey(std::string_view key);

// The default text of a text key (its dynamic default resolved).
std::string DefaultText(const SettingKey& entry);

}  // namespace orvalis
