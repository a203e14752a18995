#include "bench/rendered_page.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

extern char** environ;

namespace orvalis::bench {

std::filesystem::path DocumentPath() {
  if (const char* document = std::getenv("ORVALIS_BENCH_DOCUMENT"); document && *document)
    return document;
  return std::filesystem::path(ORVALIS_SOURCE_DIR) / "bench/page.ps";
}

std::string PageStem() {
  return DocumentPath().stem().string();
}

namespace {

bool Render(const std::filesystem::path& bmp, int dpi) {
  std::error_code error;
  std::filesystem::create_directories(bmp.parent_path(), error);
  if (error) return false;
  const std::filesystem::path document = DocumentPath();
  std::vector<std::string> argv = {"gs",
                                   "-q",
                                   "-dSAFER",
                                   "-dBATCH",
                                   "-dNOPAUSE",
                                   "-sDEVICE=bmp16m",
                                   "-r" + std::to_string(dpi),
                                   "-sOutputFile=" + bmp.string(),
                                   document.string()};
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, "gs", nullptr, nullptr, args.data(), environ) != 0) return false;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::filesystem::path ReducedFile(int dpi) {
  return PageDirectory() / (PageStem() + "_" + std::to_string(dpi) + "_256.bmp");
}

}  // namespace

std::filesystem::path PageDirectory() {
  const char* dir = std::getenv("ORVALIS_BENCH_PAGE_DIR");
  return dir != nullptr ? dir : "/tmp/orvalis_bench_pages";
}

std::filesystem::path RenderedPagePath(int dpi) {
  const std::filesystem::path path = PageDirectory() / (PageStem() + "_" + std::to_string(dpi) + ".bmp");
  if (!std::filesystem::exists(path) && !Render(path, dpi)) {
    std::fprintf(stderr, "cannot render %s with gs\n", path.c_str());
    std::exit(1);
  }
  return path;
}

RasterImage& RenderedPage(int dpi) {
  static std::map<int, std::unique_ptr<RasterImage>> pages;
  std::unique_ptr<RasterImage>& page = pages[dpi];
  if (!page) {
    page = std::make_unique<RasterImage>();
    const std::filesystem::path path = RenderedPagePath(dpi);
    if (!page->Load(path.string(), ImageFormat::Bmp)) {
      std::fprintf(stderr, "cannot read %s: %s\n", path.c_str(), page->ErrorText().c_str());
      std::exit(1);
    }
  }
  return *page;
}

RasterImage& ReducedPage(int dpi) {
  static std::map<int, std::unique_ptr<RasterImage>> pages;
  std::unique_ptr<RasterImage>& page = pages[dpi];
  if (!page) {
    // Reduced from a fresh copy of the file: the 24-bit page others share stays as it is.
    page = std::make_unique<RasterImage>();
    const std::filesystem::path source = RenderedPagePath(dpi);
    const std::filesystem::path reduced = ReducedFile(dpi);
    if (!page->Load(source.string(), ImageFormat::Bmp) || !page->DecreaseBpp(8, false) ||
        !page->Save(reduced.string(), ImageFormat::Bmp)) {
      std::fprintf(stderr, "cannot make %s: %s\n", reduced.c_str(), page->ErrorText().c_str());
      std::exit(1);
    }
  }
  return *page;
}

std::filesystem::path ReducedPagePath(int dpi) {
  ReducedPage(dpi);
  return ReducedFile(dpi);
}

}  // namespace orvalis::bench
