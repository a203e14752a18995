#include "renderer/child_process.h"

#include <fcntl.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/file_descriptor.h"
#include "renderer/landlock_rules.h"

namespace orvalis::renderer {

namespace {

// File descriptors handed to the child sit at or above this number, so that placing them on
// 0, 1, 2 and 3 in the child can never overwrite one another.
constexpr int kHighFd = 10;

// Where the child keeps the Landlock ruleset between the redirections and its enforcement.
constexpr int kRulesetFd = 4;

enum ChildStep : int {
  kStepRedirect = 1,
  kStepFolder,
  kStepLimits,
  kStepNetwork,
  kStepNoNewPrivileges,
  kStepLandlock,
  kStepSyscallFilter,
  kStepExec
};

// Everything the child needs, prepared before fork: between fork and exec the child may only
// make async-signal-safe calls, so it must not allocate.
struct ChildSetup {
  const char* program;
  char* const* argv;
  char* const* envp;
  const char* workingFolder;
  int devNull;
  int outputWrite;
  int statusWrite;
  bool limitAddressSpace;
  rlimit addressSpace;
  bool limitFileSize;
  rlimit fileSize;
  Confinement confinement;
  pid_t parent;
};

// Sends the failed step and errno to the parent through the status pipe, then ends the child.
[[noreturn]] void ChildFail(int statusFd, int step) {
  const int message[2] = {step, errno};
  [[maybe_unused]] const ssize_t written = ::write(statusFd, message, sizeof message);
  ::_exit(127);
}

// Confines the child as `c` asks, each step on top of the ones before; any step that fails ends
// the child.
void Confine(const Confinement& c) {
  if (c.emptyNetwork && ::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) ChildFail(3, kStepNetwork);
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) ChildFail(3, kStepNoNewPrivileges);
  if (c.landlockRuleset >= 0) {
    if (c.procSelfAccess != 0) {
      // Without /proc (a bare container), there is nothing to grant.
      const int self = ::open("/proc/self", O_PATH | O_DIRECTORY | O_CLOEXEC);
      if (self >= 0 && !AddFolderRule(kRulesetFd, self, c.procSelfAccess))
        ChildFail(3, kStepLandlock);
      if (self >= 0) ::close(self);
    }
    if (!EnforceLandlockRuleset(kRulesetFd)) ChildFail(3, kStepLandlock);
    ::close(kRulesetFd);
  }
  if (c.syscallFilter != nullptr &&
      ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, c.syscallFilter, 0, 0) != 0) {
    ChildFail(3, kStepSyscallFilter);
  }
}

[[noreturn]] void RunChild(const ChildSetup& s) {
  ::setpgid(0, 0);
  // Dies with the thread that started it, so a crashed or killed program leaves no orphan.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != s.parent) ::_exit(127);

  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction standard {};
  standard.sa_handler = SIG_DFL;
  for (int signal = 1; signal < NSIG; ++signal) ::sigaction(signal, &standard, nullptr);

  if (::dup2(s.devNull, 0) < 0 || ::dup2(s.outputWrite, 1) < 0 || ::dup2(s.outputWrite, 2) < 0 ||
      ::dup2(s.statusWrite, 3) < 0 || ::fcntl(3, F_SETFD, FD_CLOEXEC) < 0 ||
      (s.confinement.landlockRuleset >= 0 &&
       (::dup2(s.confinement.landlockRuleset, kRulesetFd) < 0 ||
        ::fcntl(kRulesetFd, F_SETFD, FD_CLOEXEC) < 0))) {
    ChildFail(s.statusWrite, kStepRedirect);
  }
  // Descriptors other threads opened without close-on-exec must not reach the program.
  if (::close_range(kRulesetFd + 1, ~0u, 0) != 0) {
    for (int fd = kRulesetFd + 1; fd < 65536; ++fd) ::close(fd);
  }
  if (::chdir(s.workingFolder) != 0) ChildFail(3, kStepFolder);

  const rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
  if ((s.limitAddressSpace && ::setrlimit(RLIMIT_AS, &s.addressSpace) != 0) ||
      (s.limitFileSize && ::setrlimit(RLIMIT_FSIZE, &s.fileSize) != 0)) {
    ChildFail(3, kStepLimits);
  }
  Confine(s.confinement);
  ::execve(s.program, s.argv, s.envp);
  ChildFail(3, kStepExec);
}

// A limit no larger than the hard limit the process has now (an unprivileged process cannot
// raise it).
rlimit CappedLimit(int resource, uint64_t bytes) {
  rlimit current{};
  ::getrlimit(resource, &current);
  rlim_t value = static_cast<rlim_t>(bytes);
  if (current.rlim_max != RLIM_INFINITY) value = std::min(value, current.rlim_max);
  return {value, value};
}

// Moves `fd` to a close-on-exec descriptor at or above kHighFd.
int MoveHigh(int fd) {
  if (fd < 0 || fd >= kHighFd) return fd;
  const int high = ::fcntl(fd, F_DUPFD_CLOEXEC, kHighFd);
  ::close(fd);
  return high;
}

bool MakePipe(FileDescriptor& read, FileDescriptor& write) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  read.Reset(MoveHigh(fds[0]));
  write.Reset(MoveHigh(fds[1]));
  return read.Get() >= 0 && write.Get() >= 0;
}

