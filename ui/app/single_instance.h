#pragma once
// SingleInstance: keeps one running copy of the program per user and per executable base name.
// The first instance holds an exclusive flock on "<base name>.lock" in
// $XDG_RUNTIME_DIR/kestrune-orvalis/ (else $XDG_CACHE_HOME, default ~/.cache, /kestrune-orvalis/).
// The system drops the lock when the process ends, however it ends, so a lock file left behind by
// a crashed instance never blocks a start. The lock is not inherited by programs the instance
// starts (a browser opened from a link does not keep it).
//
// A lock folder is used only when it is a folder of the user's own (not a link to one) with mode
// 0700, as it is made when missing; the runtime folder itself must be the user's. Otherwise the
// next place is tried, so that another user can neither hold the lock in a shared folder nor
// make the program create its files in a folder of their choosing. The lock file is opened
// without following links. Beside the lock lies the socket through which a second start hands
// its files to the running instance (file_hand_off.h).
//
// CConverterApp::Run (converter_app.h) uses it before anything else; a program that does its own
// start-up does the same:
//
//   orvalis::SingleInstance instance;
//   if (!instance.TryAcquire()) return orvalis::kExitAlreadyRunning;  // no window, no message
//   ... run the program while `instance` lives ...

#include <string>

namespace orvalis {

// The exit status of a start refused because the program is already running.
inline constexpr int kExitAlreadyRunning = 1;

class SingleInstance {
 public:
  // `name`: the lock's name (default: the running executable's base name). `folder`: where the
  // lock file lives (default: the runtime folder, else the cache folder, as above).
  explicit SingleInstance(std::string name = ExecutableBaseName(), std::string folder = {});
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // True when this process now holds the lock, or when no lock folder can be used at all (an
  // unusable runtime and cache folder must not stop the program from starting). False only when
  // another process holds the lock.
  bool TryAcquire();
  bool Held() const { return lockFd_ >= 0; }
  // The lock file taken or found held; "" when none.
  const std::string& LockPath() const { return path_; }
  // The socket beside that lock file, named through the folder this process checked and holds
  // open ("/proc/self/fd/N/<name>.socket"), so that it stays the checked folder whatever is
  // renamed meanwhile and fits a socket address however long the folder's path; "" when no
  // lock folder was used.
  std::string SocketPath() const;

  // The running executable's file name (from /proc/self/exe, so that a link in bin/ gives the
  // program's own name) without folder and extension.
  static std::string ExecutableBaseName();

 private:
  std::string name_;
  std::string folder_;
  std::string path_;
  int folderFd_ = -1;  // the lock's folder, checked
  int lockFd_ = -1;
};

}  // namespace orvalis
