#pragma once
// SingleInstance: keeps one running copy of the program per user and per executable base name.
// The first instance holds an exclusive flock on "<base name>.lock" in
// $XDG_RUNTIME_DIR/kestrune-orvalis/ (else $XDG_CACHE_HOME, default ~/.cache, /kestrune-orvalis/).
// The system drops the lock when the process ends, however it ends, so a lock file left behind by
// a crashed instance never blocks a start. The lock is not inherited by programs the instance
// starts (a browser opened from a link does not keep it).
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
  // lock file lives (default: DefaultLockFolder()).
  explicit SingleInstance(std::string name = ExecutableBaseName(), std::string folder = {});
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // True when this process now holds the lock, or when no lock file can be made at all (an
  // unusable runtime and cache folder must not stop the program from starting). False only when
  // another process holds the lock.
  bool TryAcquire();
  bool Held() const { return fd_ >= 0; }
  const std::string& LockPath() const { return path_; }

  // The running executable's file name (from /proc/self/exe, so that a link in bin/ gives the
  // program's own name) without folder and extension.
  static std::string ExecutableBaseName();
  // $XDG_RUNTIME_DIR/kestrune-orvalis/ when $XDG_RUNTIME_DIR names a folder, else the user's
  // cache folder + "kestrune-orvalis/"; created (mode 0700) when missing. Ends in '/'.
  static std::string DefaultLockFolder();

 private:
  std::string name_;
  std::string folder_;
  std::string path_;
  int fd_ = -1;
};

}  // namespace orvalis
