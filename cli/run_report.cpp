#include "cli/run_report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>

#include "batch/output_folder.h"
#include "cli/bounded_records.h"
#include "cli/name_encoding.h"
#include "engine/converter.h"
#include "engine/output_formats.h"
#include "engine/tiff_compressions.h"
#include "platform/file_descriptor.h"

namespace orvalis {

using Json = nlohmann::ordered_json;

namespace {

std::optional<FileStamp> StampFrom(const struct stat& info) {
  std::tm utc{};
  if (::gmtime_r(&info.st_mtim.tv_sec, &utc) == nullptr) return std::nullopt;
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%09ldZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<long>(info.st_mtim.tv_nsec));
  return FileStamp{static_cast<uint64_t>(info.st_size), text};
}

}  // namespace

std::optional<FileStamp> StampOf(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return StampFrom(info);
}

std::vector<std::optional<FileStamp>> StampsOf(const std::vector<std::string>& paths) {
  std::vector<std::optional<FileStamp>> stamps;
  stamps.reserve(paths.size());
  for (const std::string& path : paths) stamps.push_back(StampOf(path));
  return stamps;
}

uint64_t Fnv1a64(std::string_view bytes) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char byte : bytes) {
    hash ^= byte;
    hash *= 0x100000001b3ull;
  }
  return hash;
}

std::string SettingsText(const ConversionSettings& s) {
  const FormatChoice format = FormatFromType(s.type);
  std::string text = "format=" + format.extension.substr(1) + "\n";
  text += "output=" + (s.mode == 0 ? std::string("beside") : OutputFolder(s.output)) + "\n";
  text += "each=" + std::to_string(s.each == 1) + "\n";
  // Said only when chosen, so that the digests of the runs that name images as before stay
  // what their reports hold.
  if (s.fullnames == 1) text += "names=full\n";
  text += "dpi=" + std::to_string(s.xdpi) + "x" + std::to_string(s.ydpi) + "\n";
  text += "angle=" + std::to_string(s.angle) + "\n";
  text += "size=" +
          (s.resize == 1 ? std::to_string(s.width) + "x" + std::to_string(s.height) : "page") +
          "\n";
  const std::string_view colorKey = ColorKeyOf(format.format);
  if (!colorKey.empty()) {
    const ColorOptions color = ColorOptionsFor(SettingText(s, colorKey).value_or(""));
    text += "color=" + std::to_string(color.bitDepth) + (color.grayscale ? " gray" : "") + "\n";
  }
  if (format.format == OutputFormat::Jpeg) text += "quality=" + std::to_string(s.JQu) + "\n";
  if (format.format == OutputFormat::Tiff) {
    const TiffCompressionChoice& compression = TiffCompressionOf(s.compress);
    text += "compression=" + std::to_string(compression.engineCode) + "\n";
    if (compression.usesQuality) text += "quality=" + std::to_string(s.TJQu) + "\n";
    text += "merge=" + std::to_string(s.multpage == 1) + "\n";
  }
  return text;
}

std::string SettingsDigest(const ConversionSettings& settings) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx",
                static_cast<unsigned long long>(Fnv1a64(SettingsText(settings))));
  return text;
}

namespace {

Json StampJson(const std::optional<FileStamp>& stamp) {
  return stamp ? Json{{"size", stamp->size}, {"mtime", stamp->mtime}} : Json(nullptr);
}

std::optional<FileStamp> StampFromJson(const Json& json) {
  if (!json.is_object()) return std::nullopt;
  const auto size = json.find("size"), mtime = json.find("mtime");
  if (size == json.end() || !size->is_number_unsigned() || mtime == json.end() ||
      !mtime->is_string())
    return std::nullopt;
  return FileStamp{size->get<uint64_t>(), mtime->get<std::string>()};
}

// The exact names of a line, where it has them: "source_base64", "outputs_base64". False when
// one is there but is not what it should be.
bool ReadExactNames(const Json& json, ReportRecord& record) {
  if (const auto source = json.find("source_base64"); source != json.end()) {
    std::optional<std::string> bytes;
    if (source->is_string()) bytes = Base64Decode(source->get<std::string>());
    if (!bytes) return false;
    record.source = std::move(*bytes);
  }
  if (const auto outputs = json.find("outputs_base64"); outputs != json.end()) {
    if (!outputs->is_array() || outputs->size() != record.outputs.size()) return false;
    for (size_t i = 0; i < outputs->size(); ++i) {
      std::optional<std::string> bytes;
      if ((*outputs)[i].is_string()) bytes = Base64Decode((*outputs)[i].get<std::string>());
      if (!bytes) return false;
      record.outputs[i] = std::move(*bytes);
    }
  }
  return true;
}

}  // namespace

