// The run's report: the settings digest, report lines as other programs read them, names that
// are not UTF-8, what a report may be, and when an earlier record lets a file be skipped.

#include "cli/run_report.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>

#include "cli/name_encoding.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"

namespace orvalis {
namespace {

namespace fs = std::filesystem;

TEST(RunReport, Fnv1aKnownVectors) {
  EXPECT_EQ(Fnv1a64(""), 0xcbf29ce484222325ull);
  EXPECT_EQ(Fnv1a64("a"), 0xaf63dc4c8601ec8cull);
  EXPECT_EQ(Fnv1a64("foobar"), 0x85944171f73967e8ull);
}

TEST(RunReport, DigestFollowsTheSettingsThatChangeTheImages) {
  ConversionSettings base;
  base.type = 3;  // PNG
  base.mode = 1;
  base.output = "/srv/out/";
  base.xdpi = base.ydpi = 150;
  base.pngc = "True Color";
  base.JQu = base.TJQu = 75;
  const std::string digest = SettingsDigest(base);
  EXPECT_EQ(digest.size(), 16u);
  struct Change {
    const char* what;
    void (*apply)(ConversionSettings&);
    bool changes;
  };
  const Change changes[] = {
      {"format", [](ConversionSettings& s) { s.type = 0; }, true},
      {"folder", [](ConversionSettings& s) { s.output = "/srv/other/"; }, true},
      {"beside", [](ConversionSettings& s) { s.mode = 0; }, true},
      {"each", [](ConversionSettings& s) { s.each = 1; }, true},
      {"full names", [](ConversionSettings& s) { s.fullnames = 1; }, true},
      {"dpi", [](ConversionSettings& s) { s.ydpi = 300; }, true},
      {"angle", [](ConversionSettings& s) { s.angle = 90; }, true},
      {"size", [](ConversionSettings& s) { s.resize = 1, s.width = 10, s.height = 20; }, true},
      {"colour", [](ConversionSettings& s) { s.pngc = "256 Grays"; }, true},
      {"colour case", [](ConversionSettings& s) { s.pngc = "true color"; }, false},
      {"size unused", [](ConversionSettings& s) { s.width = 10; }, false},
      {"JPEG quality of PNG", [](ConversionSettings& s) { s.JQu = 10; }, false},
      {"GIF colour of PNG", [](ConversionSettings& s) { s.gifc = "B&W"; }, false},
      {"merge of PNG", [](ConversionSettings& s) { s.multpage = 1; }, false},
      {"folder slash", [](ConversionSettings& s) { s.output = "/srv/out"; }, false},
  };
  for (const Change& change : changes) {
    ConversionSettings changed = base;
    change.apply(changed);
    EXPECT_EQ(SettingsDigest(changed) != digest, change.changes) << change.what;
  }
  // A run that does not choose full names keeps the digest its reports of earlier versions hold.
  EXPECT_EQ(SettingsText(base).find("names"), std::string::npos) << SettingsText(base);
  // TIFF: compression, merge and the quality of JPEG inside it.
  base.type = 1;
  base.compress = 1;  // LZW
  const std::string tiff = SettingsDigest(base);
  ConversionSettings changed = base;
  changed.TJQu = 30;
  EXPECT_EQ(SettingsDigest(changed), tiff) << "quality unused by LZW";
  changed.compress = 3;  // JPEG
  const std::string jpegInTiff = SettingsDigest(changed);
  EXPECT_NE(jpegInTiff, tiff);
  changed.TJQu = 90;
  EXPECT_NE(SettingsDigest(changed), jpegInTiff);
  changed = base;
  changed.multpage = 1;
  EXPECT_NE(SettingsDigest(changed), tiff);
}

// Python's json reads what we write, names that are not UTF-8 included, and we read it back.
TEST(RunReport, LinesParseWithPythonAndBack) {
  const ReportRecord records[] = {
      {"/a/my \"report\".ps",
       FileStamp{1234, "2026-01-02T03:04:05.000000007Z"},
       "Succeed",
       "",
       {"/o/my \"report\"_001.png", "/o/my \"report\"_002.png"},
       2,
       2,
       1.25,
       "0123456789abcdef",
       {FileStamp{7, "2026-01-02T03:04:06.000000001Z"}, FileStamp{8, "x"}}},
      {"/a/line\nbreak\t\xC3\xA9.ps",
       std::nullopt,
       "Failed",
       "pages 3\u201350 were not drawn",
       {},
       0,
       50,
       0.5,
       "0123456789abcdef",
       {}},
      {"/a/latin1-\xE9.ps",
       FileStamp{1, "x"},
       "Succeed",
       "bad \xFF byte",
       {"/o/latin1-\xE9_001.png", "/o/plain_002.png"},
       2,
       std::nullopt,
       0,
       "d",
       {FileStamp{10, "2026-01-02T03:04:05.100000000Z"}, std::nullopt}},
  };
  test::TempDir dir;
  std::string lines;
  for (const ReportRecord& record : records) {
    const std::string line = ReportLine(record);
    ASSERT_EQ(line.back(), '\n');
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
    lines += line;
  }
  test::WriteFileText(dir.Path() / "r.jsonl", lines);
  const test::CommandResult python = test::RunCommand(
      {"python3", "-c",
       "import base64,json,sys\n"
       "for line in open(sys.argv[1], encoding='utf-8'):\n"
       "  r = json.loads(line)\n"
       "  print(repr((r['source'], r['size'], r['mtime'], r['status'], r['reason'],"
       " r['outputs'], r['pages'], r['pages_expected'], r['seconds'], r['settings'])))\n"
       "  print(repr(r['output_stamps']), repr(base64.b64decode(r.get('source_base64', ''))),"
       " repr([base64.b64decode(o) for o in r.get('outputs_base64', [])]))\n",
       dir.File("r.jsonl")});
  ASSERT_EQ(python.exitCode, 0) << python.err;
  EXPECT_EQ(python.out,
            "('/a/my \"report\".ps', 1234, '2026-01-02T03:04:05.000000007Z', 'Succeed', '', "
            "['/o/my \"report\"_001.png', '/o/my \"report\"_002.png'], 2, 2, 1.25, "
            "'0123456789abcdef')\n"
            "[{'size': 7, 'mtime': '2026-01-02T03:04:06.000000001Z'}, {'size': 8, 'mtime': 'x'}] "
            "b'' []\n"
            "('/a/line\\nbreak\\té.ps', None, None, 'Failed', 'pages 3\u201350 were not drawn', "
            "[], 0, 50, 0.5, '0123456789abcdef')\n"
            "[] b'' []\n"
            "('/a/latin1-\xEF\xBF\xBD.ps', 1, 'x', 'Succeed', 'bad \xEF\xBF\xBD byte', "
            "['/o/latin1-\xEF\xBF\xBD_001.png', '/o/plain_002.png'], 2, None, 0.0, 'd')\n"
            "[{'size': 10, 'mtime': '2026-01-02T03:04:05.100000000Z'}, None] "
            "b'/a/latin1-\\xe9.ps' [b'/o/latin1-\\xe9_001.png', b'/o/plain_002.png']\n");

  // Read back, the names are exact again, and the stamps pair with the outputs.
  for (const ReportRecord& record : records) {
    const std::optional<ReportRecord> back = ParseReportLine(ReportLine(record));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->source, record.source);
    EXPECT_EQ(back->stamp, record.stamp);
    EXPECT_EQ(back->outputs, record.outputs);
    EXPECT_EQ(back->outputStamps, record.outputStamps);
    EXPECT_EQ(back->pages, record.pages);
    EXPECT_EQ(back->pagesExpected, record.pagesExpected);
  }
  const std::string valid = R"({"source":"a","status":"Succeed","settings":"d","outputs":["o"])";
  for (const std::string& broken :
       {std::string(), std::string("{"), std::string("[]"), std::string("{\"source\":1}"),
        std::string("{\"source\":\"a\"}"),
        std::string(R"({"source":"a","status":"Succeed","settings":"d","outputs":[1]})"),
        valid + R"(,"source_base64":"not base64!"})", valid + R"(,"source_base64":7})",
        valid + R"(,"outputs_base64":["bw==","bw=="]})", valid + R"(,"outputs_base64":"bw=="})"})
    EXPECT_FALSE(ParseReportLine(broken)) << broken;
  // Stamps that are not what they should be prove nothing, but the line is read.
  for (const char* stamps : {R"(,"output_stamps":[{"size":1,"mtime":"m"},null]})",
                             R"(,"output_stamps":{"size":1}})", "}"}) {
    const std::optional<ReportRecord> read = ParseReportLine(valid + stamps);
    ASSERT_TRUE(read) << stamps;
    EXPECT_TRUE(read->outputStamps.empty()) << stamps;
  }
  const auto nullStamp = ParseReportLine(valid + R"(,"output_stamps":[{"size":-1,"mtime":"m"}]})");
  ASSERT_TRUE(nullStamp);
  EXPECT_EQ(nullStamp->outputStamps, std::vector<std::optional<FileStamp>>{std::nullopt});
}

TEST(NameEncoding, Base64AndUtf8) {
  // RFC 4648, section 10.
  const std::pair<std::string, std::string> vectors[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [bytes, text] : vectors) {
    EXPECT_EQ(Base64Encode(bytes), text);
    EXPECT_EQ(Base64Decode(text), bytes) << text;
  }
  std::string every;
  for (int byte = 0; byte < 256; ++byte) every += static_cast<char>(byte);
  EXPECT_EQ(Base64Decode(Base64Encode(every)), every);
  for (const char* bad : {"Zg", "Zg=", "Z===", "=Zg=", "Zg==Zg==", "Zm9v!A==", "Zm 9"})
    EXPECT_FALSE(Base64Decode(bad)) << bad;

  const std::pair<std::string, bool> texts[] = {
      {"plain.ps", true},
      {"r\xC3\xA9sum\xC3\xA9", true},
      {"\xF0\x9F\x98\x80", true},
      {"latin1-\xE9", false},
      {"cut\xE2\x80", false},
      {"overlong\xC0\xAF", false},
      {"surrogate\xED\xA0\x80", false},
      {"beyond\xF4\x90\x80\x80", false},
  };
  for (const auto& [text, utf8] : texts) EXPECT_EQ(IsUtf8(text), utf8) << text;
}

// Writes `records` as a report and loads it for resuming.
std::optional<ResumeIndex> LoadRecords(const std::string& report,
                                       const std::vector<std::string>& lines, std::string* error) {
  std::string text;
  for (const std::string& line : lines) text += line;
  test::WriteFileText(report, text);
  return ResumeIndex::Load(report, error);
}

// The record of a conversion: the images as they stand now.
ReportRecord Converted(const std::string& source, const std::vector<std::string>& outputs) {
  const int pages = static_cast<int>(outputs.size());
  return {source, StampOf(source), "Succeed", "", outputs, pages, pages, 1, "digest",
          StampsOf(outputs)};
}

// A file skipped on resume must have its images as they were: a later run at other settings,
// or any hand, may have written them again since.
TEST(ResumeIndex, ImagesChangedSinceAreNotTakenAsConverted) {
  using Change = std::function<void(const std::vector<std::string>& images)>;
  const auto later = [](const std::string& image, int seconds) {
    fs::last_write_time(image, fs::last_write_time(image) + std::chrono::seconds(seconds));
  };
  struct Case {
    const char* what;
    Change change;
    bool skipped;
  };
  const Case cases[] = {
      {"as written", [](auto&) {}, true},
      {"touched", [&](auto& images) { later(images[1], 1); }, false},
      {"one byte more, its time kept",
       [](auto& images) {
         const auto time = fs::last_write_time(images[0]);
         test::WriteFileText(images[0], "page one!");
         fs::last_write_time(images[0], time);
       },
       false},
      {"written again at the same size",
       [&](auto& images) {
         test::WriteFileText(images[1], "PAGE TWO");
         later(images[1], 2);
       },
       false},
      {"removed", [](auto& images) { fs::remove(images[0]); }, false},
      {"a folder in its place",
       [](auto& images) {
         fs::remove(images[1]);
         fs::create_directory(images[1]);
       },
       false},
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    const std::string source = dir.File("s.ps");
    test::WriteFileText(source, "%!PS\n");
    const std::vector<std::string> images = {dir.File("s_001.png"), dir.File("s_002.png")};
    test::WriteFileText(images[0], "page one");
    test::WriteFileText(images[1], "page two");
    std::string error;
    const auto index =
        LoadRecords(dir.File("r.jsonl"), {ReportLine(Converted(source, images))}, &error);
    ASSERT_TRUE(index) << error;
    c.change(images);
    EXPECT_EQ(index->Converted(source, *StampOf(source), "digest") != nullptr, c.skipped) << c.what;
    EXPECT_EQ(index->Converted(source, *StampOf(source), "other") != nullptr, false) << c.what;
  }
}

// Records of earlier versions kept no stamps of the images: they cannot show that the images are
// as they were, so their files convert again, without a word of complaint. Of several records,
// the latest of each source and settings counts: the images carry the same names.
TEST(ResumeIndex, OldRecordsAndTheLatestRecord) {
  test::TempDir dir;
  const std::string source = dir.File("s.ps");
  test::WriteFileText(source, "%!PS\n");
  const std::vector<std::string> images = {dir.File("s_001.png")};
  test::WriteFileText(images[0], "first run");
  ReportRecord old = Converted(source, images);
  old.outputStamps.clear();
  const std::string oldLine = ReportLine(old);
  std::string error;
  auto index = LoadRecords(dir.File("r.jsonl"), {oldLine}, &error);
  ASSERT_TRUE(index) << error;
  EXPECT_EQ(index->Converted(source, *StampOf(source), "digest"), nullptr);
  EXPECT_EQ(index->UnreadableLines(), 0u);

  const std::string first = ReportLine(Converted(source, images));
  test::WriteFileText(images[0], "second run");
  fs::last_write_time(images[0], fs::last_write_time(images[0]) + std::chrono::seconds(3));
  ReportRecord second = Converted(source, images);
  second.pages = 7;
  index = LoadRecords(dir.File("r.jsonl"), {first, ReportLine(second)}, &error);
  ASSERT_TRUE(index) << error;
  const ReportRecord* found = index->Converted(source, *StampOf(source), "digest");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->pages, 7);
  // The other way round the latest record lists images written again since: no skip.
  index = LoadRecords(dir.File("r.jsonl"), {ReportLine(second), first}, &error);
  ASSERT_TRUE(index) << error;
  EXPECT_EQ(index->Converted(source, *StampOf(source), "digest"), nullptr);
}

