// The settings record against Profile.ini: defaults, the checks on load, what each writer puts
// into the file and in which order.

#include "settings/conversion_settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <variant>

#include "tests/support/temp_dir.h"

namespace orvalis {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// Every test runs with HOME in a folder of its own, so folder defaults are predictable.
class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* home = std::getenv("HOME");
    savedHome_ = home != nullptr ? std::optional<std::string>(home) : std::nullopt;
    setenv("HOME", home_.Path().c_str(), 1);
    profile_ = dir_.File("Profile.ini");
  }
  void TearDown() override {
    if (savedHome_)
      setenv("HOME", savedHome_->c_str(), 1);
    else
      unsetenv("HOME");
  }

  std::string Home() const { return home_.Path().string() + "/"; }

  ConversionSettings LoadAll(std::string_view fileText) {
    test::WriteFileText(profile_, fileText);
    ConversionSettings settings;
    LoadWindowSettings(profile_, settings);
    LoadConversionOptions(profile_, settings);
    return settings;
  }

  TempDir dir_;
  TempDir home_;
  std::string profile_;
  std::optional<std::string> savedHome_;
};

using Value = std::variant<int32_t, std::string>;

Value ValueOf(const ConversionSettings& settings, const std::string& key) {
  if (std::optional<int32_t> number = SettingNumber(settings, key)) return *number;
  if (std::optional<std::string> text = SettingText(settings, key)) return *text;
  ADD_FAILURE() << "no field " << key;
  return 0;
}

std::string Show(const Value& value) {
  if (const int32_t* number = std::get_if<int32_t>(&value)) return std::to_string(*number);
  return '"' + std::get<std::string>(value) + '"';
}

TEST_F(SettingsTest, NoFileGivesEveryDefault) {
  ConversionSettings settings;
  settings.xdpi = 300;  // loads overwrite whatever the record held
  settings.gifc = "B&W";
  LoadWindowSettings(dir_.File("absent.ini"), settings);
  LoadConversionOptions(dir_.File("absent.ini"), settings);
  const std::map<std::string, Value> expected = {
      {"type", 0},
      {"mode", 1},
      {"output", Home() + "My Doc/"},
      {"resize", 0},
      {"width", 594},
      {"height", 842},
      {"angle", 0},
      {"xdpi", 72},
      {"ydpi", 72},
      {"each", 0},
      {"fullnames", 0},
      {"bmpc", "True Color"},
      {"pngc", "True Color"},
      {"pcxc", "True Color"},
      {"gifc", "256 Color"},
      {"tgac", "True Color"},
      {"jp2c", "True Color"},
      {"rasc", "True Color"},
      {"jpcc", "True Color"},
      {"jpgc", "True Color"},
      {"JQu", 75},
      {"tifc", "True Color"},
      {"compress", 3},
      {"TJQu", 75},
      {"multpage", 0},
  };
  for (const auto& [key, value] : expected) {
    EXPECT_EQ(Show(ValueOf(settings, key)), Show(value)) << key;
  }
  EXPECT_FALSE(fs::exists(Home() + "My Doc"));  // the default folder is not created by a load
}

