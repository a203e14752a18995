#pragma once
// The command line of orvalis-cli: flags that override the saved settings for one run, the
// run's own options, and the PostScript files to convert.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "settings/conversion_settings.h"

namespace orvalis {

struct CliOptions {
  // Overrides of the saved settings; unset fields keep what Profile.ini holds.
  std::optional<int> type;  // index in the format list
  std::optional<std::string> output;
  std::optional<int> mode;
  std::optional<int> each;
  std::optional<int> fullNames;
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
  uint64_t memoryBytes = 0;  // 0: the driver's default budget
  uint64_t unpackLimit = 0;  // 0: the driver's default limit
  bool quiet = false;
  bool help = false;
  bool version = false;

  std::string report;     // JSON Lines record of every file, appended; "" for none
  std::string resume;     // a report whose converted files are skipped; "" for none
  std::string filesFrom;  // a list of paths, "-" for standard input; "" for none
  bool nullSeparated = false;
  bool skipExisting = false;
  std::vector<std::string> paths;  // as given
};

// Parses argv; nullopt with the reason in `error` for a usage error.
std::optional<CliOptions> ParseCommandLine(int argc, const char* const* argv, std::string* error);

// The index of a format name ("png", "JPG", ...) in the format list, nullopt when unknown.
std::optional<int> FormatIndexOf(std::string_view name);
// The format names, for messages: "jpg, tif, ...".
std::string FormatNames();

// A size such as "4G", "512M", "64k" or plain bytes (K, M, G and T count in 1024s); nullopt for
// anything else, zero, or a size that does not fit in 64 bits (then `tooLarge`, when given, is
// set).
std::optional<uint64_t> ParseByteSize(std::string_view text, bool* tooLarge = nullptr);

// Checks the settings file the run will read. A missing file is an error when the user named it
// (`named`), and means the built-in defaults otherwise; a folder, a file that cannot be read or
// one too large to be a settings file is always an error.
bool CheckProfile(const std::string& path, bool named, std::string* error);

// Applies the overrides to settings loaded from the profile. Fails (with the reason) when a
// colour is not offered by the chosen format, or, for TIFF, when --compression and --color are
// both given and the compression does not write the colour (TiffCompressionWrites). A
// --compression given without --color selects the compression's colour when the stored one is
// not among those it writes (B&W for rle, fax3 and fax4), as the settings page does.
bool ApplyOverrides(const CliOptions& options, ConversionSettings& settings, std::string* error);

// One line for each option given on the command line (not from Profile.ini) that the run, with
// `settings` as ApplyOverrides left them, does not use: --merge and --compression without TIFF,
// --quality without JPEG or a TIFF written with JPEG compression; and one when a --color given
// alone is written with another compression than the stored one. Without "orvalis-cli: ".
std::vector<std::string> CommandLineNotes(const CliOptions& options,
                                          const ConversionSettings& settings);

// The documents named by the arguments: files as given (an extension of source_type.h in any
// case), folders replaced by their documents sorted by name, not recursing. Absolute paths.
std::optional<std::vector<std::string>> ExpandSources(const std::vector<std::string>& paths,
                                                      std::string* error);

// The sources of a run: the paths of the command line, then those of --files-from, expanded.
std::optional<std::vector<std::string>> CollectSources(const CliOptions& options,
                                                       std::string* error);

extern const char kCliUsage[];
// The --help text after the usage lines.
std::string CliHelp();

}  // namespace orvalis
