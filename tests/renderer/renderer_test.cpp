// libtavrinx.so with the real Ghostscript, loaded the way the program loads it: pages named by
// the pattern, awkward file names, failures part-way, stopping an endless document, and
// documents that try to reach the user's files.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "batch/renderer_loader.h"
#include "tests/support/oracle.h"
#include "tests/support/processes.h"
#include "tests/support/temp_dir.h"

namespace orvalis {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using test::TempDir;

// How long a test waits for something it needs to happen before it gives up: only a guard
// against a hang, long enough for the busiest machine. Verdicts never depend on it.
constexpr auto kHangGuard = std::chrono::minutes(3);

// Waits until `condition` holds; false when the hang guard ran out first.
bool WaitUntil(const std::function<bool()>& condition) {
  for (const auto until = Clock::now() + kHangGuard; Clock::now() < until;) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condition();
}

// The processes this one started (the interpreter, which the plug-in starts as a child of the
// process), with their state letters ('T' stopped, 'R' running, 'Z' ended, ...).
std::map<pid_t, char> ChildProcesses() {
  std::map<pid_t, char> children;
  for (const auto& [pid, process] : test::Processes())
    if (process.parent == ::getpid()) children[pid] = process.state;
  return children;
}

// An interpreter runs, and every one is in `state` ('T': stopped).
bool InterpretersAre(char state) {
  const std::map<pid_t, char> children = ChildProcesses();
  return !children.empty() && std::all_of(children.begin(), children.end(),
                                          [state](const auto& c) { return c.second == state; });
}

// A document of `pages` pages of 2 x 1 inches; page k is filled with red k * 40. A page listed
// in `failOn` runs an undefined operator before its showpage.
std::string Document(int pages, int failOn = 0) {
  std::string ps = "%!PS-Adobe-3.0\n<< /PageSize [144 72] >> setpagedevice\n";
  for (int k = 1; k <= pages; ++k) {
    ps += std::to_string(k * 40) + " 255 div 0 0 setrgbcolor 0 0 144 72 rectfill\n";
    if (k == failOn) ps += "nosuchoperator\n";
    ps += "showpage\n";
  }
  return ps;
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path) << text;
}

std::vector<std::string> Entries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Sets an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class RendererTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string message, detail;
    library_ = RendererLibrary::Load(&message, &detail).release();
    ASSERT_NE(library_, nullptr) << message << ": " << detail;
  }
  static void TearDownTestSuite() {
    delete library_;
    library_ = nullptr;
  }

  // Renders `psPath` with a fresh handle; the result and the handle's last error.
  std::pair<int, std::string> Render(const std::string& psPath, const std::string& pattern,
                                     int xdpi = 72, int ydpi = 72) {
    const int handle = library_->Open();
    EXPECT_GT(handle, 0);
    const int result = library_->RenderToBitmaps(handle, psPath, pattern, xdpi, ydpi);
    std::string error = library_->LastError(handle);
    library_->Close(handle);
    return {result, error};
  }

  static RendererLibrary* library_;
  TempDir dir_;
};

RendererLibrary* RendererTest::library_ = nullptr;

TEST_F(RendererTest, EveryPageBecomesOneBmpNamedByThePattern) {
  const fs::path pages = dir_.Path() / "mtmp_1";
  fs::create_directory(pages);
  WriteText(dir_.Path() / "report.ps", Document(3));
  const auto [result, error] =
      Render(dir_.File("report.ps"), (pages / "report_%03d.bmp").string(), 144, 72);
  EXPECT_EQ(result, TAVRINX_RENDER_SUCCEEDED) << error;
  EXPECT_EQ(error, "");
  // Nothing but the pages: the interpreter's private folder is gone.
  ASSERT_EQ(Entries(pages),
            (std::vector<std::string>{"report_001.bmp", "report_002.bmp", "report_003.bmp"}));
  for (int k = 1; k <= 3; ++k) {
    const auto image = test::PillowDecode((pages / Entries(pages)[k - 1]).string());
    ASSERT_TRUE(image);
    EXPECT_EQ(image->format, "BMP");
    EXPECT_EQ(image->width, 288);  // 2 inches at 144 dpi
    EXPECT_EQ(image->height, 72);  // 1 inch at 72 dpi
    EXPECT_NEAR(image->At(144, 36)[0], k * 40, 1) << "page " << k;
    EXPECT_EQ(image->At(144, 36)[1], 0);
  }
}

