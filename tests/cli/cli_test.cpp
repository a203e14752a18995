// orvalis-cli end to end, with the real Ghostscript behind the renderer plug-in.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace orvalis {
namespace {

namespace fs = std::filesystem;

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
  struct Case {
    std::vector<std::string> args;
    const char* says;
  };
  const Case cases[] = {
      {{}, "no PostScript file"},
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
      {{text}, "not a .ps file"},
      {{dir.File("missing.ps")}, "no such file"},
      {{dir.File("loop.ps")}, "Too many levels of symbolic links"},
  };
  fs::create_symlink("loop.ps", dir.Path() / "loop.ps");
  for (const Case& c : cases) {
    const test::CommandResult result = Run(c.args);
    EXPECT_EQ(result.exitCode, 2) << c.says;
    EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("usage: orvalis-cli"), std::string::npos);
  }
  // A format index out of range in the profile means JPEG, and the message says so.
  Write("p.ini", "[Set]\ntype=20\n");
  const test::CommandResult jpeg = Run({"--color", "16 Color", doc});
  EXPECT_EQ(jpeg.exitCode, 2);
  EXPECT_NE(jpeg.err.find("not offered for jpg; choose one of: True Color, 256 Grays"),
            std::string::npos)
      << jpeg.err;
  fs::remove(dir.File("p.ini"));
  EXPECT_EQ(Run({"--help"}).exitCode, 0);
  EXPECT_NE(Run({"--version"}).out.find("orvalis-cli"), std::string::npos);
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

TEST_F(Cli, NamesThatShellsAndFormatsStumbleOver) {
  // The long one makes page names of up to 255 bytes, the longest a file name may be, when the
  // page number grows to its ten digits.
  const std::string names[] = {
      "my report.ps", "it's \"quoted\".ps",      "100%d.ps",
      "-dash.ps",     "r\xC3\xA9sum\xC3\xA9.ps", "line\nbreak.ps",
      "tab\there.ps", "back\\slash.ps",          std::string(240, 'n') + ".ps"};
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
  EXPECT_NE(run.out.find("odd/line?break.ps -> "), std::string::npos) << run.out;
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

TEST_F(Cli, EndlessFileIsStoppedByTheTimeout) {
  const std::string loop = Write("loop.ps", "%!PS\n{ } loop\n");
  const auto start = std::chrono::steady_clock::now();
  const test::CommandResult run = Run({"-f", "png", "-o", dir.File("out"), "--timeout", "2", loop});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.out.find("longer than 2 s"), std::string::npos) << run.out;
  EXPECT_TRUE(TmpIsEmpty());
}

// Starts orvalis-cli in the background with its standard output on `stdoutFd`.
pid_t SpawnCli(const std::vector<std::string>& cliArgs, int stdoutFd) {
  std::vector<std::string> args = {"env"};
  args.insert(args.end(), cliArgs.begin(), cliArgs.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, "env", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return spawned == 0 ? pid : -1;
}

int WaitForExit(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Ctrl+C, and a terminal that closes, stop the run the same way.
TEST_F(Cli, CtrlCStopsTheRunAndCleansUp) {
  const std::string loop = Write("loop.ps", "%!PS\n{ } loop\n");
  for (int signal : {SIGINT, SIGHUP}) {
    const int out = open(dir.File("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const pid_t pid = SpawnCli({"TMPDIR=" + Tmp(), CliPath(), "--profile", dir.File("p.ini"), "-f",
                                "png", "-o", dir.File("out"), loop, loop},
                               out);
    close(out);
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    kill(pid, signal);
    EXPECT_EQ(WaitForExit(pid), 130) << signal;
    const std::vector<uint8_t> bytes = test::ReadFileBytes(dir.File("stdout"));
    const std::string printed(bytes.begin(), bytes.end());
    EXPECT_NE(printed.find("Aborted  " + loop), std::string::npos) << printed;
    EXPECT_TRUE(TmpIsEmpty());
  }
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
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
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

}  // namespace
}  // namespace orvalis
