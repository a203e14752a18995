#include "settings/settings_keys.h"

#include <array>

#include "engine/output_formats.h"
#include "settings/app_paths.h"

namespace orvalis {

namespace {

using S = ConversionSettings;
using G = SettingGroup;
using C = SettingCheck;
using D = SettingDefault;

constexpr SettingKey Number(std::string_view key, G group, int32_t S::*field, int32_t fallback,
                            C check = C::kNone) {
  return {key, group, field, nullptr, fallback, {}, D::kFixed, check};
}

constexpr SettingKey Color(std::string_view key, std::string S::*field, std::string_view fallback) {
  return {key, G::kOption, nullptr, field, 0, fallback, D::kFixed, C::kColorText};
}

constexpr std::array kKeys{
    Number("type", G::kWindow, &S::type, 0),
    Number("mode", G::kWindow, &S::mode, 1, C::kOutputMode),
    SettingKey{"output", G::kWindow, nullptr, &S::output, 0, {}, D::kMyDocFolder, C::kFolder},
    Number("resize", G::kOption, &S::resize, 0),
    Number("width", G::kOption, &S::width, 594),
    Number("height", G::kOption, &S::height, 842),
    Number("angle", G::kOption, &S::angle, 0),
    Number("xdpi", G::kOption, &S::xdpi, 72, C::kResolution),
    Number("ydpi", G::kOption, &S::ydpi, 72, C::kResolution),
    Number("each", G::kOption, &S::each, 0),
    Number("fullnames", G::kOption, &S::fullnames, 0),
    Color("bmpc", &S::bmpc, colour::kTrueColor.name),
    Color("pngc", &S::pngc, colour::kTrueColor.name),
    Color("pcxc", &S::pcxc, colour::kTrueColor.name),
    Color("gifc", &S::gifc, colour::k256Color.name),
    Color("tgac", &S::tgac, colour::kTrueColor.name),
    Color("jp2c", &S::jp2c, colour::kTrueColor.name),
    Color("rasc", &S::rasc, colour::kTrueColor.name),
    Color("jpcc", &S::jpcc, colour::kTrueColor.name),
    Color("jpgc", &S::jpgc, colour::kTrueColor.name),
    Number("JQu", G::kOption, &S::JQu, 75),
    Color("tifc", &S::tifc, colour::kTrueColor.name),
    Number("compress", G::kOption, &S::compress, 3),
    Number("TJQu", G::kOption, &S::TJQu, 75),
    Number("multpage", G::kOption, &S::multpage, 0),
    SettingKey{kAddFileKey, G::kStandalone, nullptr, nullptr, 0, {}, D::kHomeFolder, C::kNone},
    SettingKey{kPreviewKey, G::kStandalone, nullptr, nullptr, 0, {}, D::kFixed, C::kNone},
};

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

std::span<const SettingKey> SettingKeys() {
  return kKeys;
}

const SettingKey* FindSettingKey(std::string_view key) {
  for (const SettingKey& entry : kKeys) {
    if (EqualNoCase(entry.key, key)) return &entry;
  }
  return nullptr;
}

std::string DefaultText(const SettingKey& entry) {
  switch (entry.dynamicDefault) {
    case SettingDefault::kMyDocFolder:
      return AppPaths::DocumentsFolder() + "My Doc/";
    case SettingDefault::kHomeFolder:
      return AppPaths::DocumentsFolder();
    case SettingDefault::kFixed:
      break;
  }
  return std::string(entry.textDefault);
}

}  // namespace orvalis
