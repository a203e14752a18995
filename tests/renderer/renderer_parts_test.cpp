// The renderer's inner parts: the gs command line, the output pattern, the search for gs, and
// what is kept of the interpreter's output.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "renderer/child_process.h"
#include "renderer/gs_arguments.h"
#include "renderer/interpreter_output.h"
#include "renderer/render_session.h"
#include "renderer/tavrinx.h"
#include "tests/support/temp_dir.h"

namespace orvalis::renderer {
namespace {

// How long a test waits for something it needs to happen before it gives up: only a guard
// against a hang, long enough for the busiest machine. Verdicts never depend on it.
constexpr auto kHangGuard = std::chrono::minutes(3);

TEST(EscapeOutputPattern, KeepsThePageNumberAndDoublesEveryOtherPercent) {
  const struct {
    const char* pattern;
    const char* escaped;
  } cases[] = {
      {"/tmp/mtmp_1/report_%03d.bmp", "/tmp/mtmp_1/report_%03d.bmp"},
      {"/tmp/100% done/50%_%03d.bmp", "/tmp/100%% done/50%%_%03d.bmp"},
      {"/tmp/%d dir/a%d_%03d.bmp", "/tmp/%%d dir/a%%d_%03d.bmp"},  // the last one counts
      {"/tmp/x/%s%x%%_%d.bmp", "/tmp/x/%%s%%x%%%%_%d.bmp"},
      {"/tmp/x/a%%03d.bmp", "/tmp/x/a%%%03d.bmp"},
      {"rel_%12d.bmp", "rel_%12d.bmp"},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeOutputPattern(c.pattern), c.escaped) << c.pattern;
  // Without a page number in the file name every page would overwrite the last one.
  for (const char* pattern : {"/tmp/x/report.bmp", "/tmp/%03d/report.bmp", "/tmp/x/a_%03x.bmp",
                              "/tmp/x/a_%-3d.bmp", ""}) {
    EXPECT_EQ(EscapeOutputPattern(pattern), std::nullopt) << pattern;
  }
}

TEST(GhostscriptArguments, AreExactlyTheRendererCommandLine) {
  const std::vector<std::string> expected = {"/usr/bin/gs",
                                             "-q",
                                             "-dSAFER",
                                             "-dBATCH",
                                             "-dNOPAUSE",
                                             "-sDEVICE=bmp16m",
                                             "-r150x300",
                                             "-dTextAlphaBits=4",
                                             "-dGraphicsAlphaBits=4",
                                             "-sOutputFile=/t/a b_%03d.bmp",
                                             "-f",
                                             "/t/-x \"q\".ps"};
  EXPECT_EQ(GhostscriptArguments("/usr/bin/gs", "/t/-x \"q\".ps", "/t/a b_%03d.bmp", 150, 300),
            expected);
}

TEST(FindProgramOnPath, TakesTheFirstExecutableAndSkipsRelativeEntries) {
  test::TempDir dir;
  const std::string a = dir.File("a"), b = dir.File("b");
  std::filesystem::create_directories(a);
  std::filesystem::create_directories(b);
  std::ofstream(a + "/tool") << "not executable";
  std::ofstream(b + "/tool") << "#!/bin/sh\n";
  chmod((b + "/tool").c_str(), 0755);
  EXPECT_EQ(FindProgramOnPath("tool", a + ":" + b), b + "/tool");
  EXPECT_EQ(FindProgramOnPath("tool", "::" + a), std::nullopt);
  EXPECT_EQ(FindProgramOnPath("tool", "."), std::nullopt);
  EXPECT_EQ(FindProgramOnPath("tool", ""), std::nullopt);
  EXPECT_EQ(FindProgramOnPath("sh", "/nonexistent:/bin"), "/bin/sh");
}

// Reads the child's whole output until it closes the pipe.
std::string ReadAllOutput(ChildProcess& child) {
  std::string text;
  char buffer[4096];
  for (;;) {
    pollfd fd{child.OutputFd(), POLLIN, 0};
    poll(&fd, 1, 5000);
    const ssize_t n = read(child.OutputFd(), buffer, sizeof buffer);
    if (n > 0) text.append(buffer, static_cast<size_t>(n));
    if (n == 0 || (n < 0 && errno != EAGAIN)) return text;
  }
}

// The process is gone (or a zombie waiting for a parent that is not us).
bool ProcessGone(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  return line.substr(line.rfind(')') + 2, 1) == "Z";
}

TEST(ChildProcess, RunsWithItsLimitsEnvironmentFolderAndGroup) {
  test::TempDir dir;
  SpawnRequest request;
  request.arguments = {
      "/bin/sh", "-c",
      "ulimit -v; ulimit -c; echo \"$MARK\"; pwd; cut -d' ' -f5 /proc/$$/stat; cat; "
      "echo err >&2; exit 3"};
  request.environment = {"MARK=a b", "PATH=/usr/bin:/bin"};
  request.workingFolder = dir.Path().string();
  request.addressSpaceLimit = uint64_t{1} << 30;
  std::string error;
  const auto child = ChildProcess::Start(request, &error);
  ASSERT_NE(child, nullptr) << error;
  std::istringstream lines(ReadAllOutput(*child));
  std::string addressKiB, core, mark, folder, group, stderrLine;
  std::getline(lines, addressKiB);
  std::getline(lines, core);
  std::getline(lines, mark);
  std::getline(lines, folder);
  std::getline(lines, group);
  std::getline(lines, stderrLine);  // standard input was empty: cat printed nothing
  EXPECT_EQ(addressKiB, "1048576");
  EXPECT_EQ(core, "0");
  EXPECT_EQ(mark, "a b");
  EXPECT_EQ(folder, dir.Path().string());
  EXPECT_EQ(std::stoi(group), child->Pid());
  EXPECT_EQ(stderrLine, "err");
  EXPECT_EQ(DescribeWaitStatus(child->Reap()), "exited with code 3");
}

TEST(ChildProcess, ReportsAProgramThatCannotStart) {
  SpawnRequest request;
  request.arguments = {"/nonexistent/gs"};
  request.workingFolder = "/";
  std::string error;
  EXPECT_EQ(ChildProcess::Start(request, &error), nullptr);
  EXPECT_NE(error.find("cannot start /nonexistent/gs"), std::string::npos) << error;
  request.arguments = {"/bin/true"};
  request.workingFolder = "/nonexistent-folder";
  EXPECT_EQ(ChildProcess::Start(request, &error), nullptr);
  EXPECT_NE(error.find("/nonexistent-folder"), std::string::npos) << error;
}

TEST(ChildProcess, DestroyingItKillsTheWholeGroup) {
  SpawnRequest request;
  request.arguments = {"/bin/sh", "-c", "sleep 100 & echo $!; wait"};
  request.workingFolder = "/";
  std::string error;
  auto child = ChildProcess::Start(request, &error);
  ASSERT_NE(child, nullptr) << error;
  // The grandchild's number, however long the shell takes to print it (the descriptor does not
  // block: an empty read means "not yet").
  std::string line;
  char c = 0;
  const auto until = std::chrono::steady_clock::now() + kHangGuard;
  while (c != '\n' && std::chrono::steady_clock::now() < until) {
    pollfd fd{child->OutputFd(), POLLIN, 0};
    poll(&fd, 1, 1000);
    const ssize_t got = read(child->OutputFd(), &c, 1);
    if (got == 0) break;
    if (got == 1 && c != '\n') line += c;
  }
  ASSERT_EQ(c, '\n') << "hang guard: the shell never said its child's number: " << line;
  const pid_t grandchild = std::stoi(line);
  const pid_t pid = child->Pid();
  EXPECT_FALSE(child->HasExited());
  child.reset();
  EXPECT_TRUE(ProcessGone(pid));
  // Killed with the group: gone as soon as it gets to run again.
  for (const auto end = std::chrono::steady_clock::now() + kHangGuard;
       !ProcessGone(grandchild) && std::chrono::steady_clock::now() < end;)
    usleep(10000);
  EXPECT_TRUE(ProcessGone(grandchild)) << "hang guard: the grandchild outlived its group";
}

// A document that renders pages without end must not fill the disk: when the free space falls
// below the floor, the interpreter is stopped and the rendering fails with the reason, keeping
// only whole pages.
TEST(RenderSession, StopsWhenTheDiskOfThePagesRunsShort) {
  namespace fs = std::filesystem;
  const std::optional<std::string> gs = FindProgramOnPath("gs");
  ASSERT_TRUE(gs);
  test::TempDir dir;
  const fs::path pages = dir.Path() / "pages";
  fs::create_directory(pages);
  std::ofstream(dir.Path() / "endless.ps") << "%!PS\n{ 0 0 100 100 rectfill showpage } loop\n";
  struct statvfs info {};
  ASSERT_EQ(statvfs(pages.c_str(), &info), 0);
  const uint64_t free = static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
  ASSERT_GT(free, uint64_t{100} << 20);
  RenderSession session(*gs);
  // About 6 MB a page at 150 dpi: the floor is reached after a few pages.
  session.SetFreeSpaceFloor(free - (uint64_t{20} << 20));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(
      session.Render(dir.File("endless.ps").c_str(), (pages / "p_%03d.bmp").c_str(), 150, 150),
      TAVRINX_RENDER_FAILED);
  EXPECT_LT(std::chrono::steady_clock::now() - start, kHangGuard) << "hang guard";
  EXPECT_NE(std::string(session.LastError()).find("is nearly full ("), std::string::npos)
      << session.LastError();
  size_t count = 0;
  for (const auto& entry : fs::directory_iterator(pages)) {
    EXPECT_EQ(entry.file_size(), fs::file_size(pages / "p_001.bmp")) << entry.path();
    ++count;
  }
  EXPECT_LT(count, 100u);
}

TEST(InterpreterOutput, SummaryNamesTheErrorEvenAfterALongStackDump) {
  InterpreterOutput output;
  output.Append("page 1\nError: /undefined in fo");
  output.Append("o\nOperand stack:\n");
  for (int i = 0; i < 500; ++i) output.Append("   --nostringval--   %stopped_push\n");
  output.Append("Last OS error: No such file or directory\r\n");
  output.Append("GPL Ghostscript 10.00.0: Unrecoverable error, exit code 1");
  output.Finish();
  EXPECT_EQ(output.Summary(),
            "Error: /undefined in foo\nLast OS error: No such file or directory\n"
            "GPL Ghostscript 10.00.0: Unrecoverable error, exit code 1");
  EXPECT_EQ(output.LastLines().size(), InterpreterOutput::kKeptLines);
}

TEST(InterpreterOutput, StaysBoundedAndPrintable) {
  InterpreterOutput output;
  const std::string endless(1 << 20, 'x');
  output.Append(endless);
  output.Append("\n\x1b]0;title\x07 \xff\xfe caf\xc3\xa9\n\n");
  output.Finish();
  ASSERT_EQ(output.LastLines().size(), 3u);
  EXPECT_EQ(output.LastLines()[0].size(), InterpreterOutput::kMaxLineBytes);
  EXPECT_EQ(output.LastLines()[1], "?]0;title? ?? caf\xc3\xa9");
  // Without error lines the summary is the last non-blank lines.
  EXPECT_EQ(output.Summary(), output.LastLines()[0] + "\n" + output.LastLines()[1]);
}

// A document's own text printed without a line break, short or endless, must not hide the
// interpreter's report of why it failed; the report may arrive split across reads.
TEST(InterpreterOutput, ErrorReportAfterTextWithoutLineBreakStillCounts) {
  const std::string endless(1 << 20, 'x');
  const struct {
    std::vector<std::string> chunks;
    const char* kept;  // the document's text, as its own line
  } cases[] = {
      {{"no newline here", "Error: /undefined in nosuchop\n"}, "no newline here"},
      {{"text EError", ": /undef", "ined in nosuchop\n"}, "text E"},
      {{endless, "Error: /undefined in nosuchop\n"}, nullptr},
  };
  for (const auto& c : cases) {
    InterpreterOutput output;
    for (const std::string& chunk : c.chunks) output.Append(chunk);
    output.Append("GPL Ghostscript 10.00.0: Unrecoverable error, exit code 1\n");
    output.Finish();
    EXPECT_EQ(output.Summary(),
              "Error: /undefined in nosuchop\n"
              "GPL Ghostscript 10.00.0: Unrecoverable error, exit code 1");
    ASSERT_EQ(output.LastLines().size(), 3u);
    if (c.kept != nullptr) {
      EXPECT_EQ(output.LastLines()[0], c.kept);
    }
    EXPECT_EQ(output.LastLines()[0].size(),
              c.kept != nullptr ? std::string(c.kept).size() : InterpreterOutput::kMaxLineBytes);
  }
}

TEST(PrintableText, ReplacesControlsAndInvalidUtf8) {
  EXPECT_EQ(PrintableText("a\tb\x1b[31m\x7f"), "a\tb?[31m?");
  EXPECT_EQ(PrintableText("\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"),
            "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
  EXPECT_EQ(PrintableText("\xc0\xaf \xed\xa0\x80 \xf4\x90\x80\x80 \xe2\x82"), "?? ??? ???? ??");
}

}  // namespace
}  // namespace orvalis::renderer
