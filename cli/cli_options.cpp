#include "cli/cli_options.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <string_view>

#include "batch/output_format.h"
#include "engine/converter.h"

namespace orvalis {

namespace fs = std::filesystem;

const char kCliUsage[] =
    "usage: orvalis-cli [-f FORMAT] [-o DIR | --beside] [--each] [--dpi N | --xdpi N --ydpi N]\n"
    "                   [--angle 0|90|180|270] [--resize WxH] [--color NAME] [--quality N]\n"
    "                   [--compression NAME] [--merge] [--jobs N] [--timeout SECONDS]\n"
    "                   [--profile FILE] [-q] [--help] [--version] PATH...\n";

const char kCliHelp[] =
    "Converts PostScript files into images, one image per page (or one TIFF per file with\n"
    "--merge). PATH is a .ps file or a folder whose .ps files are converted (not recursing).\n"
    "Defaults come from Profile.ini; the options below override them for this run only.\n"
    "\n"
    "  -f, --format FORMAT  jpg, tif, bmp, png, gif, pcx, wmf, emf, tga, jp2, jpc or ras\n"
    "  -o, --output DIR     write into DIR (created when missing)\n"
    "      --beside         write beside each source file\n"
    "      --each           one sub-folder per source file, named after it\n"
    "      --dpi N          resolution, 72 to 600 (--xdpi N and --ydpi N set one axis)\n"
    "      --angle A        turn pages clockwise by 0, 90, 180 or 270 degrees\n"
    "      --resize WxH     scale every page to W x H pixels\n"
    "      --color NAME     \"True Color\", \"256 Color\", \"256 Grays\", \"16 Color\",\n"
    "                       \"16 Grays\" or \"B&W\", as far as the format offers it\n"
    "      --quality N      JPEG quality 1 to 100 (also JPEG inside TIFF)\n"
    "      --compression C  TIFF: uncompressed, lzw, rle, jpeg, packbits, fax3 or fax4\n"
    "      --merge          TIFF: all pages of a file in one multi-page file\n"
    "      --jobs N         files converted at once (default: one per processor)\n"
    "      --timeout S      stop a file whose rendering takes longer than S seconds\n"
    "      --profile FILE   read the settings from FILE instead of Profile.ini\n"
    "  -q, --quiet          print only failures\n"
    "      --help, --version\n"
    "\n"
    "Exit status: 0 when every file converted, 1 when any failed, 2 for a usage error,\n"
    "130 when interrupted.\n";

namespace {

// The format names in the order of the setting "type".
const std::span<const std::string_view> kFormatNames = CliNames();

constexpr std::string_view kCompressionNames[] = {"uncompressed", "lzw",  "rle", "jpeg",
                                                  "packbits",     "fax3", "fax4"};

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

std::optional<int> ParseInt(std::string_view text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<int> IndexOf(std::span<const std::string_view> names, std::string_view name) {
  const std::string lower = Lower(name);
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i] == lower) return static_cast<int>(i);
  return std::nullopt;
}

std::string Joined(std::span<const std::string_view> names) {
  std::string text;
  for (std::string_view name : names) text += (text.empty() ? "" : ", ") + std::string(name);
  return text;
}

// Reads the value of a flag that takes one.
class ArgumentReader {
 public:
  ArgumentReader(int argc, const char* const* argv) : argc_(argc), argv_(argv) {}
  bool Done() const { return index_ >= argc_; }
  std::string_view Next() { return argv_[index_++]; }
  std::optional<std::string_view> Value() {
    if (index_ >= argc_) return std::nullopt;
    return std::string_view(argv_[index_++]);
  }

