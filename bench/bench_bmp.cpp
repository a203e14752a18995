// BMP decode and encode of a 2550 x 3300 24-bit page (letter at 300 dpi), beside plain reads
// and writes of a file of the same size, so the codec's own cost shows as the difference.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "image/raster_image.h"

namespace {

using orvalis::ImageFormat;
using orvalis::RasterImage;

constexpr uint32_t kWidth = 2550;
constexpr uint32_t kHeight = 3300;

// A page-like picture: white paper, lines of dark "text" strokes, a coloured band and a
// gradient box, so the bytes are not all the same.
std::unique_ptr<RasterImage> MakePage() {
  auto page = std::make_unique<RasterImage>();
  page->Create(kWidth, kHeight, 24, ImageFormat::Bmp);
  page->SetResolutionX(300);
  page->SetResolutionY(300);
  for (uint32_t y = 0; y < kHeight; ++y) {
    uint8_t* row = page->RowAddress(y);
    const bool textLine = (y / 12) % 4 != 0 && y > 300 && y < 3000;
    for (uint32_t x = 0; x < kWidth; ++x) {
      uint8_t* p = row + x * 3;
      p[0] = p[1] = p[2] = 255;
      if (textLine && x > 300 && x < 2250 && ((x * 7 + y * 3) % 23) < 9) p[0] = p[1] = p[2] = 20;
      if (y > 3050 && y < 3150) {
        p[0] = static_cast<uint8_t>(x);
        p[1] = 120;
        p[2] = static_cast<uint8_t>(y);
      }
    }
  }
  return page;
}

class Files {
 public:
  Files() {
    char pattern[] = "/tmp/bench_bmp_XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    dir_ = pattern;
    const auto page = MakePage();
    if (!page->Save(Bmp(), ImageFormat::Bmp)) std::abort();
  }
  ~Files() {
    std::remove(Bmp().c_str());
    std::remove(Out().c_str());
    rmdir(dir_.c_str());
  }
  std::string Bmp() const { return dir_ + "/page.bmp"; }
  std::string Out() const { return dir_ + "/out.bmp"; }

 private:
  std::string dir_;
};

Files& TheFiles() {
  static Files files;
  return files;
}

long FileSize(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::fclose(f);
  return size;
}

void BM_DecodePage(benchmark::State& state) {
  const std::string path = TheFiles().Bmp();
  for (auto _ : state) {
    RasterImage image;
    if (!image.Load(path, ImageFormat::Bmp)) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(image.PixelRows());
  }
  state.SetBytesProcessed(state.iterations() * FileSize(path));
}

// The same bytes read with fread into a fresh buffer, as the decoder reads into a fresh image.
void BM_ReadSameBytes(benchmark::State& state) {
  const std::string path = TheFiles().Bmp();
  const long size = FileSize(path);
  for (auto _ : state) {
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[size]);
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (std::fread(buffer.get(), 1, size, f) != static_cast<size_t>(size))
      state.SkipWithError("short read");
    std::fclose(f);
    benchmark::DoNotOptimize(buffer.get());
  }
  state.SetBytesProcessed(state.iterations() * size);
}

void BM_EncodePage(benchmark::State& state) {
  const auto page = MakePage();
  const std::string path = TheFiles().Out();
  for (auto _ : state) {
    if (!page->Save(path, ImageFormat::Bmp)) state.SkipWithError("encode failed");
  }
  state.SetBytesProcessed(state.iterations() * FileSize(path));
}

// The same number of bytes written with fwrite.
void BM_WriteSameBytes(benchmark::State& state) {
  const std::string path = TheFiles().Out();
  const long size = FileSize(TheFiles().Bmp());
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[size]());
  for (auto _ : state) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(buffer.get(), 1, size, f);
    std::fclose(f);
  }
  state.SetBytesProcessed(state.iterations() * size);
}

BENCHMARK(BM_DecodePage)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadSameBytes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EncodePage)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WriteSameBytes)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