TEST_F(SettingsTest, LoadChecksAndKeepsValuesAsTheFileHoldsThem) {
  struct Case {
    const char* line;
    const char* key;
    Value expected;
  };
  const std::string myDoc = Home() + "My Doc/";
  const Case cases[] = {
      {"mode=2", "mode", 1},
      {"mode=-1", "mode", 1},
      {"mode=0", "mode", 0},
      {"mode=abc", "mode", 0},  // text without digits reads as 0, which is a valid mode
      {"xdpi=50", "xdpi", 72},
      {"ydpi=601", "ydpi", 600},
      {"xdpi=abc", "xdpi", 72},
      {"xdpi=1200", "xdpi", 600},
      {"ydpi=-300", "ydpi", 72},
      {"xdpi=  300dpi", "xdpi", 300},
      {"xdpi=", "xdpi", 72},
      // A key that is there but empty reads as 0, not as its default.
      {"width=", "width", 0},
      {"height=", "height", 0},
      {"JQu=", "JQu", 0},
      {"mode=", "mode", 0},
      {"output=", "output", myDoc},
      {"output=/data/out/", "output", "/data/out/"},
      {"output=/data/out", "output", "/data/out/"},
      {"gifc=Purple", "gifc", "Purple"},
      {"gifc=256 grays", "gifc", "256 grays"},
      {"bmpc=", "bmpc", ""},
      {"tifc=0123456789012345678901234567890123456789", "tifc", "0123456789012345678901234567890"},
      {"jpgc=\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"
       "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9",
       "jpgc",
       "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"
       "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"},  // cut before a split character
      {"width=595", "width", 595},
      {"JQu=150", "JQu", 150},
      {"compress=9", "compress", 9},
      {"angle=45", "angle", 45},
      {"TYPE=4", "type", 4},
      {"multpage=1", "multpage", 1},
  };
  for (const Case& c : cases) {
    const ConversionSettings settings = LoadAll(std::string("[Set]\n") + c.line + "\n");
    EXPECT_EQ(Show(ValueOf(settings, c.key)), Show(c.expected)) << c.line;
  }
}

TEST_F(SettingsTest, OptionLoadStartsFromScratchAndLeavesWindowFieldsAlone) {
  ConversionSettings settings = LoadAll("[Set]\nbmpc=B&W\nJQu=10\ntype=5\n");
  ASSERT_EQ(settings.bmpc, "B&W");
  test::WriteFileText(profile_, "[Set]\ntype=2\n");
  LoadConversionOptions(profile_, settings);
  EXPECT_EQ(settings.bmpc, "True Color");
  EXPECT_EQ(settings.JQu, 75);
  EXPECT_EQ(settings.type, 5);  // window fields are loaded only by LoadWindowSettings
}

