#include "cli/cli_options.h"

#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <map>
#include <string_view>

#include "batch/memory_budget.h"
#include "batch/source_type.h"
#include "cli/path_list.h"
#include "engine/converter.h"
#include "engine/output_formats.h"
#include "engine/tiff_compressions.h"
#include "platform/limits.h"
#include "platform/paths.h"
#include "platform/profile_ini.h"

namespace orvalis {

namespace fs = std::filesystem;

const char kCliUsage[] =
    "usage: orvalis-cli [-f FORMAT] [-o DIR | --beside] [--each] [--full-names]\n"
    "                   [--dpi N | --xdpi N --ydpi N] [--angle 0|90|180|270] [--resize WxH]\n"
    "                   [--color NAME] [--quality N] [--compression NAME] [--merge]\n"
    "                   [--jobs N] [--timeout SECONDS] [--memory SIZE]\n"
    "                   [--max-unpacked SIZE] [--report FILE] [--resume FILE]\n"
    "                   [--skip-existing] [--files-from FILE [--null]] [--profile FILE]\n"
    "                   [-q] [--help] [--version] [--] PATH...\n";

namespace {

const char kHelpIntroduction[] =
    "Converts PostScript, EPS and PDF files into images, one image per page (or one TIFF per\n"
    "file with --merge). PATH is a document (.ps, .eps, .epsf, .epsi, .ps.gz, .eps.gz, .pdf)\n"
    "or a folder whose documents are converted (not recursing). What a file is, is read from\n"
    "its first bytes: an EPS figure gives one image of its bounding box, a file compressed\n"
    "with gzip is unpacked first (at most --max-unpacked), and images are named without the\n"
    "extensions (report.ps.gz gives report_001.png), or with --full-names after the full\n"
    "file name (report.ps.gz_001.png).\n"
    "Defaults come from Profile.ini; the options below override them for this run only.\n"
    "A value may follow its option as the next word or after '=' (--format=png), and a short\n"
    "option's value may be joined to it (-fpng); short options may be bundled (-qfpng).\n"
    "A value that begins with '-' must be joined (--output=-dir). An option given twice counts\n"
    "with its later value, but --files-from, --report, --resume and --profile may be given\n"
    "once each. After --, every word is a PATH.\n"
    "\n";

const char kHelpOptions[] =
    "  -o, --output DIR     write into DIR (created when missing)\n"
    "      --beside         write beside each source file\n"
    "      --each           one sub-folder per source file, named after it\n"
    "      --full-names     name the images after the full file name, extension included:\n"
    "                       a.pdf_001.png, a.pdf.tif, and the sub-folder a.pdf_images with\n"
    "                       --each; a.ps and a.pdf in one folder then both convert\n"
    "      --dpi N          resolution, 72 to 600 (--xdpi N and --ydpi N set one axis)\n"
    "      --angle A        turn pages clockwise by 0, 90, 180 or 270 degrees\n"
    "      --resize WxH     scale every page to W x H pixels\n"
    "      --color NAME     \"True Color\", \"256 Color\", \"256 Grays\", \"16 Color\",\n"
    "                       \"16 Grays\" or \"B&W\", as far as the format offers it\n"
    "      --quality N      JPEG quality 1 to 100 (also JPEG inside TIFF)\n"
    "      --compression C  TIFF compression, and the colours each writes:\n"
    "                         uncompressed, lzw  every colour\n"
    "                         packbits           every colour but B&W\n"
    "                         jpeg               True Color (YCbCr) and 256 Grays\n"
    "                         rle, fax3, fax4    B&W only (CCITT run length, Group 3,\n"
    "                                            Group 4)\n"
    "                       Without --color it selects B&W for rle, fax3 and fax4, and\n"
    "                       True Color where the stored colour is one it does not write;\n"
    "                       with a --color it does not write, it is a usage error. A\n"
    "                       --color given alone that the stored compression does not\n"
    "                       write goes with fax4 (B&W), lzw (16 or 256 colours or grays)\n"
    "                       or jpeg (True Color), and a line says so\n"
    "      --merge          TIFF: all pages of a file in one multi-page file\n"
    "      --jobs N         files converted at once, and at most N pages converted at\n"
    "                       once across them, no more than one per processor (default:\n"
    "                       one per processor); one interpreter draws each file, from\n"
    "                       its first page to its last, but while fewer than N files\n"
    "                       are left, two draw a PDF file at once (its first half and\n"
    "                       the rest) where that is sooner, with the same images\n"
    "      --timeout S      stop a file that takes longer than S seconds, rendering and\n"
    "                       conversion together; the pages complete by then that can\n"
    "                       begin within a second are still converted and kept, and the\n"
    "                       file fails\n"
    "      --memory SIZE    memory the run's interpreters and pages share, such as 4G or\n"
    "                       512M, at least 256M (default: three quarters of the memory\n"
    "                       available at start)\n"
    "      --max-unpacked SIZE\n"
    "                       the most a compressed file may unpack to, such as 4G or 512M\n"
    "                       (default: 1G), and never into the free space the run keeps\n"
    "                       on the disk of its temporary files\n"
    "      --profile FILE   read the settings from FILE instead of Profile.ini\n"
    "  -q, --quiet          print only failures, and the options not used (below)\n"
    "      --help, --version\n"
    "\n"
    "Large batches:\n"
    "      --files-from F   also convert the paths listed in F, one per line ('-' reads\n"
    "                       standard input); at most 1 GiB, 4095 bytes a path\n"
    "      --null           the list of --files-from is separated by NUL bytes (find -print0)\n"
    "      --report FILE    append one JSON line per file to FILE: source, size, modification\n"
    "                       time, status, reason, outputs with their sizes and times, pages,\n"
    "                       pages expected, seconds, settings digest. FILE is a regular file\n"
    "                       or none yet, and no file the run reads or writes otherwise\n"
    "      --resume FILE    skip every file that the report FILE records as converted, when\n"
    "                       the file, the settings and its images are as they were; the run's\n"
    "                       own records are appended to FILE unless --report names another\n"
    "      --skip-existing  skip a file whose first image (or merged TIFF) exists and is\n"
    "                       newer than the file\n"
    "\n"
    "An option given here that the format does not use (--merge or --compression without\n"
    "TIFF, --quality without JPEG or a TIFF written with JPEG) is named on stderr, once,\n"
    "with -q too; the run goes on as without it. Values from Profile.ini are not named.\n"
    "\n"
    "Exit status: 0 when every file converted (every page it holds) or was skipped, 1 when\n"
    "any failed, 2 for a usage error, 130 when interrupted.\n";

}  // namespace

std::string CliHelp() {
  return std::string(kHelpIntroduction) + "  -f, --format FORMAT  " + FormatNames() + "\n" +
         kHelpOptions;
}

namespace {

// The format names in the order of the setting "type".
const std::span<const std::string_view> kFormatNames = CliNames();

const std::span<const std::string_view> kCompressionNames = TiffCompressionCliNames();

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

// "a, b, c", or "a, b or c" with `last` " or ".
std::string Joined(std::span<const std::string_view> names, std::string_view last = ", ") {
  std::string text;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? last : std::string_view(", ");
    text += names[i];
  }
  return text;
}

// "B&W only", "True Color or 256 Grays", ...
std::string ColoursWritten(int compressIndex) {
  std::vector<std::string_view> names;
  for (const ColourChoice& colour : TiffColoursWritten(compressIndex)) names.push_back(colour.name);
  return names.size() == 1 ? std::string(names[0]) + " only" : Joined(names, " or ");
}

// Sets the colour of the chosen format from a name given in any case, or says which it offers.
bool ApplyColour(const std::string& given, const FormatChoice& format, ConversionSettings& s,
                 std::string* error) {
  const std::span<const std::string_view> offered = ColorNamesOffered(format.format);
  const std::string wanted = Lower(given);
  for (std::string_view name : offered) {
    if (Lower(name) == wanted) {
      SetSettingFromText(s, ColorKeyOf(format.format), name);
      return true;
    }
  }
  // The format actually chosen: a "type" out of range in the profile means JPEG.
  const std::string formatName = format.extension.substr(1);
  *error = offered.empty() ? formatName + " output has no colour choice"
                           : "--color '" + given + "' is not offered for " + formatName +
                                 "; choose one of: " + Joined(offered);
  return false;
}

// A whole number within [low, high], or a message.
bool ReadNumber(std::string_view flag, std::string_view value, int low, int high,
                std::optional<int>& into, std::string* error) {
  const std::optional<int> number = ParseInt(value);
  if (!number || *number < low || *number > high) {
    *error = std::string(flag) + " needs a whole number from " + std::to_string(low) + " to " +
             std::to_string(high);
    return false;
  }
  into = *number;
  return true;
}

bool ReadText(std::string_view flag, std::string_view value, std::string& into,
              std::string* error) {
  if (value.empty()) {
    *error = std::string(flag) + " needs a value";
    return false;
  }
  into = std::string(value);
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

// What one option does with its value ("" for a flag), in the order the options were given, so
// that a later option overrides an earlier one (--dpi 300 --ydpi 150).
using ApplyOption = bool (*)(std::string_view flag, std::string_view value, CliOptions& o,
                             std::string* error);

struct OptionSpec {
  const char* names;  // "-f,--format"
  bool takesValue;
  ApplyOption apply;
  // A file the run reads or appends to: given twice, one of the two would be dropped unsaid.
  // Any other option may be repeated, its later value counting.
  bool once = false;
};

template <std::string CliOptions::*field>
bool SetText(std::string_view flag, std::string_view value, CliOptions& o, std::string* error) {
  return ReadText(flag, value, o.*field, error);
}

template <bool CliOptions::*field>
bool SetFlag(std::string_view, std::string_view, CliOptions& o, std::string*) {
  o.*field = true;
  return true;
}

const OptionSpec kOptions[] = {
    {"-f,--format", true,
     [](std::string_view, std::string_view value, CliOptions& o, std::string* error) {
       o.type = FormatIndexOf(value);
       if (!o.type) *error = "unknown format '" + std::string(value) + "' (" + FormatNames() + ")";
       return o.type.has_value();
     }},
    {"-o,--output", true,
     [](std::string_view flag, std::string_view value, CliOptions& o, std::string* error) {
       std::string folder;
       if (!ReadText(flag, value, folder, error)) return false;
       o.output = folder;
       o.mode = 1;
       return true;
     }},
    {"--beside", false,
     [](std::string_view, std::string_view, CliOptions& o, std::string*) {
       return o.mode = 0, true;
     }},
    {"--each", false,
     [](std::string_view, std::string_view, CliOptions& o, std::string*) {
       return o.each = 1, true;
     }},
    {"--full-names", false,
     [](std::string_view, std::string_view, CliOptions& o, std::string*) {
       return o.fullNames = 1, true;
     }},
    {"--merge", false,
     [](std::string_view, std::string_view, CliOptions& o, std::string*) {
       return o.merge = 1, true;
     }},
    {"-q,--quiet", false, SetFlag<&CliOptions::quiet>},
    {"--help", false, SetFlag<&CliOptions::help>},
    {"--version", false, SetFlag<&CliOptions::version>},
    {"--dpi", true,
     [](std::string_view flag, std::string_view value, CliOptions& o, std::string* error) {
       if (!ReadNumber(flag, value, limits::kMinResolution, limits::kMaxResolution, o.xdpi, error))
         return false;
       o.ydpi = o.xdpi;
       return true;
     }},
    {"--xdpi", true,
     [](std::string_view flag, std::string_view value, CliOptions& o, std::string* error) {
       return ReadNumber(flag, value, limits::kMinResolution, limits::kMaxResolution, o.xdpi,
                         error);
     }},
    {"--ydpi", true,
     [](std::string_view flag, std::string_view value, CliOptions& o, std::string* error) {
       return ReadNumber(flag, value, limits::kMinResolution, limits::kMaxResolution, o.ydpi,
                         error);
     }},
    {"--quality", true,
     [](std::string_view flag, std::string_view value, CliOptions& o, std::string* error) {
       return ReadNumber(flag, value, 1, 100, o.quality, error);
     }},
    {"--angle", true,
     [](std::string_view, std::string_view value, CliOptions& o, std::string* error) {
       const std::optional<int> angle = ParseInt(value);
       if (!angle || (*angle != 0 && *angle != 90 && *angle != 180 && *angle != 270)) {
         *error = "--angle needs 0, 90, 180 or 270";
         return false;
       }
       o.angle = *angle;
       return true;
     }},
    {"--resize", true,
     [](std::string_view, std::string_view value, CliOptions& o, std::string* error) {
       if (ParseResize(value, o)) return true;
       *error = "--resize needs WIDTHxHEIGHT in pixels, for example 1240x1754";
       return false;
     }},
    {"--color", true,
     [](std::string_view flag, std::string_view value, CliOptions& o, std::string* error) {
       std::string color;
       if (!ReadText(flag, value, color, error)) return false;
       o.color = color;
       return true;
     }},
    {"--compression", true,
     [](std::string_view, std::string_view value, CliOptions& o, std::string* error) {
       o.compress = IndexOf(kCompressionNames, value);
       if (!o.compress)
         *error =
             "unknown compression '" + std::string(value) + "' (" + Joined(kCompressionNames) + ")";
       return o.compress.has_value();
     }},
    {"--jobs", true,
     [](std::string_view flag, std::string_view value, CliOptions& o, std::string* error) {
       std::optional<int> jobs;
       if (!ReadNumber(flag, value, 1, 256, jobs, error)) return false;
       o.jobs = *jobs;
       return true;
     }},
    {"--timeout", true,
     [](std::string_view flag, std::string_view value, CliOptions& o, std::string* error) {
       std::optional<int> seconds;
       if (!ReadNumber(flag, value, 1, 86400, seconds, error)) return false;
       o.timeoutSeconds = *seconds;
       return true;
     }},
    {"--memory", true,
     [](std::string_view, std::string_view value, CliOptions& o, std::string* error) {
       bool tooLarge = false;
       const std::optional<uint64_t> bytes = ParseByteSize(value, &tooLarge);
       if (tooLarge) {
         *error = "--memory " + std::string(value) + " is more than 64 bits can count";
         return false;
       }
       if (!bytes) {
         *error = "--memory needs a size such as 4G, 512M or 1073741824 (bytes)";
         return false;
       }
       // Below what one interpreter needs to start, every file would fail: a slip (4 for 4G).
       if (*bytes < MemoryBudget::kInterpreterFloor) {
         *error = "--memory needs at least " +
                  std::to_string(MemoryBudget::kInterpreterFloor >> 20) +
                  "M, the least an interpreter starts with";
         return false;
       }
       o.memoryBytes = *bytes;
       return true;
     }},
    {"--max-unpacked", true,
     [](std::string_view, std::string_view value, CliOptions& o, std::string* error) {
       bool tooLarge = false;
       const std::optional<uint64_t> bytes = ParseByteSize(value, &tooLarge);
       if (tooLarge || !bytes || *bytes == 0) {
         *error = "--max-unpacked needs a size such as 4G, 512M or 1073741824 (bytes)";
         return false;
       }
       o.unpackLimit = *bytes;
       return true;
     }},
    {"--profile", true, SetText<&CliOptions::profile>, true},
    {"--report", true, SetText<&CliOptions::report>, true},
    {"--resume", true, SetText<&CliOptions::resume>, true},
    {"--files-from", true, SetText<&CliOptions::filesFrom>, true},
    {"--null", false, SetFlag<&CliOptions::nullSeparated>},
    {"--skip-existing", false, SetFlag<&CliOptions::skipExisting>},
};

// CLI11 names the option first in its messages: "--format: 1 required TEXT missing", "merge was
// given a disallowed flag override". Say the same in plain words.
std::string MismatchMessage(const std::string& what) {
  const size_t end = what.find_first_of(": ");
  std::string name = what.substr(0, end);
  if (name.empty()) return what;
  if (name[0] != '-') name = (name.size() == 1 ? "-" : "--") + name;
  return what.find("flag override") != std::string::npos ? name + " takes no value"
                                                         : name + " needs a value";
}

// The option of the table that has `name` ("-o" or "--output"), or nullptr.
const OptionSpec* FindOption(std::string_view name) {
  for (const OptionSpec& spec : kOptions) {
    std::string_view names = spec.names;
    while (!names.empty()) {
      const size_t comma = names.find(',');
      if (names.substr(0, comma) == name) return &spec;
      names = comma == std::string_view::npos ? "" : names.substr(comma + 1);
    }
  }
  return nullptr;
}

std::string_view LongName(const OptionSpec& spec) {
  const std::string_view names = spec.names;
  return names.substr(names.rfind(',') + 1);
}

// CLI11 takes the word after an option that needs a value whatever that word is, so that a slip
// (-o -q, --report --resume) would name a folder or a file after an option. A value that begins
// with '-' must therefore be joined to its option; "-" alone ("--files-from -") is a value.
bool CheckSeparateValues(int argc, const char* const* argv, std::string* error) {
  auto looksLikeOption = [](std::string_view word) { return word.size() > 1 && word[0] == '-'; };
  for (int i = 1; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (word == "--") return true;
    if (!looksLikeOption(word)) continue;
    std::string given;  // the option whose value is the next word
    const OptionSpec* spec = nullptr;
    if (word.starts_with("--")) {
      if (word.find('=') != std::string_view::npos) continue;
      given = word;
      spec = FindOption(word);
    } else {
      // A bundle of short options (-qf): the first that takes a value takes the rest of the
      // word, or the next word when it ends the bundle.
      size_t at = 1;
      while (at < word.size() && (spec = FindOption(std::string{'-', word[at]})) != nullptr &&
             !spec->takesValue)
        ++at;
      if (spec == nullptr || at + 1 < word.size()) continue;
      given = std::string{'-', word[at]};
    }
    if (spec == nullptr || !spec->takesValue || i + 1 >= argc) continue;
    const std::string_view value = argv[i + 1];
    if (looksLikeOption(value)) {
      *error = given + " needs a value, and '" + std::string(value) +
               "' is taken for an option; a value that begins with '-' must be joined: " +
               std::string(LongName(*spec)) + "=" + std::string(value);
      return false;
    }
    ++i;  // the value
  }
  return true;
}

}  // namespace

std::optional<int> FormatIndexOf(std::string_view name) {
  return IndexOf(kFormatNames, name);
}

std::string FormatNames() {
  return Joined(kFormatNames);
}

std::optional<uint64_t> ParseByteSize(std::string_view text, bool* tooLarge) {
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  const bool overflows = error == std::errc::result_out_of_range;
  if ((error != std::errc() && !overflows) || end == text.data()) return std::nullopt;
  std::string unit = Lower(text.substr(static_cast<size_t>(end - text.data())));
  if (unit.ends_with("ib"))
    unit.resize(unit.size() - 2);
  else if (unit.size() == 2 && unit.back() == 'b')
    unit.resize(1);
  int shift = 0;
  if (unit == "k")
    shift = 10;
  else if (unit == "m")
    shift = 20;
  else if (unit == "g")
    shift = 30;
  else if (unit == "t")
    shift = 40;
  else if (!unit.empty())
    return std::nullopt;
  if (overflows || value > (UINT64_MAX >> shift)) {
    if (tooLarge != nullptr) *tooLarge = true;
    return std::nullopt;
  }
  if (value == 0) return std::nullopt;
  return value << shift;
}

std::optional<CliOptions> ParseCommandLine(int argc, const char* const* argv, std::string* error) {
  CLI::App app;
  app.set_help_flag();  // --help prints our own text
  app.allow_extras();   // unknown options are named by us, below
  std::vector<std::pair<CLI::Option*, const OptionSpec*>> specs;
  for (const OptionSpec& spec : kOptions) {
    CLI::Option* option = spec.takesValue
                              ? app.add_option(spec.names)->allow_extra_args(false)->expected(1)
                              : app.add_flag(spec.names)->disable_flag_override();
    option->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    specs.emplace_back(option, &spec);
  }
  CliOptions options;
  app.add_option("paths", options.paths);
  if (!CheckSeparateValues(argc, argv, error)) return std::nullopt;
  try {
    app.parse(argc, argv);
  } catch (const CLI::ArgumentMismatch& e) {
    *error = MismatchMessage(e.what());
    return std::nullopt;
  } catch (const CLI::ParseError& e) {
    *error = e.what();
    return std::nullopt;
  }
  // CLI11 keeps the "--" that ends the options among the words it did not take.
  for (const std::string& word : app.remaining()) {
    if (word == "--") continue;
    *error = "unknown option " + word;
    return std::nullopt;
  }
  // Each time an option was given, in command-line order, with the value of that time.
  std::map<const CLI::Option*, size_t> seen;
  for (const CLI::Option* option : app.parse_order()) {
    const auto spec = std::find_if(specs.begin(), specs.end(),
                                   [&](const auto& entry) { return entry.first == option; });
    if (spec == specs.end()) continue;
    const size_t index = seen[option]++;
    if (index == 1 && spec->second->once) {
      *error = option->get_name() + " may be given only once";
      return std::nullopt;
    }
    const std::vector<std::string>& values = option->results();
    const std::string value =
        spec->second->takesValue && index < values.size() ? values[index] : "";
    if (!spec->second->apply(option->get_name(), value, options, error)) return std::nullopt;
  }
  if (options.help || options.version) return options;
  if (options.nullSeparated && options.filesFrom.empty()) {
    *error = "--null applies to the list of --files-from, and none is given";
    return std::nullopt;
  }
  if (options.paths.empty() && options.filesFrom.empty()) {
    *error = "no document (PostScript, EPS or PDF) or folder given";
    return std::nullopt;
  }
  return options;
}

bool CheckProfile(const std::string& path, bool named, std::string* error) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    if (errno == ENOENT && !named) return true;
    *error = "cannot use the settings file " + path + ": " + std::strerror(errno);
    return false;
  }
  if (S_ISDIR(info.st_mode)) {
    *error = "cannot use the settings file " + path + ": it is a folder";
    return false;
  }
  ProfileDocument document;
  std::string problem;
  if (!LoadProfileDocument(path, &document, &problem)) {
    *error = "cannot use the settings file: " + problem;
    return false;
  }
  return true;
}

