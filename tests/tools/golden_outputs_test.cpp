// The bytes orvalis-job and orvalis-cli write, pinned by their SHA-256 digests: every output
// format in every colour mode (and TIFF in every compression), on one page made in code for
// orvalis-job and on one page rendered from a PostScript file for orvalis-cli. Any change to an
// encoder, a pipeline step or the option plumbing shows here as a changed digest.
//
// When a change of output is intended, regenerate the list with
//   ORVALIS_UPDATE_GOLDEN=1 build/dev/bin/test_golden_outputs
// and say in the commit why the bytes changed.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_pages.h"

namespace orvalis {
namespace {

namespace fs = std::filesystem;

const std::string kGoldenFile = std::string(ORVALIS_TESTS_TOOLS_DIR) + "/golden_outputs.txt";

std::string BinDir() {
  const char* dir = std::getenv("ORVALIS_BIN_DIR");
  return dir != nullptr ? dir : "";
}

std::string Digest(const std::string& path) {
  if (!fs::exists(path)) return "missing";
  const test::CommandResult sum = test::RunCommand({"sha256sum", "-b", path});
  return sum.exitCode == 0 ? sum.out.substr(0, 64) : "unreadable";
}

std::map<std::string, std::string> ReadGolden() {
  std::map<std::string, std::string> golden;
  std::istringstream in(fs::exists(kGoldenFile) ? test::ReadFileText(kGoldenFile) : "");
  std::string name, digest;
  while (in >> name >> digest) golden[name] = digest;
  return golden;
}

// Collects the digests of a suite, then compares them with the kept list (or rewrites it).
class GoldenOutputs : public ::testing::Test {
 protected:
  void Record(const std::string& name, const std::string& digest) { found_[name] = digest; }

  void CompareWithKept(const std::string& prefix) {
    std::map<std::string, std::string> golden = ReadGolden();
    if (std::getenv("ORVALIS_UPDATE_GOLDEN") != nullptr) {
      std::erase_if(golden, [&](const auto& entry) { return entry.first.rfind(prefix, 0) == 0; });
      golden.insert(found_.begin(), found_.end());
      std::string text;
      for (const auto& [name, digest] : golden) text += name + " " + digest + "\n";
      test::WriteFileText(kGoldenFile, text);
      return;
    }
    size_t kept = 0;
    for (const auto& [name, digest] : golden) {
      if (name.rfind(prefix, 0) != 0) continue;
      ++kept;
      const auto it = found_.find(name);
      ASSERT_NE(it, found_.end()) << name << " was not produced";
      EXPECT_EQ(it->second, digest) << name << ": the bytes written changed";
    }
    EXPECT_EQ(kept, found_.size()) << "cases without a kept digest: regenerate the list";
  }

