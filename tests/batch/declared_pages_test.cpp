// The page count a PostScript file declares in its comments.

#include "batch/declared_pages.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>

#include "tests/support/temp_dir.h"

namespace orvalis {
namespace {

TEST(DeclaredPages, ReadFromTheHeaderTheTrailerOrAnEpsfLine) {
  const struct {
    const char* text;
    std::optional<int> pages;
  } cases[] = {
      {"%!PS-Adobe-3.0\n%%Creator: groff\n%%Pages: 87\n%%EndComments\n", 87},
      {"%!PS-Adobe-3.0\r\n%%Pages: 1 -1\r\n%%EndComments\r\n", 1},
      {"%!PS-Adobe-2.0 EPSF-1.2\n%%BoundingBox: 0 0 10 10\n", 1},
      {"%!PS-Adobe-3.0\n%%Pages: (atend)\n%%EndComments\nshowpage\n%%Trailer\n%%Pages: 12\n", 12},
      {"%!PS-Adobe-3.0\n%%Pages: (atend)\n%%EndComments\nshowpage\n", std::nullopt},
      {"%!PS\n/x 1 def\n%%Pages: 1\n", std::nullopt},  // past the header: not a declaration
      {"%!PS-Adobe-3.0\n%%EndComments\n%%Pages: 1\n", std::nullopt},
      {"%!PS-Adobe-3.0\n%%Pages: lots\n", std::nullopt},
      {"%!PS-Adobe-3.0\n%%Pages: -3\n", std::nullopt},
      {"%!PS-Adobe-3.0\n%%Pages: 99999999999999999999\n", std::nullopt},
      {"no header at all\n%%Pages: 1\n", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DeclaredPageCount(c.text, c.text), c.pages) << c.text;
  }
}

// A file longer than the header read: the trailer is read from its end.
TEST(DeclaredPages, TrailerOfALongFile) {
  test::TempDir dir;
  const std::string path = dir.File("long.ps");
  {
    std::ofstream out(path);
    out << "%!PS-Adobe-3.0\n%%Pages: (atend)\n%%EndComments\n";
    for (int i = 0; i < 20000; ++i) out << "% filler line of the body\n";
    out << "%%Trailer\n%%Pages: 40\n%%EOF\n";
  }
  EXPECT_EQ(DeclaredPageCount(path), 40);
  // Nothing that is not a regular file is read, and nothing blocks: a named pipe with no
  // writer would wait for one.
  EXPECT_EQ(DeclaredPageCount(dir.File("missing.ps")), std::nullopt);
  ASSERT_EQ(::mkfifo(dir.File("pipe.ps").c_str(), 0600), 0);
  EXPECT_EQ(DeclaredPageCount(dir.File("pipe.ps")), std::nullopt);
  EXPECT_EQ(DeclaredPageCount(dir.Path().string()), std::nullopt);
}

}  // namespace
}  // namespace orvalis
