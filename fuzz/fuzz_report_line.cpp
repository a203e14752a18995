// Parses arbitrary bytes as one line of a run report. A line that reads as a record must be
// written back as a line that reads as the same record, exact names and image stamps included:
// what --resume decides rests on that.
#include <cstdlib>
#include <string>

#include "cli/run_report.h"
#include "fuzz/seed_corpus.h"

namespace {

using orvalis::ReportRecord;

// Every field but the seconds, which a report keeps to the millisecond.
bool SameRecord(const ReportRecord& a, const ReportRecord& b) {
  return a.source == b.source && a.stamp == b.stamp && a.status == b.status &&
         a.reason == b.reason && a.outputs == b.outputs && a.pages == b.pages &&
         a.settings == b.settings && a.outputStamps == b.outputStamps;
}

orvalis::test::Bytes BytesOf(const std::string& text) {
  return {text.begin(), text.end()};
}

std::vector<orvalis::test::Seed> ReportSeeds() {
  ReportRecord plain;
  plain.source = "/archive/report.ps";
  plain.stamp = orvalis::FileStamp{1966, "2026-12-10T13:06:17.123456789Z"};
  plain.status = "Succeed";
  plain.outputs = {"/out/report_001.png", "/out/report_002.png"};
  plain.outputStamps = {orvalis::FileStamp{74065, "2026-12-10T13:06:18.000000001Z"}, std::nullopt};
  plain.pages = 2;
  plain.seconds = 0.293;
  plain.settings = "48d3f423428d5d86";
  ReportRecord odd = plain;
  odd.source = "/archive/caf\xe9.ps";  // Latin-1, not UTF-8
  odd.outputs = {"/out/caf\xe9_001.png"};
  odd.outputStamps = {};
  odd.status = "Failed";
  odd.reason = "The interpreter could not render the file";
  return {{"plain", BytesOf(orvalis::ReportLine(plain))},
          {"latin1", BytesOf(orvalis::ReportLine(odd))},
          {"old", BytesOf(R"({"source":"/a.ps","size":3,"mtime":"x","status":"Succeed",)"
                          R"("reason":"","outputs":["/o/a_001.png"],"pages":1,"settings":"0"})")}};
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  orvalis::fuzz::WriteSeedsWhenAsked(&ReportSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const std::optional<ReportRecord> record = orvalis::ParseReportLine(line);
  if (!record) return 0;
  std::string written = orvalis::ReportLine(*record);
  if (written.empty() || written.back() != '\n') std::abort();
  written.pop_back();
  const std::optional<ReportRecord> again = orvalis::ParseReportLine(written);
  if (!again || !SameRecord(*record, *again)) std::abort();
  return 0;
}