// A name that is not UTF-8 is found again on resume: its exact bytes are in the line.
TEST(ResumeIndex, NamesThatAreNotUtf8) {
  test::TempDir dir;
  const std::string source = dir.File("latin-\xE9.ps"), other = dir.File("latin-\xE8.ps");
  for (const std::string& path : {source, other}) test::WriteFileText(path, "%!PS\n");
  const std::vector<std::string> images = {dir.File("latin-\xE9_001.png")};
  test::WriteFileText(images[0], "image");
  std::string error;
  const auto index =
      LoadRecords(dir.File("r.jsonl"), {ReportLine(Converted(source, images))}, &error);
  ASSERT_TRUE(index) << error;
  const ReportRecord* found = index->Converted(source, *StampOf(source), "digest");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->outputs, images);
  // Both names read "latin-\uFFFD.ps"; only the exact one matches.
  EXPECT_EQ(index->Converted(other, *StampOf(other), "digest"), nullptr);
}

TEST(ResumeIndex, WhatCannotBeReadAsAReport) {
  test::TempDir dir;
  const std::string source = dir.File("s.ps");
  test::WriteFileText(source, "%!PS\n");
  const std::vector<std::string> images = {dir.File("s_001.png")};
  test::WriteFileText(images[0], "image");
  const std::string line = ReportLine(Converted(source, images));
  // A line longer than any record is skipped like a cut one; the others still count.
  std::string error;
  const auto index = LoadRecords(
      dir.File("long.jsonl"),
      {"{\"source\": \"" + std::string(kLongestReportLine, 'x') + "\"}\n", line, "{\"cut", "\n"},
      &error);
  ASSERT_TRUE(index) << error;
  EXPECT_EQ(index->UnreadableLines(), 2u);
  EXPECT_NE(index->Converted(source, *StampOf(source), "digest"), nullptr);

  test::WriteFileText(dir.File("empty.jsonl"), "");
  EXPECT_TRUE(ResumeIndex::Load(dir.File("empty.jsonl"), &error)) << error;
  EXPECT_TRUE(ResumeIndex::Load(dir.File("missing.jsonl"), &error)) << error;

  test::WriteFileText(dir.File("notes.ps"), "%!PS\nshowpage\n" + line);
  const std::string huge = dir.File("huge.jsonl");
  test::WriteFileText(huge, "");
  ASSERT_EQ(truncate(huge.c_str(), static_cast<off_t>(kLargestReport + 1)), 0);
  ASSERT_EQ(mkfifo(dir.File("pipe.jsonl").c_str(), 0600), 0);
  const std::pair<std::string, std::string> refused[] = {
      {dir.File("notes.ps"), "it holds something else (a report's lines are JSON objects)"},
      {huge, "it is larger than the 16 GiB a report may be"},
      {dir.File("pipe.jsonl"), "it is a named pipe"},
      {"/dev/zero", "it is a device"},
      {dir.File(""), "it is a folder"},
  };
  for (const auto& [path, says] : refused) {
    error.clear();
    EXPECT_FALSE(ResumeIndex::Load(path, &error)) << path;
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_NE(error.find(says), std::string::npos) << error;
    if (path != "/dev/zero" && path != dir.File("") && path != huge) {
      std::unique_ptr<ReportWriter> writer = ReportWriter::Open(path, &error);
      EXPECT_FALSE(writer) << path;
      EXPECT_NE(error.find(says), std::string::npos) << error;
    }
  }
  EXPECT_EQ(test::ReadFileText(dir.File("notes.ps")), "%!PS\nshowpage\n" + line);
}

}  // namespace
}  // namespace orvalis