bool ApplyOverrides(const CliOptions& o, ConversionSettings& s, std::string* error) {
  if (o.type) s.type = *o.type;
  if (o.output) s.output = AbsolutePath(*o.output);
  if (o.mode) s.mode = *o.mode;
  if (o.each) s.each = *o.each;
  if (o.fullNames) s.fullnames = *o.fullNames;
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
  const FormatChoice format = FormatFromType(s.type);
  if (o.color && !ApplyColour(*o.color, format, s, error)) return false;
  if (format.format != OutputFormat::Tiff || !o.compress) return true;

  // A compression given here takes the colours it writes, as on the settings page: one it
  // cannot write is refused when given here too, and otherwise replaced by the compression's
  // own (B&W for rle and the fax codes).
  const ColourChoice& colour = ColourNamed(s.tifc);
  if (TiffCompressionWrites(s.compress, colour)) return true;
  if (!o.color) {
    s.tifc = std::string(TiffColourSelected(s.compress).name);
    return true;
  }
  *error = "--compression " + std::string(TiffCompressionOf(s.compress).cliName) + " writes " +
           ColoursWritten(s.compress) + ", not " + std::string(colour.name) + "; " +
           std::string(colour.name) + " is written by " +
           Joined(TiffCompressionsWriting(colour), " or ");
  return false;
}

