#include "bench/rendered_page.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

extern char** environ;

namespace orvalis::bench {

namespace {

std::filesystem::path PageDir() {
  const char* dir = std::getenv("ORVALIS_BENCH_PAGE_DIR");
  return dir != nullptr ? dir : "/tmp/orvalis_bench_pages";
}

bool Render(const std::filesystem::path& bmp, int dpi) {
  std::filesystem::create_directories(bmp.parent_path());
  const std::filesystem::path tiger =
      std::filesystem::path(ORVALIS_SOURCE_DIR) / "../shared/corpus/ps/tiger.ps";
  std::vector<std::string> argv = {"gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE",
                                   "-sDEVICE=bmp16m", "-r" + std::to_string(dpi),
                                   "-sOutputFile=" + bmp.string(), tiger.string()};
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, "gs", nullptr, nullptr, args.data(), environ) != 0) return false;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

std::filesystem::path RenderedPagePath(int dpi) {
  const std::filesystem::path path = PageDir() / ("tiger_" + std::to_string(dpi) + ".bmp");
  if (!std::filesystem::exists(path) && !Render(path, dpi)) {
    std::fprintf(stderr, "cannot render %s with gs\n", path.c_str());
    std::exit(1);
  }
  return path;
}

const RasterImage& RenderedPage(int dpi) {
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

}  // namespace orvalis::bench
