#pragma once
// Which of the kernel's confinement tools this machine offers an unprivileged process, looked
// at once per process, and the words that tell a person what the interpreter runs under.

#include <string>

namespace orvalis::renderer {

struct KernelProtections {
  // The Landlock ABI version the kernel speaks; 0 without Landlock.
  int landlockAbi = 0;
  // seccomp filters with an errno action.
  bool syscallFilter = false;
  // An unprivileged process may enter a user namespace with a network namespace of its own.
  bool networkNamespace = false;

  // Landlock versions that bring what the interpreter's rules use.
  static constexpr int kLandlockTcpAbi = 4;
  static constexpr int kLandlockScopeAbi = 6;

  bool LandlockFiles() const { return landlockAbi >= 1; }
  bool LandlockTcp() const { return landlockAbi >= kLandlockTcpAbi; }
  // Abstract Unix sockets and signals are held inside the interpreter's own processes.
  bool LandlockScopes() const { return landlockAbi >= kLandlockScopeAbi; }
  bool Complete() const { return LandlockScopes() && syscallFilter && networkNamespace; }
};

// Asks the kernel (one short-lived child process for the namespaces).
KernelProtections ProbeKernelProtections();
// The answer for this process, asked the first time it is needed.
const KernelProtections& ThisKernelProtections();

// "active: -dSAFER, ..., empty network namespace" and, when the kernel lacks some,
// "; missing: seccomp system-call filter, ...".
std::string DescribeProtections(const KernelProtections& protections);

}  // namespace orvalis::renderer