std::vector<std::string> CommandLineNotes(const CliOptions& o, const ConversionSettings& s) {
  const OutputFormatInfo& info = InfoOf(FormatFromType(s.type).format);
  const std::string formatName(info.cliName);
  const bool tiff = info.recipe.pipeline == PipelineKind::Tiff;
  const ColourChoice& colour = ColourNamed(s.tifc);
  const TiffCompressionChoice& written = TiffCompressionWritten(s.compress, colour);
  std::vector<std::string> notes;
  if (o.merge && !tiff)
    notes.push_back("--merge is not used: " + formatName + " output has a file per page (only " +
                    "tif merges pages)");
  if (o.compress && !tiff)
    notes.push_back("--compression is not used: " + formatName + " output has no compression " +
                    "to choose (only tif)");
  if (o.quality && !tiff && info.qualityKey.empty())
    notes.push_back("--quality is not used: " + formatName +
                    " output has no quality (only jpg, and tif with jpeg compression)");
  if (o.quality && tiff && !written.usesQuality)
    notes.push_back("--quality is not used: " + std::string(colour.name) +
                    " tif pages are written with " + std::string(written.cliName) +
                    " compression, which has no quality (only jpeg has)");
  if (o.color && tiff && !o.compress && written.own != TiffCompressionOf(s.compress).own)
    notes.push_back(std::string(colour.name) + " is written with " + std::string(written.cliName) +
                    " compression: the " + std::string(TiffCompressionOf(s.compress).cliName) +
                    " compression of the settings does not write it");
  return notes;
}

