// Owns one file descriptor: closed exactly once, when the owner goes or is reset. Move-only, so
// a descriptor has one owner at a time. Not synchronised: a descriptor shared between threads
// needs its owner's lock.
#pragma once

#include <unistd.h>

#include <utility>

namespace vantrel {

class TUniqueFd {
 public:
  TUniqueFd() = default;
  explicit TUniqueFd(int prmFd) : m_Fd(prmFd) {}
  TUniqueFd(TUniqueFd&& prmOther) noexcept : m_Fd(prmOther.Release()) {}
  TUniqueFd& operator=(TUniqueFd&& prmOther) noexcept {
    if (this != &prmOther) Reset(prmOther.Release());
    return *this;
  }
  TUniqueFd(const TUniqueFd&) = delete;
  TUniqueFd& operator=(const TUniqueFd&) = delete;
  ~TUniqueFd() { Reset(); }

  int Get() const { return m_Fd; }
  bool Valid() const { return m_Fd >= 0; }
  explicit operator bool() const { return Valid(); }

  // Gives the descriptor up without closing it.
  int Release() { return std::exchange(m_Fd, -1); }
  // Closes the descriptor held (if any) and takes prmFd.
  void Reset(int prmFd = -1) {
    int old = std::exchange(m_Fd, prmFd);
    if (old >= 0) ::close(old);
  }

 private:
  int m_Fd = -1;
};

}  // namespace vantrel
