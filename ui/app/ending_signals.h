#pragma once
// The signals that ask a program to end (SIGTERM, SIGHUP, SIGINT) as events of the Qt event
// loop: a handler that only writes the signal's number into a pipe, and a notifier that reads it
// on the GUI thread and calls `ending`, where the program can stop its work and clean up as on a
// normal close. A signal that was ignored when the program started (nohup) stays ignored.

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace orvalis {

class EndingSignals : public QObject {
  Q_OBJECT

 public:
  // nullptr when the pipe cannot be made: the signals then keep their default action.
  static std::unique_ptr<EndingSignals> Install(std::function<void(int signal)> ending);
  // Gives the signals their default action back.
  ~EndingSignals() override;

 private:
  explicit EndingSignals(std::function<void(int signal)> ending);
  void Read();

  std::function<void(int signal)> ending_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace orvalis