// A PDF document's pages are counted, and a range of them rendered, each page under its own
// number, through the same confined interpreter; anything else is refused with a reason.
TEST_F(RendererTest, PdfPagesAreCountedAndRenderedInRanges) {
  WriteText(dir_.Path() / "five.ps", Document(5));
  ASSERT_EQ(test::RunCommand({"ps2pdf", dir_.File("five.ps"), dir_.File("five.pdf")}).exitCode, 0);
  WriteText(dir_.Path() / "cut.pdf", test::ReadFileText(dir_.File("five.pdf")).substr(0, 400));
  const fs::path work = dir_.Path() / "work";
  fs::create_directory(work);
  const int handle = library_->Open();
  ASSERT_GT(handle, 0);
  EXPECT_EQ(library_->PageCount(handle, dir_.File("five.pdf"), work.string()), 5);
  for (const auto& [name, says] :
       {std::pair{"five.ps", "does not begin with %PDF-"},
        std::pair{"cut.pdf", "could not count the pages"}, std::pair{"none.pdf", "cannot open"}}) {
    EXPECT_EQ(library_->PageCount(handle, dir_.File(name), work.string()), std::nullopt) << name;
    EXPECT_NE(library_->LastError(handle).find(says), std::string::npos)
        << name << ": " << library_->LastError(handle);
  }
  EXPECT_TRUE(fs::is_empty(work));

  const struct {
    int first, last;
    std::vector<int> pages;  // the pages written, "" for a refused range
  } ranges[] = {{3, 5, {3, 4, 5}}, {1, 1, {1}}, {4, 9, {4, 5}}, {0, 2, {}}, {3, 2, {}}};
  for (const auto& range : ranges) {
    SCOPED_TRACE(std::to_string(range.first) + " to " + std::to_string(range.last));
    const fs::path pages = work / ("r" + std::to_string(range.first) + std::to_string(range.last));
    fs::create_directory(pages);
    const bool ok =
        library_->RenderPages(handle, dir_.File("five.pdf"), (pages / "r_%03d.bmp").string(), 72,
                              72, range.first, range.last);
    EXPECT_EQ(ok, !range.pages.empty()) << library_->LastError(handle);
    std::vector<std::string> names;
    for (const int page : range.pages) {
      names.push_back("r_00" + std::to_string(page) + ".bmp");
      // Page k of the document is filled with red k * 40.
      const auto image = test::PillowDecode((pages / names.back()).string());
      ASSERT_TRUE(image) << names.back();
      EXPECT_NEAR(image->At(72, 36)[0], page * 40, 1) << names.back();
    }
    EXPECT_EQ(Entries(pages), names);
  }
  // A PostScript program's pages are whatever it prints: never taken in ranges.
  EXPECT_FALSE(library_->RenderPages(handle, dir_.File("five.ps"), (work / "p_%03d.bmp").string(),
                                     72, 72, 1, 2));
  EXPECT_NE(library_->LastError(handle).find("only a PDF document's pages"), std::string::npos);
  library_->Close(handle);
}

TEST_F(RendererTest, AwkwardNamesWorkForSourceFolderAndPages) {
  const std::string names[] = {
      "with space", "quote\"d 'single'", "100% %d %s %03d", "-leading dash", "@at",
      "\xC3\xBCn\xC3\xAF\x63\xC3\xB8\x64\xC3\xA9 \xE2\x9C\x93", "semi;colon|pipe&$(x)`y`",
      // Not UTF-8 (Latin-1 from an older system), and control characters.
      "caf\xE9 na\xEFve", "100% \xFF\xFE %03d", "line\nbreak\ttab"};
  for (const std::string& name : names) {
    const fs::path source = dir_.Path() / ("src " + name);
    const fs::path pages = dir_.Path() / ("pages " + name);
    fs::create_directories(source);
    fs::create_directories(pages);
    WriteText(source / (name + ".ps"), Document(2));
    const auto [result, error] =
        Render((source / (name + ".ps")).string(), (pages / (name + "_%03d.bmp")).string());
    EXPECT_EQ(result, TAVRINX_RENDER_SUCCEEDED) << name << ": " << error;
    EXPECT_EQ(Entries(pages), (std::vector<std::string>{name + "_001.bmp", name + "_002.bmp"}))
        << name;
  }
  // A relative path starting with '-' is not taken for an option either.
  const fs::path previous = fs::current_path();
  fs::current_path(dir_.Path() / "src -leading dash");
  const auto [result, error] = Render("-leading dash.ps", "-out_%03d.bmp");
  fs::current_path(previous);
  EXPECT_EQ(result, TAVRINX_RENDER_SUCCEEDED) << error;
  EXPECT_TRUE(fs::exists(dir_.Path() / "src -leading dash" / "-out_002.bmp"));
}

