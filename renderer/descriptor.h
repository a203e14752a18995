#pragma once
// An open file descriptor, closed when it goes; -1 holds none.

#include <unistd.h>

#include <utility>

namespace orvalis::renderer {

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    Reset(std::exchange(other.fd_, -1));
    return *this;
  }
  ~Descriptor() { Reset(); }
  int Get() const { return fd_; }
  bool IsOpen() const { return fd_ >= 0; }
  int Release() { return std::exchange(fd_, -1); }
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

}  // namespace orvalis::renderer