std::string ReportLine(const ReportRecord& r) {
  Json line = {
      {"source", r.source},
      {"size", r.stamp ? Json(r.stamp->size) : Json(nullptr)},
      {"mtime", r.stamp ? Json(r.stamp->mtime) : Json(nullptr)},
      {"status", r.status},
      {"reason", r.reason},
      {"outputs", r.outputs},
      {"pages", r.pages},
      {"pages_expected", r.pagesExpected ? Json(*r.pagesExpected) : Json(nullptr)},
      // Milliseconds are all a scheduler can use; more digits only lengthen the line.
      {"seconds", std::round(r.seconds * 1000) / 1000},
      {"settings", r.settings},
  };
  Json& stamps = line["output_stamps"] = Json::array();
  for (const std::optional<FileStamp>& stamp : r.outputStamps) stamps.push_back(StampJson(stamp));
  if (!IsUtf8(r.source)) line["source_base64"] = Base64Encode(r.source);
  if (!std::all_of(r.outputs.begin(), r.outputs.end(), IsUtf8)) {
    Json& exact = line["outputs_base64"] = Json::array();
    for (const std::string& output : r.outputs) exact.push_back(Base64Encode(output));
  }
  return line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::optional<ReportRecord> ParseReportLine(std::string_view line) {
  const Json json = Json::parse(line, nullptr, false);
  if (!json.is_object()) return std::nullopt;
  auto text = [&](const char* key) -> std::optional<std::string> {
    const auto it = json.find(key);
    if (it == json.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
  };
  ReportRecord record;
  const std::optional<std::string> source = text("source"), status = text("status"),
                                   settings = text("settings"), mtime = text("mtime");
  const auto outputs = json.find("outputs");
  if (!source || !status || !settings || outputs == json.end() || !outputs->is_array())
    return std::nullopt;
  record.source = *source;
  record.status = *status;
  record.settings = *settings;
  record.reason = text("reason").value_or("");
  for (const Json& output : *outputs) {
    if (!output.is_string()) return std::nullopt;
    record.outputs.push_back(output.get<std::string>());
  }
  if (!ReadExactNames(json, record)) return std::nullopt;
  const auto size = json.find("size");
  if (mtime && size != json.end() && size->is_number_unsigned())
    record.stamp = FileStamp{size->get<uint64_t>(), *mtime};
  if (const auto pages = json.find("pages"); pages != json.end() && pages->is_number_integer())
    record.pages = pages->get<int>();
  if (const auto expected = json.find("pages_expected");
      expected != json.end() && expected->is_number_integer())
    record.pagesExpected = expected->get<int>();
  if (const auto seconds = json.find("seconds"); seconds != json.end() && seconds->is_number())
    record.seconds = seconds->get<double>();
  // Stamps that do not pair with the outputs prove nothing about them.
  const auto stamps = json.find("output_stamps");
  if (stamps != json.end() && stamps->is_array() && stamps->size() == record.outputs.size())
    for (const Json& stamp : *stamps) record.outputStamps.push_back(StampFromJson(stamp));
  return record;
}

namespace {

std::string WhatItIs(mode_t mode) {
  if (S_ISDIR(mode)) return "it is a folder";
  if (S_ISFIFO(mode)) return "it is a named pipe";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device";
  if (S_ISSOCK(mode)) return "it is a socket";
  return "it is not a regular file";
}

// Opens a report with `flags` (O_NONBLOCK added, so that a named pipe never holds the run up)
// and checks that it is a regular file; a missing file gives an empty descriptor without an
// error when `missingIsEmpty`.
FileDescriptor OpenReport(const std::string& path, int flags, bool missingIsEmpty,
                          std::string* error) {
  FileDescriptor fd(::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666));
  if (!fd.IsOpen()) {
    const int openError = errno;
    struct stat info {};
    if (openError == ENOENT && missingIsEmpty) return fd;
    *error = "cannot use the report " + path + ": " +
             (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)
                  ? WhatItIs(info.st_mode)
                  : std::string(std::strerror(openError)));
    return fd;
  }
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    *error = "cannot use the report " + path + ": " + WhatItIs(info.st_mode);
    return FileDescriptor();
  }
  // Regular files ignore O_NONBLOCK; cleared all the same, so that nothing depends on it.
  ::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK);
  return fd;
}

// A report is empty or begins with a JSON object (blank lines aside): anything else is a file
// named by a slip (a PostScript file, some notes), which must not be appended to.
bool HoldsAReport(int readable) {
  char head[256];
  for (off_t at = 0;;) {
    const ssize_t got = ::pread(readable, head, sizeof head, at);
    if (got <= 0) return true;
    for (ssize_t i = 0; i < got; ++i)
      if (!std::isspace(static_cast<unsigned char>(head[i]))) return head[i] == '{';
    at += got;
  }
}

std::string NotAReport(const std::string& path) {
  return "cannot use the report " + path +
         ": it holds something else (a report's lines are JSON objects)";
}

// False when the last byte of the file is there and is no line break.
bool EndsWithLineBreak(int readable, off_t size) {
  char last = '\n';
  return ::pread(readable, &last, 1, size - 1) != 1 || last == '\n';
}

}  // namespace

