#include "cli/run_report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>

#include "batch/output_folder.h"
#include "batch/output_format.h"
#include "engine/converter.h"

namespace orvalis {

using Json = nlohmann::ordered_json;

std::optional<SourceStamp> StampOf(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  std::tm utc{};
  if (::gmtime_r(&info.st_mtim.tv_sec, &utc) == nullptr) return std::nullopt;
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%09ldZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<long>(info.st_mtim.tv_nsec));
  return SourceStamp{static_cast<uint64_t>(info.st_size), text};
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
    const int code = EngineCompressionCode(s.compress);
    text += "compression=" + std::to_string(code) + "\n";
    if (code == EngineCompressionCode(3)) text += "quality=" + std::to_string(s.TJQu) + "\n";
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

std::string ReportLine(const ReportRecord& r) {
  Json line = {
      {"source", r.source},
      {"size", r.stamp ? Json(r.stamp->size) : Json(nullptr)},
      {"mtime", r.stamp ? Json(r.stamp->mtime) : Json(nullptr)},
      {"status", r.status},
      {"reason", r.reason},
      {"outputs", r.outputs},
      {"pages", r.pages},
      // Milliseconds are all a scheduler can use; more digits only lengthen the line.
      {"seconds", std::round(r.seconds * 1000) / 1000},
      {"settings", r.settings},
  };
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
  const auto size = json.find("size");
  if (mtime && size != json.end() && size->is_number_unsigned())
    record.stamp = SourceStamp{size->get<uint64_t>(), *mtime};
  if (const auto pages = json.find("pages"); pages != json.end() && pages->is_number_integer())
    record.pages = pages->get<int>();
  if (const auto seconds = json.find("seconds"); seconds != json.end() && seconds->is_number())
    record.seconds = seconds->get<double>();
  return record;
}

namespace {

// False when the last byte of the file is there and is no line break.
bool EndsWithLineBreak(const std::string& path, off_t size) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;
  char last = '\n';
  const bool read = ::pread(fd, &last, 1, size - 1) == 1;
  ::close(fd);
  return !read || last == '\n';
}

}  // namespace

std::unique_ptr<ReportWriter> ReportWriter::Open(const std::string& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    *error = "cannot open the report " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  // A pipe or a terminal may take the lines too; a disk device named by a slip must not.
  struct stat info {};
  const bool statted = ::fstat(fd, &info) == 0;
  if (!statted || S_ISBLK(info.st_mode)) {
    *error = "cannot use the report " + path + ": " +
             (statted ? std::string("it is a block device") : std::strerror(errno));
    ::close(fd);
    return nullptr;
  }
  // A line an earlier run left cut short (a full disk) is ended, so that the first record of
  // this run does not run into it and get lost with it.
  if (S_ISREG(info.st_mode) && info.st_size > 0 && !EndsWithLineBreak(path, info.st_size)) {
    ssize_t written;
    do {
      written = ::write(fd, "\n", 1);
    } while (written < 0 && errno == EINTR);
  }
  return std::unique_ptr<ReportWriter>(new ReportWriter(fd, path));
}

ReportWriter::~ReportWriter() {
  ::close(fd_);
}

bool ReportWriter::Append(const ReportRecord& record, std::string* error) {
  const std::string line = ReportLine(record);
  ssize_t written;
  do {
    written = ::write(fd_, line.data(), line.size());
  } while (written < 0 && errno == EINTR);
  if (written == static_cast<ssize_t>(line.size())) return true;
  *error = "cannot write to the report " + path_ + ": " +
           (written < 0 ? std::strerror(errno) : "only part of a line was written");
  return false;
}

std::optional<ResumeIndex> ResumeIndex::Load(const std::string& path, std::string* error) {
  ResumeIndex index;
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 && errno == ENOENT) return index;
  if (S_ISDIR(info.st_mode)) {
    *error = "cannot read the report " + path + ": it is a folder";
    return std::nullopt;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read the report " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) continue;
    std::optional<ReportRecord> record = ParseReportLine(line);
    if (!record) {
      ++index.unreadable_;
      continue;
    }
    const bool converted = record->status == "Succeed" || (record->status == kStatusSkipped &&
                                                           record->reason == kSkippedAsConverted);
    if (converted && record->stamp && !record->outputs.empty())
      index.converted_[record->source].push_back(std::move(*record));
  }
  if (in.bad()) {
    *error = "cannot read the report " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  return index;
}

const ReportRecord* ResumeIndex::Converted(const std::string& source, const SourceStamp& stamp,
                                           const std::string& digest) const {
  const auto it = converted_.find(source);
  if (it == converted_.end()) return nullptr;
  for (auto record = it->second.rbegin(); record != it->second.rend(); ++record) {
    if (record->stamp != stamp || record->settings != digest) continue;
    bool allThere = true;
    for (const std::string& output : record->outputs) {
      struct stat info {};
      allThere = allThere && ::stat(output.c_str(), &info) == 0 && S_ISREG(info.st_mode);
    }
    if (allThere) return &*record;
  }
  return nullptr;
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
