#pragma once
// The command line of orvalis-cli: flags that override the saved settings for one run, the
// run's own options, and the PostScript files to convert.

#include <optional>
#include <string>
#include <vector>

#include "ui/settings/conversion_settings.h"

namespace orvalis {

struct CliOptions {
  // Overrides of the saved settings; unset fields keep what Profile.ini holds.
  std::optional<int> type;  // index in the format list
  std::optional<std::string> output;
  std::optional<int> mode;
  std::optional<int> each;
  std::optional<int> xdpi, ydpi;
  std::optional<int> angle;
  std::optional<int> width, height;
  std::optional<std::string> color;
  std::optional<int> quality;
  std::optional<int> compress;
  std::optional<int> merge;

  std::string profile;  // empty: the usual Profile.ini
  int jobs = 0;         // 0: one per processor
  int timeoutSeconds = 0;
  bool quiet = false;
  bool help = false;
  bool version = false;
  std::vector<std::string> paths;  // as given
};

// Parses argv; nullopt with the reason in `error` for a usage error.
std::optional<CliOptions> ParseCommandLine(int argc, const char* const* argv, std::string* error);

// Applies the overrides to settings loaded from the profile. Fails (with the reason) when a
// colour is not offered by the chosen format.
bool ApplyOverrides(const CliOptions& options, ConversionSettings& settings, std::string* error);

// The .ps files named by the arguments: files as given (extension .ps in any case), folders
// replaced by their .ps files sorted by name, not recursing. Absolute paths.
std::optional<std::vector<std::string>> ExpandSources(const std::vector<std::string>& paths,
                                                      std::string* error);

extern const char kCliUsage[];
extern const char kCliHelp[];

}  // namespace orvalis
