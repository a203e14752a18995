// The watcher in a child process of its own, since Ctrl+Z stops the whole process: the test
// plays the terminal and the shell (SIGTSTP, then fg's SIGCONT) and reads what the child saw.
#include "cli/interrupt_watcher.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

namespace orvalis {
namespace {

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
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGTSTP}) sigaddset(&watched, signal);
    ::pthread_sigmask(SIG_BLOCK, &watched, nullptr);
    say("up\n");
    while (!watcher.Interrupted()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  ::_exit(0);
}

std::string ReadUntil(int fd, const std::string& end) {
  std::string text;
  char c = 0;
  while (text.find(end) == std::string::npos && ::read(fd, &c, 1) == 1) text += c;
  return text;
}

// Ctrl+Z, fg, Ctrl+Z, fg, Ctrl+C: each signal is acted on once. A signal that interrupted the
// watcher's wait once counted as the byte read before it again, so the Ctrl+C after a Ctrl+Z
// stopped the program a second time instead of ending it.
TEST(InterruptWatcher, EverySignalIsActedOnOnce) {
  int lines[2];
  ASSERT_EQ(::pipe(lines), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(lines[0]);
    RunWatchedChild(lines[1]);
  }
  ::close(lines[1]);
  EXPECT_EQ(ReadUntil(lines[0], "up\n"), "up\n");
  const auto waitForStop = [&] {
    int status = 0;
    return ::waitpid(child, &status, WUNTRACED) == child && WIFSTOPPED(status);
  };
  for (int round = 0; round < 2; ++round) {
    ::kill(child, SIGTSTP);
    ASSERT_TRUE(waitForStop()) << "round " << round;
    ::kill(child, SIGCONT);
    EXPECT_EQ(ReadUntil(lines[0], "s0\n"), "s1\ns0\n") << "round " << round;
  }
  ::kill(child, SIGINT);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, WUNTRACED), child);
  if (WIFSTOPPED(status)) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    ::close(lines[0]);
    FAIL() << "Ctrl+C stopped the program again";
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(ReadUntil(lines[0], "\x04"), "i \n");
  ::close(lines[0]);
}

}  // namespace
}  // namespace orvalis
