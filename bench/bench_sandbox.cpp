// What confining the interpreter costs per file: preparing the confinement in the parent
// (the Landlock ruleset), and starting a child under it, beside starting the same child
// unconfined. /bin/true stands for gs, so that only the start shows; each part of the
// confinement also alone, to see which one costs.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "renderer/child_process.h"
#include "renderer/interpreter_sandbox.h"
#include "renderer/kernel_protections.h"

namespace {

namespace fs = std::filesystem;
using orvalis::renderer::ChildProcess;
using orvalis::renderer::InterpreterPaths;
using orvalis::renderer::InterpreterSandbox;
using orvalis::renderer::KernelProtections;
using orvalis::renderer::SpawnRequest;
using orvalis::renderer::ThisKernelProtections;

// A page folder with a scratch folder and a document, as a rendering has them.
class Folders {
 public:
  Folders() {
    char name[] = "/tmp/orvalis_bench_sandbox.XXXXXX";
    root_ = ::mkdtemp(name);
    fs::create_directory(root_ / "scratch");
    ::close(::open((root_ / "doc.ps").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
  }
  ~Folders() { fs::remove_all(root_); }
  InterpreterPaths Paths() const {
    return {"/bin/true", (root_ / "doc.ps").string(), root_.string(), (root_ / "scratch").string()};
  }

 private:
  fs::path root_;
};

// The kernel as it is (0), with nothing, or with only Landlock, seccomp or the namespace.
KernelProtections Variant(int64_t which) {
  const KernelProtections& full = ThisKernelProtections();
  switch (which) {
    case 1:
      return {};
    case 2:
      return {full.landlockAbi, false, false};
    case 3:
      return {0, full.syscallFilter, false};
    case 4:
      return {0, false, full.networkNamespace};
    default:
      return full;
  }
}

// User and system time of the ended children that were waited for.
double ChildrenCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void BM_PrepareConfinement(benchmark::State& state) {
  const Folders folders;
  std::string error;
  for (auto _ : state) {
    auto sandbox = InterpreterSandbox::Prepare(ThisKernelProtections(), folders.Paths(), &error);
    if (!sandbox) state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(sandbox);
  }
}
// On a shared machine the quickest repetition shows the cost best: others' work only adds.
double Fastest(const std::vector<double>& times) {
  return *std::min_element(times.begin(), times.end());
}

BENCHMARK(BM_PrepareConfinement)->Repetitions(10)->ComputeStatistics("min", Fastest);

// Prepare, start /bin/true under the confinement, wait for it: the whole per-file cost.
void BM_StartChild(benchmark::State& state) {
  const Folders folders;
  const KernelProtections kernel = Variant(state.range(0));
  state.SetLabel(state.range(0) == 0   ? "full confinement"
                 : state.range(0) == 1 ? "no kernel confinement"
                 : state.range(0) == 2 ? "Landlock only"
                 : state.range(0) == 3 ? "seccomp only"
                                       : "network namespace only");
  SpawnRequest request;
  request.arguments = {"/bin/true"};
  request.workingFolder = folders.Paths().scratchFolder;
  std::string error;
  const double childrenBefore = ChildrenCpuSeconds();
  for (auto _ : state) {
    auto sandbox = InterpreterSandbox::Prepare(kernel, folders.Paths(), &error);
    if (!sandbox) state.SkipWithError(error.c_str());
    request.confinement = sandbox->ForChild();
    auto child = ChildProcess::Start(request, &error);
    if (!child) state.SkipWithError(error.c_str());
    // The output pipe closes when /bin/true has run and ended.
    pollfd output{child->OutputFd(), POLLIN, 0};
    char buffer[64];
    while (::poll(&output, 1, -1) == 1 && ::read(child->OutputFd(), buffer, sizeof buffer) > 0) {
    }
    child->Reap();
  }
  // The wall time counts what other processes of a busy machine take; the CPU time the child
  // spent (set-up, exec and /bin/true itself) does not.
  state.counters["child_cpu_us"] = benchmark::Counter(
      (ChildrenCpuSeconds() - childrenBefore) * 1e6 / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_StartChild)
    ->DenseRange(0, 4)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(50)
    ->Repetitions(10)
    ->ComputeStatistics("min", Fastest);

}  // namespace
