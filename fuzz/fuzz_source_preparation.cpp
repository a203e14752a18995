// Prepares arbitrary bytes as a source under each name the converter takes: gzip streams,
// DOS EPS headers and everything else. Whatever the bytes, a file either gets a path to render
// or a reason, never both; what it could not prepare leaves nothing behind; and nothing it
// unpacks passes the limit.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "batch/disk_guard.h"
#include "batch/source_preparation.h"
#include "fuzz/seed_corpus.h"

namespace {

namespace fs = std::filesystem;

constexpr uint64_t kLimit = uint64_t{4} << 20;
constexpr const char* kNames[] = {"a.ps", "a.eps", "a.ps.gz", "a.eps.gz", "a.pdf"};

orvalis::test::Bytes BytesOf(std::string_view text) {
  return {text.begin(), text.end()};
}

std::vector<orvalis::test::Seed> SourceSeeds() {
  // "hello\n" compressed by gzip -n, and a DOS EPS header whose section follows it.
  const std::string gzip(
      "\x02\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03\xcb\x48\xcd\xc9\xc9\xe7\x02\x00\x20\x30\x3a"
      "\x36\x06\x00\x00\x00",
      28);
  std::string dos("\x01\xc5\xd0\xd3\xc6\x1e\x00\x00\x00\x05\x00\x00\x00", 13);
  dos += std::string(21, '\0') + "%!PS\n";
  return {{"ps", BytesOf("\x00%!PS\nshowpage\n")},
          {"gzip", BytesOf(gzip)},
          {"dos", BytesOf(dos)},
          {"pdf", BytesOf("\x04%PDF-1.4\n")}};
}

bool HoldsFiles(const fs::path& folder) {
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (!entry.is_directory()) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  orvalis::fuzz::WriteSeedsWhenAsked(&SourceSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const fs::path work = [] {
    std::string pattern = (fs::temp_directory_path() / "fuzz_source_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return fs::path(pattern);
  }();
  const fs::path source = work / kNames[data[0] % std::size(kNames)];
  const fs::path pages = work / "pages";
  fs::remove_all(pages);
  fs::create_directory(pages);
  std::ofstream(source, std::ios::binary)
      .write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
  orvalis::DiskGuard disk;
  const orvalis::PreparedSource prepared =
      orvalis::PrepareSource(source.string(), pages.string() + "/", kLimit, disk, {});
  if (prepared.path.empty() == prepared.problem.empty()) std::abort();
  if (prepared.path.empty() && HoldsFiles(pages)) std::abort();
  if (!prepared.path.empty() && prepared.path != source.string()) {
    if (fs::path(prepared.path).parent_path().parent_path() != pages) std::abort();
    if (fs::file_size(prepared.path) > kLimit) std::abort();
  }
  fs::remove(source);
  return 0;
}
