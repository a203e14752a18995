#include "renderer/declared_pages.h"

#include <gtest/gtest.h>

#include <string>

#include "renderer/interpreter_output.h"
#include "tests/support/temp_dir.h"

namespace orvalis::renderer {
namespace {

TEST(DeclaredPages, TheHeaderCountIsTakenOnlyFromTheHeader) {
  const struct {
    const char* head;
    std::optional<int> pages;
  } cases[] = {
      {"%!PS-Adobe-3.0\n%%Creator: groff\n%%Pages: 87\n%%EndComments\n", 87},
      {"%!PS-Adobe-2.0\r\n%%Pages: 3 1\r\n%%EndComments\r\n", 3},  // with the page order
      {"%!PS-Adobe-3.0\n%%Pages: (atend)\n%%EndComments\n%%Trailer\n%%Pages: 9\n", std::nullopt},
      {"%!PS-Adobe-3.0\n%%EndComments\n%%Pages: 4\n", std::nullopt},  // past the header
      {"%!PS-Adobe-3.0\n/x 1 def\n%%Pages: 4\n", std::nullopt},       // the code began
      {"%!PS\n%%Pages: 4\n", std::nullopt},                           // no DSC document
      {"%!PS-Adobe-3.0\n%%Pages: four\n", std::nullopt},
      {"%!PS-Adobe-3.0\n%%Pages: 12x\n", std::nullopt},
      {"%!PS-Adobe-3.0\n%%Pages: 99999999999\n", std::nullopt},
      {"%!PS-Adobe-3.0\n%%Pages: 999999999\n", 999999999},
      {"%!PS-Adobe-3.0\n%%Pages: 5", std::nullopt},  // cut within the line
  };
  for (const auto& c : cases) EXPECT_EQ(HeaderPageCount(c.head), c.pages) << c.head;
}

TEST(DeclaredPages, EofEndsAFileAfterWhiteSpaceOrCtrlD) {
  EXPECT_TRUE(EndsWithEof("showpage\n%%EOF\n"));
  EXPECT_TRUE(EndsWithEof("%%EOF\r\n\x04\n"));
  EXPECT_TRUE(EndsWithEof("%%EOF"));
  EXPECT_FALSE(EndsWithEof("%%EOF\nshowpage\n"));
  EXPECT_FALSE(EndsWithEof("%%Trailer\n"));
  EXPECT_FALSE(EndsWithEof(""));
}

TEST(DeclaredPages, OnlyAProgramCutShortPromisesItsPages) {
  test::TempDir dir;
  const std::string head = "%!PS-Adobe-3.0\n%%Pages: 4\n%%EndComments\n";
  const std::string pages = "showpage\nshowpage\n";
  // A tail longer than the bytes looked at for %%EOF, so the head is not read as the tail.
  const std::string filler = "%" + std::string(kDscTailBytes, 'x') + "\n";
  test::WriteFileText(dir.Path() / "cut.ps", head + filler + pages);
  test::WriteFileText(dir.Path() / "whole.ps", head + filler + pages + "%%EOF\n");
  test::WriteFileText(dir.Path() / "atend.ps", "%!PS-Adobe-3.0\n%%Pages: (atend)\n" + pages);
  EXPECT_EQ(PagesPromisedByCutProgram(dir.File("cut.ps")), 4);
  EXPECT_EQ(PagesPromisedByCutProgram(dir.File("whole.ps")), std::nullopt);
  EXPECT_EQ(PagesPromisedByCutProgram(dir.File("atend.ps")), std::nullopt);
  EXPECT_EQ(PagesPromisedByCutProgram(dir.File("missing.ps")), std::nullopt);
}

TEST(DeclaredPages, PageNumbersJoinRuns) {
  EXPECT_EQ(PageNumbersText({7}), "page 7");
  EXPECT_EQ(PageNumbersText({28, 29, 30}), "pages 28\u201330");
  EXPECT_EQ(PageNumbersText({3, 5, 9, 10, 11, 12}), "pages 3, 5 and 9\u201312");
  EXPECT_EQ(PageNumbersText({1, 2}), "pages 1\u20132");
}

// A PDF rendering's progress lines say which pages the interpreter set out to draw and which it
// began; they are not kept as output, while its reports are.
TEST(InterpreterOutput, ReadsAPdfRenderingsProgress) {
  InterpreterOutput output(/*pdfProgress=*/true);
  output.Append(
      "GPL Ghostscript 10.00.0 (2022-09-21)\n"
      "Copyright (C) 2022 Artifex Software, Inc.  All rights reserved.\n"
      "This software is supplied under the GNU AGPLv3 and comes with NO WARRANTY:\n"
      "see the file COPYING for details.\n"
      "Processing pages 3 through 9.\nPage 3\nPage 4\nLoading font F1 (or substitute) from x\n"
      "Page 6\n   **** Error: page not found.\nPage 8\nPage 9\n");
  output.Finish();
  const PdfProgress& progress = output.Progress();
  EXPECT_EQ(progress.Expected(), 7);
  EXPECT_EQ(progress.NotBegun(), (std::set<int>{5, 7}));
  ASSERT_EQ(output.LastLines().size(), 1u);
  EXPECT_EQ(output.Summary(), "**** Error: page not found.");

  // Without the count, nothing is expected; a PostScript rendering's lines are all its own.
  InterpreterOutput quiet;
  quiet.Append("Processing pages 1 through 2.\nPage 1\n");
  quiet.Finish();
  EXPECT_EQ(quiet.Progress().Expected(), std::nullopt);
  EXPECT_EQ(quiet.LastLines().size(), 2u);
  InterpreterOutput empty(/*pdfProgress=*/true);
  empty.Append("Requested FirstPage is greater than the number of pages in the file: 7\n"
               "   No pages will be processed (FirstPage > LastPage).\n");
  empty.Finish();
  EXPECT_EQ(empty.Progress().Expected(), std::nullopt);
}

}  // namespace
}  // namespace orvalis::renderer
