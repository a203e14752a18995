// The watcher in a child process of its own, since Ctrl+Z stops the whole process: the test
// plays the terminal and the shell (SIGTSTP, then fg's SIGCONT) and reads what the child saw.
#include "cli/interrupt_watcher.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

namespace orvalis {
namespace {

constexpr int kWatched[] = {SIGINT, SIGTERM, SIGHUP, SIGTSTP};

// How long the test waits for the child to stop, end or speak before it gives up: only a guard
// against a hang, long enough for the busiest machine. Verdicts never depend on it.
constexpr auto kHangGuard = std::chrono::minutes(3);

// Lines the child writes to `out`: "s1"/"s0" for each onSuspend call, "i" for the interrupt.
[[noreturn]] void RunWatchedChild(int out) {
  const auto say = [out](const char* text) {
    [[maybe_unused]] ssize_t ignored = ::write(out, text, 3);
  };
  {
    InterruptWatcher watcher([&] { say("i \n"); },
                             [&](bool suspended) { say(suspended ? "s1\n" : "s0\n"); });
    // Only the watcher's own thread takes the signals now, so that every one of them lands in
    // the middle of its wait for the next byte.
    sigset_t watched;
    sigemptyset(&watched);
    for (int signal : kWatched) sigaddset(&watched, signal);
    ::pthread_sigmask(SIG_BLOCK, &watched, nullptr);
    say("up\n");
    while (!watcher.Interrupted()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  ::_exit(0);
}

// The watched child, ended and reaped on every way out of the test.
class WatchedChild {
 public:
  WatchedChild() {
    int lines[2];
    if (::pipe(lines) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      // A job of its own, as a shell starts one: the test is then the shell, in the same
      // session outside the job, and the kernel lets the job stop (an orphaned job ignores
      // Ctrl+Z).
      ::setpgid(0, 0);
      // And with the signals' own actions, whatever the test was started with (nohup, or in
      // the background of a script, which ignores Ctrl+C).
      for (int signal : kWatched) ::signal(signal, SIG_DFL);
      ::close(lines[0]);
      RunWatchedChild(lines[1]);
    }
    ::close(lines[1]);
    lines_ = lines[0];
  }
  ~WatchedChild() {
    if (pid_ > 0 && !ended_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (lines_ >= 0) ::close(lines_);
  }
  WatchedChild(const WatchedChild&) = delete;
  WatchedChild& operator=(const WatchedChild&) = delete;

  bool Started() const { return pid_ > 0; }
  void Send(int signal) const { ::kill(pid_, signal); }

  // The child's next stop or end, or nothing once the hang guard ran out.
  std::optional<int> NextChange() {
    for (const auto until = std::chrono::steady_clock::now() + kHangGuard;
         std::chrono::steady_clock::now() < until;) {
      int status = 0;
      if (::waitpid(pid_, &status, WUNTRACED | WNOHANG) == pid_) {
        ended_ = !WIFSTOPPED(status);
        return status;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
  }

  // What the child says up to and with `end`, or up to its end, or up to the hang guard.
  std::string ReadUntil(const std::string& end) {
    std::string text;
    pollfd ready{lines_, POLLIN, 0};
    char c = 0;
    const int guard =
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(kHangGuard).count());
    while (text.find(end) == std::string::npos && ::poll(&ready, 1, guard) == 1 &&
           ::read(lines_, &c, 1) == 1) {
      text += c;
    }
    return text;
  }

 private:
  pid_t pid_ = -1;
  int lines_ = -1;
  bool ended_ = false;
};

// Ctrl+Z, fg, Ctrl+Z, fg, Ctrl+C: each signal is acted on once. A signal that interrupted the
// watcher's wait once counted as the byte read before it again, so the Ctrl+C after a Ctrl+Z
// stopped the program a second time instead of ending it.
TEST(InterruptWatcher, EverySignalIsActedOnOnce) {
  WatchedChild child;
  ASSERT_TRUE(child.Started());
  ASSERT_EQ(child.ReadUntil("up\n"), "up\n");
  for (int round = 0; round < 2; ++round) {
    child.Send(SIGTSTP);
    const std::optional<int> stopped = child.NextChange();
    ASSERT_TRUE(stopped && WIFSTOPPED(*stopped))
        << "Ctrl+Z did not stop it (or the hang guard ran out), round " << round;
    child.Send(SIGCONT);
    EXPECT_EQ(child.ReadUntil("s0\n"), "s1\ns0\n") << "round " << round;
  }
  child.Send(SIGINT);
  const std::optional<int> ended = child.NextChange();
  ASSERT_TRUE(ended) << "hang guard: Ctrl+C did not end the program";
  ASSERT_FALSE(WIFSTOPPED(*ended)) << "Ctrl+C stopped the program again";
  EXPECT_TRUE(WIFEXITED(*ended) && WEXITSTATUS(*ended) == 0);
  EXPECT_EQ(child.ReadUntil("\x04"), "i \n");
}

}  // namespace
}  // namespace orvalis