TEST_F(RendererTest, ErrorOnPageThreeKeepsPagesOneAndTwoAndSaysWhy) {
  WriteText(dir_.Path() / "broken.ps", Document(5, 3));
  fs::create_directory(dir_.Path() / "pages");
  const auto [result, error] = Render(dir_.File("broken.ps"), dir_.File("pages/broken_%03d.bmp"));
  EXPECT_EQ(result, TAVRINX_RENDER_FAILED);
  EXPECT_EQ(Entries(dir_.Path() / "pages"),
            (std::vector<std::string>{"broken_001.bmp", "broken_002.bmp"}));
  EXPECT_NE(error.find("Error: /undefined in nosuchoperator"), std::string::npos) << error;
  // What the interpreter printed (and a document can print anything) is marked as its own.
  EXPECT_EQ(error.rfind("the interpreter reported: ", 0), 0u) << error;
  EXPECT_NE(error.find("Unrecoverable error"), std::string::npos) << error;
}

TEST_F(RendererTest, FilesThatAreNotDocumentsFailWithAReason) {
  const struct {
    const char* name;
    std::string content;
    const char* expected;
  } cases[] = {
      {"random.ps", std::string("\x89\x01\xff\x10garbage\x7f", 13), "Error:"},
      {"syntax.ps", "%!PS\n(unclosed string\n", "Error: /syntaxerror"},
  };
  for (const auto& c : cases) {
    WriteText(dir_.Path() / c.name, c.content);
    const auto [result, error] = Render(dir_.File(c.name), dir_.File("p_%03d.bmp"));
    EXPECT_EQ(result, TAVRINX_RENDER_FAILED) << c.name;
    EXPECT_NE(error.find(c.expected), std::string::npos) << c.name << ": " << error;
    for (char ch : error)
      EXPECT_TRUE(ch == '\n' || ch == '\t' || static_cast<unsigned char>(ch) >= 0x20);
  }
  const auto [missing, missingError] = Render(dir_.File("missing.ps"), dir_.File("p_%03d.bmp"));
  EXPECT_EQ(missing, TAVRINX_RENDER_FAILED);
  EXPECT_NE(missingError.find("No such file"), std::string::npos) << missingError;
  const auto [folder, folderError] = Render(dir_.Path().string(), dir_.File("p_%03d.bmp"));
  EXPECT_EQ(folder, TAVRINX_RENDER_FAILED);
  EXPECT_NE(folderError.find("folder"), std::string::npos) << folderError;

  WriteText(dir_.Path() / "ok.ps", Document(1));
  const auto [noNumber, noNumberError] = Render(dir_.File("ok.ps"), dir_.File("page.bmp"));
  EXPECT_EQ(noNumber, TAVRINX_RENDER_FAILED);
  EXPECT_NE(noNumberError.find("page number"), std::string::npos) << noNumberError;
  const auto [noFolder, noFolderError] = Render(dir_.File("ok.ps"), dir_.File("none/p_%03d.bmp"));
  EXPECT_EQ(noFolder, TAVRINX_RENDER_FAILED);
  EXPECT_FALSE(noFolderError.empty());

  // An empty file is a document without pages: no failure, no page.
  fs::create_directory(dir_.Path() / "empty");
  WriteText(dir_.Path() / "empty.ps", "");
  EXPECT_EQ(Render(dir_.File("empty.ps"), dir_.File("empty/e_%03d.bmp")).first,
            TAVRINX_RENDER_SUCCEEDED);
  EXPECT_TRUE(Entries(dir_.Path() / "empty").empty());
}

