// The GDI layer's metafile recorder: record sequences and header fields read back with the
// tests' own reader, failures that leave no file, and handle checks.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/byte_order.h"
#include "platform/gdi.h"
#include "tests/support/metafile_reader.h"
#include "tests/support/temp_dir.h"

namespace orvalis::gdi {
namespace {

using test::MetaRecord;
using test::ReadFileBytes;
using test::TempDir;

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr std::string_view kDescription{"www\0\0", 5};

// A packed DIB made in code: header, colour table, rows with a pattern of their own.
struct Dib {
  std::vector<uint8_t> info;
  std::vector<uint8_t> bits;
};

Dib MakeDib(int32_t width, int32_t height, uint16_t bitCount, uint32_t colors,
            uint32_t compression = 0) {
  Dib dib;
  const uint64_t stride = (static_cast<uint64_t>(width) * bitCount + 31) / 32 * 4;
  const uint64_t rows = height < 0 ? -static_cast<int64_t>(height) : height;
  PutLE32(dib.info, 40);
  PutLE32(dib.info, static_cast<uint32_t>(width));
  PutLE32(dib.info, static_cast<uint32_t>(height));
  PutLE16(dib.info, 1);
  PutLE16(dib.info, bitCount);
  PutLE32(dib.info, compression);
  PutLE32(dib.info, static_cast<uint32_t>(stride * rows));
  PutLE32(dib.info, 3780);
  PutLE32(dib.info, 3780);
  PutLE32(dib.info, colors);
  PutLE32(dib.info, 0);
  for (uint32_t i = 0; i < colors; ++i) PutLE32(dib.info, i * 0x010203u);
  dib.bits.resize(stride * rows);
  for (size_t i = 0; i < dib.bits.size(); ++i) dib.bits[i] = static_cast<uint8_t>(i * 37 + 11);
  return dib;
}

// What the converter records: a white rectangle, then the bitmap stretched over it.
void RecordPicture(HDC dc, int width, int height, const Dib& dib) {
  HPEN pen = CreatePen(PS_SOLID, 1, kWhite);
  HBRUSH brush = CreateSolidBrush(kWhite);
  ASSERT_NE(pen, nullptr);
  ASSERT_NE(brush, nullptr);
  HGDIOBJ previousPen = SelectObject(dc, pen);
  HGDIOBJ previousBrush = SelectObject(dc, brush);
  EXPECT_EQ(previousPen, GetStockObject(BLACK_PEN));
  EXPECT_EQ(previousBrush, GetStockObject(WHITE_BRUSH));
  EXPECT_TRUE(Rectangle(dc, 0, 0, width, height));
  EXPECT_EQ(SelectObject(dc, previousPen), pen);
  EXPECT_EQ(SelectObject(dc, previousBrush), brush);
  EXPECT_TRUE(DeleteObject(pen));
  EXPECT_TRUE(DeleteObject(brush));
  EXPECT_EQ(SetStretchBltMode(dc, COLORONCOLOR), BLACKONWHITE);
  const int32_t dibWidth = static_cast<int32_t>(LoadLE32(dib.info.data() + 4));
  const int32_t dibHeight = static_cast<int32_t>(LoadLE32(dib.info.data() + 8));
  EXPECT_EQ(StretchDIBits(dc, 0, 0, width, height, 0, 0, dibWidth, dibHeight, dib.bits.data(),
                          dib.info.data(), DIB_RGB_COLORS, SRCCOPY),
            dibHeight);
}

std::vector<uint32_t> TypesOf(const std::vector<MetaRecord>& records) {
  std::vector<uint32_t> types;
  for (const MetaRecord& record : records) types.push_back(record.type);
  return types;
}

std::vector<int32_t> Ints(const MetaRecord& record, size_t offset, size_t count) {
  std::vector<int32_t> values;
  for (size_t i = 0; i < count; ++i) values.push_back(record.I32(offset + 4 * i));
  return values;
}

// Restores the standard screen when a test that changed it ends.
class ScopedScreen {
 public:
  explicit ScopedScreen(const ReferenceDevice& device) { EXPECT_TRUE(SetScreenDevice(device)); }
  ~ScopedScreen() { SetScreenDevice(ReferenceDevice{}); }
};

TEST(EnhancedMetafile, RecordsThePictureOverAWhiteRectangle) {
  TempDir dir;
  const std::string path = dir.File("page.emf");
  const Dib dib = MakeDib(5, 3, 24, 0);
  const RECT frame{0, 0, 1234, 567};
  {
    ScreenDC screen;
    HDC dc = CreateEnhMetaFileA(screen.get(), path.c_str(), &frame, kDescription);
    ASSERT_NE(dc, nullptr) << GetLastErrorText();
    EXPECT_EQ(GetDeviceCaps(dc, HORZSIZE), 508);
    RecordPicture(dc, 7, 4, dib);
    HENHMETAFILE metafile = CloseEnhMetaFile(dc);
    ASSERT_NE(metafile, nullptr) << GetLastErrorText();
    EXPECT_TRUE(DeleteEnhMetaFile(metafile));
    EXPECT_FALSE(DeleteEnhMetaFile(metafile));
  }
  const std::vector<uint8_t> file = ReadFileBytes(path);
  std::string error;
  const std::vector<MetaRecord> records = test::ReadEmfRecords(file, &error);
  ASSERT_FALSE(records.empty()) << error;
  EXPECT_EQ(TypesOf(records),
            (std::vector<uint32_t>{1, 38, 37, 39, 37, 43, 37, 37, 40, 40, 21, 81, 14}));

  const MetaRecord& header = records[0];
  EXPECT_EQ(header.U32(4), 120u);                                           // 108 + description
  EXPECT_EQ(Ints(header, 8, 4), (std::vector<int32_t>{0, 0, 6, 3}));        // bounds, inclusive
  EXPECT_EQ(Ints(header, 24, 4), (std::vector<int32_t>{0, 0, 1234, 567}));  // frame as given
  EXPECT_EQ(header.U32(40), 0x464D4520u);
  EXPECT_EQ(header.U32(44), 0x00010000u);
  EXPECT_EQ(header.U32(48), file.size());
  EXPECT_EQ(header.U32(52), records.size());
  EXPECT_EQ(header.U16(56), 3);  // slot 0 and the pen and brush
  EXPECT_EQ(header.U16(58), 0);
  EXPECT_EQ(header.U32(60), 5u);
  EXPECT_EQ(header.U32(64), 108u);
  EXPECT_EQ(header.U32(68), 0u);
  EXPECT_EQ(Ints(header, 72, 4), (std::vector<int32_t>{1920, 1080, 508, 286}));
  EXPECT_EQ(Ints(header, 88, 5), (std::vector<int32_t>{0, 0, 0, 508000, 286000}));
  EXPECT_EQ(header.Slice(108, 12),
            (std::vector<uint8_t>{'w', 0, 'w', 0, 'w', 0, 0, 0, 0, 0, 0, 0}));

  EXPECT_EQ(Ints(records[1], 4, 6),
            (std::vector<int32_t>{28, 1, PS_SOLID, 1, 0, static_cast<int32_t>(kWhite)}));
  EXPECT_EQ(records[2].U32(8), 1u);
  EXPECT_EQ(Ints(records[3], 4, 5),
            (std::vector<int32_t>{24, 2, 0, static_cast<int32_t>(kWhite), 0}));
  EXPECT_EQ(records[4].U32(8), 2u);
  EXPECT_EQ(Ints(records[5], 8, 4), (std::vector<int32_t>{0, 0, 7, 4}));
  EXPECT_EQ(records[6].U32(8), 0x80000000u | BLACK_PEN);
  EXPECT_EQ(records[7].U32(8), 0x80000000u | WHITE_BRUSH);
  EXPECT_EQ(records[8].U32(8), 1u);
  EXPECT_EQ(records[9].U32(8), 2u);
  EXPECT_EQ(records[10].U32(8), static_cast<uint32_t>(COLORONCOLOR));

  const MetaRecord& stretch = records[11];
  EXPECT_EQ(stretch.bytes.size(), 80u + 40u + 48u);
  EXPECT_EQ(Ints(stretch, 8, 4), (std::vector<int32_t>{0, 0, 6, 3}));
  EXPECT_EQ(Ints(stretch, 24, 6), (std::vector<int32_t>{0, 0, 0, 0, 5, 3}));
  EXPECT_EQ(Ints(stretch, 48, 4), (std::vector<int32_t>{80, 40, 120, 48}));
  EXPECT_EQ(stretch.U32(64), DIB_RGB_COLORS);
  EXPECT_EQ(stretch.U32(68), SRCCOPY);
  EXPECT_EQ(Ints(stretch, 72, 2), (std::vector<int32_t>{7, 4}));
  EXPECT_EQ(stretch.Slice(80, 40), dib.info);
  EXPECT_EQ(stretch.Slice(120, 48), dib.bits);

  EXPECT_EQ(Ints(records[12], 4, 4), (std::vector<int32_t>{20, 0, 16, 20}));
}

TEST(ClassicMetafile, RecordsThePictureOverAWhiteRectangle) {
  TempDir dir;
  const std::string path = dir.File("page.wmf");
  const Dib dib = MakeDib(5, 3, 8, 256);
  HDC dc = CreateMetaFileA(path.c_str());
  ASSERT_NE(dc, nullptr) << GetLastErrorText();
  RecordPicture(dc, 7, 4, dib);
  HMETAFILE metafile = CloseMetaFile(dc);
  ASSERT_NE(metafile, nullptr) << GetLastErrorText();
  EXPECT_TRUE(DeleteMetaFile(metafile));

  const std::vector<uint8_t> file = ReadFileBytes(path);
  test::WmfFile wmf;
  std::string error;
  ASSERT_TRUE(test::ReadWmfFile(file, &wmf, &error)) << error;
  EXPECT_EQ(wmf.type, 1);
  EXPECT_EQ(wmf.headerWords, 9);
  EXPECT_EQ(wmf.version, 0x0300);
  EXPECT_EQ(uint64_t{wmf.sizeWords} * 2, file.size());
  // The pen and brush, and the stock pen and brush selected back in, which a classic
  // metafile can only reach by creating them.
  EXPECT_EQ(wmf.objects, 4);
  EXPECT_EQ(wmf.members, 0);
  EXPECT_EQ(TypesOf(wmf.records),
            (std::vector<uint32_t>{0x02FA, 0x012D, 0x02FC, 0x012D, 0x041B, 0x02FA, 0x012D, 0x02FC,
                                   0x012D, 0x01F0, 0x01F0, 0x0107, 0x0F43, 0x0000}));
  const auto& r = wmf.records;
  EXPECT_EQ(r[0].U32(0), 8u);
  EXPECT_EQ(r[0].U16(6), PS_SOLID);
  EXPECT_EQ(r[0].I16(8), 1);
  EXPECT_EQ(r[0].U32(12), kWhite);
  EXPECT_EQ(r[1].U16(6), 0);
  EXPECT_EQ(r[2].U32(0), 7u);
  EXPECT_EQ(r[2].U16(6), BS_SOLID);
  EXPECT_EQ(r[2].U32(8), kWhite);
  EXPECT_EQ(r[3].U16(6), 1);
  EXPECT_EQ(r[4].U32(0), 7u);
  EXPECT_EQ((std::vector<int>{r[4].I16(6), r[4].I16(8), r[4].I16(10), r[4].I16(12)}),
            (std::vector<int>{4, 7, 0, 0}));  // bottom, right, top, left
  EXPECT_EQ(r[5].U32(12), RGB(0, 0, 0));
  EXPECT_EQ(r[6].U16(6), 2);
  EXPECT_EQ(r[7].U32(8), kWhite);
  EXPECT_EQ(r[8].U16(6), 3);
  EXPECT_EQ(r[9].U16(6), 0);
  EXPECT_EQ(r[10].U16(6), 1);
  EXPECT_EQ(r[11].U16(6), COLORONCOLOR);

  const MetaRecord& stretch = r[12];
  const size_t dibBytes = dib.info.size() + dib.bits.size();
  EXPECT_EQ(stretch.bytes.size(), 28 + dibBytes);
  EXPECT_EQ(wmf.maxRecordWords, stretch.bytes.size() / 2);
  EXPECT_EQ(stretch.U32(6), SRCCOPY);
  EXPECT_EQ(stretch.U16(10), DIB_RGB_COLORS);
  std::vector<int> fields;
  for (size_t at = 12; at < 28; at += 2) fields.push_back(stretch.I16(at));
  // srcHeight, srcWidth, ySrc, xSrc, destHeight, destWidth, yDest, xDest
  EXPECT_EQ(fields, (std::vector<int>{3, 5, 0, 0, 4, 7, 0, 0}));
  EXPECT_EQ(stretch.Slice(28, dib.info.size()), dib.info);
  EXPECT_EQ(stretch.Slice(28 + dib.info.size(), dib.bits.size()), dib.bits);
  EXPECT_EQ(r[13].U32(0), 3u);
}

TEST(EnhancedMetafile, FrameFollowsTheDrawingWhenNoneIsGiven) {
  TempDir dir;
  const std::string path = dir.File("auto.emf");
  HDC dc = CreateEnhMetaFileA(nullptr, path.c_str(), nullptr, {});
  ASSERT_NE(dc, nullptr);
  EXPECT_TRUE(Rectangle(dc, 10, 20, 202, 128));
  ASSERT_NE(CloseEnhMetaFile(dc), nullptr) << GetLastErrorText();
  std::string error;
  const std::vector<MetaRecord> records = test::ReadEmfRecords(ReadFileBytes(path), &error);
  ASSERT_FALSE(records.empty()) << error;
  EXPECT_EQ(Ints(records[0], 8, 4), (std::vector<int32_t>{10, 20, 201, 127}));
  // 0.01 mm at 508 mm / 1920 px and 286 mm / 1080 px.
  EXPECT_EQ(Ints(records[0], 24, 4), (std::vector<int32_t>{264, 529, 5318, 3363}));
  EXPECT_EQ(records[0].U32(4), 108u);  // no description
  EXPECT_EQ(records[0].U32(60), 0u);
}

TEST(ReferenceDevice, ScreenFiguresAndTheirReplacement) {
  {
    ScreenDC screen;
    EXPECT_EQ(
        (std::vector<int>{
            GetDeviceCaps(screen.get(), HORZSIZE), GetDeviceCaps(screen.get(), VERTSIZE),
            GetDeviceCaps(screen.get(), HORZRES), GetDeviceCaps(screen.get(), VERTRES),
            GetDeviceCaps(screen.get(), LOGPIXELSX), GetDeviceCaps(screen.get(), LOGPIXELSY)}),
        (std::vector<int>{508, 286, 1920, 1080, 96, 96}));
    EXPECT_EQ(GetDeviceCaps(screen.get(), 12345), 0);
  }
  EXPECT_FALSE(SetScreenDevice({0, 1024, 320, 256}));
  TempDir dir;
  const std::string path = dir.File("small-screen.emf");
  {
    ScopedScreen small({1280, 1024, 320, 256});
    ScreenDC screen;
    EXPECT_EQ(GetDeviceCaps(screen.get(), HORZRES), 1280);
    EXPECT_EQ(GetDeviceCaps(screen.get(), LOGPIXELSX), 102);  // 101.6 rounded
    HDC dc = CreateEnhMetaFileA(screen.get(), path.c_str(), nullptr, kDescription);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(GetDeviceCaps(dc, VERTSIZE), 256);
    ASSERT_NE(CloseEnhMetaFile(dc), nullptr);
  }
  std::string error;
  const std::vector<MetaRecord> records = test::ReadEmfRecords(ReadFileBytes(path), &error);
  ASSERT_FALSE(records.empty()) << error;
  EXPECT_EQ(Ints(records[0], 72, 4), (std::vector<int32_t>{1280, 1024, 320, 256}));
  EXPECT_EQ(Ints(records[0], 8, 4), (std::vector<int32_t>{0, 0, -1, -1}));  // nothing drawn
  ScreenDC after;
  EXPECT_EQ(GetDeviceCaps(after.get(), HORZRES), 1920);
}

// A drawing call the file cannot hold spoils the recording: the close call fails with the
// reason and the file is gone, rather than a metafile that silently lacks the page.
TEST(Metafile, ARecordingThatCannotBeCompletedLeavesNoFile) {
  struct Case {
    const char* name;
    bool enhanced;
    std::function<void(HDC)> draw;
    const char* reason;
  };
  const Dib wide = MakeDib(40000, 1, 1, 2);
  const Dib rle = MakeDib(4, 4, 8, 256, 1);
  const Dib threeBits = MakeDib(4, 4, 3, 8);
  const Dib longPalette = MakeDib(4, 4, 4, 17);
  const auto stretch = [](const Dib& dib) {
    return [&dib](HDC dc) {
      EXPECT_EQ(StretchDIBits(dc, 0, 0, 10, 10, 0, 0, 4, 4, dib.bits.data(), dib.info.data(),
                              DIB_RGB_COLORS, SRCCOPY),
                0);
    };
  };
  const Case cases[] = {
      {"wmf-wide-bitmap", false,
       [&](HDC dc) {
         EXPECT_EQ(StretchDIBits(dc, 0, 0, 40000, 1, 0, 0, 40000, 1, wide.bits.data(),
                                 wide.info.data(), DIB_RGB_COLORS, SRCCOPY),
                   0);
       },
       "32767"},
      {"wmf-wide-rectangle", false, [](HDC dc) { EXPECT_FALSE(Rectangle(dc, 0, 0, 40000, 5)); },
       "32767"},
      {"emf-compressed-bitmap", true, stretch(rle), "uncompressed"},
      {"wmf-compressed-bitmap", false, stretch(rle), "uncompressed"},
      {"emf-three-bit-bitmap", true, stretch(threeBits), "bits per pixel"},
      {"emf-long-colour-table", true, stretch(longPalette), "colour table"},
      {"emf-no-bitmap", true,
       [](HDC dc) {
         EXPECT_EQ(
             StretchDIBits(dc, 0, 0, 1, 1, 0, 0, 1, 1, nullptr, nullptr, DIB_RGB_COLORS, SRCCOPY),
             0);
       },
       "no bitmap"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir.File(c.name);
    HDC dc = c.enhanced ? CreateEnhMetaFileA(nullptr, path.c_str(), nullptr, kDescription)
                        : CreateMetaFileA(path.c_str());
    ASSERT_NE(dc, nullptr);
    c.draw(dc);
    // Later calls fail too: the recording stays spoiled.
    EXPECT_FALSE(Rectangle(dc, 0, 0, 1, 1));
    const bool closed = c.enhanced ? CloseEnhMetaFile(dc) != nullptr : CloseMetaFile(dc) != nullptr;
    EXPECT_FALSE(closed);
    EXPECT_NE(GetLastErrorText().find(c.reason), std::string::npos) << GetLastErrorText();
    EXPECT_FALSE(std::filesystem::exists(path));
  }
}

TEST(Metafile, WriteFailuresAreReported) {
  const Dib big = MakeDib(300, 300, 24, 0);
  for (const bool enhanced : {true, false}) {
    SCOPED_TRACE(enhanced ? "emf" : "wmf");
    std::FILE* full = std::fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    HDC dc = enhanced ? CreateEnhMetaFileOnFile(nullptr, full, nullptr, kDescription)
                      : CreateMetaFileOnFile(full);
    ASSERT_NE(dc, nullptr);
    StretchDIBits(dc, 0, 0, 300, 300, 0, 0, 300, 300, big.bits.data(), big.info.data(),
                  DIB_RGB_COLORS, SRCCOPY);
    const bool closed = enhanced ? CloseEnhMetaFile(dc) != nullptr : CloseMetaFile(dc) != nullptr;
    EXPECT_FALSE(closed);
    EXPECT_NE(GetLastErrorText().find("writing failed: No space left on device"), std::string::npos)
        << GetLastErrorText();
    std::fclose(full);
  }
  EXPECT_EQ(CreateEnhMetaFileA(nullptr, "/nonexistent-folder/page.emf", nullptr, {}), nullptr);
  EXPECT_NE(GetLastErrorText().find("Cannot create '/nonexistent-folder/page.emf'"),
            std::string::npos);
  EXPECT_EQ(CreateMetaFileA(""), nullptr);
  EXPECT_EQ(CreateMetaFileOnFile(nullptr), nullptr);
}

TEST(Metafile, HandlesAreChecked) {
  TempDir dir;
  const std::string path = dir.File("handles.emf");
  HDC dc = CreateEnhMetaFileA(nullptr, path.c_str(), nullptr, kDescription);
  ASSERT_NE(dc, nullptr);
  HPEN pen = CreatePen(PS_DASH, 3, RGB(1, 2, 3));
  HGDIOBJ previous = SelectObject(dc, pen);
  EXPECT_FALSE(DeleteObject(pen)) << "a selected pen must not be freed";
  EXPECT_EQ(SelectObject(dc, previous), pen);
  EXPECT_TRUE(DeleteObject(pen));
  EXPECT_FALSE(DeleteObject(pen)) << "a deleted handle is unknown";
  EXPECT_EQ(SelectObject(dc, pen), nullptr);
  EXPECT_TRUE(DeleteObject(GetStockObject(BLACK_PEN)));
  EXPECT_EQ(GetStockObject(42), nullptr);
  EXPECT_EQ(CreatePen(PS_SOLID, -1, 0), nullptr);
  EXPECT_EQ(CreatePen(17, 1, 0), nullptr);
  EXPECT_EQ(SetStretchBltMode(dc, 9), 0);
  // The wrong close call for the kind of recording leaves it open.
  EXPECT_EQ(CloseMetaFile(dc), nullptr);
  EXPECT_TRUE(DiscardMetaFile(dc));
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_FALSE(Rectangle(dc, 0, 0, 1, 1)) << "a discarded context is unknown";

  ScreenDC screen;
  EXPECT_FALSE(Rectangle(screen.get(), 0, 0, 1, 1)) << "the screen is not drawn on";
  EXPECT_EQ(CloseEnhMetaFile(screen.get()), nullptr);
  EXPECT_EQ(GetDeviceCaps(screen.get(), HORZRES), 1920) << "a failed close must not free it";
  HDC released = GetDC(nullptr);
  EXPECT_EQ(ReleaseDC(nullptr, released), 1);
  EXPECT_EQ(ReleaseDC(nullptr, released), 0);
}

// A pen that two recordings share is deleted from both tables when it is deleted.
TEST(Metafile, DeletingASharedObjectReachesEveryRecording) {
  TempDir dir;
  HDC emf = CreateEnhMetaFileA(nullptr, dir.File("a.emf").c_str(), nullptr, {});
  HDC wmf = CreateMetaFileA(dir.File("b.wmf").c_str());
  HBRUSH brush = CreateSolidBrush(RGB(9, 8, 7));
  SelectObject(emf, SelectObject(emf, brush));
  SelectObject(wmf, SelectObject(wmf, brush));
  EXPECT_TRUE(DeleteObject(brush));
  ASSERT_NE(CloseEnhMetaFile(emf), nullptr);
  ASSERT_NE(CloseMetaFile(wmf), nullptr);
  std::string error;
  const auto emfRecords = test::ReadEmfRecords(ReadFileBytes(dir.File("a.emf")), &error);
  EXPECT_EQ(TypesOf(emfRecords), (std::vector<uint32_t>{1, 39, 37, 37, 40, 14}));
  test::WmfFile wmfFile;
  ASSERT_TRUE(test::ReadWmfFile(ReadFileBytes(dir.File("b.wmf")), &wmfFile, &error)) << error;
  EXPECT_EQ(TypesOf(wmfFile.records),
            (std::vector<uint32_t>{0x02FC, 0x012D, 0x02FC, 0x012D, 0x01F0, 0x0000}));
  EXPECT_EQ(wmfFile.records[4].U16(6), 0);  // the brush's slot, not the stock brush's
}

}  // namespace
}  // namespace orvalis::gdi
