// orvalis-cli end to end, with the real Ghostscript behind the renderer plug-in.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "cli/console_view.h"
#include "tests/support/oracle.h"
#include "tests/support/stateful_documents.h"
#include "tests/support/processes.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace orvalis {
namespace {

namespace fs = std::filesystem;

// How long a test waits for something it needs to happen before it gives up: only a guard
// against a hang, long enough for the busiest machine. Verdicts never depend on it.
constexpr auto kHangGuard = std::chrono::minutes(3);

std::string CliPath() {
  return std::string(std::getenv("ORVALIS_BIN_DIR")) + "/orvalis-cli";
}

// Pages that differ in colour, so their order shows.
std::string ThreePages() {
  return "%!PS\n/Helvetica findfont 24 scalefont setfont\n"
         "1 1 3 { /n exch def n 0.3 mul 0 0 setrgbcolor 100 100 200 200 rectfill\n"
         "0 setgray 72 700 moveto (Page ) show n 3 string cvs show showpage } for\n";
}

class Cli : public ::testing::Test {
 protected:
  // The settings file every run names: empty, so the built-in defaults apply.
  Cli() { test::WriteFileText(dir.Path() / "p.ini", ""); }
  std::string Write(const std::string& relative, const std::string& text) {
    const fs::path path = dir.Path() / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }
  // Runs orvalis-cli with a settings file of its own and the page folders under our tmp.
  test::CommandResult Run(std::vector<std::string> args) {
    args.insert(args.begin(),
                {"env", "TMPDIR=" + Tmp(), CliPath(), "--profile", dir.File("p.ini")});
    return test::RunCommand(args);
  }
  std::string Tmp() {
    fs::create_directories(dir.File("tmp"));
    return dir.File("tmp");
  }
  bool TmpIsEmpty() { return fs::is_empty(Tmp()); }
  test::TempDir dir;
};

TEST_F(Cli, UsageErrorsExitWithTwoAndAUsageLine) {
  const std::string doc = Write("doc.ps", ThreePages());
  const std::string text = Write("notes.txt", "x");
  const std::string list = Write("list.txt", doc + "\n");
  Write("d/a.ps", ThreePages());
  const std::string nulInLine = Write("nul.txt", dir.File("d/a.ps") + '\0' + doc + "\n");
  struct Case {
    std::vector<std::string> args;
    const char* says;
  };
  const Case cases[] = {
      {{}, "no document (PostScript, EPS or PDF) or folder given"},
      {{"--frobnicate", doc}, "unknown option --frobnicate"},
      {{"-f", "webp", doc}, "unknown format"},
      {{"--dpi", "50", doc}, "72 to 600"},
      {{"--angle", "45", doc}, "0, 90, 180 or 270"},
      {{"--resize", "100", doc}, "WIDTHxHEIGHT"},
      {{"-f", "gif", "--color", "True Color", doc},
       "256 Color, 256 Grays, 16 Color, 16 Grays, B&W"},
      {{"-f", "emf", "--color", "b&w", doc}, "no colour choice"},
      {{"--compression", "zip", doc}, "unknown compression"},
      {{"--jobs", "0", doc}, "--jobs"},
      {{"--colour", "B&W", doc}, "unknown option --colour"},
      {{"-h", doc}, "unknown option -h"},
      {{text}, "not a document to convert"},
      {{dir.File("missing.ps")}, "no such file"},
      {{dir.File("loop.ps")}, "Too many levels of symbolic links"},
      // An option is not the value of the one before it, not even the folder of -o.
      {{"-o", "-q", doc}, "a value that begins with '-' must be joined: --output=-q"},
      {{"--output", "--beside", doc}, "--output=--beside"},
      {{"--files-from", list, "--files-from", list, doc}, "--files-from may be given only once"},
      {{"--memory", "128M", doc}, "--memory needs at least 256M"},
      {{"--max-unpacked", "0", doc}, "--max-unpacked needs a size"},
      {{"--max-unpacked", "lots", doc}, "--max-unpacked needs a size"},
      {{"--memory", "16777216T", doc}, "more than 64 bits can count"},
      // Lists that never end, and an entry that would convert one file under another's name.
      {{"--files-from", "/dev/zero"}, "entry 1 is longer than 4095 bytes"},
      {{"--null", "--files-from", "/dev/zero"}, "larger than the 1 GiB a list may hold"},
      {{"--files-from", nulInLine}, "line 1 holds a NUL byte"},
  };
  fs::create_symlink("loop.ps", dir.Path() / "loop.ps");
  for (const Case& c : cases) {
    const test::CommandResult result = Run(c.args);
    EXPECT_EQ(result.exitCode, 2) << c.says;
    EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("usage: orvalis-cli"), std::string::npos);
  }
  for (const char* made : {"-q", "--beside", "d/a_001.jpg", "doc_001.jpg"})
    EXPECT_FALSE(fs::exists(dir.File(made)) || fs::exists(made)) << made;
  // A format index out of range in the profile means JPEG, and the message says so.
  Write("p.ini", "[Set]\ntype=20\n");
  const test::CommandResult jpeg = Run({"--color", "16 Color", doc});
  EXPECT_EQ(jpeg.exitCode, 2);
  EXPECT_NE(jpeg.err.find("not offered for jpg; choose one of: True Color, 256 Grays"),
            std::string::npos)
      << jpeg.err;
  fs::remove(dir.File("p.ini"));
  EXPECT_EQ(Run({"--help"}).exitCode, 0);
  const test::CommandResult version = Run({"--version"});
  EXPECT_NE(version.out.find("orvalis-cli"), std::string::npos);
  // Which protections hold the interpreter, as the renderer finds the kernel.
  EXPECT_NE(version.out.find("\ninterpreter protections: active: -dSAFER, "), std::string::npos)
      << version.out;
}

TEST_F(Cli, ThreePagesBesideTheSourceIntoAFolderAndPerFile) {
  const std::string doc = Write("docs/report.ps", ThreePages());
  const test::CommandResult beside = Run({"-f", "jpg", "--beside", "--dpi", "72", doc});
  ASSERT_EQ(beside.exitCode, 0) << beside.out << beside.err;
  EXPECT_NE(beside.out.find("Succeed"), std::string::npos);
  for (const char* name : {"report_001.jpg", "report_002.jpg", "report_003.jpg"}) {
    const auto jpg = test::PillowDecode((dir.Path() / "docs" / name).string());
    ASSERT_TRUE(jpg) << name;
    EXPECT_EQ(jpg->width, 595);
  }
  const test::CommandResult each =
      Run({"-f", "png", "-o", dir.File("out"), "--each", "--dpi", "72", dir.File("docs")});
  ASSERT_EQ(each.exitCode, 0) << each.out << each.err;
  EXPECT_TRUE(fs::exists(dir.File("out/report/report_003.png")));
  EXPECT_TRUE(TmpIsEmpty());
}

// "...ps" and "..ps" have the base names ".." and ".": their sub-folders must still be their
// own, inside the destination.
TEST_F(Cli, EachFileFolderStaysInsideTheDestination) {
  for (const char* name : {"..ps", "...ps"}) Write(std::string("dots/") + name, ThreePages());
  const std::string out = dir.File("dest/inner");
  const test::CommandResult run =
      Run({"-f", "png", "-o", out, "--each", "--dpi", "72", dir.File("dots")});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_TRUE(fs::exists(out + "/..ps/._003.png")) << run.out;
  EXPECT_TRUE(fs::exists(out + "/...ps/.._003.png")) << run.out;
  size_t written = 0;
  for (const auto& entry : fs::recursive_directory_iterator(dir.File("dest")))
    written += entry.is_regular_file() ? 1 : 0;
  EXPECT_EQ(written, 6u);
  EXPECT_EQ(std::distance(fs::directory_iterator(out), {}), 2);
}

TEST_F(Cli, MergedTiffKeepsPageOrder) {
  const std::string doc = Write("report.ps", ThreePages());
  const test::CommandResult run = Run(
      {"-f", "tif", "--merge", "--compression", "lzw", "-o", dir.File("out"), "--dpi", "72", doc});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  for (int page = 0; page < 3; ++page) {
    const auto tif = test::PillowDecode(dir.File("out/report.tif"), page);
    ASSERT_TRUE(tif);
    EXPECT_EQ(tif->frames, 3);
    // The square's red grows with the page number.
    EXPECT_NEAR(tif->At(200, 842 - 200)[0], (page + 1) * 0.3 * 255, 2) << page;
  }
}

// The files of a folder, sorted by name.
std::vector<std::string> Listing(const std::string& folder) {
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(folder)) files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

// One interpreter draws each file at every --jobs: documents whose pages depend on the whole
// run (copies, page counters brought back by restore, a clock seed) give the pages of one run,
// named 1..N in its order, one file per run and all of them merged in one run.
TEST_F(Cli, StatefulDocumentsGiveThePagesOfOneRunAtEveryJobCount) {
  fs::create_directories(dir.File("docs"));
  std::string error;
  const std::vector<test::StatefulDocument> documents =
      test::WriteStatefulDocuments(dir.File("docs"), &error);
  ASSERT_FALSE(documents.empty()) << error;
  for (const std::string jobs : {"1", "2", "4"}) {
    for (const test::StatefulDocument& document : documents) {
      SCOPED_TRACE("--jobs " + jobs + ", " + document.name);
      const std::string out = dir.File("jobs" + jobs + "/" + document.stem) + "/";
      const test::CommandResult run =
          Run({"-q", "-f", "png", "-o", out, "--dpi", "72", "--jobs", jobs, document.path});
      ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
      const std::vector<std::string> images = test::ImagesOf(document, out, ".png");
      EXPECT_EQ(Listing(out), images);
      EXPECT_EQ(test::CheckImages(document, images), "");
    }
  }
  std::vector<std::string> merge = {"-q",    "-f", "tif",    "--merge", "-o", dir.File("merged"),
                                    "--dpi", "72", "--jobs", "4"};
  for (const test::StatefulDocument& document : documents) merge.push_back(document.path);
  const test::CommandResult merged = Run(merge);
  ASSERT_EQ(merged.exitCode, 0) << merged.out << merged.err;
  EXPECT_EQ(Listing(dir.File("merged")).size(), documents.size());
  for (const test::StatefulDocument& document : documents) {
    EXPECT_EQ(test::CheckImages(document, {dir.File("merged/" + document.stem + ".tif")}), "");
  }
  EXPECT_TRUE(TmpIsEmpty());
}

// An output disk that fills up fails the file with the disk named, page by page and merged
// (not merely "the rendering was stopped"), and leaves no half-written file on it.
TEST_F(Cli, AFullOutputDiskIsNamed) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
  // Letter pages at 100 dpi: 2.8 MB each uncompressed; the disk takes two at the most.
  const std::string doc = Write(
      "many.ps", "%!PS\n1 1 6 { 40 mul 255 div setgray 0 0 612 792 rectfill showpage } for\n");
  const std::string small = dir.File("small");
  fs::create_directories(small);
  const struct {
    const char* name;
    std::vector<std::string> format;
    const char* kept;  // the images a full disk may leave, as a pattern
  } cases[] = {
      {"per page", {"-f", "bmp"}, "many_00[0-9][.]bmp"},
      {"merged", {"-f", "tif", "--merge", "--compression", "uncompressed"}, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // A tmpfs of the test's own, in a mount namespace that ends with the command; what is left
    // on the disk is listed after the marker line.
    const std::string script =
        "mount -t tmpfs -o size=6m tmpfs \"$0\" || exit 99; \"$@\"; status=$?; "
        "echo '== left =='; ls -A \"$0\"; exit $status";
    std::vector<std::string> args = {"unshare", "-m", "sh", "-c", script, small};
    const std::vector<std::string> convert = {"env",       "TMPDIR=" + Tmp(), CliPath(),
                                              "--profile", dir.File("p.ini"), "-o",
                                              small,       "--dpi",           "100"};
    args.insert(args.end(), convert.begin(), convert.end());
    args.insert(args.end(), c.format.begin(), c.format.end());
    args.push_back(doc);
    const test::CommandResult run = test::RunCommand(args);
    ASSERT_EQ(run.exitCode, 1) << run.out << run.err;
    const std::string leftMarker = "== left ==\n";
    const size_t marker = run.out.find(leftMarker);
    ASSERT_NE(marker, std::string::npos) << run.out;
    const std::string said = run.out.substr(0, marker);
    EXPECT_NE(said.find("the disk holding " + small), std::string::npos) << said;
    EXPECT_EQ(said.find("rendering was stopped"), std::string::npos) << said;
    std::istringstream left(run.out.substr(marker + leftMarker.size()));
    for (std::string name; std::getline(left, name);) {
      EXPECT_TRUE(c.kept != nullptr && std::regex_match(name, std::regex(c.kept))) << name;
    }
    EXPECT_TRUE(TmpIsEmpty());
  }
}

