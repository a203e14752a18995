#include "ui/app/ending_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace orvalis {

namespace {

constexpr int kEndingSignals[] = {SIGTERM, SIGHUP, SIGINT};
int signalPipe[2] = {-1, -1};

void WriteSignal(int signal) {
  const int saved = errno;
  const unsigned char number = static_cast<unsigned char>(signal);
  [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &number, 1);
  errno = saved;
}

bool IgnoredAtStart(int signal) {
  struct sigaction current {};
  return ::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

}  // namespace

std::unique_ptr<EndingSignals> EndingSignals::Install(std::function<void(int signal)> ending) {
  if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return nullptr;
  std::unique_ptr<EndingSignals> installed(new EndingSignals(std::move(ending)));
  for (const int signal : kEndingSignals) {
    if (IgnoredAtStart(signal)) continue;
    struct sigaction action {};
    action.sa_handler = WriteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signal, &action, nullptr);
  }
  return installed;
}

EndingSignals::EndingSignals(std::function<void(int signal)> ending)
    : ending_(std::move(ending)),
      notifier_(std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read)) {
  connect(notifier_.get(), &QSocketNotifier::activated, this, &EndingSignals::Read);
}

EndingSignals::~EndingSignals() {
  for (const int signal : kEndingSignals) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == WriteSignal)
      ::signal(signal, SIG_DFL);
  }
}

void EndingSignals::Read() {
  unsigned char number = 0;
  while (::read(signalPipe[0], &number, 1) == 1) ending_(number);
}

}  // namespace orvalis
