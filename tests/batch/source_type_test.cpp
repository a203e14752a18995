#include "batch/source_type.h"

#include <gtest/gtest.h>

#include <string>

namespace orvalis {
namespace {

std::span<const uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

TEST(SourceType, NamesTakenAndTheirStems) {
  struct Case {
    const char* name;
    bool taken;
    const char* stem;
  };
  const Case cases[] = {
      {"report.ps", true, "report"},
      {"REPORT.PS", true, "REPORT"},
      {"fig.eps", true, "fig"},
      {"fig.EPSF", true, "fig"},
      {"fig.epsi", true, "fig"},
      {"report.ps.gz", true, "report"},
      {"fig.EPS.GZ", true, "fig"},
      {"paper.pdf", true, "paper"},
      {"a.b.ps", true, "a.b"},
      {"notes.txt", false, "notes"},
      {"report.gz", false, "report"},
      {"report.pdf.gz", false, "report.pdf"},
      {"ps", false, "ps"},
      {".ps", false, ".ps"},
      {"..ps", true, "."},
      {"...ps.gz", true, ".."},
      {"caf\xe9.ps.gz", true, "caf\xe9"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HasSourceExtension(c.name), c.taken) << c.name;
    EXPECT_EQ(SourceStem(c.name), c.stem) << c.name;
  }
}

// The bytes say what a file is where they can; a name that promises what the bytes deny is told.
TEST(SourceType, KindFromTheFirstBytes) {
  struct Case {
    std::string head;
    const char* name;
    SourceKind kind;
    const char* problem;  // a part of it, "" for none
  };
  const Case cases[] = {
      {"%!PS-Adobe-3.0\n", "a.ps", SourceKind::PostScript, ""},
      {"%!PS-Adobe-3.0 EPSF-3.0\n", "a.pdf", SourceKind::PostScript, ""},
      {"%PDF-1.7\n", "a.ps", SourceKind::Pdf, ""},
      {"\r\n\r\n%PDF-1.4\n", "a.pdf", SourceKind::Pdf, ""},
      {std::string("\x1f\x8b\x08\x00", 4), "a.ps", SourceKind::Gzip, ""},
      {std::string("\xc5\xd0\xd3\xc6\x1e\x00\x00\x00", 8), "a.eps", SourceKind::DosEps, ""},
      // PostScript may begin with a printer's job header.
      {"\x1b%-12345X@PJL\n%!PS\n", "a.ps", SourceKind::PostScript, ""},
      {"", "a.eps", SourceKind::PostScript, ""},
      {"<html>", "a.pdf", SourceKind::Pdf, "not a PDF file"},
      {"%!PS\n", "a.ps.gz", SourceKind::PostScript, ""},
      {"plain text", "a.ps.gz", SourceKind::Gzip, "not compressed with gzip"},
  };
  for (const Case& c : cases) {
    const SourceSniff sniff = SniffSource(Bytes(c.head), c.name);
    EXPECT_EQ(sniff.kind, c.kind) << c.name << " " << c.head;
    if (*c.problem == '\0')
      EXPECT_EQ(sniff.problem, "") << c.name;
    else
      EXPECT_NE(sniff.problem.find(c.problem), std::string::npos) << sniff.problem;
  }
}

}  // namespace
}  // namespace orvalis