// Pages are counted by what they take as PNG files, not by their pictures: three letter pages
// at 150 dpi (6 MB each as pictures, some 300 KB each as PNG files) fit a 3 MiB disk with its
// reserve kept. A disk too full for the first page still refuses it with the disk named, and
// keeps nothing of it.
TEST_F(Cli, ASmallDiskTakesThePagesThatFitIt) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
  const std::string doc = Write(
      "brochure.ps",
      "%!PS\n/Helvetica findfont 14 scalefont setfont\n"
      "1 1 3 { /n exch def\n"
      "  0 1 40 { /i exch def i 40 div n 3 div 0.5 setrgbcolor\n"
      "    30 i 18 mul add 30 i 15 mul add 200 120 rectfill } for\n"
      "  0 setgray 1 1 45 { /l exch def 72 760 l 16 mul sub moveto\n"
      "    (The quick brown fox jumps over the lazy dog, line ) show l 3 string cvs show } for\n"
      "  showpage } for\n");
  const std::string small = dir.File("small");
  fs::create_directories(small);
  const struct {
    const char* name;
    const char* filler;  // bytes written onto the disk before the run
    bool converts;
  } cases[] = {{"3 MiB free", "0", true}, {"140 KiB free", "3000000", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // What is left on the disk is listed after the marker line, and its images are kept for
    // the decoder.
    const std::string kept = dir.File(std::string("kept/") + c.filler);
    fs::create_directories(kept);
    const std::string script =
        "mount -t tmpfs -o size=3m tmpfs \"$0\" || exit 99; head -c \"$1\" /dev/zero > "
        "\"$0/filler\"; keep=$2; shift 2; \"$@\"; status=$?; echo '== left =='; ls -A \"$0\"; "
        "cp \"$0\"/*.png \"$keep\" 2>/dev/null; exit $status";
    const test::CommandResult run = test::RunCommand({"unshare",
                                                      "-m",
                                                      "sh",
                                                      "-c",
                                                      script,
                                                      small,
                                                      c.filler,
                                                      kept,
                                                      "env",
                                                      "TMPDIR=" + Tmp(),
                                                      CliPath(),
                                                      "--profile",
                                                      dir.File("p.ini"),
                                                      "-o",
                                                      small,
                                                      "-f",
                                                      "png",
                                                      "--dpi",
                                                      "150",
                                                      doc});
    const std::string leftMarker = "== left ==\n";
    const size_t marker = run.out.find(leftMarker);
    ASSERT_NE(marker, std::string::npos) << run.out << run.err;
    const std::string said = run.out.substr(0, marker);
    const std::string left = run.out.substr(marker + leftMarker.size());
    for (const auto& image : fs::directory_iterator(kept))
      EXPECT_TRUE(test::PillowDecode(image.path().string())) << image.path();
    if (c.converts) {
      EXPECT_EQ(run.exitCode, 0) << said << run.err;
      EXPECT_EQ(left, "brochure_001.png\nbrochure_002.png\nbrochure_003.png\nfiller\n");
    } else {
      EXPECT_EQ(run.exitCode, 1) << said << run.err;
      // Which page is refused first depends on which finished first.
      EXPECT_NE(said.find("Failed   " + doc + ": Cannot write "), std::string::npos) << said;
      EXPECT_NE(said.find("the disk holding " + small), std::string::npos) << said;
      EXPECT_NE(said.find("is nearly full"), std::string::npos) << said;
      EXPECT_EQ(left, "filler\n");
    }
    EXPECT_TRUE(TmpIsEmpty());
  }
}

// A file the run cannot read is named as the user gave it, on the console and in the report,
// also where the interpreter was to read it through a link (a name that is not plain ASCII) or
// an unpacked copy.
TEST_F(Cli, UnreadableFilesAreNamedAsGiven) {
  const std::string report = dir.File("report.jsonl");
  // 300 KB of comments once unpacked.
  std::string big = "%!PS\n";
  for (int line = 0; line < 5000; ++line) big += "% " + std::string(60, 'x') + "\n";
  big += "showpage\n";
  Write("big.ps", big);
  ASSERT_EQ(test::RunCommand({"gzip", "-k", dir.File("big.ps")}).exitCode, 0);
  // Root reads any file: the run is denied that power.
  const std::vector<std::string> asUser =
      ::geteuid() == 0
          ? std::vector<std::string>{"setpriv", "--bounding-set", "-dac_override,-dac_read_search"}
          : std::vector<std::string>{};
  const std::vector<std::string> smallFiles = {"sh", "-c",
                                               "trap '' XFSZ; ulimit -f 64; exec \"$@\"", "sh"};
  const struct {
    const char* name;
    std::vector<std::string> wrapper;
    const char* says;  // after "<source>: "
  } cases[] = {
      {"unreadable.ps", asUser, "cannot open {source}: Permission denied"},
      {"unr\xc3\xa9"
       "adable.ps",
       asUser, "cannot open {source}: Permission denied"},
      {"copy\xc3\xa9.ps.gz", smallFiles,
       "cannot write the unpacked copy of {source}: File too large"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string source = dir.File(c.name);
    if (std::string(c.name).ends_with(".gz")) {
      fs::copy_file(dir.File("big.ps.gz"), source);
    } else {
      Write(c.name, ThreePages());
      fs::permissions(source, fs::perms::none);
    }
    std::vector<std::string> args = c.wrapper;
    for (const std::string& word : {std::string("env"), "TMPDIR=" + Tmp(), CliPath(),
                                    std::string("--profile"), dir.File("p.ini"), std::string("-o"),
                                    dir.File("out"), std::string("--report"), report, source})
      args.push_back(word);
    const test::CommandResult run = test::RunCommand(args);
    fs::permissions(source, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    std::string says = c.says;
    says.replace(says.find("{source}"), 8, source);
    EXPECT_NE(run.out.find("Failed   " + source + ": " + says), std::string::npos) << run.out;
    const test::CommandResult reasons = test::RunCommand(
        {"python3", "-c",
         "import json, sys\n"
         "print(json.loads(open(sys.argv[1], 'rb').read().splitlines()[-1])['reason'])",
         report});
    EXPECT_EQ(reasons.out, says + "\n") << reasons.err;
    EXPECT_TRUE(TmpIsEmpty());
  }
}

TEST_F(Cli, EveryFormatOnce) {
  const std::string doc = Write("report.ps", ThreePages());
  struct Format {
    const char* name;
    const char* pillowFormat;  // nullptr: not a Pillow format
  };
  const Format formats[] = {{"jpg", "JPEG"}, {"tif", "TIFF"},     {"bmp", "BMP"},
                            {"png", "PNG"},  {"gif", "GIF"},      {"pcx", "PCX"},
                            {"tga", "TGA"},  {"jp2", "JPEG2000"}, {"jpc", "JPEG2000"},
                            {"ras", "SUN"},  {"wmf", nullptr},    {"emf", nullptr}};
  for (const Format& f : formats) {
    const std::string out = dir.File(std::string("out-") + f.name);
    const test::CommandResult run = Run({"-f", f.name, "-o", out, "--dpi", "72", doc});
    ASSERT_EQ(run.exitCode, 0) << f.name << ": " << run.out << run.err;
    const std::string first = out + "/report_001." + f.name;
    ASSERT_TRUE(fs::exists(first)) << first;
    if (f.pillowFormat != nullptr) {
      const auto image = test::PillowDecode(first);
      ASSERT_TRUE(image) << first;
      EXPECT_EQ(image->format, f.pillowFormat);
      EXPECT_EQ(image->width, 595) << f.name;
    }
  }
}

// A small page of four colours, quick to draw.
constexpr char kColourPage[] =
    "%!PS\n<< /PageSize [144 108] >> setpagedevice\n"
    "1 0 0 setrgbcolor 0 0 72 54 rectfill 0 0.5 1 setrgbcolor 72 0 72 54 rectfill\n"
    "0.2 0.8 0.2 setrgbcolor 0 54 72 54 rectfill 0 setgray 30 20 80 60 rectfill showpage\n";

// "Compression Scheme|Bits/Sample|Photometric Interpretation" as libtiff's tiffinfo reads them.
std::string TiffFields(const std::string& path) {
  const test::CommandResult info = test::RunCommand({"tiffinfo", path});
  std::string fields;
  for (const char* name :
       {"Compression Scheme: ", "Bits/Sample: ", "Photometric Interpretation: "}) {
    const size_t at = info.out.find(name);
    if (at == std::string::npos) return "no " + std::string(name) + "in " + info.out + info.err;
    const size_t begin = at + std::strlen(name);
    fields +=
        (fields.empty() ? "" : "|") + info.out.substr(begin, info.out.find('\n', begin) - begin);
  }
  return fields;
}

// The lines of stderr that say an option is not used or a colour goes with another compression.
std::vector<std::string> NoteLines(const std::string& err) {
  std::vector<std::string> notes;
  std::istringstream lines(err);
  for (std::string line; std::getline(lines, line);)
    if (line.find(" is not used: ") != std::string::npos ||
        line.find(" compression of the settings does not write it") != std::string::npos)
      notes.push_back(line);
  return notes;
}

// Every compression at every colour, as --help and the manual list them: what tiffinfo reads
// from the page written, or, for a colour the compression does not write, a usage error that
// names the colours it writes and the compressions that write the colour.
TEST_F(Cli, EachTiffCompressionWritesItsColoursAndRefusesTheOthers) {
  const std::string doc = Write("page.ps", kColourPage);
  const char* const colours[] = {"True Color", "256 Color", "256 Grays",
                                 "16 Color",   "16 Grays",  "B&W"};
  const std::string rgb = "|8|RGB color", map8 = "|8|palette color (RGB from colormap)",
                    map4 = "|4|palette color (RGB from colormap)", white = "|1|min-is-white";
  struct Row {
    const char* compression;
    std::string wrote[6];  // per colour above; "" refused
    const char* writes;    // what the refusal says it writes
  };
  const Row rows[] = {
      {"uncompressed",
       {"None" + rgb, "None" + map8, "None" + map8, "None" + map4, "None" + map4, "None" + white},
       ""},
      {"lzw",
       {"LZW" + rgb, "LZW" + map8, "LZW" + map8, "LZW" + map4, "LZW" + map4, "LZW" + white},
       ""},
      {"rle", {"", "", "", "", "", "CCITT RLE" + white}, "B&W only"},
      {"jpeg", {"JPEG|8|YCbCr", "", "JPEG|8|min-is-black", "", "", ""}, "True Color or 256 Grays"},
      {"packbits",
       {"PackBits" + rgb, "PackBits" + map8, "PackBits" + map8, "PackBits" + map4,
        "PackBits" + map4, ""},
       "True Color, 256 Color, 256 Grays, 16 Color or 16 Grays"},
      {"fax3", {"", "", "", "", "", "CCITT Group 3" + white}, "B&W only"},
      {"fax4", {"", "", "", "", "", "CCITT Group 4" + white}, "B&W only"},
  };
  for (size_t column = 0; column < std::size(colours); ++column) {
    const std::string colour = colours[column];
    std::string writers;  // the compressions of the table that write the colour
    std::vector<std::string> names;
    for (const Row& row : rows)
      if (!row.wrote[column].empty()) names.push_back(row.compression);
    for (size_t i = 0; i < names.size(); ++i)
      writers += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string(row.compression) + " at " + colour);
      const std::string out =
          dir.File(std::string("c-") + row.compression + "-" + std::to_string(column));
      const test::CommandResult run = Run({"-q", "-f", "tif", "--compression", row.compression,
                                           "--color", colour, "--dpi", "72", "-o", out, doc});
      if (row.wrote[column].empty()) {
        EXPECT_EQ(run.exitCode, 2) << run.err;
        EXPECT_NE(
            run.err.find("--compression " + std::string(row.compression) + " writes " + row.writes +
                         ", not " + colour + "; " + colour + " is written by " + writers + "\n"),
            std::string::npos)
            << run.err;
        EXPECT_FALSE(fs::exists(out));
        continue;
      }
      ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
      EXPECT_EQ(TiffFields(out + "/page_001.tif"), row.wrote[column]);
      EXPECT_EQ(NoteLines(run.err), std::vector<std::string>{});
    }
  }
  // Given alone, a compression keeps a stored colour it writes, and otherwise selects its own
  // (B&W for rle and the fax codes); a colour given alone goes with the compression usual for
  // it when the stored one does not write it, and a line says so.
  struct Alone {
    const char* profile;
    std::vector<std::string> args;
    std::string wrote;
    std::vector<std::string> notes;
  };
  const Alone alone[] = {
      {"tifc=256 Color", {"--compression", "fax3"}, "CCITT Group 3" + white, {}},
      {"tifc=256 Color", {"--compression", "rle"}, "CCITT RLE" + white, {}},
      {"tifc=256 Color", {"--compression", "jpeg"}, "JPEG|8|YCbCr", {}},
      {"tifc=256 Color", {"--compression", "packbits"}, "PackBits" + map8, {}},
      {"tifc=256 Grays", {"--compression", "jpeg"}, "JPEG|8|min-is-black", {}},
      {"compress=3",
       {"--color", "B&W"},
       "CCITT Group 4" + white,
       {"orvalis-cli: B&W is written with fax4 compression: the jpeg compression of the settings "
        "does not write it"}},
      {"compress=6",
       {"--color", "16 Grays"},
       "LZW" + map4,
       {"orvalis-cli: 16 Grays is written with lzw compression: the fax4 compression of the "
        "settings does not write it"}},
      {"compress=6", {"--color", "B&W"}, "CCITT Group 4" + white, {}},
  };
  for (const Alone& a : alone) {
    SCOPED_TRACE(std::string(a.profile) + " " + a.args[0] + " " + a.args[1]);
    Write("p.ini", std::string("[Set]\n") + a.profile + "\n");
    const std::string out = dir.File("alone");
    fs::remove_all(out);
    std::vector<std::string> args = {"-f", "tif", "--dpi", "72", "-o", out, doc};
    args.insert(args.begin(), a.args.begin(), a.args.end());
    const test::CommandResult run = Run(args);
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(TiffFields(out + "/page_001.tif"), a.wrote);
    EXPECT_EQ(NoteLines(run.err), a.notes);
  }
}