 private:
  int argc_;
  const char* const* argv_;
  int index_ = 1;
};

// A whole number within [low, high], or a message.
bool ReadNumber(std::string_view flag, std::optional<std::string_view> value, int low, int high,
                std::optional<int>& into, std::string* error) {
  const std::optional<int> number = value ? ParseInt(*value) : std::nullopt;
  if (!number || *number < low || *number > high) {
    *error = std::string(flag) + " needs a whole number from " + std::to_string(low) + " to " +
             std::to_string(high);
    return false;
  }
  into = *number;
  return true;
}

bool ParseResize(std::string_view text, CliOptions& options) {
  const size_t x = text.find_first_of("xX");
  if (x == std::string_view::npos) return false;
  const std::optional<int> width = ParseInt(text.substr(0, x));
  const std::optional<int> height = ParseInt(text.substr(x + 1));
  if (!width || !height || *width <= 0 || *height <= 0) return false;
  options.width = *width;
  options.height = *height;
  return true;
}

bool ParseFlag(std::string_view flag, ArgumentReader& args, CliOptions& o, std::string* error) {
  auto missing = [&] {
    *error = std::string(flag) + " needs a value";
    return false;
  };
  if (flag == "-f" || flag == "--format") {
    const auto value = args.Value();
    if (!value) return missing();
    o.type = IndexOf(kFormatNames, *value);
    if (!o.type)
      *error = "unknown format '" + std::string(*value) + "' (" + Joined(kFormatNames) + ")";
    return o.type.has_value();
  }
  if (flag == "-o" || flag == "--output") {
    const auto value = args.Value();
    if (!value || value->empty()) return missing();
    o.output = std::string(*value);
    o.mode = 1;
    return true;
  }
  if (flag == "--beside") return o.mode = 0, true;
  if (flag == "--each") return o.each = 1, true;
  if (flag == "--merge") return o.merge = 1, true;
  if (flag == "-q" || flag == "--quiet") return o.quiet = true, true;
  if (flag == "--help") return o.help = true, true;
  if (flag == "--version") return o.version = true, true;
  if (flag == "--dpi") {
    if (!ReadNumber(flag, args.Value(), 72, 600, o.xdpi, error)) return false;
    o.ydpi = o.xdpi;
    return true;
  }
  if (flag == "--xdpi") return ReadNumber(flag, args.Value(), 72, 600, o.xdpi, error);
  if (flag == "--ydpi") return ReadNumber(flag, args.Value(), 72, 600, o.ydpi, error);
  if (flag == "--quality") return ReadNumber(flag, args.Value(), 1, 100, o.quality, error);
  if (flag == "--angle") {
    const auto value = args.Value();
    const std::optional<int> angle = value ? ParseInt(*value) : std::nullopt;
    if (!angle || (*angle != 0 && *angle != 90 && *angle != 180 && *angle != 270)) {
      *error = "--angle needs 0, 90, 180 or 270";
      return false;
    }
    o.angle = *angle;
    return true;
  }
  if (flag == "--resize") {
    const auto value = args.Value();
    if (value && ParseResize(*value, o)) return true;
    *error = "--resize needs WIDTHxHEIGHT in pixels, for example 1240x1754";
    return false;
  }
  if (flag == "--color") {
    const auto value = args.Value();
    if (!value) return missing();
    o.color = std::string(*value);
    return true;
  }
  if (flag == "--compression") {
    const auto value = args.Value();
    if (!value) return missing();
    o.compress = IndexOf(kCompressionNames, *value);
    if (!o.compress)
      *error =
          "unknown compression '" + std::string(*value) + "' (" + Joined(kCompressionNames) + ")";
    return o.compress.has_value();
  }
  if (flag == "--jobs") {
    std::optional<int> jobs;
    if (!ReadNumber(flag, args.Value(), 1, 256, jobs, error)) return false;
    o.jobs = *jobs;
    return true;
  }
  if (flag == "--timeout") {
    std::optional<int> seconds;
    if (!ReadNumber(flag, args.Value(), 1, 86400, seconds, error)) return false;
    o.timeoutSeconds = *seconds;
    return true;
  }
  if (flag == "--profile") {
    const auto value = args.Value();
    if (!value || value->empty()) return missing();
    o.profile = std::string(*value);
    return true;
  }
  *error = "unknown option " + std::string(flag);
  return false;
}

bool HasPostScriptExtension(const fs::path& path) {
  return Lower(path.extension().string()) == ".ps";
}

// Absolute and tidy; the text as given when the current folder cannot be named.
fs::path AbsoluteOf(const std::string& given) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(given, ec);
  return ec ? fs::path(given) : absolute.lexically_normal();
}

}  // namespace

