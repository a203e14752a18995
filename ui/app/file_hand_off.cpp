#include "ui/app/file_hand_off.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string_view>
#include <thread>

#include "platform/file_descriptor.h"

namespace orvalis {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kGreeting = "kestrune-orvalis files 1\n";
// A file manager may hand over thousands of files; far more than that is not a list of files.
constexpr size_t kMaxRequestBytes = 16u << 20;
// How long a second start tries to reach a program that is still starting.
constexpr auto kConnectPatience = std::chrono::seconds(5);
// How long it waits for the answer: the running program adds the files first.
constexpr auto kAnswerPatience = std::chrono::seconds(120);
// How long the running program waits for a request to arrive whole: a second start writes it
// at once.
constexpr int kRequestTimeoutMs = 3000;
// Requests read at once; at the limit the one that has waited longest for its request is
// dropped for a new one, so that connections left idle cannot keep a second start out.
constexpr size_t kMaxConnections = 16;
// When no descriptor is left to take a connection with and none of ours can be given up, the
// listener rests this long: nothing tells when a descriptor frees elsewhere.
constexpr int kNoDescriptorRestMs = 1000;

std::string Reason(std::string_view what) {
  return std::string(what) + ": " + std::strerror(errno);
}

bool MakeAddress(const std::string& path, sockaddr_un* address, std::string* error) {
  *address = {};
  address->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof(address->sun_path)) {
    *error = "the socket's path does not fit a socket address";
    return false;
  }
  std::memcpy(address->sun_path, path.data(), path.size());
  return true;
}

// The other end is a process of this user (the folder is private; this is the second check).
bool PeerIsSameUser(int fd) {
  ucred peer{};
  socklen_t size = sizeof peer;
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::geteuid();
}

// Waits until `fd` is ready for `events` or `deadline` passes.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, int(left.count()));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
}

bool WriteAll(int fd, std::string_view bytes, Clock::time_point deadline) {
  while (!bytes.empty()) {
    const ssize_t written = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (written > 0) {
      bytes.remove_prefix(size_t(written));
    } else if (written < 0 && errno == EINTR) {
      continue;
    } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!WaitFor(fd, POLLOUT, deadline)) return false;
    } else {
      return false;
    }
  }
  return true;
}

std::string Absolute(const std::string& path) {
  if (path.empty() || path.front() == '/') return path;
  std::string folder(4096, '\0');
  while (::getcwd(folder.data(), folder.size()) == nullptr) {
    if (errno != ERANGE) return path;
    folder.resize(folder.size() * 2);
  }
  folder.resize(std::strlen(folder.c_str()));
  return folder + "/" + path;
}