SettingEntries Concat(std::initializer_list<SettingEntries> parts) {
  SettingEntries all;
  for (const SettingEntries& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

TEST_F(SettingsTest, PageEntriesAreWrittenInOrderInOneWrite) {
  CommonPageKeys common;
  common.angle = "90";
  common.width = "100";
  common.height = "200";
  common.resize = 1;
  common.each = 0;
  common.fullnames = 1;
  common.xdpi = "1000";
  common.ydpi = "96";
  ASSERT_TRUE(WriteSettingEntries(
      profile_, Concat({CommonPageEntries(common), ColorPageEntries("gifc", "16 Grays"),
                        JpegPageEntries("256 Grays", 33), TiffPageEntries("B&W", 60, 6, 1)})));
  ASSERT_TRUE(SaveWindowSettings(profile_, 3, 0, "/data/out/"));
  EXPECT_EQ(
      test::ReadFileText(profile_),
      "[Set]\nangle=90\nwidth=100\nheight=200\nresize=1\neach=0\nfullnames=1\nxdpi=1000\n"
      "ydpi=96\ngifc=16 Grays\njpgc=256 Grays\nJQu=33\ntifc=B&W\nTJQu=60\ncompress=6\nmultpage=1\n"
      "output=/data/out/\ntype=3\nmode=0\n");

  // What the pages wrote comes back through a reload, typed resolutions clamped.
  ConversionSettings settings;
  LoadWindowSettings(profile_, settings);
  LoadConversionOptions(profile_, settings);
  EXPECT_EQ(settings.xdpi, 600);
  EXPECT_EQ(settings.ydpi, 96);
  EXPECT_EQ(settings.angle, 90);
  EXPECT_EQ(settings.gifc, "16 Grays");
  EXPECT_EQ(settings.fullnames, 1);
  EXPECT_EQ(settings.compress, 6);
  EXPECT_EQ(settings.output, "/data/out/");
  EXPECT_EQ(settings.mode, 0);

  // Writing again replaces values where they stand; a list without selection leaves its key.
  common.angle.reset();
  common.xdpi = "300";
  common.width = "";
  ASSERT_TRUE(WriteSettingEntries(
      profile_, Concat({CommonPageEntries(common), ColorPageEntries("gifc", std::nullopt)})));
  const std::string text = test::ReadFileText(profile_);
  EXPECT_EQ(text.substr(0, text.find("gifc")),
            "[Set]\nangle=90\nwidth=\nheight=200\nresize=1\neach=0\nfullnames=1\nxdpi=300\n"
            "ydpi=96\n");
  EXPECT_NE(text.find("gifc=16 Grays\n"), std::string::npos);
  // An emptied width turns resizing off: it loads as 0, and a size of 0 is not resized to.
  LoadConversionOptions(profile_, settings);
  EXPECT_EQ(settings.width, 0);
  EXPECT_EQ(settings.resize, 1);
}

TEST_F(SettingsTest, AWriteThatFailsStoresNoEntry) {
  test::WriteFileText(profile_, "[Set]\nJQu=20\n");
  // The second entry cannot be stored (a line break in a value): nothing is, not even the first.
  const SettingEntries entries = {{"gifc", "B&W"}, {"width", "1\n2"}, {"height", "9"}};
  std::string error;
  EXPECT_FALSE(WriteSettingEntries(profile_, entries, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(test::ReadFileText(profile_), "[Set]\nJQu=20\n");
}

TEST_F(SettingsTest, ColorPageEntriesTakeOnlyColourPageKeys) {
  for (const char* key : {"bmpc", "pngc", "pcxc", "gifc", "tgac", "jp2c", "rasc", "jpcc"}) {
    EXPECT_EQ(ColorPageEntries(key, "B&W"), (SettingEntries{{key, "B&W"}})) << key;
  }
  for (const char* key : {"type", "jpgc", "tifc", "output", "GIFC"}) {
    EXPECT_TRUE(ColorPageEntries(key, "B&W").empty()) << key;
  }
}

TEST_F(SettingsTest, AddFileFolderDefaultsToHome) {
  EXPECT_EQ(LoadAddFileFolder(profile_), Home());
  ASSERT_TRUE(SaveAddFileFolder(profile_, "/data/ps files/"));
  EXPECT_EQ(LoadAddFileFolder(profile_), "/data/ps files/");
  ConversionSettings settings;
  LoadConversionOptions(profile_, settings);  // not a field of the record, not disturbed by it
  EXPECT_EQ(LoadAddFileFolder(profile_), "/data/ps files/");
}

TEST_F(SettingsTest, SetSettingFromTextAppliesTheLoadChecks) {
  ConversionSettings settings;
  EXPECT_TRUE(SetSettingFromText(settings, "xdpi", "1200"));
  EXPECT_EQ(settings.xdpi, 600);
  EXPECT_TRUE(SetSettingFromText(settings, "MODE", "7"));
  EXPECT_EQ(settings.mode, 1);
  EXPECT_TRUE(SetSettingFromText(settings, "pngc", "16 Grays"));
  EXPECT_EQ(SettingText(settings, "pngc"), "16 Grays");
  EXPECT_FALSE(SetSettingFromText(settings, "AddFile", "/x/"));
  EXPECT_FALSE(SetSettingFromText(settings, "nonsense", "1"));
  EXPECT_EQ(SettingNumber(settings, "pngc"), std::nullopt);
  EXPECT_EQ(SettingText(settings, "xdpi"), std::nullopt);
}

TEST_F(SettingsTest, ProfileFallsBackToTheConfigFolderWhenTheProgramFolderIsNotWritable) {
  EXPECT_EQ(ProfilePathFor(dir_.Path().string() + "/"), dir_.File("Profile.ini"));

  TempDir config;
  setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
  const std::string path = ProfilePathFor(dir_.File("no-such-folder") + "/");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(path, config.Path().string() + "/kestrune-orvalis/Profile.ini");
  // An installed copy under /usr uses the user's folder even when root could write there.
  setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
  EXPECT_EQ(ProfilePathFor("/usr/lib/"), path);
  unsetenv("XDG_CONFIG_HOME");
  struct stat info {};
  ASSERT_EQ(stat((config.Path() / "kestrune-orvalis").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_TRUE(SaveWindowSettings(path, 1, 1, "/x/"));

  // Without XDG_CONFIG_HOME: ~/.config.
  EXPECT_EQ(ProfilePathFor(dir_.File("no-such-folder") + "/"),
            Home() + ".config/kestrune-orvalis/Profile.ini");
}

}  // namespace
}  // namespace orvalis
