#pragma once
// Files a second start of the program hands to the running one ("Open With" on a document while
// the window is open), over a Unix socket beside the single-instance lock, in the user's private
// lock folder (SingleInstance::SocketPath). Both ends also check that the other is a process of
// the same user.
//
// The second start, before it has a window or a display (HandFilesOver), sends a greeting line
// and every file as an absolute path ended by a NUL byte, then closes its side; the running
// program (FileHandOffServer) answers with "0\n" when every file is in its list now, or "1\n",
// followed by a message for the user, and closes the connection.

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_descriptor.h"

class QSocketNotifier;

namespace orvalis {

struct HandOffAnswer {
  bool allAdded = false;  // every file is in the running program's list now
  std::string message;    // what it said about the others; "" when there are none
};

// Sends `files` (relative ones made absolute here) to the program listening on `socketPath` and
// waits for its answer. A program that is starting may not listen yet: connecting is tried again
// for a few seconds. nullopt, with the reason in `error`, when no answer came.
std::optional<HandOffAnswer> HandFilesOver(const std::string& socketPath,
                                           const std::vector<std::string>& files,
                                           std::string* error);

class FileHandOffServer : public QObject {
  Q_OBJECT

 public:
  using Reply = std::function<void(const HandOffAnswer&)>;
  // Called on the GUI thread with the files of one second start; `reply` (now or later) answers.
  using Receiver = std::function<void(std::vector<std::string> files, Reply reply)>;

  explicit FileHandOffServer(Receiver receiver, QObject* parent = nullptr);
  ~FileHandOffServer() override;

  // Listens on `socketPath`, replacing a socket a crashed instance left there (the caller holds
  // the lock beside it). False, with the reason in `error`, when it cannot.
  bool Listen(const std::string& socketPath, std::string* error);

 private:
  class Connection;
  void Accept();
  // Drops the oldest connection still waiting for its request; false when there is none.
  bool DropOldestWaiting();
  // Takes one waiting connection with the spare descriptor and closes it; false when it cannot.
  bool RefuseWithSpare();
  // Stops listening for a while.
  void Rest();

  Receiver receiver_;
  std::string path_;
  int fd_ = -1;
  QSocketNotifier* notifier_ = nullptr;
  std::vector<QPointer<Connection>> connections_;
  FileDescriptor spare_;  // kept open to refuse a connection with when no descriptor is left
  QTimer rest_;
};

}  // namespace orvalis