// A named pipe or a device would keep the interpreter reading forever; page names too long
// for a file name fail with the interpreter's obscure "invalidfileaccess"; a page whose image
// outgrows what the converter can read would fill the disk with gigabytes first.
TEST_F(RendererTest, PipesDevicesLongNamesAndOversizedPagesFailAtOnceWithAReason) {
  ASSERT_EQ(::mkfifo(dir_.File("pipe.ps").c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", dir_.Path() / "zero.ps");
  const struct {
    const char* name;
    const char* expected;
  } cases[] = {{"pipe.ps", "is a named pipe"}, {"zero.ps", "is a device"}};
  for (const auto& c : cases) {
    const auto [result, error] = Render(dir_.File(c.name), dir_.File("p_%03d.bmp"));
    EXPECT_EQ(result, TAVRINX_RENDER_FAILED) << c.name;
    EXPECT_NE(error.find(c.expected), std::string::npos) << c.name << ": " << error;
  }

  // Page names that cannot all exist: "<243 bytes>_001.bmp" is 251 bytes, but the number grows
  // past three digits, up to "<243 bytes>_2147483647.bmp", 258 bytes.
  WriteText(dir_.Path() / "one.ps", Document(1));
  const auto [longName, longNameError] =
      Render(dir_.File("one.ps"), dir_.File(std::string(243, 'n') + "_%03d.bmp"));
  EXPECT_EQ(longName, TAVRINX_RENDER_FAILED);
  EXPECT_NE(longNameError.find("258 bytes, longer than the 255"), std::string::npos)
      << longNameError;

  // Page 2 is 5000 points square: 41667 pixels a side at 600 dpi, about 5 GB as a BMP.
  WriteText(dir_.Path() / "huge.ps",
            "%!PS\nshowpage\n<< /PageSize [5000 5000] >> setpagedevice\n"
            "0 0 moveto 100 100 lineto stroke showpage\n");
  fs::create_directory(dir_.Path() / "pages");
  const auto start = Clock::now();
  const auto [result, error] =
      Render(dir_.File("huge.ps"), dir_.File("pages/huge_%03d.bmp"), 600, 600);
  EXPECT_LT(Clock::now() - start, kHangGuard) << "hang guard";
  EXPECT_EQ(result, TAVRINX_RENDER_FAILED);
  EXPECT_NE(error.find("a page is too large: at 600 x 600 dpi"), std::string::npos) << error;
  // The whole first page stays; the cut second one is gone.
  EXPECT_EQ(Entries(dir_.Path() / "pages"), (std::vector<std::string>{"huge_001.bmp"}));

  // A temporary file of the document's own that grows as large is stopped with its own reason.
  WriteText(dir_.Path() / "bigtemp.ps",
            "%!PS\n(x) (w) .tempfile /f exch def pop /s 65536 string def\n"
            "1 1 5000 { pop f s writestring } for f closefile showpage\n");
  fs::create_directory(dir_.Path() / "temp-pages");
  const auto [temp, tempError] =
      Render(dir_.File("bigtemp.ps"), dir_.File("temp-pages/t_%03d.bmp"));
  EXPECT_EQ(temp, TAVRINX_RENDER_FAILED);
  EXPECT_NE(tempError.find("tried to write a file larger than 256 MiB"), std::string::npos)
      << tempError;
  EXPECT_TRUE(Entries(dir_.Path() / "temp-pages").empty());
}

// What a listener was told: each page's path, whether it was whole then, and when.
struct PageReports {
  std::vector<std::string> paths;
  std::vector<bool> whole;
  std::vector<Clock::time_point> times;
};

// Each finished page is reported once, in page order, whole, under the name the pattern gives
// it, and before the rendering returns; NumCopies pages are pages like any other.
TEST_F(RendererTest, AListenerHearsOfEachPageOnceInOrder) {
  const fs::path pages = dir_.Path() / "pages";
  fs::create_directory(pages);
  WriteText(dir_.Path() / "doc.ps", Document(4));
  WriteText(dir_.Path() / "copies.ps",
            "%!PS\n<< /NumCopies 3 /PageSize [144 72] >> setpagedevice\n"
            "0 0 144 72 rectfill showpage\n");
  for (const auto& [source, count] : {std::pair{"doc.ps", 4}, {"copies.ps", 3}}) {
    SCOPED_TRACE(source);
    fs::remove_all(pages);
    fs::create_directory(pages);
    PageReports reports;
    const int handle = library_->Open();
    ASSERT_GT(handle, 0);
    ASSERT_TRUE(library_->SetPageListener(handle, [&](const std::string& page) {
      reports.paths.push_back(page);
      reports.whole.push_back(test::PillowDecode(page).has_value());
      reports.times.push_back(Clock::now());
    }));
    const int result = library_->RenderToBitmaps(handle, dir_.File(source),
                                                 (pages / "d_%03d.bmp").string(), 72, 72);
    const Clock::time_point returned = Clock::now();
    library_->Close(handle);
    ASSERT_EQ(result, TAVRINX_RENDER_SUCCEEDED);
    ASSERT_EQ(reports.paths.size(), static_cast<size_t>(count));
    for (int k = 1; k <= count; ++k) {
      char name[32];
      std::snprintf(name, sizeof name, "d_%03d.bmp", k);
      EXPECT_EQ(reports.paths[k - 1], (pages / name).string());
      EXPECT_TRUE(reports.whole[k - 1]) << name;
      EXPECT_LE(reports.times[k - 1], returned);
    }
    EXPECT_EQ(Entries(pages).size(), static_cast<size_t>(count)) << "reported pages stay";
  }
}

// A page folder whose name is not text (a byte 0xE9) has its pages written under plain names
// and renamed: each is renamed and reported as soon as it is finished, while the interpreter
// goes on, not when it ends; a stop then leaves the pages reported where they are.
TEST_F(RendererTest, PagesUnderNamesThatAreNotTextAreReportedAsTheyAreFinished) {
  const fs::path pages = dir_.Path() / "caf\xe9";
  fs::create_directory(pages);
  // One page, then a loop that runs until the rendering is stopped.
  WriteText(dir_.Path() / "slow.ps", Document(1) + "{ 1 pop } loop\n");
  const int handle = library_->Open();
  ASSERT_GT(handle, 0);
  std::vector<std::string> reported;
  std::vector<bool> existed;
  std::thread stopper;
  ASSERT_TRUE(library_->SetPageListener(handle, [&](const std::string& page) {
    reported.push_back(page);
    existed.push_back(fs::exists(page));
    stopper = std::thread([handle] { library_->Abort(handle); });
  }));
  const int result = library_->RenderToBitmaps(handle, dir_.File("slow.ps"),
                                               (pages / "r\xe9_%03d.bmp").string(), 72, 72);
  if (stopper.joinable()) stopper.join();
  library_->Close(handle);
  EXPECT_EQ(result, TAVRINX_RENDER_ABORTED) << "the page was reported only once the loop ended";
  ASSERT_EQ(reported, std::vector<std::string>{(pages / "r\xe9_001.bmp").string()});
  EXPECT_TRUE(existed[0]);
  EXPECT_EQ(Entries(pages), std::vector<std::string>{"r\xe9_001.bmp"});
}

// Pages under plain names are moved out of the scratch folder as they are finished, so a long
// document does not count as a document making thousands of temporary files.
TEST_F(RendererTest, ThousandsOfPagesUnderANameThatIsNotTextAreNoTemporaryFiles) {
  const fs::path pages = dir_.Path() / "caf\xe9";
  fs::create_directory(pages);
  WriteText(dir_.Path() / "many.ps",
            "%!PS\n<< /PageSize [4 4] >> setpagedevice\n4100 { showpage } repeat\n");
  const auto [result, error] = Render(dir_.File("many.ps"), (pages / "m_%03d.bmp").string());
  EXPECT_EQ(result, TAVRINX_RENDER_SUCCEEDED) << error;
  EXPECT_EQ(Entries(pages).size(), 4100u);
}

// A rendering that finds no process to start (the user's limit on processes) says so apart
// from a failure: the caller may wait for one of its own and try again. The limit holds only
// for a user without the right to pass it, so the rendering runs as "nobody" in a child.
TEST_F(RendererTest, NoProcessLeftIsToldApartFromAFailure) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs to become another user to meet the limit";
  fs::permissions(dir_.Path(), fs::perms::all);
  WriteText(dir_.Path() / "one.ps", Document(1));
  fs::permissions(dir_.Path() / "one.ps", fs::perms::all);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlimit none{0, 0};
    if (::setgid(65534) != 0 || ::setuid(65534) != 0 || ::setrlimit(RLIMIT_NPROC, &none) != 0)
      ::_exit(90);
    const int handle = library_->Open();
    const int result =
        library_->RenderToBitmaps(handle, dir_.File("one.ps"), dir_.File("n_%03d.bmp"), 72, 72);
    const std::string error = library_->LastError(handle);
    ::_exit(result == TAVRINX_RENDER_NO_PROCESS &&
                    error.find("cannot start a child process") != std::string::npos
                ? 0
                : 91);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_FALSE(fs::exists(dir_.File("n_001.bmp")));
}

TEST_F(RendererTest, AbortFromAnotherThreadEndsAnEndlessDocumentAtOnce) {
  WriteText(dir_.Path() / "endless.ps", "%!PS\n{ 1 pop } loop\n");
  fs::create_directory(dir_.Path() / "pages");
  const int handle = library_->Open();
  ASSERT_GT(handle, 0);
  Clock::time_point aborted;
  // Stopped once the interpreter runs, however long it took to start.
  std::thread stopper([&] {
    EXPECT_TRUE(WaitUntil([] { return !ChildProcesses().empty(); }))
        << "hang guard: no interpreter started";
    aborted = Clock::now();
    library_->Abort(handle);
  });
  const int result = library_->RenderToBitmaps(handle, dir_.File("endless.ps"),
                                               dir_.File("pages/e_%03d.bmp"), 72, 72);
  const auto returned = Clock::now();
  stopper.join();
  EXPECT_EQ(result, TAVRINX_RENDER_ABORTED);
  EXPECT_LT(returned - aborted, kHangGuard) << "hang guard: the stop did not end the rendering";
  EXPECT_EQ(library_->LastError(handle), "the rendering was stopped");
  EXPECT_TRUE(Entries(dir_.Path() / "pages").empty());
  // The handle stays stopped: a later rendering does not start.
  WriteText(dir_.Path() / "ok.ps", Document(1));
  EXPECT_EQ(
      library_->RenderToBitmaps(handle, dir_.File("ok.ps"), dir_.File("pages/o_%03d.bmp"), 72, 72),
      TAVRINX_RENDER_ABORTED);
  EXPECT_TRUE(Entries(dir_.Path() / "pages").empty());
  library_->Close(handle);
}

// A held interpreter writes no further page until it is let go, whether it was held before it
// started or while it ran, and a stop ends it held or not.
TEST_F(RendererTest, AHeldRenderingWritesNothingUntilLetGo) {
  WriteText(dir_.Path() / "endless.ps",
            "%!PS\n<< /PageSize [72 72] >> setpagedevice\n"
            "{ 0 1 300000 { pop } for 0.5 setgray 0 0 72 72 rectfill showpage } loop\n");
  const fs::path pages = dir_.Path() / "pages";
  fs::create_directory(pages);
  const auto pageCount = [&] {
    size_t count = 0;
    for (const std::string& name : Entries(pages)) count += name.ends_with(".bmp") ? 1 : 0;
    return count;
  };
  const auto waitForPages = [&](size_t atLeast) {
    return WaitUntil([&] { return pageCount() >= atLeast; });
  };
  const int handle = library_->Open();
  ASSERT_GT(handle, 0);
  // Held before it starts (a program stopped with Ctrl+Z as a file begins): it starts held.
  library_->Pause(handle, true);
  int result = 0;
  std::thread render([&] {
    result = library_->RenderToBitmaps(handle, dir_.File("endless.ps"),
                                       (pages / "e_%03d.bmp").string(), 72, 72);
  });
  // Its interpreter is there, and stopped: it cannot write a page, however long one looks.
  EXPECT_TRUE(WaitUntil([] { return InterpretersAre('T'); }))
      << "hang guard: a rendering held before it started ran";
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(pageCount(), 0u) << "a rendering held before it started ran";
  library_->Pause(handle, false);
  ASSERT_TRUE(waitForPages(2)) << "hang guard: the rendering let go wrote no page";
  library_->Pause(handle, true);
  EXPECT_TRUE(WaitUntil([] { return InterpretersAre('T'); }))
      << "hang guard: the held interpreter went on running";
  const size_t held = pageCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(pageCount(), held) << "pages were written while held";
  library_->Pause(handle, false);
  EXPECT_TRUE(waitForPages(held + 2)) << "hang guard: the rendering did not go on";
  library_->Pause(handle, true);
  const Clock::time_point aborted = Clock::now();
  library_->Abort(handle);
  render.join();
  EXPECT_EQ(result, TAVRINX_RENDER_ABORTED);
  EXPECT_LT(Clock::now() - aborted, kHangGuard) << "hang guard: the stop did not end it";
  library_->Close(handle);
}

TEST_F(RendererTest, CloseFromAnotherThreadAlsoEndsTheRendering) {
  WriteText(dir_.Path() / "endless.ps", "%!PS\n{ 1 pop } loop\n");
  const int handle = library_->Open();
  // Closed once the interpreter runs, however long it took to start.
  std::thread closer([&] {
    EXPECT_TRUE(WaitUntil([] { return !ChildProcesses().empty(); }))
        << "hang guard: no interpreter started";
    library_->Close(handle);
  });
  const auto started = Clock::now();
  const int result =
      library_->RenderToBitmaps(handle, dir_.File("endless.ps"), dir_.File("e_%03d.bmp"), 72, 72);
  closer.join();
  EXPECT_EQ(result, TAVRINX_RENDER_ABORTED);
  EXPECT_LT(Clock::now() - started, kHangGuard) << "hang guard: the close did not end it";
  EXPECT_EQ(library_->LastError(handle), "invalid renderer handle");
}

TEST_F(RendererTest, DocumentsCannotReachTheUsersFiles) {
  // The user's temporary folder is where Ghostscript's SAFER mode would still let a document
  // read, write and delete files; here it is a folder of the test.
  TempDir userTmp;
  const ScopedEnv tmpdir("TMPDIR", userTmp.Path().string());
  const ScopedEnv options("GS_OPTIONS", "-dNOSAFER");  // must not switch SAFER off
  const std::string victim = userTmp.File("victim.txt");
  WriteText(victim, "precious");
  const std::string made = userTmp.File("made.txt");
  const std::string ran = userTmp.File("ran.txt");

  const std::string attacks =
      "%!PS\n"
      "{ (" +
      victim +
      ") deletefile } stopped pop\n"
      "{ (" +
      made +
      ") (w) file dup (x) writestring closefile } stopped pop\n"
      "{ (%pipe%touch " +
      ran +
      ") (w) file closefile } stopped pop\n"
      "{ (" +
      victim +
      ") (r) file } stopped { 0 } { 1 } ifelse 0 0 setrgbcolor\n"
      "0 0 100 100 rectfill showpage\n";
  WriteText(dir_.Path() / "attack.ps", attacks);
  fs::create_directory(dir_.Path() / "pages");
  const auto [result, error] = Render(dir_.File("attack.ps"), dir_.File("pages/a_%03d.bmp"));
  EXPECT_EQ(result, TAVRINX_RENDER_SUCCEEDED) << error;
  EXPECT_EQ(test::ReadFileBytes(victim).size(), 8u);
  EXPECT_FALSE(fs::exists(made));
  EXPECT_FALSE(fs::exists(ran));
  ASSERT_EQ(Entries(dir_.Path() / "pages"), std::vector<std::string>{"a_001.bmp"});
  const auto page = test::PillowDecode(dir_.File("pages/a_001.bmp"));
  ASSERT_TRUE(page);
  EXPECT_EQ(page->At(10, page->height - 10)[0], 0) << "the document could read the user's file";

  WriteText(dir_.Path() / "passwd.ps", "%!PS\n(/etc/passwd) (r) file 100 string readstring\n");
  const auto [readResult, readError] =
      Render(dir_.File("passwd.ps"), dir_.File("pages/p_%03d.bmp"));
  EXPECT_EQ(readResult, TAVRINX_RENDER_FAILED);
  EXPECT_NE(readError.find("invalidfileaccess"), std::string::npos) << readError;
}

// A gs that is a script wrapping the real one still converts under the confinement: the script
// may run, and what it starts from the system's folders inherits every limit.
TEST_F(RendererTest, AGhostscriptWrappedInAScriptStillConverts) {
  const char* path = std::getenv("PATH");
  ASSERT_NE(path, nullptr);
  const std::string found = test::RunCommand({"sh", "-c", "command -v gs"}).out;
  const std::string gs = found.substr(0, found.find('\n'));
  ASSERT_FALSE(gs.empty());
  WriteText(dir_.Path() / "doc.ps", Document(2));
  const std::string wrappers[] = {"#!/bin/sh\nexec " + gs + " \"$@\"\n",
                                  "#!/bin/sh\n" + gs + " \"$@\"\nstatus=$?\nexit $status\n"};
  for (size_t k = 0; k < std::size(wrappers); ++k) {
    const std::string& wrapper = wrappers[k];
    TempDir bin;
    WriteText(bin.Path() / "gs", wrapper);
    fs::permissions(bin.Path() / "gs", fs::perms::owner_all);
    const ScopedEnv wrapped("PATH", bin.Path().string() + ":" + path);
    const fs::path pages = dir_.Path() / ("pages" + std::to_string(k));
    fs::create_directory(pages);
    const auto [result, error] = Render(dir_.File("doc.ps"), (pages / "w_%03d.bmp").string());
    EXPECT_EQ(result, TAVRINX_RENDER_SUCCEEDED) << wrapper << error;
    const auto page = test::PillowDecode((pages / "w_002.bmp").string());
    ASSERT_TRUE(page) << wrapper;
    EXPECT_NEAR(page->At(10, 10)[0], 80, 1);
  }
}

// The switch that runs the interpreter without -dSAFER is only in the test build of the
// renderer's core, never in the library the programs load.
TEST_F(RendererTest, TheShippedLibraryCannotRunTheInterpreterWithoutSafer) {
  const char* bin = std::getenv("ORVALIS_BIN_DIR");
  ASSERT_NE(bin, nullptr);
  const std::vector<uint8_t> library = test::ReadFileBytes(fs::path(bin) / "libtavrinx.so");
  const std::string bytes(library.begin(), library.end());
  EXPECT_NE(bytes.find("-dSAFER"), std::string::npos);
  EXPECT_EQ(bytes.find("NOSAFER"), std::string::npos);
}

TEST_F(RendererTest, WithoutGhostscriptNothingOpens) {
  TempDir emptyBin;
  const ScopedEnv path("PATH", emptyBin.Path().string());
  EXPECT_EQ(library_->Open(), 0);
  std::string message, detail;
  EXPECT_EQ(RendererLibrary::Load(&message, &detail), nullptr);
  EXPECT_EQ(message, "Load libtavrinx.so failed, please reinstall!");
  EXPECT_NE(detail.find("gs"), std::string::npos) << detail;
}

TEST_F(RendererTest, HandlesRenderAtTheSameTimeOnSeveralThreads) {
  WriteText(dir_.Path() / "doc.ps", Document(2));
  std::vector<std::thread> threads;
  int results[3] = {};
  for (int i = 0; i < 3; ++i) {
    fs::create_directory(dir_.Path() / std::to_string(i));
    threads.emplace_back([&, i] {
      results[i] = Render(dir_.File("doc.ps"), dir_.File(std::to_string(i) + "/d_%03d.bmp")).first;
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(results[i], TAVRINX_RENDER_SUCCEEDED);
    EXPECT_EQ(Entries(dir_.Path() / std::to_string(i)),
              (std::vector<std::string>{"d_001.bmp", "d_002.bmp"}));
  }
}

TEST_F(RendererTest, UnknownHandlesAreRefused) {
  EXPECT_EQ(library_->RenderToBitmaps(987654, dir_.File("x.ps"), dir_.File("x_%03d.bmp"), 72, 72),
            TAVRINX_RENDER_FAILED);
  EXPECT_EQ(library_->LastError(987654), "invalid renderer handle");
  library_->Abort(987654);
  library_->Close(987654);
}

// A document that creates temporary files without end is stopped at the cap, long before it
// runs the disk out of inodes, and its temporary folder goes with it.
TEST_F(RendererTest, ThousandsOfTemporaryFilesStopTheRendering) {
  WriteText(dir_.Path() / "files.ps",
            "%!PS\n0 1 1000000 { pop (t) (w) .tempfile closefile pop } for showpage\n");
  fs::create_directory(dir_.Path() / "pages");
  const auto [result, error] = Render(dir_.File("files.ps"), dir_.File("pages/f_%03d.bmp"));
  EXPECT_EQ(result, TAVRINX_RENDER_FAILED);
  EXPECT_NE(error.find("more than 4000 temporary files"), std::string::npos) << error;
  EXPECT_TRUE(Entries(dir_.Path() / "pages").empty());
}

}  // namespace
}  // namespace orvalis