std::optional<CliOptions> ParseCommandLine(int argc, const char* const* argv, std::string* error) {
  CliOptions options;
  ArgumentReader args(argc, argv);
  bool onlyPaths = false;
  while (!args.Done()) {
    const std::string_view arg = args.Next();
    if (onlyPaths || arg.size() < 2 || arg[0] != '-') {
      options.paths.emplace_back(arg);
    } else if (arg == "--") {
      onlyPaths = true;
    } else if (!ParseFlag(arg, args, options, error)) {
      return std::nullopt;
    }
  }
  if (options.help || options.version) return options;
  if (options.paths.empty()) {
    *error = "no PostScript file or folder given";
    return std::nullopt;
  }
  return options;
}

bool ApplyOverrides(const CliOptions& o, ConversionSettings& s, std::string* error) {
  if (o.type) s.type = *o.type;
  if (o.output) s.output = AbsoluteOf(*o.output).string();
  if (o.mode) s.mode = *o.mode;
  if (o.each) s.each = *o.each;
  if (o.xdpi) s.xdpi = *o.xdpi;
  if (o.ydpi) s.ydpi = *o.ydpi;
  if (o.angle) s.angle = *o.angle;
  if (o.width) {
    s.resize = 1;
    s.width = *o.width;
    s.height = *o.height;
  }
  if (o.quality) s.JQu = s.TJQu = *o.quality;
  if (o.compress) s.compress = *o.compress;
  if (o.merge) s.multpage = *o.merge;
  if (!o.color) return true;

  const FormatChoice format = FormatFromType(s.type);
  const std::span<const std::string_view> offered = ColorNamesOffered(format.format);
  const std::string wanted = Lower(*o.color);
  for (std::string_view name : offered) {
    if (Lower(name) == wanted) {
      SetSettingFromText(s, ColorKeyOf(format.format), name);
      return true;
    }
  }
  // The format actually chosen: a "type" out of range in the profile means JPEG.
  const std::string formatName = format.extension.substr(1);
  *error = offered.empty() ? formatName + " output has no colour choice"
                           : "--color '" + *o.color + "' is not offered for " + formatName +
                                 "; choose one of: " + Joined(offered);
  return false;
}

std::optional<std::vector<std::string>> ExpandSources(const std::vector<std::string>& paths,
                                                      std::string* error) {
  std::vector<std::string> sources;
  for (const std::string& given : paths) {
    const fs::path path = AbsoluteOf(given);
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
      std::vector<std::string> found;
      for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_directory(typeError) && HasPostScriptExtension(it->path()))
          found.push_back(it->path().string());
      }
      if (ec) {
        *error = "cannot read the folder " + given + ": " + ec.message();
        return std::nullopt;
      }
      std::sort(found.begin(), found.end());
      sources.insert(sources.end(), found.begin(), found.end());
    } else if (!fs::exists(path, ec)) {
      // A link loop or a folder that may not be searched is there, but cannot be reached.
      *error =
          ec ? "cannot reach " + given + ": " + ec.message() : "no such file or folder: " + given;
      return std::nullopt;
    } else if (!HasPostScriptExtension(path)) {
      *error = "not a .ps file: " + given;
      return std::nullopt;
    } else {
      sources.push_back(path.string());
    }
  }
  if (sources.empty()) {
    *error = "no .ps file found in the paths given";
    return std::nullopt;
  }
  return sources;
}

}  // namespace orvalis
