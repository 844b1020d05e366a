#include "output/fd_write.hpp"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace talvorin {

bool writeAll(int fd, const void* data, std::size_t size) noexcept {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(fd, bytes, size);
    if (written > 0) {
      bytes += written;
      size -= static_cast<std::size_t>(written);
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // The parent handed us a non-blocking pipe: wait until it drains.
      pollfd descriptor{fd, POLLOUT, 0};
      if (::poll(&descriptor, 1, -1) < 0 && errno != EINTR) return false;
      continue;
    }
    return false;
  }
  return true;
}

}  // namespace talvorin
