// The command line's parts that need no renderer: option forms, sizes, printable names, the
// settings digest, report lines and path lists.

#include "cli/cli_options.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "cli/console_view.h"
#include "cli/run_report.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"

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
      {{"--memory", "4", "a.ps"}, "--memory needs a size of at least 1M"},
      {{"--memory", "lots", "a.ps"}, "--memory needs a size"},
      {{"-qx", "a.ps"}, "unknown option -x"},
      {{"--frobnicate=3", "a.ps"}, "unknown option --frobnicate=3"},
      {{"--skip-existing"}, "no PostScript file or folder given"},
  };
  for (const auto& [args, says] : errors) {
    error.clear();
    EXPECT_FALSE(Parse(args, &error)) << says;
    EXPECT_NE(error.find(says), std::string::npos) << error;
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

TEST(RunReport, Fnv1aKnownVectors) {
  EXPECT_EQ(Fnv1a64(""), 0xcbf29ce484222325ull);
  EXPECT_EQ(Fnv1a64("a"), 0xaf63dc4c8601ec8cull);
  EXPECT_EQ(Fnv1a64("foobar"), 0x85944171f73967e8ull);
}

TEST(RunReport, DigestFollowsTheSettingsThatChangeTheImages) {
  ConversionSettings base;
  base.type = 3;  // PNG
  base.mode = 1;
  base.output = "/srv/out/";
  base.xdpi = base.ydpi = 150;
  base.pngc = "True Color";
  base.JQu = base.TJQu = 75;
  const std::string digest = SettingsDigest(base);
  EXPECT_EQ(digest.size(), 16u);
  struct Change {
    const char* what;
    void (*apply)(ConversionSettings&);
    bool changes;
  };
  const Change changes[] = {
      {"format", [](ConversionSettings& s) { s.type = 0; }, true},
      {"folder", [](ConversionSettings& s) { s.output = "/srv/other/"; }, true},
      {"beside", [](ConversionSettings& s) { s.mode = 0; }, true},
      {"each", [](ConversionSettings& s) { s.each = 1; }, true},
      {"dpi", [](ConversionSettings& s) { s.ydpi = 300; }, true},
      {"angle", [](ConversionSettings& s) { s.angle = 90; }, true},
      {"size", [](ConversionSettings& s) { s.resize = 1, s.width = 10, s.height = 20; }, true},
      {"colour", [](ConversionSettings& s) { s.pngc = "256 Grays"; }, true},
      {"colour case", [](ConversionSettings& s) { s.pngc = "true color"; }, false},
      {"size unused", [](ConversionSettings& s) { s.width = 10; }, false},
      {"JPEG quality of PNG", [](ConversionSettings& s) { s.JQu = 10; }, false},
      {"GIF colour of PNG", [](ConversionSettings& s) { s.gifc = "B&W"; }, false},
      {"merge of PNG", [](ConversionSettings& s) { s.multpage = 1; }, false},
      {"folder slash", [](ConversionSettings& s) { s.output = "/srv/out"; }, false},
  };
  for (const Change& change : changes) {
    ConversionSettings changed = base;
    change.apply(changed);
    EXPECT_EQ(SettingsDigest(changed) != digest, change.changes) << change.what;
  }
  // TIFF: compression, merge and the quality of JPEG inside it.
  base.type = 1;
  base.compress = 1;  // LZW
  const std::string tiff = SettingsDigest(base);
  ConversionSettings changed = base;
  changed.TJQu = 30;
  EXPECT_EQ(SettingsDigest(changed), tiff) << "quality unused by LZW";
  changed.compress = 3;  // JPEG
  const std::string jpegInTiff = SettingsDigest(changed);
  EXPECT_NE(jpegInTiff, tiff);
  changed.TJQu = 90;
  EXPECT_NE(SettingsDigest(changed), jpegInTiff);
  changed = base;
  changed.multpage = 1;
  EXPECT_NE(SettingsDigest(changed), tiff);
}

// Python's json reads what we write, names that are not UTF-8 included, and we read it back.
TEST(RunReport, LinesParseWithPythonAndBack) {
  const ReportRecord records[] = {
      {"/a/my \"report\".ps",
       SourceStamp{1234, "2026-01-02T03:04:05.000000007Z"},
       "Succeed",
       "",
       {"/o/my \"report\"_001.png", "/o/my \"report\"_002.png"},
       2,
       1.25,
       "0123456789abcdef"},
      {"/a/line\nbreak\t\xC3\xA9.ps",
       std::nullopt,
       "Failed",
       "Error: /undefined\nin foo",
       {},
       0,
       0.5,
       "0123456789abcdef"},
      {"/a/latin1-\xE9.ps", SourceStamp{1, "x"}, "Failed", "bad \xFF byte", {}, 0, 0, "d"},
  };
  test::TempDir dir;
  std::string lines;
  for (const ReportRecord& record : records) {
    const std::string line = ReportLine(record);
    ASSERT_EQ(line.back(), '\n');
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
    lines += line;
  }
  test::WriteFileText(dir.Path() / "r.jsonl", lines);
  const test::CommandResult python = test::RunCommand(
      {"python3", "-c",
       "import json,sys\n"
       "for line in open(sys.argv[1], encoding='utf-8'):\n"
       "  r = json.loads(line)\n"
       "  print(repr((r['source'], r['size'], r['mtime'], r['status'], r['reason'],"
       " r['outputs'], r['pages'], r['seconds'], r['settings'])))\n",
       dir.File("r.jsonl")});
  ASSERT_EQ(python.exitCode, 0) << python.err;
  EXPECT_EQ(python.out,
            "('/a/my \"report\".ps', 1234, '2026-01-02T03:04:05.000000007Z', 'Succeed', '', "
            "['/o/my \"report\"_001.png', '/o/my \"report\"_002.png'], 2, 1.25, "
            "'0123456789abcdef')\n"
            "('/a/line\\nbreak\\té.ps', None, None, 'Failed', 'Error: /undefined\\nin foo', [], "
            "0, 0.5, '0123456789abcdef')\n"
            "('/a/latin1-\xEF\xBF\xBD.ps', 1, 'x', 'Failed', 'bad \xEF\xBF\xBD byte', [], 0, 0.0, "
            "'d')\n");

  const std::optional<ReportRecord> back = ParseReportLine(ReportLine(records[0]));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->source, records[0].source);
  EXPECT_EQ(back->stamp, records[0].stamp);
  EXPECT_EQ(back->outputs, records[0].outputs);
  EXPECT_EQ(back->pages, 2);
  for (const char* broken : {"", "{", "[]", "{\"source\":1}", "{\"source\":\"a\"}",
                             R"({"source":"a","status":"Succeed","settings":"d","outputs":[1]})"})
    EXPECT_FALSE(ParseReportLine(broken)) << broken;
}

