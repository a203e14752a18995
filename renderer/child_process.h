#pragma once
// A child process that runs in its own process group with resource limits set before it starts
// the program, its output (standard output and standard error together) readable through one
// non-blocking pipe. The object owns the process: destroying it kills the whole group and reaps
// the child, so no process outlives its owner and no zombie stays behind. The program starts
// without the right to gain privileges, and inside the kernel's confinement it is given.

#include <linux/filter.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvalis::renderer {

// What the kernel holds the program to, applied in the child just before it starts the
// program, in this order. A part that is asked for and fails stops the start: never a child
// with less than was asked.
struct Confinement {
  // A user namespace with an empty network namespace: no network device, no abstract Unix
  // socket of the machine.
  bool emptyNetwork = false;
  // A Landlock ruleset to enforce (the descriptor stays the caller's), or -1.
  int landlockRuleset = -1;
  // Rights the child grants itself on its own /proc/self in that ruleset (0: none).
  uint64_t procSelfAccess = 0;
  // A seccomp filter (it must outlive Start), or nullptr.
  const sock_fprog* syscallFilter = nullptr;
};

struct SpawnRequest {
  std::vector<std::string> arguments;    // arguments[0] is the program's absolute path
  std::vector<std::string> environment;  // "NAME=value" entries, the child's whole environment
  std::string workingFolder;
  uint64_t addressSpaceLimit = 0;  // RLIMIT_AS in bytes; 0 leaves the limit as it is
  uint64_t fileSizeLimit = 0;      // RLIMIT_FSIZE in bytes; 0 leaves the limit as it is
  Confinement confinement;
};

class ChildProcess {
 public:
  // Starts the program with standard input from /dev/null. Core dumps are off in the child, and
  // the child is killed when the thread that started it ends. nullptr with the reason in `error`
  // when the program cannot be started (the exec failure of the child included);
  // `outOfProcesses` (when given) is then set when the reason was the limit on the user's
  // processes, which lifts once another of them ends.
  static std::unique_ptr<ChildProcess> Start(const SpawnRequest& request, std::string* error,
                                             bool* outOfProcesses = nullptr);

  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The read end of the output pipe (non-blocking).
  int OutputFd() const { return outputFd_; }
  pid_t Pid() const { return pid_; }

  // True once the child has ended; it stays unreaped, so its process group id cannot be reused.
  bool HasExited() const;
  // Sends `signal` to the child's process group (before the child is reaped only).
  void SignalGroup(int signal);
  // Kills what is left of the group, waits for the child and returns its wait status.
  int Reap();

 private:
  // Only Start makes one; the key keeps the constructor out of other hands.
  struct StartKey {
    explicit StartKey() = default;
  };

 public:
  ChildProcess(StartKey, pid_t pid, int outputFd) : pid_(pid), outputFd_(outputFd) {}

 private:
  pid_t pid_;
  int outputFd_;
  bool reaped_ = false;
};

// "exited with code 1", "was ended by signal 9 (Killed)" for a wait status.
std::string DescribeWaitStatus(int status);

}  // namespace orvalis::renderer
