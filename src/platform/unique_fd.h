// Move-only owner of one POSIX file descriptor; a closed owner holds -1.

#ifndef OVIX_PLATFORM_UNIQUE_FD_H_
#define OVIX_PLATFORM_UNIQUE_FD_H_

#include <unistd.h>

#include <utility>

namespace ovix {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }

  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(std::exchange(other.fd_, -1));
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }

  // Closes the held descriptor; returns false when close() reported an error
  // (a delayed write failure on some file systems).
  bool reset(int fd = -1) {
    bool ok = true;
    if (fd_ >= 0) ok = ::close(fd_) == 0;
    fd_ = fd;
    return ok;
  }

 private:
  int fd_ = -1;
};

}  // namespace ovix

#endif  // OVIX_PLATFORM_UNIQUE_FD_H_