// An option given on the command line that the chosen format does not use is named on stderr,
// -q or not, and the run goes on as without it; the same values stored in Profile.ini are not.
TEST_F(Cli, OptionsTheFormatDoesNotUseAreNamed) {
  const std::string doc = Write("page.ps", kColourPage);
  const std::string merge =
      "orvalis-cli: --merge is not used: png output has a file per page (only tif merges pages)";
  const std::string compression =
      "orvalis-cli: --compression is not used: png output has no compression to choose (only tif)";
  auto quality = [](const std::string& format) {
    return "orvalis-cli: --quality is not used: " + format +
           " output has no quality (only jpg, and tif with jpeg compression)";
  };
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> notes;
  };
  const Case cases[] = {
      {{"-f", "png", "--merge", "--compression", "fax4", "--quality", "5"},
       {merge, compression, quality("png")}},
      {{"-q", "-f", "png", "--merge", "--compression", "fax4", "--quality", "5"},
       {merge, compression, quality("png")}},
      {{"-f", "jp2", "--quality", "5"}, {quality("jp2")}},
      {{"-f", "jpg", "--quality", "5"}, {}},
      {{"-f", "tif", "--merge", "--quality", "5"}, {}},  // JPEG inside, the default
      {{"-f", "tif", "--compression", "lzw", "--quality", "5"},
       {"orvalis-cli: --quality is not used: True Color tif pages are written with lzw "
        "compression, which has no quality (only jpeg has)"}},
      {{"-f", "tif", "--compression", "fax4", "--quality", "5"},
       {"orvalis-cli: --quality is not used: B&W tif pages are written with fax4 compression, "
        "which has no quality (only jpeg has)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const std::string out = dir.File("out");
    fs::remove_all(out);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--dpi", "72", "-o", out, doc});
    const test::CommandResult run = Run(args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(NoteLines(run.err), c.notes);
    EXPECT_TRUE(fs::exists(out) && !fs::is_empty(out)) << "nothing written";
  }
  // PNG with merging, fax4 and a TIFF quality stored: nothing was given to be named.
  Write("p.ini", "[Set]\ntype=3\nmultpage=1\ncompress=6\nTJQu=5\nJQu=5\n");
  const test::CommandResult stored = Run({"--dpi", "72", "-o", dir.File("stored"), doc});
  EXPECT_EQ(stored.exitCode, 0) << stored.err;
  EXPECT_TRUE(fs::exists(dir.File("stored/page_001.png")));
  EXPECT_EQ(NoteLines(stored.err), std::vector<std::string>{});
  // A file that fails still fails, with the line said before.
  const std::string bad = Write("bad.ps", "This is not PostScript.\n");
  const test::CommandResult failed =
      Run({"-f", "png", "--merge", "--dpi", "72", "-o", dir.File("bad"), bad});
  EXPECT_EQ(failed.exitCode, 1) << failed.err;
  EXPECT_EQ(NoteLines(failed.err), std::vector<std::string>{merge});
}

TEST_F(Cli, NamesThatShellsAndFormatsStumbleOver) {
  // The long one makes page names of up to 255 bytes, the longest a file name may be, when the
  // page number grows to its ten digits.
  const std::string names[] = {"my report.ps", "it's \"quoted\".ps", "100%d.ps", "-dash.ps",
                               "r\xC3\xA9sum\xC3\xA9.ps", "line\nbreak.ps", "tab\there.ps",
                               "back\\slash.ps", std::string(240, 'n') + ".ps",
                               // A C1 control as a byte and as UTF-8, and a right-to-left override.
                               "c1-\x9B"
                               "31m.ps",
                               "nel\xC2\x85.ps", "txt\xE2\x80\xAEsp.ps"};
  for (const std::string& name : names) Write("odd/" + name, ThreePages());
  const test::CommandResult run =
      Run({"-f", "png", "-o", dir.File("out"), "--dpi", "72", "--jobs", "2", dir.File("odd")});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  for (const std::string& name : names) {
    const std::string base = fs::path(name).stem().string();
    EXPECT_TRUE(fs::exists(dir.File("out/" + base + "_003.png"))) << name;
  }
  // One line per file and the summary, whatever the names hold.
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), std::ssize(names) + 1) << run.out;
  for (const char* shown :
       {"odd/line?break.ps -> ", "odd/c1-?31m.ps -> ", "odd/nel?.ps -> ", "odd/txt?sp.ps -> "})
    EXPECT_NE(run.out.find(shown), std::string::npos) << shown << "\n" << run.out;
  for (const char* hidden : {"\x9B", "\xC2\x85", "\xE2\x80\xAE"})
    EXPECT_EQ(run.out.find(hidden), std::string::npos) << run.out;
  // A leading dash after "--" is a file, not an option.
  const test::CommandResult dash =
      Run({"-f", "bmp", "-o", dir.File("dash"), "--dpi", "72", "--", dir.File("odd/-dash.ps")});
  EXPECT_EQ(dash.exitCode, 0) << dash.err;
}

