#pragma once
// The run's record for schedulers and later runs: one JSON object per finished file, appended as
// one line (JSON Lines) to a report file, and the reading of such a report to skip what an
// earlier run already converted.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_descriptor.h"
#include "settings/conversion_settings.h"

namespace orvalis {

inline constexpr char kStatusSkipped[] = "Skipped";
// The reasons of a skipped file. A later --resume trusts only the first: it was checked against
// an earlier record, the second only against the date of one image.
inline constexpr char kSkippedAsConverted[] = "converted before with these settings";
inline constexpr char kSkippedAsNewer[] = "its first image is newer than the file";

// Size and modification time of a source or an image, as a report keeps them.
struct FileStamp {
  uint64_t size = 0;
  std::string mtime;  // UTC to the nanosecond: "2026-12-10T13:06:17.123456789Z"
  bool operator==(const FileStamp&) const = default;
};
std::optional<FileStamp> StampOf(const std::string& path);
// The stamp of each file, nullopt for one that cannot be looked at.
std::vector<std::optional<FileStamp>> StampsOf(const std::vector<std::string>& paths);

// FNV-1a over 64 bits.
uint64_t Fnv1a64(std::string_view bytes);
// Every setting that changes what a run writes, one "key=value" line each, in a fixed order:
// the format, where the images go, and the options the chosen format uses. Settings the format
// ignores (the JPEG quality of a PNG run) are left out, so changing them converts nothing again.
std::string SettingsText(const ConversionSettings& settings);
// Sixteen hexadecimal digits of Fnv1a64(SettingsText(settings)).
std::string SettingsDigest(const ConversionSettings& settings);

struct ReportRecord {
  std::string source;
  std::optional<FileStamp> stamp;  // nullopt when the source could not be looked at
  std::string status;              // "Succeed", "Failed", "Aborted" or "Skipped"
  std::string reason;
  std::vector<std::string> outputs;
  int pages = 0;
  // The pages the document was held to (its PDF page count, or the pages a PostScript program
  // cut short promised), when it was.
  std::optional<int> pagesExpected;
  double seconds = 0;
  std::string settings;  // SettingsDigest
  // One per output once written (nullopt for an image that could not be looked at); empty in
  // lines of earlier versions, which did not keep them.
  std::vector<std::optional<FileStamp>> outputStamps;
};

// One JSON object and a line break: the fields above as "source", "size", "mtime", "status",
// "reason", "outputs", "pages", "pages_expected" (null when none), "seconds", "settings" and
// "output_stamps" (objects with "size"
// and "mtime", or null). Bytes of a name that are not UTF-8 become U+FFFD; the exact names are
// then added in base64, "source_base64" for the source and "outputs_base64" (one per output)
// when any output name needs it.
std::string ReportLine(const ReportRecord& record);
// The record of one report line, with the exact names where the line has them; nullopt when
// the line is not one.
std::optional<ReportRecord> ParseReportLine(std::string_view line);

// A report line may be this long at most when read back: room for the record of a document of
// a hundred thousand pages, and a bound on what parsing one line may take.
inline constexpr size_t kLongestReportLine = size_t{16} << 20;
// And a report this large, so that reading one never runs without end.
inline constexpr uint64_t kLargestReport = uint64_t{16} << 30;

// Appends records to a report. Each line goes out in one write(2) on a descriptor opened with
// O_APPEND, so that processes sharing one report on a local disk never mix their lines.
class ReportWriter {
 public:
  // Creates the file when missing. Refuses anything but a regular file (without waiting on a
  // named pipe), and a file that is not empty and holds no report: its first line would be a
  // JSON object.
  static std::unique_ptr<ReportWriter> Open(const std::string& path, std::string* error);
  ReportWriter(const ReportWriter&) = delete;
  ReportWriter& operator=(const ReportWriter&) = delete;

  // False, with the reason, when the line could not be written whole.
  bool Append(const ReportRecord& record, std::string* error);
  const std::string& Path() const { return path_; }

 private:
  ReportWriter(FileDescriptor fd, std::string path) : fd_(std::move(fd)), path_(std::move(path)) {}
  FileDescriptor fd_;
  std::string path_;
};

// The records of earlier runs that show a file converted.
class ResumeIndex {
 public:
  // A missing report holds no record yet (the first run of a command that is rerun as it is).
  // Anything but a regular file that holds a report, or one larger than kLargestReport, is an
  // error.
  static std::optional<ResumeIndex> Load(const std::string& path, std::string* error);

  // The record that lets `source` be skipped: it converted (or was skipped as converted), the
  // file has the same size and modification time, the settings the same digest, and every image
  // it wrote is still there with the size and modification time it had then. A record without
  // the images' stamps (from an earlier version) cannot show that. nullptr when there is none.
  const ReportRecord* Converted(const std::string& source, const FileStamp& stamp,
                                const std::string& digest) const;
  // Lines that could not be read (a line cut short by a full disk, one longer than
  // kLongestReportLine); they count for nothing.
  size_t UnreadableLines() const { return unreadable_; }

 private:
  void Add(std::string_view line);

  // The latest record of each source and settings digest: the images an earlier one lists
  // carry the same names and were written again since.
  std::map<std::pair<std::string, std::string>, ReportRecord> converted_;
  size_t unreadable_ = 0;
};

// The reports of one run: the one to resume from (empty `resumePath`: none), read whole before
// anything is appended, and the one to append to: `reportPath`, or else `resumePath`. Lines of
// the old report that cannot be read are said on stderr.
struct RunRecords {
  std::optional<ResumeIndex> resume;
  std::unique_ptr<ReportWriter> report;
};
std::optional<RunRecords> OpenRunRecords(const std::string& reportPath,
                                         const std::string& resumePath, std::string* error);

}  // namespace orvalis
