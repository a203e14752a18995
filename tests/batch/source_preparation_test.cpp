#include "batch/source_preparation.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <stop_token>
#include <string>
#include <vector>

#include "batch/disk_guard.h"
#include "tests/support/temp_dir.h"

namespace orvalis {
namespace {

namespace fs = std::filesystem;

constexpr char kPostScript[] = "%!PS-Adobe-3.0\n72 72 moveto (hello) show showpage\n";

// `text` as one gzip member, as gzip writes it.
std::string Gzip(const std::string& text) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&stream, text.size()) + 32, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

void Put32(std::string& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i)
    bytes[at + static_cast<size_t>(i)] = static_cast<char>(value >> (8 * i));
}

// A DOS EPS file: the 30-byte header, a preview's bytes, then the PostScript section.
std::string DosEps(const std::string& postScript, uint32_t offsetShift = 0) {
  std::string bytes(30, '\0');
  bytes.replace(0, 4, "\xc5\xd0\xd3\xc6");
  const std::string preview(64, '\x55');
  Put32(bytes, 4, static_cast<uint32_t>(30 + preview.size()) + offsetShift);
  Put32(bytes, 8, static_cast<uint32_t>(postScript.size()));
  Put32(bytes, 20, 30);  // the TIFF preview's place
  Put32(bytes, 24, static_cast<uint32_t>(preview.size()));
  bytes[28] = bytes[29] = '\xff';  // no checksum
  return bytes + preview + postScript;
}

class SourcePreparation : public ::testing::Test {
 protected:
  // Each file is prepared in a page folder of its own, as in a run.
  std::string Folder() const { return dir.File("pages" + std::to_string(folders)) + "/"; }
  std::string Write(const std::string& name, const std::string& bytes) {
    test::WriteFileText(dir.Path() / name, bytes);
    return dir.File(name);
  }
  PreparedSource Prepare(const std::string& source, uint64_t limit = kDefaultUnpackLimit,
                         std::stop_token stop = {}) {
    ++folders;
    fs::create_directory(Folder());
    return PrepareSource(source, Folder(), limit, disk, stop);
  }
  // Nothing is left of a copy that was not made.
  bool FolderHoldsNoFile() const {
    for (const auto& entry : fs::recursive_directory_iterator(Folder()))
      if (!entry.is_directory()) return false;
    return true;
  }
  test::TempDir dir;
  DiskGuard disk;
  int folders = 0;
};

TEST_F(SourcePreparation, PlainDocumentsAreReadWhereTheyAre) {
  for (const auto& [name, bytes] : {std::pair{"a.ps", std::string(kPostScript)},
                                    std::pair{"b.pdf", std::string("%PDF-1.4\n")}}) {
    const std::string source = Write(name, bytes);
    const PreparedSource prepared = Prepare(source);
    EXPECT_EQ(prepared.path, source);
    EXPECT_EQ(prepared.problem, "");
  }
  // What cannot be opened is left for the renderer to explain.
  EXPECT_EQ(Prepare(dir.File("missing.ps")).path, dir.File("missing.ps"));
  EXPECT_TRUE(FolderHoldsNoFile());
}

// Members one after another unpack one after another, as gunzip does; zeros after the last
// member pad the file out.
TEST_F(SourcePreparation, GzipUnpacksEveryMember) {
  const std::string first = "%!PS-Adobe-3.0\n% first half\n";
  const std::string second = "72 72 moveto (hello) show showpage\n";
  const std::string source =
      Write("doc.ps.gz", Gzip(first) + Gzip(second) + std::string(512, '\0'));
  const PreparedSource prepared = Prepare(source);
  ASSERT_EQ(prepared.problem, "");
  EXPECT_EQ(test::ReadFileText(prepared.path), first + second);
  EXPECT_EQ(prepared.path.rfind(Folder(), 0), 0u);
}

TEST_F(SourcePreparation, DosEpsGivesItsPostScriptSection) {
  const PreparedSource prepared = Prepare(Write("fig.eps", DosEps(kPostScript)));
  ASSERT_EQ(prepared.problem, "");
  EXPECT_EQ(test::ReadFileText(prepared.path), kPostScript);
  // Inside gzip too.
  const PreparedSource packed = Prepare(Write("fig.eps.gz", Gzip(DosEps(kPostScript))));
  ASSERT_EQ(packed.problem, "");
  EXPECT_EQ(test::ReadFileText(packed.path), kPostScript);
}

TEST_F(SourcePreparation, DamagedFilesFailWithTheirReasonAndLeaveNothing) {
  const std::string packed = Gzip(kPostScript);
  std::string badCrc = packed;
  badCrc[badCrc.size() - 6] ^= 0x55;
  struct Case {
    const char* name;
    std::string bytes;
    const char* says;
  };
  const Case cases[] = {
      {"cut.ps.gz", packed.substr(0, packed.size() - 9), "ends too early"},
      {"crc.ps.gz", badCrc, "damaged"},
      {"tail.ps.gz", packed + "garbage", "bytes follow its compressed data"},
      {"twice.ps.gz", Gzip(packed), "compressed twice"},
      {"fake.ps.gz", "%!PS\n", ""},  // the bytes say PostScript: read as it is
      {"text.ps.gz", "hello", "not compressed with gzip"},
      {"short.eps", DosEps(kPostScript).substr(0, 20), "cut short"},
      {"past.eps", DosEps(kPostScript, 1000), "outside the file"},
  };
  for (const Case& c : cases) {
    const PreparedSource prepared = Prepare(Write(c.name, c.bytes));
    if (*c.says == '\0') {
      EXPECT_EQ(prepared.problem, "") << c.name;
      continue;
    }
    EXPECT_EQ(prepared.path, "") << c.name;
    EXPECT_NE(prepared.problem.find(c.says), std::string::npos)
        << c.name << ": " << prepared.problem;
    EXPECT_TRUE(FolderHoldsNoFile()) << c.name;
  }
}

// A small file that unpacks to a huge one stops at the limit, at the disk's reserve, or at a
// stop, and leaves nothing behind.
TEST_F(SourcePreparation, GzipBombStopsAtTheLimit) {
  const std::string member = Gzip(std::string(8 << 20, '\0'));  // 8 MiB of zeros, a few KiB
  std::string bomb;
  for (int i = 0; i < 64; ++i) bomb += member;  // 512 MiB unpacked
  const std::string source = Write("bomb.ps.gz", bomb);

  PreparedSource prepared = Prepare(source, uint64_t{20} << 20);
  EXPECT_NE(prepared.problem.find("unpacks to more than 20 MiB"), std::string::npos)
      << prepared.problem;
  EXPECT_TRUE(FolderHoldsNoFile());

  disk.SetReserve(Folder(), ~uint64_t{0} >> 1, 0);  // no room at all
  prepared = Prepare(source);
  EXPECT_NE(prepared.problem.find("was not unpacked"), std::string::npos) << prepared.problem;
  EXPECT_TRUE(FolderHoldsNoFile());

  std::stop_source stop;
  stop.request_stop();
  prepared = Prepare(source, kDefaultUnpackLimit, stop.get_token());
  EXPECT_TRUE(prepared.stopped);
  EXPECT_EQ(prepared.path, "");
  EXPECT_TRUE(FolderHoldsNoFile());
}

}  // namespace
}  // namespace orvalis