std::optional<std::vector<std::string>> ExpandSources(const std::vector<std::string>& paths,
                                                      std::string* error) {
  std::vector<std::string> sources;
  for (const std::string& given : paths) {
    const fs::path path = AbsolutePath(given);
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
      std::vector<std::string> found;
      for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_directory(typeError) && HasSourceExtension(it->path().filename().string()))
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
    } else if (!HasSourceExtension(path.filename().string())) {
      *error =
          "not a document to convert (.ps, .eps, .epsf, .epsi, .ps.gz, .eps.gz, .pdf): " + given;
      return std::nullopt;
    } else {
      sources.push_back(path.string());
    }
  }
  if (sources.empty()) {
    *error =
        "no document to convert (.ps, .eps, .epsf, .epsi, .ps.gz, .eps.gz, .pdf) found in "
        "the paths given";
    return std::nullopt;
  }
  return sources;
}

std::optional<std::vector<std::string>> CollectSources(const CliOptions& options,
                                                       std::string* error) {
  std::vector<std::string> paths = options.paths;
  if (!options.filesFrom.empty()) {
    const auto listed = ReadPathList(options.filesFrom, options.nullSeparated, error);
    if (!listed) return std::nullopt;
    paths.insert(paths.end(), listed->begin(), listed->end());
  }
  return ExpandSources(paths, error);
}

}  // namespace orvalis
