#include "cli/interrupt_watcher.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>

namespace orvalis {

namespace {

// The signal handler only writes one byte into this pipe; the watcher thread does the rest.
int g_pipe[2] = {-1, -1};
constexpr char kInterrupt = 'i';
constexpr char kSuspend = 's';
constexpr char kQuit = 'q';
constexpr int kWatched[] = {SIGINT, SIGTERM, SIGHUP, SIGTSTP};
constexpr size_t kSuspendIndex = 3;
struct sigaction g_previous[std::size(kWatched)];  // restored when the watcher ends
struct sigaction g_action {};

extern "C" void OnSignal(int signal) {
  const int saved = errno;
  const char byte = signal == SIGTSTP ? kSuspend : kInterrupt;
  [[maybe_unused]] ssize_t ignored = ::write(g_pipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

InterruptWatcher::InterruptWatcher(std::function<void()> onInterrupt,
                                   std::function<void(bool)> onSuspend)
    : onInterrupt_(std::move(onInterrupt)), onSuspend_(std::move(onSuspend)) {
  if (::pipe2(g_pipe, O_CLOEXEC) != 0) return;
  g_action.sa_handler = OnSignal;
  sigemptyset(&g_action.sa_mask);
  for (size_t i = 0; i < std::size(kWatched); ++i) {
    ::sigaction(kWatched[i], nullptr, &g_previous[i]);
    if (i == kSuspendIndex && !onSuspend_) continue;
    // A signal the caller ignores stays ignored (nohup, a background job of a script).
    if (g_previous[i].sa_handler != SIG_IGN) ::sigaction(kWatched[i], &g_action, nullptr);
  }
  thread_ = std::thread([this] {
    for (;;) {
      char byte = 0;
      const ssize_t got = ::read(g_pipe[0], &byte, 1);
      if (got < 0 && errno == EINTR) continue;  // a handler ran on this thread: nothing read
      if (got != 1 || byte == kQuit) break;
      if (byte == kSuspend) Suspend();
      if (byte == kInterrupt && !interrupted_.exchange(true)) onInterrupt_();
    }
  });
}

// The interpreters stop first, so that none writes on while the program is stopped; then the
// program stops itself with the signal's own action, and goes on from here when continued.
void InterruptWatcher::Suspend() {
  onSuspend_(true);
  ::signal(SIGTSTP, SIG_DFL);
  sigset_t tstp;
  sigemptyset(&tstp);
  sigaddset(&tstp, SIGTSTP);
  ::pthread_sigmask(SIG_UNBLOCK, &tstp, nullptr);
  ::raise(SIGTSTP);
  ::sigaction(SIGTSTP, &g_action, nullptr);
  onSuspend_(false);
}

InterruptWatcher::~InterruptWatcher() {
  if (!thread_.joinable()) return;
  for (size_t i = 0; i < std::size(kWatched); ++i)
    ::sigaction(kWatched[i], &g_previous[i], nullptr);
  const char byte = kQuit;
  [[maybe_unused]] ssize_t ignored = ::write(g_pipe[1], &byte, 1);
  thread_.join();
  ::close(g_pipe[0]);
  ::close(g_pipe[1]);
  g_pipe[0] = g_pipe[1] = -1;
}

}  // namespace orvalis
