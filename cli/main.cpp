// orvalis-cli: converts PostScript files into images from the command line, with the same
// settings, driver and engine as the window. See CliHelp for the options.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <exception>
#include <thread>

#include "batch/batch_converter.h"
#include "batch/page_folder.h"
#include "batch/renderer_loader.h"
#include "cli/cli_options.h"
#include "cli/console_view.h"
#include "cli/interrupt_watcher.h"
#include "cli/report_guard.h"
#include "cli/run_report.h"
#include "cli/source_filter.h"

namespace {

using namespace orvalis;

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

int UsageError(const std::string& message) {
  std::fprintf(stderr, "orvalis-cli: %s\n%s", message.c_str(), kCliUsage);
  return kExitUsage;
}

int DefaultJobs() {
  const unsigned processors = std::thread::hardware_concurrency();
  return processors == 0 ? 1 : static_cast<int>(processors);
}

// What confines the interpreter on this machine, as libtavrinx.so reports it.
std::string ProtectionsLine() {
  std::string error, detail;
  const std::unique_ptr<RendererLibrary> renderer = RendererLibrary::Load(&error, &detail);
  if (!renderer) return "unknown: " + error + (detail.empty() ? "" : " (" + detail + ")");
  bool allActive = false;
  const std::string protections = renderer->Protections(&allActive);
  return protections.empty() ? "not reported by " + std::string(kRendererLibraryName) : protections;
}

int Main(int argc, char** argv) {
  std::string error;
  const std::optional<CliOptions> options = ParseCommandLine(argc, argv, &error);
  if (!options) return UsageError(error);
  if (options->help) {
    std::printf("%s\n%s", kCliUsage, CliHelp().c_str());
    return 0;
  }
  if (options->version) {
    std::printf("orvalis-cli (Kestrune Orvalis) %s\n", ORVALIS_VERSION);
    std::printf("interpreter protections: %s\n", ProtectionsLine().c_str());
    return 0;
  }

  const std::string profile = options->profile.empty() ? DefaultProfilePath() : options->profile;
  if (!CheckProfile(profile, !options->profile.empty(), &error)) return UsageError(error);
  ConversionSettings settings;
  LoadWindowSettings(profile, settings);
  LoadConversionOptions(profile, settings);
  if (!ApplyOverrides(*options, settings, &error)) return UsageError(error);
  const std::optional<std::vector<std::string>> sources = CollectSources(*options, &error);
  if (!sources) return UsageError(error);
  const RunFiles runFiles{*sources, settings, options->filesFrom, profile};
  for (const std::string& report : {options->resume, options->report}) {
    if (report.empty()) continue;
    if (std::string clash = ReportClash(report, runFiles); !clash.empty()) return UsageError(clash);
  }
  std::optional<RunRecords> records = OpenRunRecords(options->report, options->resume, &error);
  if (!records) return UsageError(error);
  // Options the run does not use are said once, before it starts, even with -q: they are about
  // the command itself, and change nothing of the run or its exit status.
  for (const std::string& note : CommandLineNotes(*options, settings))
    std::fprintf(stderr, "orvalis-cli: %s\n", note.c_str());
  const std::string digest = SettingsDigest(settings);
  const SourcePlan plan =
      PlanSources(*sources, settings, digest, records->resume ? &*records->resume : nullptr,
                  options->skipExisting);

  std::string detail;
  const std::unique_ptr<RendererLibrary> renderer = RendererLibrary::Load(&error, &detail);
  if (!renderer) {
    std::fprintf(stderr, "orvalis-cli: %s%s%s\n", error.c_str(), detail.empty() ? "" : " (",
                 detail.empty() ? "" : (detail + ")").c_str());
    return kExitFailed;
  }

  // Said once per run: the conversion goes on with the protections the kernel offers.
  bool allProtections = false;
  if (const std::string protections = renderer->Protections(&allProtections);
      !protections.empty() && !allProtections) {
    std::fprintf(stderr,
                 "orvalis-cli: this kernel lacks some of the interpreter's protections; %s\n",
                 protections.c_str());
  }
  for (const std::string& left : RemoveAbandonedPageFolders()) {
    std::fprintf(stderr, "orvalis-cli: removed %s, left behind by a run that has ended\n",
                 left.c_str());
  }
  ConsoleView view(plan.convert, options->quiet, ::isatty(STDERR_FILENO) == 1);
  view.KeepReport(records->report.get(), digest);
  view.ShowSkipped(plan.skipped);
  BatchOptions batchOptions;
  batchOptions.jobs = options->jobs > 0 ? options->jobs : DefaultJobs();
  batchOptions.timeoutSeconds = options->timeoutSeconds;
  batchOptions.memoryBudget = options->memoryBytes;
  batchOptions.unpackLimit = options->unpackLimit;
  batchOptions.fullNamesAdvice =
      "add --full-names, which names the images after the full file names";
  batchOptions.besideAdvice = "add --beside, which writes the images beside their sources";
  BatchConverter converter(settings, *renderer, view, batchOptions);

  const auto start = std::chrono::steady_clock::now();
  bool interrupted = false;
  {
    InterruptWatcher watcher(
        [&converter] { converter.RequestStop(); },
        [&converter](bool suspended) { converter.SuspendRenderings(suspended); });
    converter.ConvertAll();
    interrupted = watcher.Interrupted();
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  view.PrintSummary(elapsed.count());
  if (interrupted) return kExitInterrupted;
  return view.AllSucceeded() ? 0 : kExitFailed;
}

// A descriptor 0, 1 or 2 that the caller left closed (>&-) would go to the next file opened:
// a report opened there would take the console's lines. /dev/null holds each such place.
void HoldStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd)
    if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) ::open("/dev/null", O_RDWR);
}

}  // namespace

int main(int argc, char** argv) {
  HoldStandardDescriptors();
  // A reader that goes away (orvalis-cli ... | head) must not kill the run half-way, leaving
  // temporary pages behind: the lines it no longer reads are dropped and the run completes.
  ::signal(SIGPIPE, SIG_IGN);
  // Caught here so that the stack unwinds: running renderers are stopped and temporary page
  // folders removed even then.
  try {
    return Main(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orvalis-cli: %s\n", e.what());
    return kExitFailed;
  }
}
