// orvalis-job: runs one conversion engine job from the command line.
//
//   orvalis-job [--format N|NAME] [--out PATH] [--multipage PATH] [--bpp N] [--gray]
//               [--quality N] [--compression N] [--xdpi N] [--ydpi N] [--width N]
//               [--height N] [--angle N] INPUT.bmp...
//
// Options are applied in the order given, then the inputs are added. Exit status: 0 when every
// output was written, 1 with the reason on stderr otherwise, 2 for a usage error.

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/converter.h"
#include "engine/output_formats.h"

namespace {

using namespace orvalis;

// The format names in the order of the engine's numbers, as the usage line lists them.
std::string FormatNamesByNumber() {
  std::vector<const OutputFormatInfo*> rows;
  for (const OutputFormatInfo& info : OutputFormats()) rows.push_back(&info);
  std::sort(rows.begin(), rows.end(), [](const OutputFormatInfo* a, const OutputFormatInfo* b) {
    return NumberOf(a->format) < NumberOf(b->format);
  });
  std::string names;
  for (const OutputFormatInfo* info : rows) names.append("|").append(info->cliName);
  return names;
}

const std::string kUsage =
    std::string("usage: orvalis-job [--format N")
        .append(FormatNamesByNumber())
        .append("] [--out PATH] [--multipage PATH] [--bpp N] [--gray] [--quality N] "
                "[--compression N] [--xdpi N] [--ydpi N] [--width N] [--height N] [--angle N] "
                "INPUT.bmp...\n");

std::optional<int> ParseInt(std::string_view text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// A command-line name or an engine number (any number: the engine decides what it takes).
std::optional<int> ParseFormat(std::string_view text) {
  if (const OutputFormatInfo* info = FindByCliName(text)) return NumberOf(info->format);
  return ParseInt(text);
}

struct Setting {
  int option;
  std::string text;
  int value;
};

// One numeric option per flag.
struct NumericFlag {
  std::string_view flag;
  int option;
};

constexpr NumericFlag kNumericFlags[] = {
    {"--bpp", OptBitDepth},  {"--quality", OptQuality}, {"--compression", OptCompression},
    {"--xdpi", OptXDpi},     {"--ydpi", OptYDpi},       {"--width", OptWidth},
    {"--height", OptHeight}, {"--angle", OptAngle},
};

// Why `path` cannot be read as a page: "" for a regular file (or a name that is not there,
// which the engine reports itself). A named pipe or a device would keep the job waiting for
// data that may never come.
std::string NotAPage(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode)) return "";
  const char* kind = S_ISDIR(info.st_mode)                            ? "a folder"
                     : S_ISFIFO(info.st_mode)                         ? "a named pipe"
                     : S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode) ? "a device"
                     : S_ISSOCK(info.st_mode)                         ? "a socket"
                                                                      : "not a regular file";
  return "Cannot read page '" + path + "': it is " + kind;
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "orvalis-job: %s\n%s", message.c_str(), kUsage.c_str());
  return 2;
}

// Parses the arguments into settings and inputs; returns an error text on misuse.
std::optional<std::string> ParseArguments(int argc, char** argv, std::vector<Setting>& settings,
                                          std::vector<std::string>& inputs) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--") {
      for (++i; i < argc; ++i) inputs.emplace_back(argv[i]);
      break;
    }
    if (arg.size() < 2 || arg.substr(0, 2) != "--") {
      inputs.emplace_back(arg);
      continue;
    }
    if (arg == "--gray") {
      settings.push_back({OptGrayscale, "", 1});
      continue;
    }
    if (i + 1 >= argc) return "missing value after " + std::string(arg);
    const std::string_view value = argv[++i];
    if (arg == "--out") {
      settings.push_back({OptOutputPath, std::string(value), 0});
    } else if (arg == "--multipage") {
      settings.push_back({OptMultiPagePath, std::string(value), 0});
      settings.push_back({OptMultiPage, "", 1});
    } else if (arg == "--format") {
      const std::optional<int> format = ParseFormat(value);
      if (!format) return "unknown format '" + std::string(value) + "'";
      settings.push_back({OptFormat, "", *format});
    } else {
      const NumericFlag* flag = nullptr;
      for (const NumericFlag& f : kNumericFlags)
        if (f.flag == arg) flag = &f;
      if (flag == nullptr) return "unknown option " + std::string(arg);
      const std::optional<int> number = ParseInt(value);
      if (!number)
        return std::string(arg) + " needs a whole number, not '" + std::string(value) + "'";
      settings.push_back({flag->option, "", *number});
    }
  }
  if (inputs.empty()) return std::string("no input file");
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kUsage.c_str(), stdout);
    return 0;
  }
  std::vector<Setting> settings;
  std::vector<std::string> inputs;
  if (const std::optional<std::string> error = ParseArguments(argc, argv, settings, inputs))
    return UsageError(*error);

  for (const std::string& input : inputs) {
    if (const std::string refusal = NotAPage(input); !refusal.empty()) {
      std::fprintf(stderr, "orvalis-job: %s\n", refusal.c_str());
      return 1;
    }
  }
  ConverterHandle job = ConverterCreate();
  if (job == nullptr) {
    std::fputs("orvalis-job: out of memory\n", stderr);
    return 1;
  }
  for (const Setting& s : settings)
    ConverterSetOption(job, s.option, s.text.empty() ? nullptr : s.text.c_str(), s.value);
  for (const std::string& input : inputs) ConverterAddFile(job, input.c_str());
  ConverterRun(job);
  // A merged TIFF is put in place here, so that a failure of its last write is reported too.
  ConverterFinish(job);
  const std::string error = ConverterGetError(job);
  ConverterDestroy(job);
  if (!error.empty()) {
    std::fprintf(stderr, "orvalis-job: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