  test::TempDir dir;
  std::map<std::string, std::string> found_;
};

struct ColourMode {
  const char* name;  // as the colour settings name it, spaces and '&' left out
  int bpp;
  bool gray;
  const char* cliName;
};

constexpr ColourMode kColourModes[] = {
    {"TrueColor", 24, false, "True Color"}, {"256Color", 8, false, "256 Color"},
    {"256Grays", 8, true, "256 Grays"},     {"16Color", 4, false, "16 Color"},
    {"16Grays", 4, true, "16 Grays"},       {"BW", 1, false, "B&W"},
};

constexpr const char* kFormats[] = {"bmp", "emf", "wmf", "jpg", "png", "gif",
                                    "tif", "pcx", "tga", "jp2", "ras", "jpc"};

TEST_F(GoldenOutputs, OrvalisJobWritesTheSameBytes) {
  const std::string page = dir.File("page.bmp");
  const std::string page2 = dir.File("page2.bmp");
  ASSERT_TRUE(test::WriteTestPage(page, 37, 23));
  ASSERT_TRUE(test::WriteTestPage(page2, 19, 29));
  const std::string job = BinDir() + "/orvalis-job";

  auto run = [&](const std::string& name, const std::string& out, std::vector<std::string> args) {
    args.insert(args.begin(), job);
    const test::CommandResult result = test::RunCommand(args);
    Record("job/" + name,
           result.exitCode == 0 ? Digest(out) : "exit" + std::to_string(result.exitCode));
  };

  for (const char* format : kFormats) {
    for (const ColourMode& mode : kColourModes) {
      const std::string out = dir.File(std::string(mode.name) + "." + format);
      std::vector<std::string> args = {"--format", format, "--bpp", std::to_string(mode.bpp),
                                       "--out",    out};
      if (mode.gray) args.push_back("--gray");
      args.push_back(page);
      run(std::string(format) + "/" + mode.name, out, args);
    }
  }
  for (int compression = 0; compression <= 7; ++compression) {
    for (const ColourMode& mode : kColourModes) {
      const std::string out = dir.File("c" + std::to_string(compression) + mode.name + ".tif");
      std::vector<std::string> args = {"--format",      "tif",
                                       "--compression", std::to_string(compression),
                                       "--bpp",         std::to_string(mode.bpp),
                                       "--quality",     "60",
                                       "--out",         out};
      if (mode.gray) args.push_back("--gray");
      args.push_back(page);
      run("tif-compression" + std::to_string(compression) + "/" + mode.name, out, args);
    }
  }
  // Turned, resized, other resolutions and qualities, and a merged TIFF of two pages.
  for (const char* format : {"png", "jpg", "tif", "emf", "wmf", "jp2", "bmp"}) {
    const std::string out = dir.File(std::string("turned.") + format);
    run(std::string("turned/") + format, out,
        {"--format", format, "--angle", "90", "--width", "30", "--height", "50", "--xdpi", "300",
         "--ydpi", "200", "--quality", "40", "--out", out, page});
  }
  const std::string merged = dir.File("merged.tif");
  run("merged/tif", merged,
      {"--format", "tif", "--compression", "1", "--multipage", merged, page, page2});
  CompareWithKept("job/");
}

// A page with flat colours only, so that the renderer draws it the same way everywhere.
constexpr char kFlatPage[] =
    "%!PS\n"
    "<< /PageSize [144 108] >> setpagedevice\n"
    "1 0 0 setrgbcolor 0 0 72 54 rectfill\n"
    "0 0.5 1 setrgbcolor 72 0 72 54 rectfill\n"
    "0.2 0.8 0.2 setrgbcolor 0 54 72 54 rectfill\n"
    "1 1 0 setrgbcolor 72 54 72 54 rectfill\n"
    "0 setgray 30 20 80 60 rectfill\n"
    "showpage\n";

TEST_F(GoldenOutputs, OrvalisCliWritesTheSameBytes) {
  if (test::RunCommand({"gs", "--version"}).exitCode != 0) GTEST_SKIP() << "no Ghostscript";
  const std::string source = dir.File("flat.ps");
  test::WriteFileText(source, kFlatPage);
  const std::string profile = dir.File("Profile.ini");
  test::WriteFileText(profile, "");
  const std::string cli = BinDir() + "/orvalis-cli";

  for (const char* format : kFormats) {
    for (const ColourMode& mode : kColourModes) {
      const std::string folder = dir.File(std::string(format) + "-" + mode.name);
      std::vector<std::string> args = {cli,     "--profile", profile, "-q",   "-f",  format,
                                       "--dpi", "72",        "-o",    folder, source};
      // The metafiles have no colour setting; the others refuse the names they do not offer.
      const bool metafile = format == std::string_view("emf") || format == std::string_view("wmf");
      if (metafile && mode.bpp != 24) continue;
      if (!metafile) args.insert(args.end() - 1, {"--color", mode.cliName});
      const test::CommandResult result = test::RunCommand(args);
      if (result.exitCode == 2) continue;
      std::string digest = "exit" + std::to_string(result.exitCode);
      if (result.exitCode == 0) {
        std::map<std::string, std::string> byName;  // in name order, whatever the folder's order
        for (const auto& entry : fs::directory_iterator(folder))
          byName[entry.path().filename().string()] = Digest(entry.path().string());
        std::string outputs;
        for (const auto& [name, sum] : byName) outputs += name + "=" + sum + ",";
        digest = test::RunCommand({"sh", "-c", "printf %s \"$0\" | sha256sum", outputs})
                     .out.substr(0, 64);
      }
      Record("cli/" + std::string(format) + "/" + mode.name, digest);
    }
  }
  const std::string merged = dir.File("merged");
  const test::CommandResult result =
      test::RunCommand({cli, "--profile", profile, "-q", "-f", "tif", "--merge", "--compression",
                        "lzw", "--angle", "270", "--dpi", "100", "-o", merged, source});
  Record("cli/merged/tif", result.exitCode == 0 ? Digest(merged + "/flat.tif")
                                                : "exit" + std::to_string(result.exitCode));
  CompareWithKept("cli/");
}

}  // namespace
}  // namespace orvalis
