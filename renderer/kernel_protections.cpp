#include "renderer/kernel_protections.h"

#include <linux/landlock.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

namespace orvalis::renderer {

namespace {

int LandlockAbi() {
  const long abi =
      ::syscall(__NR_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
  return abi > 0 ? static_cast<int>(abi) : 0;
}

bool SyscallFiltersWithErrno() {
  uint32_t action = SECCOMP_RET_ERRNO;
  return ::syscall(__NR_seccomp, SECCOMP_GET_ACTION_AVAIL, 0, &action) == 0;
}

// Whether a child may leave for a user namespace with its own network namespace: distributions
// and container runtimes can forbid it.
bool NetworkNamespaceAllowed() {
  const pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) ::_exit(::unshare(CLONE_NEWUSER | CLONE_NEWNET) == 0 ? 0 : 1);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string Join(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

}  // namespace

KernelProtections ProbeKernelProtections() {
  return {LandlockAbi(), SyscallFiltersWithErrno(), NetworkNamespaceAllowed()};
}

const KernelProtections& ThisKernelProtections() {
  static const KernelProtections protections = ProbeKernelProtections();
  return protections;
}

std::string DescribeProtections(const KernelProtections& p) {
  std::vector<std::string> active = {"-dSAFER", "private temporary folder", "own process group",
                                     "address-space cap", "no new privileges"};
  std::vector<std::string> missing;
  const auto add = [&](bool present, std::string name) {
    (present ? active : missing).push_back(std::move(name));
  };
  add(p.LandlockFiles(), p.LandlockFiles()
                             ? "Landlock file access (ABI " + std::to_string(p.landlockAbi) + ")"
                             : std::string("Landlock file access"));
  add(p.LandlockTcp(), "Landlock TCP");
  add(p.LandlockScopes(), "Landlock scopes (abstract sockets, signals)");
  add(p.syscallFilter, "seccomp system-call filter");
  add(p.networkNamespace, "empty network namespace");
  std::string text = "active: " + Join(active);
  if (!missing.empty()) text += "; missing: " + Join(missing);
  return text;
}

}  // namespace orvalis::renderer
