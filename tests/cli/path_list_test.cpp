// Lists of paths and the bounded reading under them: whatever the input holds (a list that never
// ends, a line of gigabytes, a NUL byte inside a line), the reading ends with a reason.

#include "cli/path_list.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "cli/bounded_records.h"
#include "tests/support/temp_dir.h"

namespace orvalis {
namespace {

TEST(PathList, LinesAndNulSeparatedNames) {
  test::TempDir dir;
  test::WriteFileText(dir.Path() / "lines", "a.ps\n\nwith space.ps\r\n  lead.ps\nlast.ps");
  std::string error;
  const auto lines = ReadPathList(dir.File("lines"), false, &error);
  ASSERT_TRUE(lines) << error;
  EXPECT_EQ(*lines, (std::vector<std::string>{"a.ps", "with space.ps", "  lead.ps", "last.ps"}));
  const char nulList[] = "line\nbreak.ps\0\0tail\r.ps\0";
  test::WriteFileText(dir.Path() / "nul", std::string(nulList, sizeof nulList - 1));
  const auto nul = ReadPathList(dir.File("nul"), true, &error);
  ASSERT_TRUE(nul) << error;
  EXPECT_EQ(*nul, (std::vector<std::string>{"line\nbreak.ps", "tail\r.ps"}));
  EXPECT_FALSE(ReadPathList(dir.File("missing"), false, &error));
  EXPECT_NE(error.find("cannot read the list " + dir.File("missing")), std::string::npos);
  EXPECT_FALSE(ReadPathList(dir.File(""), false, &error));
  EXPECT_NE(error.find("it is a folder"), std::string::npos);
}

TEST(PathList, BoundsAndEntriesThatNameAnotherFile) {
  test::TempDir dir;
  const std::string longest(kLongestListEntry, 'n');
  struct Case {
    const char* what;
    std::string list;  // the file's bytes; "" names `path` instead
    std::string path;
    bool nullSeparated;
    std::string says;  // "" when the list reads
  };
  const Case cases[] = {
      {"the longest path", longest + "\n", "", false, ""},
      {"the longest path and CR", longest + "\r\n", "", false, ""},
      {"the longest NUL-separated", longest + '\0', "", true, ""},
      {"one byte more", longest + "n\n", "", false, "entry 1 is longer than 4095 bytes"},
      {"one byte more, last", "a.ps\n" + longest + "n", "", false,
       "entry 2 is longer than 4095 bytes"},
      {"NUL-separated, one byte more", longest + "n" + '\0', "", true,
       "entry 1 is longer than 4095 bytes"},
      // d/a.ps would be converted and shown as d/a.ps\0d/b.ps: a wrong file under a right name.
      {"NUL inside a line", std::string("x.ps\n\nd/a.ps") + '\0' + "d/b.ps\n", "", false,
       "line 3 holds a NUL byte"},
      {"zeros without end, lines", "", "/dev/zero", false, "entry 1 is longer than 4095 bytes"},
      {"zeros without end, NUL-separated", "", "/dev/zero", true,
       "it is larger than the 1 GiB a list may hold"},
  };
  for (const Case& c : cases) {
    std::string path = c.path;
    if (path.empty()) {
      path = dir.File("list");
      test::WriteFileText(path, c.list);
    }
    std::string error;
    const auto paths = ReadPathList(path, c.nullSeparated, &error);
    EXPECT_EQ(paths.has_value(), c.says.empty()) << c.what << ": " << error;
    EXPECT_NE(error.find(c.says), std::string::npos) << c.what << ": " << error;
    if (!c.says.empty()) {
      EXPECT_NE(error.find("cannot read the list " + path), std::string::npos);
    }
  }
  // A regular file over the bound is refused before it is read (sparse: it takes no disk).
  const std::string huge = dir.File("huge");
  test::WriteFileText(huge, "");
  ASSERT_EQ(truncate(huge.c_str(), static_cast<off_t>(kLargestList + 1)), 0);
  std::string error;
  EXPECT_FALSE(ReadPathList(huge, true, &error));
  EXPECT_NE(error.find("larger than the 1 GiB"), std::string::npos) << error;
}

// Records from a pipe, with a small bound on each and on the whole.
TEST(BoundedRecordReader, RecordsTooLongOnesAndTheEnd) {
  using Result = BoundedRecordReader::Result;
  struct Case {
    const char* what;
    std::string input;
    std::vector<std::pair<Result, std::string>> expected;  // then End, or the last one given
  };
  const Case cases[] = {
      {"lines, empty ones passed over",
       "ab\n\n\ncd\nef",
       {{Result::Record, "ab"}, {Result::Record, "cd"}, {Result::Record, "ef"}, {Result::End, ""}}},
      {"a record at the bound, one past it, then the next",
       "12345\n123456\nok\n",
       {{Result::Record, "12345"},
        {Result::TooLong, ""},
        {Result::Record, "ok"},
        {Result::End, ""}}},
      {"the last record too long, without a separator",
       "ok\n1234567890",
       {{Result::Record, "ok"}, {Result::TooLong, ""}, {Result::End, ""}}},
      {"more than the whole may hold", std::string(30, '\n') + "x\n", {{Result::TooMuch, ""}}},
  };
  for (const Case& c : cases) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], c.input.data(), c.input.size()), static_cast<ssize_t>(c.input.size()));
    close(fds[1]);
    BoundedRecordReader reader(fds[0], '\n', {5, 25});
    std::string record;
    for (const auto& [result, text] : c.expected) {
      EXPECT_EQ(reader.Next(&record), result) << c.what;
      EXPECT_EQ(record, text) << c.what;
    }
    close(fds[0]);
  }
}

}  // namespace
}  // namespace orvalis
