#include "batch/page_files.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "image/byte_stream.h"
#include "image/codec_bmp.h"
#include "platform/byte_order.h"

namespace orvalis {

namespace fs = std::filesystem;

namespace {

constexpr size_t kFileHeaderBytes = 14;
constexpr size_t kLargestInfoHeader = 124;  // a version 5 header
constexpr uint32_t kRle8 = 1;
constexpr uint32_t kRle4 = 2;

}  // namespace

std::string PagePattern(const std::string& folder, const std::string& baseName) {
  return folder + baseName + kPageSuffixPattern;
}

std::string PageFileName(const std::string& folder, const std::string& baseName, int page) {
  char suffix[48];
  std::snprintf(suffix, sizeof suffix, kPageSuffixPattern, page);
  return folder + baseName + suffix;
}

namespace {

std::string_view FileNameOf(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::vector<std::string> CollectPages(const std::string& folder) {
  std::vector<std::string> pages;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    if (it->is_regular_file(typeError) && !it->is_symlink(typeError))
      pages.push_back(it->path().string());
  }
  std::sort(pages.begin(), pages.end(), ComesBeforeInPageOrder);
  return pages;
}

bool ComesBeforeInPageOrder(const std::string& a, const std::string& b) {
  const std::string_view nameA = FileNameOf(a);
  const std::string_view nameB = FileNameOf(b);
  if (nameA.size() != nameB.size()) return nameA.size() < nameB.size();
  return nameA != nameB ? nameA < nameB : a < b;
}

bool IsPlainName(std::string_view name) {
  return std::all_of(name.begin(), name.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

std::optional<int> PageNumberOf(const std::string& page, const std::string& stem) {
  const std::string name = fs::path(page).stem().string();
  if (name.size() < stem.size() + 2 || name.compare(0, stem.size(), stem) != 0 ||
      name[stem.size()] != '_')
    return std::nullopt;
  const char* digits = name.data() + stem.size() + 1;
  const char* end = name.data() + name.size();
  int number = 0;
  const auto [stop, error] = std::from_chars(digits, end, number);
  if (error != std::errc() || stop != end || number < 0) return std::nullopt;
  return number;
}

uint64_t PageFileHeader::DecodedBytes() const {
  const uint64_t pixels = uint64_t{width} * height;
  if (bitsPerPixel >= 16) {
    const uint64_t stride = (uint64_t{width} * 3 + 3) / 4 * 4;
    return stride * height + (bitsPerPixel == 32 ? pixels : 0);
  }
  return (uint64_t{width} * bitsPerPixel + 31) / 32 * 4 * height + 256 * 4;
}

std::optional<PageFileHeader> ReadPageFileHeader(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  uint8_t bytes[kFileHeaderBytes + kLargestInfoHeader] = {};
  in.read(reinterpret_cast<char*>(bytes), sizeof bytes);
  const auto got = static_cast<size_t>(in.gcount());
  if (got < kFileHeaderBytes || bytes[0] != 'B' || bytes[1] != 'M') return std::nullopt;
  MemoryStream stream(bytes + kFileHeaderBytes, static_cast<int64_t>(got - kFileHeaderBytes));
  BITMAPINFOHEADER info;
  if (!RasterImageBmp::ReadInfoHeader(&stream, &info)) return std::nullopt;
  std::error_code ec;
  const uintmax_t size = fs::file_size(path, ec);
  if (ec) return std::nullopt;

  PageFileHeader header;
  header.actualBytes = size;
  header.width = static_cast<uint32_t>(std::abs(int64_t{info.biWidth}));
  header.height = static_cast<uint32_t>(std::abs(int64_t{info.biHeight}));
  header.bitsPerPixel = info.biBitCount;
  // Plain rows take their padded size whatever biSizeImage says, as the decoder reads them;
  // run-length data takes the size the header gives.
  const bool runLength = info.biCompression == kRle8 || info.biCompression == kRle4;
  const uint64_t pixelBytes =
      runLength ? uint64_t{info.biSizeImage}
                : (uint64_t{header.width} * info.biBitCount + 31) / 32 * 4 * header.height;
  header.promisedBytes = uint64_t{LoadLE32(bytes + 10)} + pixelBytes;
  return header;
}

bool PageFileIsWhole(const std::string& path) {
  const std::optional<PageFileHeader> header = ReadPageFileHeader(path);
  return header && header->actualBytes >= header->promisedBytes;
}

std::vector<std::string> PagesMovedPast(std::vector<std::string> pages, bool renderingReturned) {
  if (!renderingReturned && !pages.empty()) pages.pop_back();
  return pages;
}

}  // namespace orvalis
