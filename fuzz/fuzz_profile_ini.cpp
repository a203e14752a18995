// Parses arbitrary bytes as a settings file, reads every settings key, sets one key and checks
// that the rewritten file reads back with that value and with every other key unchanged.
// With ORVALIS_WRITE_SEEDS set, writes a seed corpus of small settings files and exits.

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include "fuzz/seed_corpus.h"
#include "platform/profile_ini.h"

namespace {

using orvalis::ProfileDocument;

constexpr std::string_view kKeys[] = {
    "type", "mode", "output", "resize",   "width", "height",   "angle",  "xdpi", "ydpi",
    "each", "bmpc", "pngc",   "pcxc",     "gifc",  "tgac",     "jp2c",   "rasc", "jpcc",
    "jpgc", "JQu",  "tifc",   "compress", "TJQu",  "multpage", "AddFile"};

void WriteSeeds(const std::string& folder) {
  const struct {
    const char* name;
    const char* text;
  } seeds[] = {
      {"defaults.ini", "[Set]\ntype=0\nmode=1\noutput=/home/u/My Doc/\n"},
      {"pages.ini",
       "[Set]\r\nangle=90\r\nwidth=594\r\nheight=842\r\nresize=1\r\neach=0\r\nxdpi=300\r\n"
       "ydpi=300\r\ngifc=256 Grays\r\njpgc=True Color\r\nJQu=75\r\n"},
      {"mixed.ini",
       "\xEF\xBB\xBF; comment\n[Other]\nxdpi=1\n[ set ]junk\n XDPI = -4294967297 \nbare\n"
       "output=\" /spaced/ \"\ntifc='B&W'\n[Set]\nlate=1\n"},
      {"broken.ini", "[Set\nkey\n=value\n[]\n[Set]]\ntype=12abc"},
  };
  for (const auto& seed : seeds) std::ofstream(folder + "/" + seed.name) << seed.text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  orvalis::fuzz::WriteSeedsWhenAsked(WriteSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > ProfileDocument::kMaxFileBytes) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  ProfileDocument document = ProfileDocument::Parse(bytes);
  for (std::string_view key : kKeys) {
    document.GetInt("Set", key, 72);
    orvalis::ParseProfileInt(document.GetString("Set", key, ""));
  }

  // The first line of the input decides which key gets which value.
  const size_t lineEnd = bytes.find('\n');
  const std::string_view head = bytes.substr(0, lineEnd == std::string_view::npos ? 0 : lineEnd);
  const std::string_view key = kKeys[head.size() % std::size(kKeys)];
  const std::string_view value = head.substr(head.size() / 2);
  std::string before[std::size(kKeys)];
  for (size_t i = 0; i < std::size(kKeys); ++i) {
    before[i] = document.Find("Set", kKeys[i]).value_or("<missing>");
  }
  if (!document.Set("Set", key, value)) return 0;

  const ProfileDocument reread = ProfileDocument::Parse(document.Serialize());
  if (reread.Find("Set", key) != value) std::abort();
  for (size_t i = 0; i < std::size(kKeys); ++i) {
    if (kKeys[i] != key && reread.Find("Set", kKeys[i]).value_or("<missing>") != before[i]) {
      std::abort();
    }
  }
  return 0;
}