std::string StepFailure(int step, int code, const SpawnRequest& request) {
  std::string what;
  switch (step) {
    case kStepRedirect:
      what = "cannot redirect the output of " + request.arguments[0];
      break;
    case kStepFolder:
      what = "cannot enter the folder " + request.workingFolder;
      break;
    case kStepLimits:
      what = "cannot set the resource limits of " + request.arguments[0];
      break;
    case kStepNetwork:
      what = "cannot give " + request.arguments[0] + " an empty network namespace";
      break;
    case kStepNoNewPrivileges:
      what = "cannot deny " + request.arguments[0] + " new privileges";
      break;
    case kStepLandlock:
      what = "cannot confine the file access of " + request.arguments[0] + " with Landlock";
      break;
    case kStepSyscallFilter:
      what = "cannot install the system-call filter of " + request.arguments[0];
      break;
    default:
      what = "cannot start " + request.arguments[0];
      break;
  }
  return what + ": " + std::strerror(code);
}

std::vector<char*> PointerArray(const std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  pointers.reserve(texts.size() + 1);
  for (const std::string& text : texts) pointers.push_back(const_cast<char*>(text.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

std::unique_ptr<ChildProcess> ChildProcess::Start(const SpawnRequest& request, std::string* error,
                                                  bool* outOfProcesses) {
  if (outOfProcesses != nullptr) *outOfProcesses = false;
  auto fail = [&](const std::string& what) {
    if (error != nullptr) *error = what;
    return nullptr;
  };
  if (request.arguments.empty()) return fail("no program to start");
  std::vector<char*> argv = PointerArray(request.arguments);
  std::vector<char*> envp = PointerArray(request.environment);

  FileDescriptor devNull(MoveHigh(::open("/dev/null", O_RDONLY | O_CLOEXEC)));
  FileDescriptor outputRead, outputWrite, statusRead, statusWrite;
  if (devNull.Get() < 0 || !MakePipe(outputRead, outputWrite) ||
      !MakePipe(statusRead, statusWrite)) {
    return fail(std::string("cannot create the pipes for a child process: ") +
                std::strerror(errno));
  }
  // A copy high enough that placing the child's standard descriptors cannot overwrite it.
  Confinement confinement = request.confinement;
  FileDescriptor ruleset;
  if (confinement.landlockRuleset >= 0) {
    ruleset.Reset(::fcntl(confinement.landlockRuleset, F_DUPFD_CLOEXEC, kHighFd));
    if (!ruleset.IsOpen())
      return fail(std::string("cannot pass on the Landlock ruleset: ") + std::strerror(errno));
    confinement.landlockRuleset = ruleset.Get();
  }

  const ChildSetup setup{request.arguments[0].c_str(),
                         argv.data(),
                         envp.data(),
                         request.workingFolder.c_str(),
                         devNull.Get(),
                         outputWrite.Get(),
                         statusWrite.Get(),
                         request.addressSpaceLimit > 0,
                         CappedLimit(RLIMIT_AS, request.addressSpaceLimit),
                         request.fileSizeLimit > 0,
                         CappedLimit(RLIMIT_FSIZE, request.fileSizeLimit),
                         confinement,
                         ::getpid()};
  const pid_t pid = ::fork();
  if (pid == 0) RunChild(setup);
  const int forkError = errno;
  devNull.Reset();
  ruleset.Reset();
  outputWrite.Reset();
  statusWrite.Reset();
  if (pid < 0) {
    if (outOfProcesses != nullptr) *outOfProcesses = forkError == EAGAIN;
    return fail(std::string("cannot start a child process: ") + std::strerror(forkError));
  }
  ::setpgid(pid, pid);  // also done by the child; whichever runs first wins the race

  // The status pipe closes on a successful exec; otherwise the child reports the failed step.
  int message[2] = {0, 0};
  ssize_t got;
  do {
    got = ::read(statusRead.Get(), message, sizeof message);
  } while (got < 0 && errno == EINTR);
  if (got == static_cast<ssize_t>(sizeof message)) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return fail(StepFailure(message[0], message[1], request));
  }
  ::fcntl(outputRead.Get(), F_SETFL, ::fcntl(outputRead.Get(), F_GETFL) | O_NONBLOCK);
  return std::make_unique<ChildProcess>(StartKey{}, pid, outputRead.Release());
}

ChildProcess::~ChildProcess() {
  if (!reaped_) Reap();
  if (outputFd_ >= 0) ::close(outputFd_);
}

bool ChildProcess::HasExited() const {
  if (reaped_) return true;
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == pid_;
}

void ChildProcess::SignalGroup(int signal) {
  if (!reaped_) ::kill(-pid_, signal);
}

int ChildProcess::Reap() {
  if (reaped_) return 0;
  ::kill(-pid_, SIGKILL);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  reaped_ = true;
  return status;
}

std::string DescribeWaitStatus(int status) {
  if (WIFEXITED(status)) return "exited with code " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) {
    const int signal = WTERMSIG(status);
    const char* name = ::sigdescr_np(signal);
    return "was ended by signal " + std::to_string(signal) +
           (name != nullptr ? " (" + std::string(name) + ")" : std::string());
  }
  return "ended with status " + std::to_string(status);
}

}  // namespace orvalis::renderer
