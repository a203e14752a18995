#pragma once
// The seccomp filter of the interpreter: the system calls a document has no use for and an
// attacker would want fail with an error; everything else runs.

#include <linux/filter.h>

#include <string>
#include <vector>

namespace orvalis::renderer {

struct SyscallFilter {
  std::vector<sock_filter> instructions;
  // What the child hands to the kernel; points into `instructions`.
  sock_fprog program{};
};

// Built once per process and variant. Denied: every socket but a pair of Unix sockets, ptrace
// and reading or writing other processes' memory, new namespaces, mounts, new sessions and
// process groups, io_uring, BPF, perf events, user faults, keyrings, terminal input injection.
// Without Landlock's signal scope (`signalsScoped` false) a signal may go only to the caller's
// own process group (kill with pid 0). nullptr, with the reason in `error`, when libseccomp
// cannot build it.
const SyscallFilter* InterpreterSyscallFilter(bool signalsScoped, std::string* error);

}  // namespace orvalis::renderer
