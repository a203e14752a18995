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
constexpr char kQuit = 'q';
constexpr int kWatched[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_previous[std::size(kWatched)];  // restored when the watcher ends

extern "C" void OnSignal(int) {
  const int saved = errno;
  const char byte = kInterrupt;
  [[maybe_unused]] ssize_t ignored = ::write(g_pipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

InterruptWatcher::InterruptWatcher(std::function<void()> onInterrupt)
    : onInterrupt_(std::move(onInterrupt)) {
  if (::pipe2(g_pipe, O_CLOEXEC) != 0) return;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < std::size(kWatched); ++i) {
    ::sigaction(kWatched[i], nullptr, &g_previous[i]);
    // A signal the caller ignores stays ignored (nohup, a background job of a script).
    if (g_previous[i].sa_handler != SIG_IGN) ::sigaction(kWatched[i], &action, nullptr);
  }
  thread_ = std::thread([this] {
    char byte = 0;
    while (::read(g_pipe[0], &byte, 1) == 1 || errno == EINTR) {
      if (byte == kQuit) break;
      if (byte == kInterrupt && !interrupted_.exchange(true)) onInterrupt_();
    }
  });
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