TEST(PathList, LinesAndNulSeparatedNames) {
  test::TempDir dir;
  test::WriteFileText(dir.Path() / "lines", "a.ps\n\nwith space.ps\r\n  lead.ps\nlast.ps");
  std::string error;
  const auto lines = ReadPathList(dir.File("lines"), false, &error);
  ASSERT_TRUE(lines) << error;
  EXPECT_EQ(*lines, (std::vector<std::string>{"a.ps", "with space.ps", "  lead.ps", "last.ps"}));
  const char nulList[] = "line\nbreak.ps\0\0tail\r.ps\0";
  test::WriteFileText(dir.Path() / "nul", std::string(nulList, sizeof nulList - 1));
  const auto nul = ReadPathList(dir.File("nul"), true, &error);
  ASSERT_TRUE(nul) << error;
  EXPECT_EQ(*nul, (std::vector<std::string>{"line\nbreak.ps", "tail\r.ps"}));
  EXPECT_FALSE(ReadPathList(dir.File("missing"), false, &error));
  EXPECT_NE(error.find("cannot read the list " + dir.File("missing")), std::string::npos);
  EXPECT_FALSE(ReadPathList(dir.File(""), false, &error));
  EXPECT_NE(error.find("it is a folder"), std::string::npos);
}

}  // namespace
}  // namespace orvalis
