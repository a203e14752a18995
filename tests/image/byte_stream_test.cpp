#include "image/byte_stream.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/temp_dir.h"

namespace orvalis {
namespace {

TEST(MemoryStream, GrowsInSteps64KiB) {
  struct Case {
    int64_t bytes;
    int64_t capacity;
  };
  for (const Case c : {Case{3, 65536}, Case{65535, 65536}, Case{65536, 131072}}) {
    MemoryStream stream;
    ASSERT_TRUE(stream.OpenEmpty());
    std::vector<uint8_t> data(static_cast<size_t>(c.bytes), 7);
    EXPECT_EQ(stream.WriteBytes(data.data(), 1, data.size()), data.size());
    EXPECT_EQ(stream.Position(), c.bytes);
    EXPECT_EQ(stream.Length(), c.bytes);
    EXPECT_EQ(stream.Capacity(), c.capacity) << c.bytes;
  }
}

TEST(MemoryStream, OpenEmptyRefusesWhenDataPresent) {
  uint8_t buffer[4] = {};
  MemoryStream stream(buffer, 4);
  EXPECT_FALSE(stream.OpenEmpty());
}

TEST(MemoryStream, SeekClampsAndRejectsUnknownOrigin) {
  MemoryStream stream;
  EXPECT_FALSE(stream.SeekTo(0, kSeekStart));  // no data yet
  ASSERT_TRUE(stream.OpenEmpty());
  ASSERT_TRUE(stream.PutByte(1));
  EXPECT_TRUE(stream.SeekTo(-5, kSeekStart));
  EXPECT_EQ(stream.Position(), 0);
  EXPECT_FALSE(stream.SeekTo(0, 3));
  EXPECT_TRUE(stream.SeekTo(10, kSeekEnd));
  EXPECT_EQ(stream.Position(), 11);
  EXPECT_NE(stream.HasError(), 0);  // past the end
}

TEST(MemoryStream, GapLeftBySeekingPastTheEndReadsAsZeros) {
  MemoryStream stream;
  ASSERT_TRUE(stream.OpenEmpty());
  ASSERT_TRUE(stream.PutByte(0xAA));
  ASSERT_TRUE(stream.SeekTo(4, kSeekStart));
  ASSERT_TRUE(stream.PutByte(0xBB));
  ASSERT_TRUE(stream.SeekTo(0, kSeekStart));
  uint8_t back[5];
  EXPECT_EQ(stream.ReadBytes(back, 1, 5), 5u);
  EXPECT_EQ(std::memcmp(back, "\xAA\0\0\0\xBB", 5), 0);
}

TEST(MemoryStream, ReadsWholeItemsOnly) {
  uint8_t buffer[7] = {1, 2, 3, 4, 5, 6, 7};
  MemoryStream stream(buffer, 7);
  uint16_t items[4] = {};
  EXPECT_EQ(stream.ReadBytes(items, 2, 4), 3u);  // 7 bytes copied, 3 whole items
  EXPECT_EQ(stream.AtEnd(), 1);
  EXPECT_EQ(stream.GetByte(), -1);
  EXPECT_EQ(stream.ReadBytes(items, 2, 1), 0u);
}

TEST(MemoryStream, WritingIntoCallerBufferCopiesBeforeGrowing) {
  uint8_t buffer[2] = {9, 9};
  {
    MemoryStream stream(buffer, 2);
    ASSERT_TRUE(stream.SeekTo(0, kSeekEnd));
    const uint8_t more[3] = {1, 2, 3};
    EXPECT_EQ(stream.WriteBytes(more, 1, 3), 3u);
    EXPECT_EQ(stream.Length(), 5);
    const uint8_t* data = stream.DetachBuffer(false);
    EXPECT_NE(data, buffer);
    EXPECT_EQ(data[0], 9);
    EXPECT_EQ(data[4], 3);
  }
  EXPECT_EQ(buffer[0], 9);  // the caller's buffer was neither freed nor changed
}

TEST(MemoryStream, ReadLineNeedsANewline) {
  const char text[] = "one\ntwo";
  MemoryStream stream(reinterpret_cast<uint8_t*>(const_cast<char*>(text)), 7);
  char line[16];
  ASSERT_NE(stream.ReadLine(line, sizeof line), nullptr);
  EXPECT_STREQ(line, "one\n");
  EXPECT_EQ(stream.ReadLine(line, sizeof line), nullptr);  // last line has no newline
  EXPECT_EQ(stream.ReadLine(line, sizeof line), nullptr);
  EXPECT_EQ(stream.ScanFormatted("%d", line), 0);
}

TEST(FileStream, LengthKeepsPositionAndCloseLeavesCallerFileOpen) {
  test::TempDir dir;
  UniqueFile file(std::fopen(dir.File("f").c_str(), "w+b"));
  ASSERT_TRUE(file);
  FileStream stream(file.get());
  ASSERT_EQ(stream.WriteBytes("abcdef", 1, 6), 6u);
  ASSERT_TRUE(stream.SeekTo(2, kSeekStart));
  EXPECT_EQ(stream.Length(), 6);
  EXPECT_EQ(stream.Position(), 2);
  EXPECT_EQ(stream.GetByte(), 'c');
  EXPECT_TRUE(stream.CloseStream());
  EXPECT_EQ(std::fgetc(file.get()), 'd');  // still open
}

TEST(FileStream, WithoutFileAnswersItsDefaults) {
  FileStream stream;
  uint8_t b = 0;
  EXPECT_TRUE(stream.CloseStream());
  EXPECT_EQ(stream.ReadBytes(&b, 1, 1), 0u);
  EXPECT_EQ(stream.WriteBytes(&b, 1, 1), 0u);
  EXPECT_FALSE(stream.SeekTo(0, kSeekStart));
  EXPECT_EQ(stream.Position(), 0);
  EXPECT_EQ(stream.Length(), -1);
  EXPECT_FALSE(stream.FlushBuffers());
  EXPECT_NE(stream.AtEnd(), 0);
  EXPECT_EQ(stream.HasError(), -1);
  EXPECT_FALSE(stream.PutByte(1));
  EXPECT_EQ(stream.GetByte(), -1);
  char line[4];
  EXPECT_EQ(stream.ReadLine(line, 4), nullptr);
  EXPECT_EQ(stream.ScanFormatted("%d", line), -1);
}

}  // namespace
}  // namespace orvalis
