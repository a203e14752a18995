// Loading libtavrinx.so: from the program's folder, or a folder given by the caller; the
// start-up message when the library or an entry point is missing.

#include "batch/renderer_loader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "tests/support/temp_dir.h"
#include "settings/app_paths.h"

namespace orvalis {
namespace {

namespace fs = std::filesystem;

TEST(RendererLoader, LoadsFromTheProgramFolder) {
  std::string message, detail;
  const std::unique_ptr<RendererLibrary> library = RendererLibrary::Load(&message, &detail);
  ASSERT_NE(library, nullptr) << detail;
  EXPECT_TRUE(message.empty());
  PageRenderer& renderer = *library;
  const int handle = renderer.Open();
  EXPECT_GT(handle, 0);
  renderer.Close(handle);
}

TEST(RendererLoader, FailsWithTheStartUpMessage) {
  test::TempDir empty;
  test::TempDir garbage;
  std::ofstream(garbage.File("libtavrinx.so")) << "not a shared library";
  // Neither blocks: a named pipe would keep dlopen reading for good.
  test::TempDir pipe;
  ASSERT_EQ(::mkfifo(pipe.File("libtavrinx.so").c_str(), 0600), 0);
  test::TempDir folder;
  fs::create_directory(folder.File("libtavrinx.so"));
  const struct {
    std::string folder;
    const char* detail;
  } cases[] = {
      {empty.Path().string(), "libtavrinx.so"},
      {garbage.Path().string() + "/", "libtavrinx.so"},
      {pipe.Path().string(), "libtavrinx.so is not a regular file"},
      {folder.Path().string(), "libtavrinx.so is not a regular file"},
      {ORVALIS_PARTIAL_RENDERER_DIR, "RenderToBitmaps"},
  };
  for (const auto& c : cases) {
    std::string message, detail;
    EXPECT_EQ(RendererLibrary::Load(&message, &detail, c.folder), nullptr) << c.folder;
    EXPECT_EQ(message, "Load libtavrinx.so failed, please reinstall!");
    EXPECT_NE(detail.find(c.detail), std::string::npos) << detail;
  }
  // The four documented entry points are enough: a failure then has no interpreter text.
  std::string fourMessage, fourDetail;
  const std::unique_ptr<RendererLibrary> four =
      RendererLibrary::Load(&fourMessage, &fourDetail, ORVALIS_FOUR_ENTRY_RENDERER_DIR);
  ASSERT_NE(four, nullptr) << fourDetail;
  EXPECT_EQ(four->Open(), 7);
  EXPECT_FALSE(four->Render(7, "a.ps", "a_%03d.bmp", 72, 72));
  EXPECT_EQ(four->LastError(7), "");
  four->SetMemoryLimit(7, 1 << 30);
  four->Close(7);

  // The folder given is the only place looked in, with or without a trailing '/'.
  std::string message;
  const std::string programFolder = fs::path(AppPaths::ModuleFilePath("x")).parent_path().string();
  EXPECT_NE(RendererLibrary::Load(&message, nullptr, programFolder), nullptr);
}

}  // namespace
}  // namespace orvalis