// A connected socket, tried again while the program at `address` is not listening yet.
int Connect(const sockaddr_un& address, std::string* error) {
  const auto deadline = Clock::now() + kConnectPatience;
  for (;;) {
    FileDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (socket.Get() < 0) {
      *error = Reason("cannot make a socket");
      return -1;
    }
    if (::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
      return socket.Release();
    const bool notYet = errno == ENOENT || errno == ECONNREFUSED || errno == EINTR;
    if (!notYet || Clock::now() >= deadline) {
      *error = Reason("the running program does not listen for files");
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

}  // namespace

std::optional<HandOffAnswer> HandFilesOver(const std::string& socketPath,
                                           const std::vector<std::string>& files,
                                           std::string* error) {
  sockaddr_un address{};
  if (!MakeAddress(socketPath, &address, error)) return std::nullopt;
  const FileDescriptor socket(Connect(address, error));
  if (socket.Get() < 0) return std::nullopt;
  if (!PeerIsSameUser(socket.Get())) {
    *error = "the program listening for files is not one of yours";
    return std::nullopt;
  }
  std::string request(kGreeting);
  for (const std::string& file : files) request += Absolute(file) + '\0';
  const auto deadline = Clock::now() + kAnswerPatience;
  if (!WriteAll(socket.Get(), request, deadline) || ::shutdown(socket.Get(), SHUT_WR) != 0) {
    *error = Reason("cannot send the files");
    return std::nullopt;
  }
  std::string reply;
  char buffer[4096];
  for (;;) {
    if (!WaitFor(socket.Get(), POLLIN, deadline)) {
      *error = "the running program did not answer";
      return std::nullopt;
    }
    const ssize_t got = ::read(socket.Get(), buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *error = Reason("cannot read the running program's answer");
      return std::nullopt;
    }
    reply.append(buffer, size_t(got));
    if (reply.size() > kMaxRequestBytes) {
      *error = "the running program's answer is too long";
      return std::nullopt;
    }
  }
  if (reply.size() < 2 || (reply[0] != '0' && reply[0] != '1') || reply[1] != '\n') {
    *error = "the running program did not take the files";
    return std::nullopt;
  }
  return HandOffAnswer{reply[0] == '0', reply.substr(2)};
}

// One second start's request: read whole, handed to the receiver, answered, closed.
class FileHandOffServer::Connection : public QObject {
 public:
  Connection(int fd, FileHandOffServer* server)
      : QObject(server), fd_(fd), notifier_(fd, QSocketNotifier::Read, this) {
    connect(&notifier_, &QSocketNotifier::activated, this, &Connection::Read);
    timeout_.setSingleShot(true);
    connect(&timeout_, &QTimer::timeout, this, &QObject::deleteLater);
    timeout_.start(kRequestTimeoutMs);
  }

 private:
  void Read() {
    char buffer[65536];
    for (;;) {
      const ssize_t got = ::read(fd_.Get(), buffer, sizeof buffer);
      if (got > 0) {
        request_.append(buffer, size_t(got));
        if (request_.size() > kMaxRequestBytes) return Drop();
        continue;
      }
      if (got < 0 && errno == EINTR) continue;
      if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      if (got < 0) return Drop();
      return Complete();  // the sender closed its side: the request is whole
    }
  }

  void Complete() {
    notifier_.setEnabled(false);
    timeout_.stop();
    complete_ = true;
    if (!request_.starts_with(kGreeting)) return Drop();
    std::vector<std::string> files;
    std::string_view rest = std::string_view(request_).substr(kGreeting.size());
    while (!rest.empty()) {
      const size_t end = rest.find('\0');
      files.emplace_back(rest.substr(0, end));
      rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    }
    auto* server = static_cast<FileHandOffServer*>(parent());
    server->receiver_(std::move(files),
                      [self = QPointer<Connection>(this)](const HandOffAnswer& answer) {
                        if (self) self->Answer(answer);
                      });
  }

  void Answer(const HandOffAnswer& answer) {
    const std::string reply = std::string(answer.allAdded ? "0\n" : "1\n") + answer.message;
    WriteAll(fd_.Get(), reply, Clock::now() + std::chrono::seconds(2));
    Drop();
  }

  void Drop() {
    notifier_.setEnabled(false);
    deleteLater();
  }

  FileDescriptor fd_;
  QSocketNotifier notifier_;
  QTimer timeout_;
  std::string request_;
  bool complete_ = false;  // the request came whole: it waits for its answer

 public:
  bool HasRequest() const { return complete_; }
};

FileHandOffServer::FileHandOffServer(Receiver receiver, QObject* parent)
    : QObject(parent),
      receiver_(std::move(receiver)),
      spare_(::open("/dev/null", O_RDONLY | O_CLOEXEC)) {
  rest_.setSingleShot(true);
  connect(&rest_, &QTimer::timeout, this, [this] {
    if (notifier_ != nullptr) notifier_->setEnabled(true);
  });
}

FileHandOffServer::~FileHandOffServer() {
  if (fd_ < 0) return;
  delete notifier_;
  ::close(fd_);
  ::unlink(path_.c_str());
}

bool FileHandOffServer::Listen(const std::string& socketPath, std::string* error) {
  sockaddr_un address{};
  if (fd_ >= 0 || !MakeAddress(socketPath, &address, error)) return false;
  FileDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (socket.Get() < 0) {
    *error = Reason("cannot make a socket");
    return false;
  }
  ::unlink(socketPath.c_str());  // left by an instance that ended without removing it
  if (::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::chmod(socketPath.c_str(), 0600) != 0 || ::listen(socket.Get(), 16) != 0) {
    *error = Reason("cannot listen on " + socketPath);
    return false;
  }
  fd_ = socket.Release();
  path_ = socketPath;
  notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &FileHandOffServer::Accept);
  return true;
}

// Connections are kept in the order they came; one dropped or answered leaves the list.
void FileHandOffServer::Accept() {
  for (;;) {
    std::erase_if(connections_, [](const QPointer<Connection>& c) { return c.isNull(); });
    if (connections_.size() >= kMaxConnections && !DropOldestWaiting()) {
      // Every connection waits for its answer: take no more until one is answered.
      Rest();
      return;
    }
    const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE) {
        // No descriptor to take it with: give one of ours up, or refuse the connection with
        // the spare one, so that the listener does not stay readable for nothing.
        if (DropOldestWaiting() || RefuseWithSpare()) continue;
        Rest();
      }
      return;  // none waiting (or a connection that went away meanwhile)
    }
    if (!PeerIsSameUser(fd)) {
      ::close(fd);
      continue;
    }
    connections_.emplace_back(new Connection(fd, this));
  }
}

bool FileHandOffServer::DropOldestWaiting() {
  for (QPointer<Connection>& connection : connections_) {
    if (connection.isNull() || connection->HasRequest()) continue;
    delete connection.data();  // closes its descriptor now
    return true;
  }
  return false;
}

bool FileHandOffServer::RefuseWithSpare() {
  if (!spare_.IsOpen()) return false;
  spare_ = FileDescriptor();
  const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd >= 0) ::close(fd);
  spare_ = FileDescriptor(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  return fd >= 0;
}

void FileHandOffServer::Rest() {
  notifier_->setEnabled(false);
  rest_.start(kNoDescriptorRestMs);
}

}  // namespace orvalis
