// The command line's options, sizes and printable names.

#include "cli/cli_options.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "cli/console_view.h"

namespace orvalis {
namespace {

std::optional<CliOptions> Parse(std::vector<std::string> args, std::string* error) {
  args.insert(args.begin(), "orvalis-cli");
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  return ParseCommandLine(static_cast<int>(argv.size()), argv.data(), error);
}

TEST(CliOptions, GnuFormsGiveTheSameOptions) {
  struct Case {
    std::vector<std::string> args;
    int type, xdpi, ydpi;
    bool quiet, merge;
    std::vector<std::string> paths;
  };
  const Case cases[] = {
      {{"-f", "png", "a.ps"}, 3, 0, 0, false, false, {"a.ps"}},
      {{"-fpng", "a.ps"}, 3, 0, 0, false, false, {"a.ps"}},
      {{"--format=PNG", "a.ps"}, 3, 0, 0, false, false, {"a.ps"}},
      {{"--format", "png", "a.ps"}, 3, 0, 0, false, false, {"a.ps"}},
      {{"-qfpng", "a.ps"}, 3, 0, 0, true, false, {"a.ps"}},
      {{"-qf", "tif", "a.ps", "--merge"}, 1, 0, 0, true, true, {"a.ps"}},
      // The last of repeated options wins, and options apply in the order given.
      {{"-f", "png", "-f", "gif", "a.ps"}, 4, 0, 0, false, false, {"a.ps"}},
      {{"--dpi", "300", "--ydpi=150", "a.ps"}, 0, 300, 150, false, false, {"a.ps"}},
      {{"--ydpi=150", "--dpi", "300", "a.ps"}, 0, 300, 300, false, false, {"a.ps"}},
      // After "--" every word is a path, "-" too.
      {{"-fjpg", "--", "-q", "--merge", "-"}, 0, 0, 0, false, false, {"-q", "--merge", "-"}},
      {{"a.ps", "-q", "b.ps"}, 0, 0, 0, true, false, {"a.ps", "b.ps"}},
  };
  for (const Case& c : cases) {
    std::string error;
    const std::optional<CliOptions> o = Parse(c.args, &error);
    ASSERT_TRUE(o) << c.args[0] << ": " << error;
    EXPECT_EQ(o->type.value_or(0), c.type) << c.args[0];
    EXPECT_EQ(o->xdpi.value_or(0), c.xdpi) << c.args[0];
    EXPECT_EQ(o->ydpi.value_or(0), c.ydpi) << c.args[0];
    EXPECT_EQ(o->quiet, c.quiet) << c.args[0];
    EXPECT_EQ(o->merge.value_or(0) == 1, c.merge) << c.args[0];
    EXPECT_EQ(o->paths, c.paths) << c.args[0];
  }
}

// A --compression given alone keeps a stored TIFF colour it writes and otherwise takes its own,
// as the settings page does; for another format it changes no colour. The stored settings are
// ConversionSettings' defaults (TIFF with JPEG inside, True Color) but for what a row sets.
TEST(CliOptions, CompressionGivenAloneTakesAColourItWrites) {
  struct Case {
    std::vector<std::string> args;
    const char* stored;  // "tifc"
    const char* after;
  };
  const Case cases[] = {
      {{"-f", "tif", "--compression", "fax3"}, "256 Color", "B&W"},
      {{"-f", "tif", "--compression", "rle"}, "True Color", "B&W"},
      {{"-f", "tif", "--compression", "jpeg"}, "256 Grays", "256 Grays"},
      {{"-f", "tif", "--compression", "jpeg"}, "16 Color", "True Color"},
      {{"-f", "tif", "--compression", "packbits"}, "B&W", "True Color"},
      {{"-f", "tif", "--compression", "lzw"}, "16 Grays", "16 Grays"},
      // Not a TIFF: the compression is not used, the colour stays.
      {{"-f", "png", "--compression", "fax4"}, "256 Color", "256 Color"},
      // Given in another case, the colour is stored by its name.
      {{"-f", "tif", "--compression", "FAX4", "--color", "b&w"}, "True Color", "B&W"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back("a.ps");
    std::string error;
    const std::optional<CliOptions> o = Parse(args, &error);
    ASSERT_TRUE(o) << error;
    ConversionSettings settings;
    settings.tifc = c.stored;
    settings.compress = 3;
    ASSERT_TRUE(ApplyOverrides(*o, settings, &error)) << error;
    EXPECT_EQ(settings.tifc, c.after) << c.args[3] << " over " << c.stored;
  }
}

TEST(CliOptions, BatchOptionsAndTheirErrors) {
  std::string error;
  const auto o = Parse({"--report=r.jsonl", "--resume", "old.jsonl", "--files-from", "-", "--null",
                        "--skip-existing", "--memory", "512M", "--timeout=30"},
                       &error);
  ASSERT_TRUE(o) << error;
  EXPECT_EQ(o->report, "r.jsonl");
  EXPECT_EQ(o->resume, "old.jsonl");
  EXPECT_EQ(o->filesFrom, "-");
  EXPECT_TRUE(o->nullSeparated);
  EXPECT_TRUE(o->skipExisting);
  EXPECT_EQ(o->memoryBytes, 512ull << 20);
  EXPECT_EQ(o->timeoutSeconds, 30);
  EXPECT_TRUE(o->paths.empty());

  const std::pair<std::vector<std::string>, std::string> errors[] = {
      {{"--null", "a.ps"}, "--null applies to the list of --files-from"},
      {{"--report", "", "a.ps"}, "--report needs a value"},
      {{"a.ps", "--resume"}, "--resume needs a value"},
      {{"a.ps", "-f"}, "--format needs a value"},
      {{"--merge=1", "a.ps"}, "--merge takes no value"},
      {{"--memory", "lots", "a.ps"}, "--memory needs a size such as 4G"},
      {{"-qx", "a.ps"}, "unknown option -x"},
      {{"--frobnicate=3", "a.ps"}, "unknown option --frobnicate=3"},
      {{"--skip-existing"}, "no document (PostScript, EPS or PDF) or folder given"},
  };
  for (const auto& [args, says] : errors) {
    error.clear();
    EXPECT_FALSE(Parse(args, &error)) << says;
    EXPECT_NE(error.find(says), std::string::npos) << error;
  }
}

// A value given as the next word is taken whatever it is: one that begins with '-' is an
// option the user meant, unless joined. Options naming a file the run reads or appends to are
// given once; the others may be repeated, the later value counting (see
// GnuFormsGiveTheSameOptions).
TEST(CliOptions, OptionsDoNotSwallowOptions) {
  const std::pair<std::vector<std::string>, std::string> refused[] = {
      {{"-o", "-q", "a.ps"},
       "-o needs a value, and '-q' is taken for an option; a value that "
       "begins with '-' must be joined: --output=-q"},
      {{"--output", "--beside", "a.ps"}, "--output needs a value, and '--beside'"},
      {{"--report", "--resume", "r", "a.ps"}, "--report needs a value, and '--resume'"},
      {{"-qo", "-x", "a.ps"}, "-o needs a value, and '-x'"},
      {{"-f", "--", "a.ps"}, "-f needs a value, and '--'"},
      {{"--files-from", "-z", "a.ps"}, "--files-from needs a value, and '-z'"},
      {{"--angle", "-90", "a.ps"}, "--angle=-90"},
      {{"--files-from", "a", "--files-from", "b"}, "--files-from may be given only once"},
      {{"--report", "a", "--report=b", "c.ps"}, "--report may be given only once"},
      {{"--resume", "a", "--resume", "a", "c.ps"}, "--resume may be given only once"},
      {{"--profile", "a", "--profile", "b", "c.ps"}, "--profile may be given only once"},
  };
  for (const auto& [args, says] : refused) {
    std::string error;
    EXPECT_FALSE(Parse(args, &error)) << says;
    EXPECT_NE(error.find(says), std::string::npos) << error;
  }
  struct Accepted {
    std::vector<std::string> args;
    std::string output, filesFrom;
    std::vector<std::string> paths;
  };
  const Accepted accepted[] = {
      {{"--output=-q", "a.ps"}, "-q", "", {"a.ps"}},
      {{"-o-q", "a.ps"}, "-q", "", {"a.ps"}},
      {{"-qo-x", "a.ps"}, "-x", "", {"a.ps"}},
      {{"--files-from", "-", "-o", "out"}, "out", "-", {}},
      {{"-o", "out", "--", "-q.ps"}, "out", "", {"-q.ps"}},
      {{"-o", "a", "-o", "b", "c.ps"}, "b", "", {"c.ps"}},
  };
  for (const Accepted& c : accepted) {
    std::string error;
    const std::optional<CliOptions> o = Parse(c.args, &error);
    ASSERT_TRUE(o) << c.args[0] << ": " << error;
    EXPECT_EQ(o->output.value_or(""), c.output) << c.args[0];
    EXPECT_EQ(o->filesFrom, c.filesFrom) << c.args[0];
    EXPECT_EQ(o->paths, c.paths) << c.args[0];
  }
}

// Below what one interpreter needs every file would fail, and a size past 64 bits must not wrap.
TEST(CliOptions, MemoryBounds) {
  const std::pair<const char*, std::string> cases[] = {
      {"256M", ""},
      {"268435456", ""},
      {"16T", ""},
      {"255M", "--memory needs at least 256M"},
      {"4", "--memory needs at least 256M"},
      {"16777216T", "--memory 16777216T is more than 64 bits can count"},
      {"99999999999999999999", "is more than 64 bits can count"},
      {"lots", "--memory needs a size such as"},
  };
  for (const auto& [size, says] : cases) {
    std::string error;
    const std::optional<CliOptions> o = Parse({"--memory", size, "a.ps"}, &error);
    EXPECT_EQ(o.has_value(), says.empty()) << size << ": " << error;
    if (o) {
      EXPECT_EQ(o->memoryBytes, *ParseByteSize(size)) << size;
    }
    EXPECT_NE(error.find(says), std::string::npos) << size << ": " << error;
  }
}

TEST(CliOptions, ByteSizes) {
  const std::pair<const char*, std::optional<uint64_t>> cases[] = {
      {"1073741824", 1073741824ull},
      {"4G", 4ull << 30},
      {"4g", 4ull << 30},
      {"4GiB", 4ull << 30},
      {"512M", 512ull << 20},
      {"512MB", 512ull << 20},
      {"64k", 64ull << 10},
      {"2T", 2ull << 40},
      {"0", std::nullopt},
      {"", std::nullopt},
      {"G", std::nullopt},
      {"-1G", std::nullopt},
      {"1.5G", std::nullopt},
      {"4 G", std::nullopt},
      {"4X", std::nullopt},
      {"4GG", std::nullopt},
      {"16777216T", std::nullopt},  // 2^64 bytes does not fit
      {"99999999999999999999", std::nullopt},
  };
  for (const auto& [text, bytes] : cases) EXPECT_EQ(ParseByteSize(text), bytes) << text;
  for (const char* text : {"16777216T", "99999999999999999999", "18446744073709551616"}) {
    bool tooLarge = false;
    EXPECT_FALSE(ParseByteSize(text, &tooLarge));
    EXPECT_TRUE(tooLarge) << text;
  }
}

TEST(ConsoleView, ControlAndDirectionCharactersAreShownAsQuestionMarks) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain r\xC3\xA9sum\xC3\xA9.ps", "plain r\xC3\xA9sum\xC3\xA9.ps"},  // UTF-8 kept
      {"tab\there\n.ps", "tab?here?.ps"},                                  // C0
      {"del\x7F.ps", "del?.ps"},
      {"c1-byte\x85\x9B.ps", "c1-byte??.ps"},          // C1 as bytes (not UTF-8)
      {"c1-utf8\xC2\x85\xC2\x9B.ps", "c1-utf8??.ps"},  // U+0085, U+009B
      {"nbsp\xC2\xA0.ps", "nbsp\xC2\xA0.ps"},          // U+00A0 is no control
      {"latin1-\xE9t\xE9.ps", "latin1-\xE9t\xE9.ps"},  // not UTF-8, but no control either
      {"evil\xE2\x80\xAEsp.exe", "evil?sp.exe"},       // U+202E right-to-left override
      {"\xE2\x80\xAA\xE2\x80\xAC.ps", "??.ps"},        // U+202A, U+202C
      {"\xE2\x81\xA6x\xE2\x81\xA9.ps", "?x?.ps"},      // U+2066, U+2069 isolates
      {"\xE2\x80\xAF\xE2\x81\xA5.ps", "\xE2\x80\xAF\xE2\x81\xA5.ps"},  // neighbours kept
      {"cut\xE2\x80", "cut\xE2?"},                                     // a sequence cut short
      {"overlong\xC0\x85", "overlong\xC0?"},
  };
  for (const auto& [name, shown] : cases) EXPECT_EQ(PrintablePath(name), shown) << shown;
}

}  // namespace
}  // namespace orvalis