std::unique_ptr<ReportWriter> ReportWriter::Open(const std::string& path, std::string* error) {
  FileDescriptor fd = OpenReport(path, O_WRONLY | O_APPEND | O_CREAT, false, error);
  if (!fd.IsOpen()) return nullptr;
  // What the file holds is read through a descriptor of its own (one that only writes cannot
  // read); a file that cannot be read is taken as it is.
  const FileDescriptor reading(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (reading.IsOpen() && !HoldsAReport(reading.Get())) {
    *error = NotAReport(path);
    return nullptr;
  }
  // A line an earlier run left cut short (a full disk) is ended, so that the first record of
  // this run does not run into it and get lost with it.
  struct stat info {};
  if (reading.IsOpen() && ::fstat(fd.Get(), &info) == 0 && info.st_size > 0 &&
      !EndsWithLineBreak(reading.Get(), info.st_size)) {
    ssize_t written;
    do {
      written = ::write(fd.Get(), "\n", 1);
    } while (written < 0 && errno == EINTR);
  }
  return std::unique_ptr<ReportWriter>(new ReportWriter(std::move(fd), path));
}

bool ReportWriter::Append(const ReportRecord& record, std::string* error) {
  const std::string line = ReportLine(record);
  ssize_t written;
  do {
    written = ::write(fd_.Get(), line.data(), line.size());
  } while (written < 0 && errno == EINTR);
  if (written == static_cast<ssize_t>(line.size())) return true;
  *error = "cannot write to the report " + path_ + ": " +
           (written < 0 ? std::strerror(errno) : "only part of a line was written");
  return false;
}

std::optional<ResumeIndex> ResumeIndex::Load(const std::string& path, std::string* error) {
  ResumeIndex index;
  error->clear();
  const FileDescriptor fd = OpenReport(path, O_RDONLY, true, error);
  if (!fd.IsOpen()) {
    if (!error->empty()) return std::nullopt;
    return index;  // none yet
  }
  struct stat info {};
  if (::fstat(fd.Get(), &info) == 0 && static_cast<uint64_t>(info.st_size) > kLargestReport) {
    *error = "cannot read the report " + path + ": it is larger than the 16 GiB a report may be";
    return std::nullopt;
  }
  if (!HoldsAReport(fd.Get())) {
    *error = NotAReport(path);
    return std::nullopt;
  }
  BoundedRecordReader reader(fd.Get(), '\n', {kLongestReportLine, kLargestReport});
  std::string line;
  for (;;) {
    const BoundedRecordReader::Result result = reader.Next(&line);
    if (result == BoundedRecordReader::Result::End) return index;
    if (result == BoundedRecordReader::Result::TooMuch) {
      *error = "cannot read the report " + path + ": it is larger than the 16 GiB a report may be";
      return std::nullopt;
    }
    if (result == BoundedRecordReader::Result::ReadFailed) {
      *error = "cannot read the report " + path + ": " + std::strerror(reader.ErrorNumber());
      return std::nullopt;
    }
    // A line longer than any record counts as one cut short: it is no record.
    if (result == BoundedRecordReader::Result::TooLong) {
      ++index.unreadable_;
      continue;
    }
    index.Add(line);
  }
}

void ResumeIndex::Add(std::string_view line) {
  std::optional<ReportRecord> record = ParseReportLine(line);
  if (!record) {
    ++unreadable_;
    return;
  }
  const bool converted = record->status == "Succeed" || (record->status == kStatusSkipped &&
                                                         record->reason == kSkippedAsConverted);
  if (!converted || !record->stamp || record->outputs.empty()) return;
  const std::pair<std::string, std::string> key{record->source, record->settings};
  converted_.insert_or_assign(key, std::move(*record));
}

const ReportRecord* ResumeIndex::Converted(const std::string& source, const FileStamp& stamp,
                                           const std::string& digest) const {
  const auto it = converted_.find({source, digest});
  if (it == converted_.end()) return nullptr;
  const ReportRecord& record = it->second;
  if (record.stamp != stamp || record.outputStamps.size() != record.outputs.size()) return nullptr;
  for (size_t i = 0; i < record.outputs.size(); ++i) {
    struct stat info {};
    if (!record.outputStamps[i] || ::stat(record.outputs[i].c_str(), &info) != 0 ||
        !S_ISREG(info.st_mode) || StampFrom(info) != record.outputStamps[i])
      return nullptr;
  }
  return &record;
}

std::optional<RunRecords> OpenRunRecords(const std::string& reportPath,
                                         const std::string& resumePath, std::string* error) {
  RunRecords records;
  if (!resumePath.empty()) {
    records.resume = ResumeIndex::Load(resumePath, error);
    if (!records.resume) return std::nullopt;
    if (records.resume->UnreadableLines() > 0) {
      std::fprintf(stderr,
                   "orvalis-cli: %zu line(s) of %s could not be read; their files are converted "
                   "again\n",
                   records.resume->UnreadableLines(), resumePath.c_str());
    }
  }
  const std::string& appendTo = reportPath.empty() ? resumePath : reportPath;
  if (!appendTo.empty() && !(records.report = ReportWriter::Open(appendTo, error)))
    return std::nullopt;
  return records;
}

}  // namespace orvalis