TEST_F(Cli, HostileFilesFailWithAReasonAndTheRunGoesOn) {
  const std::string marker = dir.File("written-by-postscript");
  Write("a-text.ps", "This is not PostScript at all.\n");
  Write("b-syntax.ps", "%!PS\n/x { 1 2 add\nshowpage\n");
  Write("c-nopage.ps", "%!PS\n% nothing is shown\n");
  Write("d-reads.ps", "%!PS\n(/etc/passwd) (r) file 100 string readstring pop pop showpage\n");
  Write("e-writes.ps", "%!PS\n(" + marker + ") (w) file (x) writestring showpage\n");
  Write("f-good.ps", ThreePages());
  // Found in the folder: a named pipe and a device would keep the interpreter reading forever.
  ASSERT_EQ(mkfifo(dir.File("g-pipe.ps").c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", dir.Path() / "h-zero.ps");
  // Page 2 would be 40000 pixels square, far beyond what a page may take.
  Write("i-huge.ps",
        "%!PS\nshowpage\n<< /PageSize [40000 40000] >> setpagedevice\n"
        "0 0 moveto 100 100 lineto stroke showpage\n");
  const test::CommandResult run =
      Run({"-f", "png", "-o", dir.File("out"), "--dpi", "72", "--jobs", "1", dir.File("")});
  EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
  for (const char* name : {"a-text.ps", "b-syntax.ps", "c-nopage.ps", "d-reads.ps", "e-writes.ps",
                           "g-pipe.ps", "h-zero.ps"})
    EXPECT_NE(run.out.find("Failed   " + dir.File(name) + ": "), std::string::npos) << name << "\n"
                                                                                    << run.out;
  EXPECT_NE(run.out.find("Succeed  " + dir.File("f-good.ps")), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("invalidfileaccess"), std::string::npos) << run.out;
  // The whole first page is written, the reason is plain, no cut page is converted.
  EXPECT_NE(run.out.find("Failed   " + dir.File("i-huge.ps") +
                         ": a page is too large: at 72 x 72 dpi its image would take more than "
                         "the 256 MiB a page may have; use a lower resolution (written: " +
                         dir.File("out/i-huge_001.png") + ")"),
            std::string::npos)
      << run.out;
  EXPECT_FALSE(fs::exists(dir.File("out/i-huge_002.png")));
  EXPECT_FALSE(fs::exists(marker));
  EXPECT_TRUE(TmpIsEmpty());
}

// "File exists" alone would not tell the user what stands in the way.
TEST_F(Cli, DestinationsThatCannotBeMadeSayWhy) {
  const std::string doc = Write("report.ps", ThreePages());
  Write("afile", "x");
  fs::create_symlink(dir.File("gone"), dir.Path() / "dangling");
  fs::create_symlink("loop", dir.Path() / "loop");
  const std::pair<std::string, std::string> cases[] = {
      {"afile", dir.File("afile") + " is a file, not a folder"},
      {"afile/sub", dir.File("afile") + " is a file, not a folder"},
      {"dangling",
       dir.File("dangling") + " is a link to " + dir.File("gone") + ", which does not exist"},
      {"loop", "Too many levels of symbolic links"},
  };
  for (const auto& [output, says] : cases) {
    const test::CommandResult run = Run({"-f", "png", "-o", dir.File(output), "--dpi", "72", doc});
    EXPECT_EQ(run.exitCode, 1) << output;
    EXPECT_NE(run.out.find("Cannot create the folder " + dir.File(output) +
                           "/: " + (output == "loop" ? dir.File("loop") + ": " : "") + says),
              std::string::npos)
        << run.out;
  }
  EXPECT_TRUE(TmpIsEmpty());
}

// The document never ends: the run ends only because its time limit stopped it.
TEST_F(Cli, EndlessFileIsStoppedByTheTimeout) {
  const std::string loop = Write("loop.ps", "%!PS\n{ } loop\n");
  const auto start = std::chrono::steady_clock::now();
  const test::CommandResult run = Run({"-f", "png", "-o", dir.File("out"), "--timeout", "2", loop});
  EXPECT_LT(std::chrono::steady_clock::now() - start, kHangGuard)
      << "hang guard: the time limit took minutes to stop the file";
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.out.find("longer than 2 s"), std::string::npos) << run.out;
  EXPECT_TRUE(TmpIsEmpty());
}

// Starts orvalis-cli in the background with its standard output on `stdoutFd`.
// With `ownGroup`, in a process group of its own, as a shell starts a job.
pid_t SpawnCli(const std::vector<std::string>& cliArgs, int stdoutFd, bool ownGroup = false) {
  std::vector<std::string> args = {"env"};
  args.insert(args.end(), cliArgs.begin(), cliArgs.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  if (ownGroup) {
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
  }
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, "env", &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return spawned == 0 ? pid : -1;
}

int WaitForExit(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The state letter of a process ('T' stopped, 'R' running, ...), and the processes below one.
char ProcessState(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const size_t close = line.rfind(')');
  return close == std::string::npos || close + 2 >= line.size() ? '?' : line[close + 2];
}

// The processes below `root`; with `named`, only those whose command is that (the interpreters
// are "gs": the program also starts a short-lived probe of the kernel's protections, before its
// run and its Ctrl+C handling have begun).
std::vector<pid_t> Descendants(pid_t root, const std::string& named = "") {
  const std::map<pid_t, test::ProcessInfo> processes = test::Processes();
  std::vector<pid_t> found;
  for (const auto& [pid, process] : processes) {
    if (!named.empty() && process.command != named) continue;
    for (pid_t up = process.parent; up > 1 && processes.count(up) != 0;
         up = processes.at(up).parent) {
      if (up == root) {
        found.push_back(pid);
        break;
      }
    }
  }
  return found;
}

// Waits until `condition` holds; false when the hang guard ran out first.
bool WaitUntil(const std::function<bool()>& condition) {
  for (const auto until = std::chrono::steady_clock::now() + kHangGuard;
       std::chrono::steady_clock::now() < until;) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return condition();
}

// Ctrl+C, SIGTERM and a terminal that closes stop the run the same way: no interpreter is left
// running and no page folder is left behind.
TEST_F(Cli, CtrlCStopsTheRunAndCleansUp) {
  const std::string loop = Write("loop.ps", "%!PS\n{ } loop\n");
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    const int out = open(dir.File("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const pid_t pid = SpawnCli({"TMPDIR=" + Tmp(), CliPath(), "--profile", dir.File("p.ini"), "-f",
                                "png", "-o", dir.File("out"), loop, loop},
                               out);
    close(out);
    ASSERT_GT(pid, 0);
    // Once the first file's interpreter runs, whatever time it took to start.
    EXPECT_TRUE(WaitUntil([&] { return !Descendants(pid, "gs").empty(); }))
        << "hang guard: no interpreter started";
    const std::vector<pid_t> interpreters = Descendants(pid);
    kill(pid, signal);
    EXPECT_EQ(WaitForExit(pid), 130) << signal;
    const auto gone = [](pid_t p) { return ProcessState(p) == '?' || ProcessState(p) == 'Z'; };
    EXPECT_TRUE(WaitUntil([&] {
      return std::all_of(interpreters.begin(), interpreters.end(), gone);
    })) << "an interpreter was left running";
    const std::vector<uint8_t> bytes = test::ReadFileBytes(dir.File("stdout"));
    const std::string printed(bytes.begin(), bytes.end());
    EXPECT_NE(printed.find("Aborted  " + loop), std::string::npos) << printed;
    EXPECT_TRUE(TmpIsEmpty());
  }
}

// Ctrl+Z stops the interpreters with the program (they run in process groups of their own,
// which the terminal's signal does not reach), and fg lets them go on with it.
TEST_F(Cli, CtrlZStopsTheInterpretersToo) {
  const std::string loop = Write("loop.ps", "%!PS\n{ } loop\n");
  const int out = open(dir.File("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const pid_t pid = SpawnCli({"TMPDIR=" + Tmp(), CliPath(), "--profile", dir.File("p.ini"), "-f",
                              "png", "-o", dir.File("out"), "--jobs", "2", loop, loop},
                             out, /*ownGroup=*/true);
  close(out);
  ASSERT_GT(pid, 0);
  const auto interpreters = [&] { return Descendants(pid); };
  ASSERT_TRUE(WaitUntil([&] { return Descendants(pid, "gs").size() >= 2; }))
      << "hang guard: the interpreters never started";
  const auto allIn = [&](bool stopped) {
    const std::vector<pid_t> below = interpreters();
    return std::all_of(below.begin(), below.end(),
                       [&](pid_t p) { return (ProcessState(p) == 'T') == stopped; }) &&
           (ProcessState(pid) == 'T') == stopped;
  };
  const auto states = [&] {
    std::string said = "program " + std::string(1, ProcessState(pid));
    for (pid_t p : interpreters()) said += ", " + std::to_string(p) + " " + ProcessState(p);
    return said;
  };
  kill(pid, SIGTSTP);
  EXPECT_TRUE(WaitUntil([&] { return allIn(true); })) << "an interpreter went on: " << states();
  kill(pid, SIGCONT);
  EXPECT_TRUE(WaitUntil([&] { return allIn(false); })) << "one stayed stopped: " << states();
  kill(pid, SIGINT);
  EXPECT_EQ(WaitForExit(pid), 130);
  EXPECT_TRUE(TmpIsEmpty());
}

// Started with SIGHUP ignored (nohup), the run outlives its terminal: the file is ended by its
// own time limit, not by the hang-up.
TEST_F(Cli, AnIgnoredHangUpStaysIgnored) {
  const std::string loop = Write("loop.ps", "%!PS\n{ } loop\n");
  const int out = open(dir.File("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGHUP, &ignore, &previous);
  const pid_t pid = SpawnCli({"TMPDIR=" + Tmp(), CliPath(), "--profile", dir.File("p.ini"), "-f",
                              "png", "-o", dir.File("out"), "--timeout", "2", loop},
                             out);
  sigaction(SIGHUP, &previous, nullptr);
  close(out);
  ASSERT_GT(pid, 0);
  // The hang-up comes while the file renders, once the program is well under way.
  EXPECT_TRUE(WaitUntil([&] { return !Descendants(pid, "gs").empty(); }))
      << "hang guard: no interpreter started";
  kill(pid, SIGHUP);
  EXPECT_EQ(WaitForExit(pid), 1);
  const std::vector<uint8_t> bytes = test::ReadFileBytes(dir.File("stdout"));
  const std::string printed(bytes.begin(), bytes.end());
  EXPECT_NE(printed.find("longer than 2 s"), std::string::npos) << printed;
  EXPECT_TRUE(TmpIsEmpty());
}

// orvalis-cli ... | head -1: the reader goes away after the first line. The run must neither
// die half-way nor leave its temporary pages behind.
TEST_F(Cli, AReaderThatGoesAwayDoesNotKillTheRun) {
  for (int i = 1; i <= 4; ++i) Write("docs/d" + std::to_string(i) + ".ps", ThreePages());
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  const pid_t pid =
      SpawnCli({"TMPDIR=" + Tmp(), CliPath(), "--profile", dir.File("p.ini"), "-f", "png", "--dpi",
                "72", "--jobs", "1", "-o", dir.File("out"), dir.File("docs")},
               fds[1]);
  close(fds[1]);
  ASSERT_GT(pid, 0);
  EXPECT_EQ(WaitForExit(pid), 0);
  EXPECT_TRUE(fs::exists(dir.File("out/d4_003.png")));
  EXPECT_TRUE(TmpIsEmpty());
}

// Two runs that share a temporary folder but not a process id space (a container with the
// host's /tmp, two machines on one shared home) each keep their page folders: a process id from
// the other space means nothing here. A folder whose run was killed is still removed.
TEST_F(Cli, RunsInOtherProcessIdSpacesKeepTheirPageFolders) {
  // Each page takes a fifth of a second of processor time, and the first run is held (stopped)
  // while the second runs, so that it is still rendering then, however fast the machine.
  const std::string slow = Write(
      "slow.ps",
      "%!PS\n1 1 12 { /n exch def usertime 200 add { usertime 1 index ge { exit } if } loop pop\n"
      "n 12 div setgray 0 0 612 792 rectfill showpage } for\n");
  const std::string quick = Write("quick.ps", ThreePages());
  // Own process id space; as root, or else as root of an own user namespace.
  std::vector<std::string> space = {"unshare", "--pid", "--fork", "--mount-proc"};
  if (::geteuid() != 0) space.insert(space.begin() + 1, {"--user", "--map-root-user"});

  // In its space the first run is process 2, under a shell that waits for it.
  std::vector<std::string> first = space;
  first.insert(first.end(), {"sh", "-c", "\"$@\"; exit $?", "sh", "env", "TMPDIR=" + Tmp(),
                             CliPath(), "--profile", dir.File("p.ini"), "-f", "png", "--dpi", "72",
                             "-o", dir.File("out1"), slow});
  const int out = open(dir.File("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const pid_t pid = SpawnCli(first, out);
  close(out);
  ASSERT_GT(pid, 0);
  const auto pageFolderOfFirst = [&] {
    for (const auto& entry : fs::directory_iterator(Tmp())) {
      const std::string name = entry.path().filename().string();
      if (name.starts_with("mtmp_2_") && entry.is_directory()) return true;
    }
    return false;
  };
  ASSERT_TRUE(WaitUntil(pageFolderOfFirst)) << "hang guard: the first run made no page folder";
  const std::vector<pid_t> firstRun = Descendants(pid);
  for (const pid_t held : firstRun) kill(held, SIGSTOP);
  // Left by a run that was killed (made now, so that the first run's start did not see it).
  const std::string killed = Tmp() + "/mtmp_77_zzzzzz";
  fs::create_directories(killed);
  std::ofstream(killed + "/k_001.bmp") << "page";
  std::ofstream(killed + ".lock") << "";

  // The second run is process 1 of a space of its own, where no process 2 runs.
  std::vector<std::string> second = space;
  second.insert(second.end(), {"env", "TMPDIR=" + Tmp(), CliPath(), "--profile", dir.File("p.ini"),
                               "-f", "png", "--dpi", "72", "-o", dir.File("out2"), quick});
  const test::CommandResult run = test::RunCommand(second);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.err.find("removed " + killed + ", left behind by a run that has ended"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.err.find("mtmp_2_"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(killed));
  EXPECT_TRUE(pageFolderOfFirst()) << "the second run removed the first one's page folder";

  for (const pid_t held : firstRun) kill(held, SIGCONT);
  EXPECT_EQ(WaitForExit(pid), 0) << test::ReadFileText(dir.File("stdout"));
  for (int page = 1; page <= 12; ++page) {
    char name[32];
    std::snprintf(name, sizeof name, "out1/slow_%03d.png", page);
    EXPECT_TRUE(fs::exists(dir.File(name))) << name;
  }
  EXPECT_TRUE(fs::exists(dir.File("out2/quick_003.png")));
  EXPECT_TRUE(TmpIsEmpty());
}

// A settings file that cannot be used must not turn into a run with the built-in defaults.
TEST_F(Cli, ABadProfileIsAUsageErrorThatSaysWhy) {
  const std::string doc = Write("doc.ps", ThreePages());
  Write("big.ini", "[Set]\n" + std::string((1 << 20) + 1, ';'));
  fs::create_directories(dir.File("folder.ini"));
  fs::create_symlink("loop.ini", dir.Path() / "loop.ini");
  Write("locked.ini", "[Set]\n");
  fs::permissions(dir.File("locked.ini"), fs::perms::none);
  const std::pair<std::string, std::string> cases[] = {
      {"missing.ini", "No such file or directory"},
      {"folder.ini", "it is a folder"},
      {"big.ini", "is larger than a settings file can be"},
      {"loop.ini", "Too many levels of symbolic links"},
      {"locked.ini", "Permission denied"},
  };
  for (const auto& [name, why] : cases) {
    if (name == "locked.ini" && geteuid() == 0) continue;  // root reads it all the same
    const test::CommandResult run =
        test::RunCommand({"env", "TMPDIR=" + Tmp(), CliPath(), "--profile", dir.File(name), "-o",
                          dir.File("out"), doc});
    EXPECT_EQ(run.exitCode, 2) << name;
    EXPECT_NE(run.err.find(dir.File(name)), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(why), std::string::npos) << run.err;
  }
  EXPECT_FALSE(fs::exists(dir.File("out")));
}

std::string Lines(const test::CommandResult& run) {
  return run.out + run.err;
}

// Reads a report with Python's json and prints one line per record.
test::CommandResult ReadReport(const std::string& report) {
  return test::RunCommand(
      {"python3", "-c",
       "import json, os, sys, time\n"
       "def stamp(path):\n"
       "  ns = os.stat(path).st_mtime_ns\n"
       "  return time.strftime('%Y-%m-%dT%H:%M:%S', time.gmtime(ns // 10**9))"
       " + '.%09dZ' % (ns % 10**9)\n"
       "for line in open(sys.argv[1], encoding='utf-8'):\n"
       "  r = json.loads(line)\n"
       "  st = os.stat(r['source'])\n"
       "  assert r['size'] == st.st_size and r['mtime'] == stamp(r['source']), line\n"
       "  assert len(r['settings']) == 16 and 0 <= r['seconds'] < 600, line\n"
       "  assert all(os.path.isfile(o) for o in r['outputs']), line\n"
       "  assert r['output_stamps'] == [{'size': os.stat(o).st_size, 'mtime': stamp(o)}"
       " for o in r['outputs']], line\n"
       "  print(r['status'], os.path.basename(r['source']), r['pages'],"
       " ','.join(os.path.basename(o) for o in r['outputs']), bool(r['reason']))\n",
       report});
}

TEST_F(Cli, ReportHoldsOneRecordPerFile) {
  Write("docs/good.ps", ThreePages());
  Write("docs/nopage.ps", "%!PS\n% nothing is shown\n");
  const std::string report = dir.File("report.jsonl");
  const test::CommandResult pages = Run({"-f", "png", "--dpi", "72", "-o", dir.File("out"),
                                         "--jobs", "2", "--report", report, dir.File("docs")});
  EXPECT_EQ(pages.exitCode, 1) << pages.out << pages.err;
  const test::CommandResult merged =
      Run({"-f", "tif", "--merge", "--dpi", "72", "-o", dir.File("out"), "--report", report,
           dir.File("docs/good.ps")});
  EXPECT_EQ(merged.exitCode, 0) << merged.out << merged.err;
  const test::CommandResult read = ReadReport(report);
  ASSERT_EQ(read.exitCode, 0) << read.err;
  // The first run's two records come in the order the files finished.
  const std::string good = "Succeed good.ps 3 good_001.png,good_002.png,good_003.png False\n";
  const std::string failed = "Failed nopage.ps 0  True\n";
  EXPECT_TRUE(read.out == good + failed + "Succeed good.ps 3 good.tif False\n" ||
              read.out == failed + good + "Succeed good.ps 3 good.tif False\n")
      << read.out;
}

bool Converted(const test::CommandResult& run, const std::string& source) {
  return run.out.find("Succeed  " + source + " -> ") != std::string::npos;
}

bool Skipped(const test::CommandResult& run, const std::string& source) {
  return run.out.find("Skipped  " + source + ": ") != std::string::npos;
}

std::string ReadText(const std::string& path) {
  return test::ReadFileText(path);
}

// A record that cannot be written fails the run, though the images are there: the report lies
// on a small file system of its own, filled up before the run.
TEST_F(Cli, AReportThatCannotBeWrittenFailsTheRun) {
  const std::string doc = Write("docs/good.ps", ThreePages());
  const std::string disk = dir.File("full");
  fs::create_directories(disk);
  const std::string report = disk + "/r.jsonl";
  const test::CommandResult full =
      test::RunCommand({"unshare",
                        "-m",
                        "sh",
                        "-c",
                        "mount -t tmpfs -o size=16k tmpfs \"$0\" || exit 77; : > \"$0/r.jsonl\";"
                        " head -c 1M /dev/zero > \"$0/fill\"; exec \"$@\"",
                        disk,
                        "env",
                        "TMPDIR=" + Tmp(),
                        CliPath(),
                        "--profile",
                        dir.File("p.ini"),
                        "-f",
                        "bmp",
                        "--dpi",
                        "72",
                        "-o",
                        dir.File("bmp"),
                        "--report",
                        report,
                        doc});
  if (full.exitCode == 77 || full.err.find("unshare failed") != std::string::npos)
    GTEST_SKIP() << "no tmpfs of our own here (not root?): " << full.err;
  EXPECT_EQ(full.exitCode, 1) << Lines(full);
  EXPECT_NE(full.err.find("cannot write to the report " + report + ": No space left on device"),
            std::string::npos)
      << full.err;
  EXPECT_TRUE(fs::exists(dir.File("bmp/good_003.bmp")));
}

// A slip of the shell or of the fingers must not turn a source, an image or a pipe into the
// report: the run refuses before anything is written, and never waits on a pipe. Each run has
// a time limit, so that a hang fails the test.
TEST_F(Cli, AReportMayNotBeAFileTheRunReadsOrWrites) {
  const std::string a = Write("docs/a.ps", ThreePages());
  const std::string b = Write("docs/b.ps", ThreePages());
  const std::string notes = Write("notes.txt", "my notes\n");
  const std::string pipe = dir.File("pipe.jsonl");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  const std::string out = dir.File("out");
  struct Case {
    std::vector<std::string> args;
    std::string says;
  };
  const Case cases[] = {
      // orvalis-cli --report *.ps: the shell put the first source in the report's place.
      {{"--report", a, b}, "it is named like a PostScript file; did the shell expand a pattern"},
      {{"--resume", a, b}, "it is named like a PostScript file"},
      {{"--report", b, dir.File("docs")}, "it is " + b + ", one of the files to convert"},
      {{"--report", out + "/b_002.png", b}, "the run writes an image of " + b + " under that name"},
      {{"--each", "--report", out + "/b", b}, "the run writes images into " + out + "/b"},
      {{"--report", out, b}, "the run writes images into " + out},
      {{"--report", pipe, b}, "it is a named pipe"},
      {{"--resume", pipe, b}, "it is a named pipe"},
      {{"--report", "/dev/null", b}, "it is a device"},
      {{"--resume", "/dev/zero", b}, "it is a device"},
      {{"--report", dir.File("docs"), b}, "it is a folder"},
      {{"--report", notes, b}, "it holds something else (a report's lines are JSON objects)"},
      {{"--resume", notes, b}, "it holds something else"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {
        "timeout",         "-s", "KILL", "300", "env", "TMPDIR=" + Tmp(), CliPath(), "--profile",
        dir.File("p.ini"), "-f", "png",  "-o",  out};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const test::CommandResult run = test::RunCommand(args);
    EXPECT_EQ(run.exitCode, 2) << c.says << "\n" << Lines(run);
    EXPECT_NE(run.err.find("cannot use the report "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(out)) << c.says;
  }
  EXPECT_EQ(ReadText(a), ThreePages());
  EXPECT_EQ(ReadText(b), ThreePages());
  EXPECT_EQ(ReadText(notes), "my notes\n");
}

// On a terminal (a pty, as `script` gives) the run draws its progress line on stderr: the pages
// done of the file being converted and the pages per second. -q on the same terminal, and a
// pipe, draw none: their output is the same lines as ever.
TEST_F(Cli, ProgressLineOnATerminalOnly) {
  std::string pages = "%!PS\n/Helvetica findfont 24 scalefont setfont\n";
  for (int page = 1; page <= 12; ++page)
    pages += "72 700 moveto (Page " + std::to_string(page) + ") show showpage\n";
  const std::string doc = Write("long doc.ps", pages);
  auto quoted = [](const std::string& word) {
    std::string text = "'";
    for (char c : word) text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return text + "'";
  };
  auto onTerminal = [&](bool quiet) {
    std::string command;
    for (const std::string& word :
         {std::string("env"), "TMPDIR=" + Tmp(), CliPath(), std::string("--profile"),
          dir.File("p.ini"), std::string("-f"), std::string("png"), std::string("--dpi"),
          std::string("72"), std::string("-o"), dir.File("out"), doc})
      command += quoted(word) + " ";
    if (quiet) command += "-q";
    return test::RunCommand({"script", "-qfec", command, "/dev/null"});
  };
  const test::CommandResult shown = onTerminal(false);
  ASSERT_EQ(shown.exitCode, 0) << shown.out << shown.err;
  EXPECT_NE(shown.out.find("1/1 files"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("files, long doc.ps page 1"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("pages/s"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("Succeed"), std::string::npos) << shown.out;

  const test::CommandResult quiet = onTerminal(true);
  ASSERT_EQ(quiet.exitCode, 0) << quiet.out << quiet.err;
  EXPECT_EQ(quiet.out.find("files"), std::string::npos) << quiet.out;
  EXPECT_EQ(quiet.out.find("pages/s"), std::string::npos) << quiet.out;

  const test::CommandResult piped = Run({"-f", "png", "--dpi", "72", "-o", dir.File("out"), doc});
  ASSERT_EQ(piped.exitCode, 0) << piped.out << piped.err;
  EXPECT_EQ(piped.err.find("pages/s"), std::string::npos) << piped.err;
  EXPECT_EQ(piped.out.find("pages/s"), std::string::npos) << piped.out;
  EXPECT_TRUE(TmpIsEmpty());
}

// The line fits the terminal whatever the names: a long name is cut, the files that do not fit
// are counted, and nothing ever reaches the last column.
TEST(ProgressLine, FitsTheTerminal) {
  RunProgress progress(3, {});
  progress.Pages(0, 12, 87);
  progress.Pages(1, 5, 0);
  const std::vector<std::string> sources = {"/d/first.ps", "/d/" + std::string(60, 'n') + ".ps",
                                            "/d/third.ps"};
  const auto now = RunProgress::Clock::time_point{} + std::chrono::seconds(10);
  const std::string wide = ProgressLineOf(progress, sources, {0, 1}, 0, now, 200);
  EXPECT_NE(wide.find("0/3 files, first.ps page 12 of 87, nnnnnnnnnnnnnnnnnnnnnnn~ page 5"),
            std::string::npos)
      << wide;
  EXPECT_NE(wide.find("1.7 pages/s, 3:28 left"), std::string::npos) << wide;
  for (const size_t columns : {80u, 50u, 20u}) {
    const std::string line = ProgressLineOf(progress, sources, {0, 1}, 0, now, columns);
    EXPECT_LE(line.size(), columns) << line;
  }
  EXPECT_NE(ProgressLineOf(progress, sources, {0, 1}, 0, now, 60).find("+"), std::string::npos);
}

// Started with standard output closed (>&-), the next file opened would take its place: the
// report must not receive the console's lines.
TEST_F(Cli, AReportNeverTakesTheConsolesPlace) {
  const std::string doc = Write("doc.ps", ThreePages());
  const std::string report = dir.File("r.jsonl");
  for (const char* closed : {">&-", ">&- 2>&-", "<&- >&-"}) {
    fs::remove(report);
    const test::CommandResult run =
        test::RunCommand({"sh", "-c", std::string("exec \"$@\" ") + closed, "sh", "env",
                          "TMPDIR=" + Tmp(), CliPath(), "--profile", dir.File("p.ini"), "-f", "png",
                          "--dpi", "72", "-o", dir.File("out"), "--report", report, doc});
    EXPECT_EQ(run.exitCode, 0) << closed << "\n" << Lines(run);
    const test::CommandResult read = ReadReport(report);
    EXPECT_EQ(read.exitCode, 0) << closed << "\n" << read.err;
    EXPECT_EQ(read.out, "Succeed doc.ps 3 doc_001.png,doc_002.png,doc_003.png False\n") << closed;
  }
}

TEST_F(Cli, ResumeConvertsOnlyWhatChanged) {
  const std::string a = Write("docs/a.ps", ThreePages());
  const std::string b = Write("docs/b.ps", ThreePages());
  const std::string c = Write("docs/c.ps", ThreePages());
  // A name that is not UTF-8 is recorded exactly as well, and found again.
  const std::string latin = Write("docs/latin-\xE9.ps", ThreePages());
  const std::string report = dir.File("r.jsonl");
  const std::vector<std::string> command = {
      "-f", "png", "-o", dir.File("out"), "--resume", report, dir.File("docs")};
  auto withArgs = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = command;
    args.insert(args.begin(), extra.begin(), extra.end());
    return args;
  };
  ASSERT_EQ(Run(withArgs({"--dpi", "72"})).exitCode, 0);
  const auto aWritten = fs::last_write_time(dir.File("out/a_001.png"));

  struct Step {
    const char* what;
    std::function<void()> change;
    std::vector<std::string> extraArgs;
    std::vector<std::string> converted;  // the others are skipped
  };
  const Step steps[] = {
      {"unchanged", [] {}, {"--dpi", "72"}, {}},
      {"changed source",
       [&] { Write("docs/b.ps", ThreePages() + "% edited\n"); },
       {"--dpi", "72"},
       {b}},
      {"touched source",
       [&] { fs::last_write_time(c, fs::last_write_time(c) + std::chrono::seconds(5)); },
       {"--dpi", "72"},
       {c}},
      {"deleted output", [&] { fs::remove(dir.File("out/a_002.png")); }, {"--dpi", "72"}, {a}},
      // The 100 dpi images took the names of the 72 dpi ones: going back converts again.
      {"changed settings", [] {}, {"--dpi", "100"}, {a, b, c, latin}},
      {"settings back", [] {}, {"--dpi", "72"}, {a, b, c, latin}},
      // Images of other settings under other names leave these as they are.
      {"per-file folders", [] {}, {"--dpi", "72", "--each"}, {a, b, c, latin}},
      {"one folder again", [] {}, {"--dpi", "72"}, {}},
      // The images of b written again by a run at 300 dpi that kept no report.
      {"images replaced",
       [&] {
         ASSERT_EQ(Run({"-f", "png", "-o", dir.File("out"), "--dpi", "300", b}).exitCode, 0);
       },
       {"--dpi", "72"},
       {b}},
      {"image touched",
       [&] {
         const std::string image = dir.File("out/latin-\xE9_002.png");
         fs::last_write_time(image, fs::last_write_time(image) + std::chrono::seconds(5));
       },
       {"--dpi", "72"},
       {latin}},
  };
  for (const Step& step : steps) {
    step.change();
    const test::CommandResult run = Run(withArgs(step.extraArgs));
    EXPECT_EQ(run.exitCode, 0) << step.what << "\n" << Lines(run);
    for (const std::string& source : {a, b, c, latin}) {
      const bool convert =
          std::find(step.converted.begin(), step.converted.end(), source) != step.converted.end();
      EXPECT_EQ(Converted(run, source), convert) << step.what << " " << source << "\n" << run.out;
      EXPECT_EQ(Skipped(run, source), !convert) << step.what << " " << source << "\n" << run.out;
    }
  }
  EXPECT_NE(fs::last_write_time(dir.File("out/a_001.png")), aWritten);  // "deleted output" redid a
  const auto redone = test::PillowDecode(dir.File("out/b_003.png"));
  ASSERT_TRUE(redone);
  EXPECT_EQ(redone->width, 595) << "b's images are those of 72 dpi again";
  // Every run appended one line per file, and the summary counts the skipped ones.
  const std::string lines = ReadText(report);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 4 * 11);
  const test::CommandResult last = Run(withArgs({"--dpi", "72", "--jobs", "1"}));
  EXPECT_NE(last.out.find("4 files: 0 succeeded, 4 skipped, 0 failed, 0 aborted; 0 images"),
            std::string::npos)
      << last.out;
  // A line cut short (a full disk) counts for nothing, and the run says so.
  std::ofstream(report, std::ios::app) << "{\"source\": \"" << a << "\", \"stat";
  const test::CommandResult cut = Run(withArgs({"--dpi", "72"}));
  EXPECT_EQ(cut.exitCode, 0) << Lines(cut);
  EXPECT_NE(cut.err.find("1 line(s) of " + report + " could not be read"), std::string::npos)
      << cut.err;
  EXPECT_TRUE(Skipped(cut, b)) << cut.out;
  // That run's records did not run into the cut line: they are all read.
  EXPECT_NE(ReadText(report).find("\"stat\n{\"source\""), std::string::npos);
  const test::CommandResult after = Run(withArgs({"--dpi", "72"}));
  EXPECT_NE(after.err.find("1 line(s) of " + report + " could not be read"), std::string::npos)
      << after.err;
  EXPECT_NE(after.out.find("4 skipped"), std::string::npos) << after.out;
}

// A scheduler kills a task and starts it again: only the files it had not finished convert.
TEST_F(Cli, ResumeAfterSigkillConvertsOnlyTheMissingFiles) {
  std::string tenPages =
      "%!PS\n/Helvetica findfont 24 scalefont setfont\n"
      "1 1 10 { 72 700 moveto 3 string cvs show showpage } for\n";
  std::vector<std::string> sources;
  for (int i = 0; i < 6; ++i)
    sources.push_back(Write("docs/d" + std::to_string(i) + ".ps", tenPages));
  // The last file never ends in the first run: it is killed before it has converted them all,
  // however fast the machine. It is a document like the others for the second run.
  Write("docs/d5.ps", "%!PS\n{ } loop\n");
  const std::string report = dir.File("r.jsonl");
  const std::vector<std::string> command = {"TMPDIR=" + Tmp(),
                                            CliPath(),
                                            "--profile",
                                            dir.File("p.ini"),
                                            "-f",
                                            "png",
                                            "--dpi",
                                            "72",
                                            "--jobs",
                                            "1",
                                            "-o",
                                            dir.File("out"),
                                            "--resume",
                                            report,
                                            dir.File("docs")};
  const int out = open(dir.File("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const pid_t pid = SpawnCli(command, out);
  close(out);
  ASSERT_GT(pid, 0);
  EXPECT_TRUE(WaitUntil([&] { return !ReadText(report).empty(); }))
      << "hang guard: no file was recorded";
  kill(pid, SIGKILL);
  EXPECT_EQ(WaitForExit(pid), 128 + SIGKILL);

  // What the killed run recorded, and when those images were written.
  const test::CommandResult first = ReadReport(report);
  ASSERT_EQ(first.exitCode, 0) << first.err;
  std::vector<std::string> done;
  std::map<std::string, fs::file_time_type> written;
  for (const std::string& source : sources) {
    const std::string name = fs::path(source).filename().string();
    if (first.out.find("Succeed " + name + " 10 ") == std::string::npos) continue;
    done.push_back(source);
    for (int page = 1; page <= 10; ++page) {
      const std::string image = dir.File("out/" + fs::path(source).stem().string() + "_" +
                                         (page < 10 ? "00" : "0") + std::to_string(page) + ".png");
      written[image] = fs::last_write_time(image);
    }
  }
  ASSERT_GE(done.size(), 1u) << first.out;
  ASSERT_LT(done.size(), sources.size()) << "the run ended before it was killed";

  Write("docs/d5.ps", tenPages);
  const test::CommandResult again = test::RunCommand([&] {
    std::vector<std::string> args = {"env"};
    args.insert(args.end(), command.begin(), command.end());
    return args;
  }());
  EXPECT_EQ(again.exitCode, 0) << Lines(again);
  for (const std::string& source : sources) {
    const bool wasDone = std::find(done.begin(), done.end(), source) != done.end();
    EXPECT_EQ(Skipped(again, source), wasDone) << source << "\n" << again.out;
    EXPECT_EQ(Converted(again, source), !wasDone) << source << "\n" << again.out;
  }
  for (const auto& [image, time] : written) EXPECT_EQ(fs::last_write_time(image), time) << image;
  for (const std::string& source : sources)
    EXPECT_TRUE(fs::exists(dir.File("out/" + fs::path(source).stem().string() + "_010.png")));
  // Over both runs, each file has exactly one record of its conversion.
  const test::CommandResult all = ReadReport(report);
  for (const std::string& source : sources) {
    const std::string line = "Succeed " + fs::path(source).filename().string() + " 10 ";
    size_t count = 0;
    for (size_t at = all.out.find(line); at != std::string::npos; at = all.out.find(line, at + 1))
      ++count;
    EXPECT_EQ(count, 1u) << source << "\n" << all.out;
  }
}

TEST_F(Cli, FilesFromTakesOddNamesAndListsBeyondTheArgumentLimit) {
  const std::vector<std::string> names = {"a b.ps", "new\nline.ps", "-dash.ps", " lead.ps",
                                          "tab\t.ps"};
  std::string nulList;
  for (const std::string& name : names) nulList += Write("odd/" + name, ThreePages()) + '\0';
  Write("nul.list", nulList);
  // Standard input carries the list.
  const test::CommandResult fromStdin =
      test::RunCommand({"sh", "-c", "exec \"$@\" < \"$0\"", dir.File("nul.list"), "env",
                        "TMPDIR=" + Tmp(), CliPath(), "--profile", dir.File("p.ini"), "-f", "png",
                        "--dpi", "72", "-o", dir.File("out"), "--files-from=-", "--null"});
  EXPECT_EQ(fromStdin.exitCode, 0) << Lines(fromStdin);
  for (const std::string& name : names)
    EXPECT_TRUE(fs::exists(dir.File("out/" + fs::path(name).stem().string() + "_003.png"))) << name;

  // One name per line, beside a folder and a path on the command line.
  Write("more/x.ps", ThreePages());
  Write("lines.list", dir.File("odd/a b.ps") + "\r\n" + dir.File("more") + "\n\n");
  const test::CommandResult fromFile =
      Run({"-f", "bmp", "--dpi", "72", "-o", dir.File("bmp"), "--files-from",
           dir.File("lines.list"), dir.File("odd/-dash.ps")});
  EXPECT_EQ(fromFile.exitCode, 0) << Lines(fromFile);
  EXPECT_NE(fromFile.out.find("3 files: 3 succeeded"), std::string::npos) << fromFile.out;
  EXPECT_TRUE(fs::exists(dir.File("bmp/x_001.bmp")));

  // More names than one command line may carry. Their images stand already, so the run only
  // reads the list and skips every file.
  const long argMax = sysconf(_SC_ARG_MAX);
  const size_t count = static_cast<size_t>(argMax) / 240 + 10;
  fs::create_directories(dir.File("many"));
  fs::create_directories(dir.File("many-out"));
  std::string list;
  const auto older = fs::file_time_type::clock::now() - std::chrono::hours(1);
  for (size_t i = 0; i < count; ++i) {
    const std::string stem = std::to_string(i) + std::string(232, 'm');
    const std::string source = dir.File("many/" + stem + ".ps");
    std::ofstream(source) << "%!PS\n";
    fs::last_write_time(source, older);
    std::ofstream(dir.File("many-out/" + stem + "_001.png")) << "x";
    list += source + "\n";
  }
  ASSERT_GT(list.size(), static_cast<size_t>(argMax));
  Write("many.list", list);
  const test::CommandResult many = Run({"-f", "png", "-o", dir.File("many-out"), "-q",
                                        "--skip-existing", "--files-from", dir.File("many.list")});
  EXPECT_EQ(many.exitCode, 0) << many.err;
  EXPECT_EQ(many.out, "") << "quiet: nothing failed";
  const test::CommandResult counted =
      Run({"-f", "png", "-o", dir.File("many-out"), "--skip-existing", "--files-from",
           dir.File("many.list")});
  EXPECT_NE(counted.out.find(std::to_string(count) + " files: 0 succeeded, " +
                             std::to_string(count) + " skipped, 0 failed"),
            std::string::npos)
      << counted.out.substr(counted.out.size() - 200);

  // A list that cannot be read is a usage error.
  const test::CommandResult missing = Run({"--files-from", dir.File("none.list")});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_NE(missing.err.find("cannot read the list " + dir.File("none.list")), std::string::npos);
}

TEST_F(Cli, SkipExistingComparesTheFirstImageWithTheSource) {
  const std::string kept = Write("docs/kept.ps", ThreePages());
  const std::string stale = Write("docs/stale.ps", ThreePages());
  const std::string fresh = Write("docs/fresh.ps", ThreePages());
  const std::string partial = Write("docs/partial.ps", ThreePages());
  const auto now = fs::file_time_type::clock::now();
  for (const std::string& source : {kept, stale, fresh, partial})
    fs::last_write_time(source, now - std::chrono::hours(1));
  fs::create_directories(dir.File("out"));
  Write("out/kept_001.png", "old image");
  Write("out/stale_001.png", "old image");
  fs::last_write_time(dir.File("out/stale_001.png"), now - std::chrono::hours(2));
  Write("out/partial_003.png", "only the last page");  // the first image decides
  const test::CommandResult run =
      Run({"-f", "png", "--dpi", "72", "-o", dir.File("out"), "--skip-existing", "--report",
           dir.File("r.jsonl"), dir.File("docs")});
  EXPECT_EQ(run.exitCode, 0) << Lines(run);
  EXPECT_TRUE(Skipped(run, kept)) << run.out;
  for (const std::string& source : {stale, fresh, partial})
    EXPECT_TRUE(Converted(run, source)) << source << "\n" << run.out;
  EXPECT_EQ(ReadText(dir.File("out/kept_001.png")), "old image");
  EXPECT_TRUE(test::PillowDecode(dir.File("out/stale_001.png")));
  // Its record says why, and a later --resume does not take that for a conversion.
  const test::CommandResult read = ReadReport(dir.File("r.jsonl"));
  EXPECT_NE(read.out.find("Skipped kept.ps 0 kept_001.png True"), std::string::npos) << read.out;
  const test::CommandResult resumed = Run({"-f", "png", "--dpi", "72", "-o", dir.File("out"),
                                           "--resume", dir.File("r.jsonl"), dir.File("docs")});
  EXPECT_TRUE(Converted(resumed, kept)) << resumed.out;
  EXPECT_TRUE(Skipped(resumed, stale)) << resumed.out;

  // A merged TIFF is the one image of its file.
  Write("tif/kept.tif", "old merged file");
  const test::CommandResult merged = Run({"-f", "tif", "--merge", "--dpi", "72", "-o",
                                          dir.File("tif"), "--skip-existing", kept, fresh});
  EXPECT_TRUE(Skipped(merged, kept)) << merged.out;
  EXPECT_TRUE(Converted(merged, fresh)) << merged.out;
}

// EPS figures, compressed PostScript and PDF, each read back by Pillow.
TEST_F(Cli, EpsCompressedPostScriptAndPdfConvert) {
  const std::string figure =
      "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 100 200 300 300\n%%EndComments\n"
      "1 0 0 setrgbcolor 100 200 200 100 rectfill\n";  // no showpage, as many figures
  Write("in/figure.eps", figure);
  // The same figure behind a DOS EPS header, with a preview before it.
  std::string dos(30, '\0');
  dos.replace(0, 4, "\xc5\xd0\xd3\xc6");
  const auto put32 = [&dos](size_t at, size_t value) {
    for (size_t i = 0; i < 4; ++i) dos[at + i] = static_cast<char>(value >> (8 * i));
  };
  put32(4, 30 + 16);
  put32(8, figure.size());
  dos += std::string(16, 'P') + figure;
  Write("in/dos.eps", dos);
  Write("in/report.ps", ThreePages());
  ASSERT_EQ(test::RunCommand({"gzip", "-n", dir.File("in/report.ps")}).exitCode, 0);
  Write("pdf/three.ps", ThreePages());
  ASSERT_EQ(
      test::RunCommand({"ps2pdf", dir.File("pdf/three.ps"), dir.File("in/three.pdf")}).exitCode, 0);

  for (const int dpi : {72, 150}) {
    fs::remove_all(dir.File("out"));
    const test::CommandResult run =
        Run({"-f", "png", "--dpi", std::to_string(dpi), "-o", dir.File("out"), dir.File("in")});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    // The figure is its bounding box: 200 x 100 points, all red.
    const int width = (200 * dpi + 36) / 72, height = (100 * dpi + 36) / 72;
    for (const char* name : {"figure_001.png", "dos_001.png"}) {
      std::string error;
      const auto image = test::PillowDecode(dir.File("out/") + name, 0, &error);
      ASSERT_TRUE(image.has_value()) << name << ": " << error;
      EXPECT_EQ(image->width, width) << name << " at " << dpi;
      EXPECT_EQ(image->height, height) << name << " at " << dpi;
      for (const auto& [x, y] : {std::pair{1, 1}, std::pair{width - 2, height - 2}})
        EXPECT_EQ(image->At(x, y), (std::array<uint8_t, 4>{255, 0, 0, 255})) << name;
    }
    // report.ps.gz gives report_00N.png; the PDF its three pages.
    for (const char* stem : {"report", "three"}) {
      for (int page = 1; page <= 3; ++page) {
        const std::string name = std::string(stem) + "_00" + std::to_string(page) + ".png";
        std::string error;
        const auto image = test::PillowDecode(dir.File("out/") + name, 0, &error);
        ASSERT_TRUE(image.has_value()) << name << ": " << error;
        EXPECT_GT(image->width, 8 * dpi) << name;  // a whole page
      }
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.File("out")), {}), 8);
  }
  EXPECT_TRUE(TmpIsEmpty());
}

// Documents that cannot be read fail with a reason that says why, and leave nothing behind.
TEST_F(Cli, UnreadableDocumentsFailWithTheirReason) {
  Write("pdf/one.ps", ThreePages());
  ASSERT_EQ(test::RunCommand({"ps2pdf", dir.File("pdf/one.ps"), dir.File("pdf/one.pdf")}).exitCode,
            0);
  const std::string pdf = test::ReadFileText(dir.File("pdf/one.pdf"));
  Write("in/cut.pdf", pdf.substr(0, 600));
  ASSERT_EQ(test::RunCommand({"qpdf", "--encrypt", "secret", "owner", "256", "--",
                              dir.File("pdf/one.pdf"), dir.File("in/locked.pdf")})
                .exitCode,
            0);
  Write("in/page.pdf", "<html>not a pdf</html>");
  // 64 MiB of zeros in each of 40 members: 2.5 GiB unpacked from a file of a few hundred KiB.
  const test::CommandResult zeros =
      test::RunCommand({"sh", "-c", "head -c 64M /dev/zero | gzip -1 > " + dir.File("member.gz")});
  ASSERT_EQ(zeros.exitCode, 0) << zeros.err;
  const std::string member = test::ReadFileText(dir.File("member.gz"));
  std::string bomb;
  for (int i = 0; i < 40; ++i) bomb += member;
  Write("in/bomb.ps.gz", bomb);

  const test::CommandResult run =
      Run({"-f", "png", "--max-unpacked", "256M", "-o", dir.File("out"), dir.File("in")});
  EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
  for (const auto& [name, says] :
       {std::pair{"bomb.ps.gz", "unpacks to more than 256 MiB"},
        std::pair{"cut.pdf", "produced no page; the interpreter reported:"},
        std::pair{"locked.pdf", "requires a password"}, std::pair{"page.pdf", "not a PDF file"}}) {
    const std::string line = "Failed   " + dir.File("in/") + name + ": ";
    EXPECT_NE(run.out.find(line), std::string::npos) << name << "\n" << run.out;
    EXPECT_NE(run.out.find(says), std::string::npos) << says << "\n" << run.out;
  }
  EXPECT_FALSE(fs::exists(dir.File("out")));
  EXPECT_TRUE(TmpIsEmpty());
}

// Every image file under `root` (sources and folders aside), relative to it, sorted.
std::vector<std::string> ImagesUnder(const std::string& root) {
  std::vector<std::string> images;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file() && entry.path().extension() == ".png")
      images.push_back(fs::relative(entry.path(), root).string());
  std::sort(images.begin(), images.end());
  return images;
}

// Sources whose images would share names in one folder: a.ps (three red pages) and a.pdf (one
// blue page) of one folder, in every output mode, and a.ps of another folder (two pages). The
// later of two such files is refused, its line naming the option that keeps it apart; a run
// that adds that option, and the next one, if need be, converts every file, and no image of
// one source ever replaces another's. The advice never sends a run back where it was.
TEST_F(Cli, SameNamesConvertWithTheOptionTheRefusalNames) {
  Write("src/in/a.ps", ThreePages());
  Write("blue.ps", "%!PS\n0 0 1 setrgbcolor 100 100 200 200 rectfill showpage\n");
  Write("src/other/a.ps", "%!PS\nshowpage showpage\n");
  ASSERT_EQ(test::RunCommand({"ps2pdf", dir.File("blue.ps"), dir.File("src/in/a.pdf")}).exitCode,
            0);
  const std::vector<std::string> sourceFiles = {"in/a.pdf", "in/a.ps", "other/a.ps"};
  const std::string src = dir.File("src");
  const std::string out = dir.File("src/out");
  const std::vector<std::string> inFolder = {dir.File("src/in")};
  const std::vector<std::string> bothFolders = {dir.File("src/in"), dir.File("src/other/a.ps")};
  const std::vector<std::string> fullNames = {"a.pdf_001.png", "a.ps_001.png", "a.ps_002.png",
                                              "a.ps_003.png"};
  const std::vector<std::string> otherFullNames = {"a.ps_001.png", "a.ps_002.png"};
  auto under = [](const std::string& folder, const std::vector<std::string>& names) {
    std::vector<std::string> paths;
    for (const std::string& name : names) paths.push_back(folder + name);
    return paths;
  };
  auto each = [&](const std::string& folder, bool other) {
    std::vector<std::string> paths = {folder + "a.pdf_images/a.pdf_001.png"};
    for (const char* page : {"001", "002", "003"})
      paths.push_back(folder + "a.ps_images/a.ps_" + page + ".png");
    if (other)
      for (const char* page : {"001", "002"})
        paths.push_back("other/a.ps_images/a.ps_" + std::string(page) + ".png");
    return paths;
  };
  std::vector<std::string> besideBoth = under("in/", fullNames);
  for (const std::string& path : under("other/", otherFullNames)) besideBoth.push_back(path);

  struct Case {
    const char* what;
    std::string profile;
    std::vector<std::string> args;
    std::vector<std::string> sources;
    std::vector<std::string> advice;  // the options the refusals name, run after run
    std::vector<std::string> images;  // under src/, once every file converted
  };
  const Case cases[] = {
      {"-o", "", {"-o", out}, inFolder, {"--full-names"}, under("out/", fullNames)},
      {"-o --each", "", {"-o", out, "--each"}, inFolder, {"--full-names"}, each("out/", false)},
      {"--beside", "", {"--beside"}, inFolder, {"--full-names"}, under("in/", fullNames)},
      {"--beside --each",
       "",
       {"--beside", "--each"},
       inFolder,
       {"--full-names"},
       each("in/", false)},
      {"chosen in Profile.ini",
       "[Set]\nfullnames=1\n",
       {"-o", out},
       inFolder,
       {},
       under("out/", fullNames)},
      {"two folders, -o", "", {"-o", out}, bothFolders, {"--full-names", "--beside"}, besideBoth},
      {"two folders, --each",
       "",
       {"-o", out, "--each"},
       bothFolders,
       {"--full-names", "--beside"},
       each("in/", true)},
  };
  const std::regex advice(
      R"(\nFailed   [^\n]*: Its images would replace those of [^\n]*; add (--[a-z-]+), )");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Write("p.ini", c.profile);
    std::vector<std::string> args = c.args;
    std::vector<std::string> named;
    test::CommandResult run;
    for (int round = 0; round < 4; ++round) {
      // Each run begins from the sources alone.
      for (const std::string& image : ImagesUnder(src)) fs::remove(src + "/" + image);
      fs::remove_all(out);
      for (const char* folder : {"in", "other"})
        for (const auto& entry : fs::directory_iterator(src + "/" + folder))
          if (entry.is_directory()) fs::remove_all(entry.path());
      std::vector<std::string> command = {"-f", "png"};
      command.insert(command.end(), args.begin(), args.end());
      command.insert(command.end(), c.sources.begin(), c.sources.end());
      run = Run(command);
      if (run.exitCode == 0) break;
      ASSERT_EQ(run.exitCode, 1) << Lines(run);
      // Every refusal of the run names one option, and the same one.
      std::set<std::string> options;
      const std::string text = "\n" + run.out;
      for (std::sregex_iterator it(text.begin(), text.end(), advice), end; it != end; ++it)
        options.insert((*it)[1]);
      ASSERT_EQ(options.size(), 1u) << Lines(run);
      const std::string option = *options.begin();
      // Full names come with the name the refused file's first image then takes.
      if (option == "--full-names") {
        EXPECT_NE(run.out.find("--full-names, which names the images after the full file names "
                               "(a.ps_001.png)\n"),
                  std::string::npos)
            << run.out;
      }
      ASSERT_EQ(std::find(args.begin(), args.end(), option), args.end())
          << option << " again: " << Lines(run);
      named.push_back(option);
      args.push_back(option);
    }
    EXPECT_EQ(run.exitCode, 0) << Lines(run);
    EXPECT_EQ(named, c.advice);
    EXPECT_EQ(ImagesUnder(src), c.images);
    // Each image is its own source's page: a.pdf's is blue, other/a.ps's white, and the red of
    // in/a.ps grows with its page number.
    for (const std::string& image : c.images) {
      const auto png = test::PillowDecode(src + "/" + image);
      ASSERT_TRUE(png) << image;
      const std::string name = fs::path(image).filename().string();
      const int page = name[name.size() - 5] - '0';
      std::array<double, 3> expected = {page * 0.3 * 255, 0, 0};
      if (name.starts_with("a.pdf")) expected = {0, 0, 255};
      if (image.starts_with("other/")) expected = {255, 255, 255};
      const auto square = png->At(200, png->height - 200);
      for (int channel = 0; channel < 3; ++channel)
        EXPECT_NEAR(square[channel], expected[channel], 2) << image;
    }
  }
  EXPECT_TRUE(TmpIsEmpty());
}

// With full names, a later run finds the images again: --resume skips what the report shows
// converted with the same choice, --skip-existing finds the first image under its full name,
// and a run without the choice (other names, other images) is not skipped for it.
TEST_F(Cli, ResumeAndSkipExistingFindFullNames) {
  Write("in/a.ps", ThreePages());
  ASSERT_EQ(test::RunCommand({"ps2pdf", dir.File("in/a.ps"), dir.File("in/a.pdf")}).exitCode, 0);
  const std::string a = dir.File("in/a.ps");
  const std::string pdf = dir.File("in/a.pdf");
  const std::string report = dir.File("r.jsonl");
  struct Step {
    const char* what;
    std::vector<std::string> args;
    std::vector<std::string> converted, skipped, failed;
  };
  const Step steps[] = {
      {"first", {"--full-names", "--resume", report}, {pdf, a}, {}, {}},
      {"again", {"--full-names", "--resume", report}, {}, {pdf, a}, {}},
      {"by date", {"--full-names", "--skip-existing"}, {}, {pdf, a}, {}},
      {"image gone", {"--full-names", "--resume", report}, {a}, {pdf}, {}},
      {"without full names", {"--resume", report}, {pdf}, {}, {a}},
  };
  for (const Step& step : steps) {
    if (std::string(step.what) == "image gone") fs::remove(dir.File("out/a.ps_002.png"));
    std::vector<std::string> args = {"-f", "png", "-o", dir.File("out")};
    args.insert(args.end(), step.args.begin(), step.args.end());
    args.push_back(dir.File("in"));
    const test::CommandResult run = Run(args);
    EXPECT_EQ(run.exitCode, step.failed.empty() ? 0 : 1) << step.what << "\n" << Lines(run);
    for (const std::string& source : step.converted)
      EXPECT_TRUE(Converted(run, source)) << step.what << " " << source << "\n" << run.out;
    for (const std::string& source : step.skipped)
      EXPECT_TRUE(Skipped(run, source)) << step.what << " " << source << "\n" << run.out;
    for (const std::string& source : step.failed)
      EXPECT_NE(run.out.find("Failed   " + source + ": "), std::string::npos)
          << step.what << " " << source << "\n"
          << run.out;
  }
  EXPECT_TRUE(fs::exists(dir.File("out/a.ps_002.png")));
  EXPECT_TRUE(fs::exists(dir.File("out/a.pdf_003.png")));
}


// A PDF document of `pages` pages, page k a grey square of its own, its objects in page order
// after the catalog and the page tree; `ends[k]` gets the length of the bytes up to the end of
// page k's last object, so that a download cut there holds exactly the first k pages.
std::string PlainPdf(int pages, std::vector<size_t>* ends) {
  std::string out = "%PDF-1.4\n";
  std::vector<size_t> offsets(static_cast<size_t>(2 * pages + 3), 0);
  const auto object = [&](int number, const std::string& body) {
    offsets[static_cast<size_t>(number)] = out.size();
    out += std::to_string(number) + " 0 obj\n" + body + "\nendobj\n";
  };
  object(1, "<< /Type /Catalog /Pages 2 0 R >>");
  std::string kids;
  for (int k = 0; k < pages; ++k) kids += std::to_string(3 + 2 * k) + " 0 R ";
  object(2, "<< /Type /Pages /Count " + std::to_string(pages) + " /Kids [" + kids + "] >>");
  ends->assign(1, out.size());
  for (int k = 0; k < pages; ++k) {
    const std::string content =
        std::to_string(0.1 + 0.8 * k / pages) + " g 20 20 " + std::to_string(60 + k) + " 60 re f";
    object(3 + 2 * k, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 144 144] /Contents " +
                          std::to_string(4 + 2 * k) + " 0 R >>");
    object(4 + 2 * k, "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
                          "\nendstream");
    ends->push_back(out.size());
  }
  const size_t xref = out.size();
  out += "xref\n0 " + std::to_string(offsets.size()) + "\n0000000000 65535 f \n";
  for (size_t n = 1; n < offsets.size(); ++n) {
    char entry[32];
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offsets[n]);
    out += entry;
  }
  out += "trailer\n<< /Size " + std::to_string(offsets.size()) +
         " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return out;
}

// A DSC PostScript document whose header promises `declared` pages ("(atend)" when 0) and that
// prints `printed`; `eof` ends it as a whole DSC document ends.
std::string DscDocument(int declared, int printed, bool eof) {
  std::string ps = "%!PS-Adobe-3.0\n%%Pages: " +
                   (declared > 0 ? std::to_string(declared) : std::string("(atend)")) +
                   "\n%%EndComments\n<< /PageSize [144 144] >> setpagedevice\n";
  for (int k = 1; k <= printed; ++k) {
    ps += "%%Page: " + std::to_string(k) + " " + std::to_string(k) + "\n" +
          std::to_string(0.1 * k) + " setgray 20 20 100 100 rectfill showpage\n";
  }
  if (eof) ps += "%%Trailer\n%%EOF\n";
  return ps;
}

// "Succeed" means every page the document holds was written. A document cut short (a PDF whose
// page tree counts more pages than could be drawn; a DSC program that ends before the pages its
// header promises, without its %%EOF) fails, says which pages are missing and keeps the images
// it gave, at every job count; a program that reaches its end is judged by what it printed.
TEST_F(Cli, DocumentsCutShortFailAndKeepTheirImages) {
  std::vector<size_t> ends;
  const std::string pdf = PlainPdf(12, &ends);
  const struct {
    const char* name;
    std::string bytes;
    int images;
    int expected;         // the pages the report records as expected, -1 for none
    const char* missing;  // what the reason names, nullptr for a file that succeeds
  } documents[] = {
      {"whole.pdf", pdf, 12, 12, nullptr},
      {"cut1.pdf", pdf.substr(0, ends[1]), 1, 12, "pages 2\u201312 were not drawn"},
      {"cut6.pdf", pdf.substr(0, ends[6]), 6, 12, "pages 7\u201312 were not drawn"},
      {"cut11.pdf", pdf.substr(0, ends[11]), 11, 12, "page 12 was not drawn"},
      {"half.ps", DscDocument(8, 4, false), 4, 8, "pages 5\u20138 were not drawn"},
      // A header may promise any number: the reason names them without counting them out.
      {"huge.ps", DscDocument(999999999, 2, false), 2, 999999999,
       "pages 3\u2013999999999 were not drawn"},
      {"atend.ps", DscDocument(0, 4, false), 4, -1, nullptr},
      {"more.ps", DscDocument(2, 3, true), 3, -1, nullptr},
      {"fewer.ps", DscDocument(5, 3, true), 3, -1, nullptr},
  };
  for (const auto& document : documents) Write(std::string("in/") + document.name, document.bytes);
  // TGA: the default job count may draw the PDF documents in two parts.
  for (const char* jobs : {"1", "2"}) {
    SCOPED_TRACE(std::string("--jobs ") + jobs);
    fs::remove_all(dir.File("out"));
    fs::remove(dir.File("report.jsonl"));
    const test::CommandResult run = Run({"-f", "tga", "--dpi", "72", "--jobs", jobs, "-o",
                                         dir.File("out"), "--report", dir.File("report.jsonl"),
                                         dir.File("in")});
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    const test::CommandResult report = test::RunCommand(
        {"python3", "-c",
         "import json, sys\n"
         "for line in open(sys.argv[1], encoding='utf-8'):\n"
         "  r = json.loads(line)\n"
         "  print(r['source'].split('/')[-1], r['status'], len(r['outputs']), r['pages'],"
         " r['pages_expected'])\n",
         dir.File("report.jsonl")});
    ASSERT_EQ(report.exitCode, 0) << report.err;
    for (const auto& document : documents) {
      SCOPED_TRACE(document.name);
      const std::string stem = fs::path(document.name).stem().string();
      const std::string expected = std::string(document.expected < 0 ? "None" : "") +
                                   (document.expected < 0 ? "" : std::to_string(document.expected));
      const std::string record = std::string(document.name) + " " +
                                 (document.missing ? "Failed" : "Succeed") + " " +
                                 std::to_string(document.images) + " " +
                                 std::to_string(document.images) + " " + expected + "\n";
      EXPECT_NE(report.out.find(record), std::string::npos) << report.out;
      for (int page = 1; page <= 12; ++page) {
        char name[64];
        std::snprintf(name, sizeof name, "out/%s_%03d.tga", stem.c_str(), page);
        EXPECT_EQ(fs::exists(dir.File(name)), page <= document.images) << name;
      }
      if (document.missing != nullptr) {
        const std::string line = "Failed   " + dir.File(std::string("in/") + document.name) +
                                 ": " + document.missing;
        EXPECT_NE(run.out.find(line), std::string::npos) << run.out;
      }
    }
  }
  EXPECT_TRUE(TmpIsEmpty());
}

}  // namespace
}  // namespace orvalis
